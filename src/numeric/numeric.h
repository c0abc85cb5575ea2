// The numeric room: index-offset vectors and matrices, the fatal
// numerical-error exit, the tridiagonal solver and the fixed-step
// fourth-order Runge-Kutta integrator. It may use the console and the model
// state.
#pragma once

#include <vector>

#include "model/model.h"

// A vector of doubles addressed v[nl..nh]; one spare element precedes v[nl].
// Never returns null: an exhausted allocation ends the run through run_error.
double* vector(int nl, int nh);
void release_vector(double* v, int nl, int nh);

// A vector(nl, nh) released when the scope ends, however it ends (a stop
// that unwinds to the driver included).
class ScopedVector {
 public:
  ScopedVector(int nl, int nh) : v_(vector(nl, nh)), nl_(nl), nh_(nh) {}
  ~ScopedVector() { release_vector(v_, nl_, nh_); }
  ScopedVector(const ScopedVector&) = delete;
  ScopedVector& operator=(const ScopedVector&) = delete;
  double* get() const { return v_; }

 private:
  double* v_;
  int nl_, nh_;
};

// A matrix of doubles addressed m[nrl..nrh][ncl..nch], all rows back to back
// in one element block.
double** matrix(int nrl, int nrh, int ncl, int nch);
void release_matrix(double** m, int nrl, int nrh, int ncl, int nch);

// Writes the three-line report to standard error, waits, and stops the run
// with status 1 (console::Stop).
[[noreturn]] void run_error(const char* message);

// Solves a[j] u[j-1] + b[j] u[j] + c[j] u[j+1] = r[j], j = 1..n, by
// elimination without pivoting, and copies u[1..NODES] into the node
// temperatures (the value column of InitTempTable). A zero pivot is fatal.
void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n);

// The elimination of a system kept for the next solve of the same matrix.
// A march solves one matrix step after step: its interior rows never
// change, and its two boundary rows only when a face's coefficient does
// (a jet's, say). When b[1], c[1], a[n] and b[n] are those the factors were
// made with, the next solve skips forming them again: the same values, so
// the same bits. The caller clears `valid` whenever the interior rows may
// have changed.
struct TridagFactors {
  bool valid = false;
  unsigned n = 0;
  double b1 = 0, c1 = 0, an = 0, bn = 0;  // the boundary coefficients
  std::vector<double> pivot;              // bet of row j
  std::vector<double> factor;             // gam of row j
};
void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n, TridagFactors& keep);

// The derivative callback: fills dydx[1..n] at (x, y). The integrator takes
// any callable of this shape; a function pointer is the usual one. Given the
// callable itself (a lambda, say) the compiler can put it in line with the
// step, which for the burn integral's millions of one-component steps is
// worth more than the arithmetic.
using Derivs = void (*)(double x, const double* y, double* dydx);

// One classical fourth-order Runge-Kutta step from x to x + h.
template <class F>
void rk_step(const double* y, const double* dydx, int n, double x, double h,
             double* yout, F&& derivs) {
  const double hh = h * 0.5;
  const double h6 = h / 6.0;
  const double xh = x + hh;
  if (n == 1) {
    // The burn integral: one component, millions of steps. The loops below
    // written out for it, the same operations in the same order.
    double yt[2] = {0.0, 0.0};
    double dyt[2] = {0.0, 0.0};
    double dym[2] = {0.0, 0.0};
    yt[1] = y[1] + hh * dydx[1];
    derivs(xh, yt, dyt);
    yt[1] = y[1] + hh * dyt[1];
    derivs(xh, yt, dym);
    yt[1] = y[1] + h * dym[1];
    dym[1] += dyt[1];
    derivs(x + h, yt, dyt);
    yout[1] = y[1] + h6 * (dydx[1] + dyt[1] + 2.0 * dym[1]);
    return;
  }
  // Small systems use scratch on the stack instead of three allocations.
  constexpr int kSmall = 4;
  double small[3][kSmall + 1] = {};
  const bool heap = n > kSmall;
  double* yt = heap ? vector(1, n) : small[0];
  double* dyt = heap ? vector(1, n) : small[1];
  double* dym = heap ? vector(1, n) : small[2];
  for (int i = 1; i <= n; ++i) yt[i] = y[i] + hh * dydx[i];
  derivs(xh, yt, dyt);
  for (int i = 1; i <= n; ++i) yt[i] = y[i] + hh * dyt[i];
  derivs(xh, yt, dym);
  for (int i = 1; i <= n; ++i) {
    yt[i] = y[i] + h * dym[i];
    dym[i] += dyt[i];
  }
  derivs(x + h, yt, dyt);
  for (int i = 1; i <= n; ++i) yout[i] = y[i] + h6 * (dydx[i] + dyt[i] + 2.0 * dym[i]);
  if (heap) {
    release_vector(dym, 1, n);
    release_vector(dyt, 1, n);
    release_vector(yt, 1, n);
  }
}

// nstep equal steps from x1 to x2, the path into M.RkTimes and M.RkPath.
template <class F>
void rkdumb(const double* vstart, int nvar, double x1, double x2, int nstep, F&& derivs) {
  // With no step at all there is no exposure to integrate over: the same
  // stop as a step too small to advance x.
  if (nstep < 1) run_error("Step size too small in routine rkdumb");
  double* times = M.RkTimes;
  double** path = M.RkPath;
  const ScopedVector v_owned(1, nvar), vout_owned(1, nvar), dv_owned(1, nvar);
  double* v = v_owned.get();
  double* vout = vout_owned.get();
  double* dv = dv_owned.get();
  for (int i = 1; i <= nvar; ++i) {
    v[i] = vstart[i];
    path[i][1] = v[i];
  }
  times[1] = x1;
  double x = x1;
  const double h = (x2 - x1) / nstep;
  for (int k = 1; k <= nstep; ++k) {
    derivs(x, v, dv);
    rk_step(v, dv, nvar, x, h, vout, derivs);
    if (x + h == x) run_error("Step size too small in routine rkdumb");
    x += h;  // repeated addition: the last x may differ from x2 by rounding
    times[k + 1] = x;
    for (int i = 1; i <= nvar; ++i) {
      v[i] = vout[i];
      path[i][k + 1] = v[i];
    }
  }
}
