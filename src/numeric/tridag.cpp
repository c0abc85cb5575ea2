// Tridiagonal solver: forward elimination and back substitution without
// pivoting. The conduction rows are diagonally dominant for positive
// properties, so no pivoting is needed; a pivot that is exactly zero is fatal.
#include "model/model.h"
#include "numeric/numeric.h"

namespace {

// The elimination factors. Kept from call to call and grown when a larger
// system comes, so that a time step allocates nothing; the values are
// rewritten in full by every call before they are read.
double* gam = nullptr;
unsigned gam_size = 0;

double* Gam(unsigned n) {
  if (n > gam_size) {
    if (gam) release_vector(gam, 1, static_cast<int>(gam_size));
    gam = vector(1, static_cast<int>(n));
    gam_size = n;
  }
  return gam;
}

}  // namespace

void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n) {
  double* g = Gam(n);
  if (b[1] == 0.0) run_error("tridag() Error: b[1] = 0.00");
  double bet = b[1];
  u[1] = r[1] / bet;
  for (unsigned j = 2; j <= n; ++j) {
    g[j] = c[j - 1] / bet;
    bet = b[j] - a[j] * g[j];
    if (bet == 0.0) run_error("tridag() Error: bet = 0.00");
    u[j] = (r[j] - a[j] * u[j - 1]) / bet;
  }
  for (unsigned j = n - 1; j >= 1; --j) u[j] -= g[j + 1] * u[j + 1];
  // Each step starts from the previous one's solution.
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = u[i];
}
