// The single instance of the program-wide model state.
#include "model/model.h"

#include <cstdlib>

Model M;

void ResetModel() {
  std::free(M.TempMatrix);
  std::free(M.TempRows);
  // The tables are several megabytes: the fresh state is built once, on the
  // heap, and copied from there.
  static const Model* const pristine = new Model();
  M = *pristine;
}
