// Tridiagonal solver: forward elimination and back substitution without
// pivoting. The conduction rows are diagonally dominant for positive
// properties, so no pivoting is needed; a pivot that is exactly zero is fatal.
// The elimination (pivots and factors) is formed first and can be kept for
// the next solve of the same matrix; the substitutions follow.
#include "model/model.h"
#include "numeric/numeric.h"

void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n) {
  // A system solved once: its elimination formed afresh. Kept from call to
  // call only for its storage, so that a time step allocates nothing.
  static TridagFactors scratch;
  scratch.valid = false;
  tridag(a, b, c, r, u, n, scratch);
}

void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n, TridagFactors& keep) {
  const bool same = keep.valid && keep.n == n && keep.b1 == b[1] && keep.c1 == c[1] && keep.an == a[n] &&
                    keep.bn == b[n];
  if (!same) {
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
  // Each step starts from the previous one's solution.
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = u[i];
}
