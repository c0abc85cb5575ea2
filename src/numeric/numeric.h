// Numerical support: index-offset vectors and matrices, the fatal
// numerical-error exit, the tridiagonal solver and the fixed-step
// fourth-order Runge-Kutta integrator.
#pragma once

// A vector of doubles addressed v[nl..nh]; one spare element precedes v[nl].
// Never returns null: an exhausted allocation ends the run through run_error.
double* vector(int nl, int nh);
void release_vector(double* v, int nl, int nh);

// A matrix of doubles addressed m[nrl..nrh][ncl..nch], all rows back to back
// in one element block.
double** matrix(int nrl, int nrh, int ncl, int nch);
void release_matrix(double** m, int nrl, int nrh, int ncl, int nch);

// Writes the three-line report to standard error, waits, ends with status 1.
[[noreturn]] void run_error(const char* message);

// Solves a[j] u[j-1] + b[j] u[j] + c[j] u[j+1] = r[j], j = 1..n, by
// elimination without pivoting, and copies u[1..NODES] into the node
// temperatures (the value column of InitTempTable). A zero pivot is fatal.
void tridag(const double* a, const double* b, const double* c, const double* r,
            double* u, unsigned n);

// The derivative callback: fills dydx[1..n] at (x, y).
using Derivs = void (*)(double x, const double* y, double* dydx);

// One classical fourth-order Runge-Kutta step from x to x + h.
void rk_step(const double* y, const double* dydx, int n, double x, double h,
             double* yout, Derivs derivs);

// nstep equal steps from x1 to x2, the path into M.RkTimes and M.RkPath.
void rkdumb(const double* vstart, int nvar, double x1, double x2, int nstep,
            Derivs derivs);
