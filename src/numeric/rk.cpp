// The Runge-Kutta integrator's path record lives in the model state; the
// integrator itself is in numeric.h, where its callback can be put in line.
#include "model/model.h"
#include "numeric/numeric.h"

double* RkTimesRecord() { return M.RkTimes; }
double** RkPathRecord() { return M.RkPath; }
