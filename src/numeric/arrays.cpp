// Index-offset vectors and matrices, and the fatal numerical-error exit.
#include <cstdlib>
#include <limits>

#include "console/console.h"
#include "numeric/numeric.h"

void run_error(const char* message) {
  console::ErrorPrint("Numerical Recipes run-time error...\n");
  console::ErrorPrint(message);
  console::ErrorPrint("\n");
  console::ErrorPrint("Check that all input files and data are available...now exiting to system...\n");
  console::Wait();
  console::Stop(1);
}

namespace {

// Elements for `count` doubles plus the spare one, or null when the size
// cannot be represented.
double* AllocateElements(long long count) {
  if (count < 1 || static_cast<unsigned long long>(count) >
                       std::numeric_limits<std::size_t>::max() / sizeof(double)) {
    return nullptr;
  }
  return static_cast<double*>(std::malloc(static_cast<std::size_t>(count) * sizeof(double)));
}

}  // namespace

double* vector(int nl, int nh) {
  double* run = AllocateElements(static_cast<long long>(nh) - nl + 2);
  if (!run) run_error("Allocation failure in vector(): check input data file for correct format.");
  return run + 1 - nl;  // index nl is the second element of the run
}

void release_vector(double* v, int nl, int /*nh*/) { std::free(v + nl - 1); }

double** matrix(int nrl, int nrh, int ncl, int nch) {
  const long long nrow = static_cast<long long>(nrh) - nrl + 1;
  const long long ncol = static_cast<long long>(nch) - ncl + 1;
  double** rows = nullptr;
  if (nrow >= 1) rows = static_cast<double**>(std::malloc(static_cast<std::size_t>(nrow + 1) * sizeof(double*)));
  if (!rows) run_error("allocation failure 1 in matrix()");
  double* block = (ncol >= 1 && nrow <= std::numeric_limits<long long>::max() / ncol)
                      ? AllocateElements(nrow * ncol + 1)
                      : nullptr;
  if (!block) {
    std::free(rows);
    run_error("allocation failure 2 in matrix()");
  }
  double** m = rows + 1 - nrl;
  m[nrl] = block + 1 - ncl;
  for (int i = nrl + 1; i <= nrh; ++i) m[i] = m[i - 1] + ncol;
  return m;
}

void release_matrix(double** m, int nrl, int /*nrh*/, int ncl, int /*nch*/) {
  std::free(m[nrl] + ncl - 1);
  std::free(m + nrl - 1);
}
