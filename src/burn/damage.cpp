// The burn damage integral
//   Omega = integral over the exposure of P exp(-E / (R T(t))) dt,
// with P = FREQFACTOR 10^FREQEXP. P exp(-E/(R T)) is far outside the range
// of a double for skin temperatures, so the integrand is referred to a
// reference temperature T_ref,
//   exp(E/R (1/T_ref - 1/T)),
// which stays near 1, and the factor P exp(-E/(R T_ref)) is carried as a
// base-10 mantissa and integer exponent into which the integral is folded
// before one final product.
#include <cmath>

#include "burn/burn.h"
#include "input/input.h"
#include "model/model.h"
#include "numeric/numeric.h"

namespace {

// The integrator asks for times that never go back within one node, so the
// lookup resumes where the last one stopped: record `cursor` is the last
// whose time lies below the time asked for.
int cursor = 0;

}  // namespace

double HistoryTemperature(double t) {
  const PairTable& h = M.NodeHistory;
  const int last = M.TIMESTEPS;
  if (t == 0.0) return h[0].y;
  if (cursor > last || !(h[cursor].x < t)) cursor = 0;
  while (cursor < last && h[cursor + 1].x < t) ++cursor;
  if (cursor == last) return h[last].y;  // past the last record by rounding
  const Pair& above = h[cursor + 1];
  if (above.x == t) return above.y;
  return LinearInterp(above.x, t, h[cursor].x, above.y, h[cursor].y);
}

void BurnRate(double t, const double* /*y*/, double* dydx) {
  dydx[1] = std::exp(M.BurnRefExponent - M.EOverR / HistoryTemperature(t));
}

double BurnInjury() {
  const int n = M.TIMESTEPS;
  double* v = vector(1, 1);
  M.BurnRefTemp = (M.NodeHistory[1].y + M.NodeHistory[n].y) / 2.0;
  M.EOverR = M.ACTENERGY / M.GASCONST;
  M.BurnRefExponent = M.EOverR / M.BurnRefTemp;

  // P exp(-BurnRefExponent) as m 10^p. The integer parts are held in
  // doubles (exact for every integer they can take here), which also keeps
  // absurd inputs defined instead of overflowing an int.
  const double log10e = std::log10(std::exp(1.0));
  const double X = log10e * M.BurnRefExponent;
  const double k = std::trunc(X);
  double m = std::pow(10.0, -(X - k)) * M.FREQFACTOR;
  double p = M.FREQEXP - k;

  M.RkTimes = vector(1, n + 1);
  M.RkPath = matrix(1, 1, 1, n + 1);
  v[1] = 0.0;
  M.NodeHistory[0] = {0.0, M.InitialTemps[M.OUTNODE]};
  cursor = 0;
  rkdumb(v, 1, 0.0, M.NodeHistory[n].x, n, BurnRate);
  const double integral = M.RkPath[1][n + 1];

  const double g = std::log10(integral);
  const double j = std::trunc(g);
  m = std::pow(10.0, g - j) * m;
  p = p + j;
  double omega = std::pow(10.0, p) * m;
  if (omega < 0.000001) omega = 0.0;

  release_matrix(M.RkPath, 1, 1, 1, n + 1);
  release_vector(M.RkTimes, 1, n + 1);
  M.RkPath = nullptr;
  M.RkTimes = nullptr;
  release_vector(v, 1, 1);
  M.Omega = omega;
  return omega;
}
