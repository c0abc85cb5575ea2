// Numerical support: index-offset arrays, the tridiagonal solver and the
// Runge-Kutta integrator.
#include "numeric/numeric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "support/support.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// Runs `stage` to its stop through run_error: three lines on standard error
// and status 1. The real program exits there holding its scratch arrays, so
// they are not counted as leaks.
template <typename Stage>
void ExpectRunError(Stage stage, const std::string& message) {
  testing_support::InProcess guard("\n");
#if defined(__SANITIZE_ADDRESS__)
  __lsan::ScopedDisabler keep_scratch;
#endif
  int status = -1;
  try {
    stage();
  } catch (const console::Stopped& ended) {
    status = ended.status;
  }
  EXPECT_EQ(status, 1) << message;
  EXPECT_EQ(guard.err,
            "Numerical Recipes run-time error...\n" + message +
                "\nCheck that all input files and data are available...now exiting to system...\n");
}

TEST(Arrays, OffsetIndexingAndExhaustion) {
  double* v = vector(1, 1);
  v[1] = 2.5;
  EXPECT_EQ(v[1], 2.5);
  release_vector(v, 1, 1);
  double** m = matrix(1, 3, 1, 4);
  EXPECT_EQ(&m[2][1], &m[1][4] + 1);
  EXPECT_EQ(&m[3][4], &m[1][1] + 11);  // one block, rows back to back
  release_matrix(m, 1, 3, 1, 4);
  ExpectRunError([] { vector(5, 1); },
                 "Allocation failure in vector(): check input data file for correct format.");
  ExpectRunError([] { matrix(1, 0, 1, 4); }, "allocation failure 1 in matrix()");
  ExpectRunError([] { matrix(1, 3, 1, 0); }, "allocation failure 2 in matrix()");
}

TEST(Tridag, SolvesIntoNodeTemperatures) {
  testing_support::InProcess guard;
  M.NODES = 3;  // a[1] and c[3] are never read
  const double a[] = {0, 99, -1, -1}, b[] = {0, 2, 2, 2}, c[] = {0, -1, -1, 99}, r[] = {0, 1, 0, 1};
  double u[4] = {};
  tridag(a, b, c, r, u, 3);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_DOUBLE_EQ(u[i], 1.0) << i;
    EXPECT_EQ(M.InitTempTable[i].y, u[i]) << i;
  }
  M.NODES = 1;
  const double b1[] = {0, 4}, r1[] = {0, 2};
  tridag(a, b1, c, r1, u, 1);
  EXPECT_EQ(u[1], 0.5);
  EXPECT_EQ(M.InitTempTable[1].y, 0.5);
}

TEST(Tridag, KeptEliminationGivesTheSameBits) {
  // A diffusion-like system over several steps, with the boundary rows
  // changing now and then: the kept elimination must give tridag's bits
  // whether it reuses its factors or forms them again.
  testing_support::InProcess guard;
  constexpr unsigned n = 50;
  M.NODES = static_cast<int>(n);
  std::vector<double> a(n + 1), b(n + 1), c(n + 1), r(n + 1), u(n + 1), kept(n + 1);
  for (unsigned j = 1; j <= n; ++j) {
    a[j] = -0.37 - 0.001 * j;
    c[j] = -0.41 + 0.002 * j;
    b[j] = 1.9 + 0.013 * j;
    r[j] = 300 + 0.7 * j;
  }
  TridagFactors factors;
  for (int step = 0; step < 12; ++step) {
    if (step % 4 == 3) b[1] += 0.125;       // a face coefficient changes
    if (step == 7) a[n] = -0.5;             // and the other face's
    r[1] = 310 + step;                      // the right-hand side always does
    tridag(a.data(), b.data(), c.data(), r.data(), u.data(), n);
    tridag(a.data(), b.data(), c.data(), r.data(), kept.data(), n, factors);
    for (unsigned j = 1; j <= n; ++j) ASSERT_EQ(u[j], kept[j]) << step << ' ' << j;
    EXPECT_EQ(M.InitTempTable[1].y, kept[1]);
    r.assign(kept.begin(), kept.end());
  }
  // A coefficient that is not a number never matches: formed every time.
  b[n] = NAN;
  tridag(a.data(), b.data(), c.data(), r.data(), kept.data(), n, factors);
  EXPECT_TRUE(std::isnan(kept[n]));
  b[n] = 2.0;
  tridag(a.data(), b.data(), c.data(), r.data(), kept.data(), n, factors);
  tridag(a.data(), b.data(), c.data(), r.data(), u.data(), n);
  for (unsigned j = 1; j <= n; ++j) EXPECT_EQ(u[j], kept[j]) << j;
}

TEST(Tridag, ZeroPivotIsFatal) {
  // b[1] = 1 gives the second pivot 1 - 1 * (1 / 1), exactly zero.
  for (double b1 : {0.0, 1.0}) {
    ExpectRunError(
        [b1] {
          M.NODES = 2;
          const double a[] = {0, 0, 1}, b[] = {0, b1, 1}, c[] = {0, 1, 0};
          double u[3];
          tridag(a, b, c, c, u, 2);
        },
        b1 == 0 ? "tridag() Error: b[1] = 0.00" : "tridag() Error: bet = 0.00");
    ExpectRunError(
        [b1] {
          M.NODES = 2;
          const double a[] = {0, 0, 1}, b[] = {0, b1, 1}, c[] = {0, 1, 0};
          double u[3];
          TridagFactors factors;
          tridag(a, b, c, c, u, 2, factors);
        },
        b1 == 0 ? "tridag() Error: b[1] = 0.00" : "tridag() Error: bet = 0.00");
  }
}

int calls = 0;
double times[6], path[6];
double* path_rows[] = {nullptr, path};

// rkdumb over one component from 0, into a path record of up to 5 points.
void Integrate(double x1, double x2, int nstep, Derivs derivs) {
  M.RkTimes = times;
  M.RkPath = path_rows;
  const double start[] = {0, 0.0};
  calls = 0;
  rkdumb(start, 1, x1, x2, nstep, derivs);
}

TEST(RungeKutta, RecordedPaths) {
  Integrate(0, 2, 4, [](double, const double*, double* d) { d[1] = 1.0; });
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(M.RkTimes[k], 0.5 * (k - 1));
    EXPECT_EQ(M.RkPath[1][k], 0.5 * (k - 1));
  }
  Integrate(0, 1, 1, [](double x, const double*, double* d) { ++calls, d[1] = x; });  // Simpson's rule
  EXPECT_EQ(M.RkPath[1][2], 0.5);
  EXPECT_EQ(calls, 4);
  // dy/dx = y: one step multiplies y by 1 + h + h^2/2 + h^3/6 + h^4/24.
  const double y[] = {0, 1.0}, dydx[] = {0, 1.0};
  double out[2];
  rk_step(y, dydx, 1, 0.0, 0.5, out, [](double, const double* v, double* d) { d[1] = v[1]; });
  EXPECT_DOUBLE_EQ(out[1], 1.6484375);
}

TEST(RungeKutta, ZeroLengthIntervalIsFatal) {
  ExpectRunError([] { Integrate(1.0, 1.0, 1, [](double, const double*, double* d) { d[1] = 1.0; }); },
                 "Step size too small in routine rkdumb");
}

}  // namespace
