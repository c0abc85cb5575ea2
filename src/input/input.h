// Input data: the parameter file DATA.DAT with its distribution blocks and
// data files, the jet impingement file LEFTIMP.DAT, and the laying of every
// distribution onto the nodes and time records.
#pragma once

#include <string_view>

// Reads DATA.DAT and every file it calls in into the model state. Returns 1
// when all of it was read and handed on, 0 after a failure it has reported.
// A few failures end the process themselves (after a wait), with status 1.
int GetData();

// Rewrites the table chosen by the first letter of `name` (I C H D L O R A)
// in place as one value per node or per time record, from its first `n`
// pairs. Data that do not reach the model's depth or time end the run.
void Interp(std::string_view name, int n);

// The value at x on the straight line through (x1, y1) and (x2, y2). In the
// header so that the burn integral's history reads, millions of them, can
// have it in line.
inline double LinearInterp(double x1, double x, double x2, double y1, double y2) {
  return y1 - (x1 - x) * (y1 - y2) / (x1 - x2);
}
