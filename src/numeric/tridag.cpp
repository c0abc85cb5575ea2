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
  // The solution of the row before (after, going back) is carried in a
  // register rather than read back from u: the same values, without a
  // store-to-load round trip in the dependency chain of every row.
  double previous = r[1] / bet;
  u[1] = previous;
  for (unsigned j = 2; j <= n; ++j) {
    const double factor = c[j - 1] / bet;
    g[j] = factor;
    bet = b[j] - a[j] * factor;
    if (bet == 0.0) run_error("tridag() Error: bet = 0.00");
    previous = (r[j] - a[j] * previous) / bet;
    u[j] = previous;
  }
  for (unsigned j = n - 1; j >= 1; --j) {
    previous = u[j] - g[j + 1] * previous;
    u[j] = previous;
  }
  // Each step starts from the previous one's solution.
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = u[i];
}

void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n, TridagFactors& keep) {
  const bool same = keep.valid && keep.n == n && keep.b1 == b[1] && keep.c1 == c[1] && keep.an == a[n] &&
                    keep.bn == b[n];
  if (!same) {
    // Formed as tridag forms them, and kept.
    if (b[1] == 0.0) run_error("tridag() Error: b[1] = 0.00");
    keep.pivot.resize(static_cast<std::size_t>(n) + 1);
    keep.factor.resize(static_cast<std::size_t>(n) + 1);
    double bet = b[1];
    keep.pivot[1] = bet;
    for (unsigned j = 2; j <= n; ++j) {
      const double factor = c[j - 1] / bet;
      keep.factor[j] = factor;
      bet = b[j] - a[j] * factor;
      if (bet == 0.0) run_error("tridag() Error: bet = 0.00");
      keep.pivot[j] = bet;
    }
    keep.valid = true;
    keep.n = n;
    keep.b1 = b[1];
    keep.c1 = c[1];
    keep.an = a[n];
    keep.bn = b[n];
  }
  const double* pivot = keep.pivot.data();
  const double* g = keep.factor.data();
  double previous = r[1] / pivot[1];
  u[1] = previous;
  for (unsigned j = 2; j <= n; ++j) {
    previous = (r[j] - a[j] * previous) / pivot[j];
    u[j] = previous;
  }
  for (unsigned j = n - 1; j >= 1; --j) {
    previous = u[j] - g[j + 1] * previous;
    u[j] = previous;
  }
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = u[i];
}
