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
#include <cstddef>
#include <vector>

#include "burn/burn.h"
#include "input/input.h"
#include "model/model.h"
#include "numeric/numeric.h"

namespace {

// The integrator asks for times that never go back within one node, so the
// lookup resumes where the last one stopped: record `cursor` is the last
// whose time lies below the time asked for.
int cursor = 0;

// The history lookup from record `at` on, for the lookup's own cursor and
// for the plan's pass below. On a record the record's value; between two,
// the straight line; past the last record, which a time formed by repeated
// addition can be by a rounding, the last record's value. The line is
// formed even on a record and the record's value then taken in its place
// (the same value as branching first), because whether a time formed by
// repeated addition falls on a record follows no pattern a branch
// predictor can learn.
inline double TemperatureAt(const Pair* h, int last, int& at, double t) {
  if (t == 0.0) return h[0].y;
  if (at > last || !(h[at].x < t)) at = 0;
  while (at < last && h[at + 1].x < t) ++at;
  if (at == last) return h[last].y;
  const Pair& above = h[at + 1];
  const double line = LinearInterp(above.x, t, h[at].x, above.y, h[at].y);
  return above.x == t ? above.y : line;
}

// The integrator's path record of TIMESTEPS + 1 points. The burn depth
// evaluation integrates every node with the same number of points, so the
// record is made once and kept from call to call (grown when a longer one is
// asked for) instead of being made and released for each node: fresh pages
// for every node cost more than the integration itself. Each call rewrites
// every point it reads.
double* path_times = nullptr;
double** path_states = nullptr;
int path_points = 0;

void PathRecord(int points) {
  // A record of no point is made as before, so that it fails as before.
  if (points < 1 || points > path_points) {
    if (path_states) release_matrix(path_states, 1, 1, 1, path_points);
    if (path_times) release_vector(path_times, 1, path_points);
    path_times = vector(1, points);
    path_states = matrix(1, 1, 1, points);
    path_points = points;
  }
  M.RkTimes = path_times;
  M.RkPath = path_states;
}

// The rates of one integration, computed ahead. The integrator asks for the
// rate four times a step, at the start, twice at the midpoint and at the
// end, and the end of a step is the start of the next: 2 N + 1 different
// times, all known before it starts, none depending on the damage. Asked for
// one at a time, every exponential waits for the interpolation and division
// before it; computed in one pass, in the same order, they overlap. The
// times are formed exactly as rkdumb and rk_step form them, and every rate
// is the one the lookup would give at that time (repeating a time leaves the
// lookup where it was), so each answer is the value a direct evaluation
// would give. A time that is not the next in the plan is evaluated directly.
struct RatePlan {
  std::vector<double> times;
  std::vector<double> rates;
  std::size_t at = 0;  // the time served last
  bool active = false;
};
RatePlan plan;

double Rate(double t) { return std::exp(M.BurnRefExponent - M.EOverR / HistoryTemperature(t)); }

void PlanRates(double x1, double x2, int nstep) {
  plan.times.clear();
  plan.rates.clear();
  plan.at = 0;
  if (nstep < 1) return;
  const double h = (x2 - x1) / nstep;
  const double hh = h * 0.5;
  double x = x1;
  plan.times.push_back(x);
  for (int k = 1; k <= nstep; ++k) {
    plan.times.push_back(x + hh);
    plan.times.push_back(x + h);
    x += h;
  }
  // The temperatures first, then the exponentials in a loop of their own,
  // where nothing stands between one and the next.
  plan.rates.resize(plan.times.size());
  const Pair* history = M.NodeHistory.data();
  const int last = M.TIMESTEPS;
  int at = cursor;
  for (std::size_t i = 0; i < plan.times.size(); ++i) plan.rates[i] = TemperatureAt(history, last, at, plan.times[i]);
  cursor = at;
  const double exponent = M.BurnRefExponent;
  const double eoverr = M.EOverR;
  for (double& rate : plan.rates) rate = std::exp(exponent - eoverr / rate);
}

// The rate at t: from the plan when t is the time it holds next (or holds
// again: the midpoint is asked for twice), else evaluated directly.
inline double PlannedRate(double t) {
  if (plan.active) {
    if (t == plan.times[plan.at]) return plan.rates[plan.at];
    if (plan.at + 1 < plan.times.size() && t == plan.times[plan.at + 1]) return plan.rates[++plan.at];
  }
  return Rate(t);
}

// The plan serves the rate calls of one rkdumb run, however it is left.
struct Integration {
  Integration(double x1, double x2, int nstep) {
    PlanRates(x1, x2, nstep);
    plan.active = !plan.times.empty();
  }
  ~Integration() { plan.active = false; }
  Integration(const Integration&) = delete;
  Integration& operator=(const Integration&) = delete;
};

}  // namespace

void BurnScale(double ref_exponent, double& m, double& p) {
  // P exp(-ref_exponent) as m 10^p. The integer parts are held in doubles
  // (exact for every integer they can take here), which also keeps absurd
  // inputs defined instead of overflowing an int.
  const double log10e = std::log10(std::exp(1.0));
  const double X = log10e * ref_exponent;
  const double k = std::trunc(X);
  m = std::pow(10.0, -(X - k)) * M.FREQFACTOR;
  p = M.FREQEXP - k;
}

double BurnOmega(double integral, double m, double p) {
  const double g = std::log10(integral);
  const double j = std::trunc(g);
  m = std::pow(10.0, g - j) * m;
  p = p + j;
  double omega = std::pow(10.0, p) * m;
  M.OmegaUnfloored = omega;
  if (omega < 0.000001) omega = 0.0;
  return omega;
}

double HistoryTemperature(double t) { return TemperatureAt(M.NodeHistory.data(), M.TIMESTEPS, cursor, t); }

void BurnRate(double t, const double* /*y*/, double* dydx) { dydx[1] = PlannedRate(t); }

double BurnInjury() {
  const int n = M.TIMESTEPS;
  const ScopedVector start(1, 1);
  double* v = start.get();
  M.BurnRefTemp = (M.NodeHistory[1].y + M.NodeHistory[n].y) / 2.0;
  M.EOverR = M.ACTENERGY / M.GASCONST;
  M.BurnRefExponent = M.EOverR / M.BurnRefTemp;

  double m;
  double p;
  BurnScale(M.BurnRefExponent, m, p);

  PathRecord(n + 1);
  v[1] = 0.0;
  M.NodeHistory[0] = {0.0, M.InitialTemps[M.OUTNODE]};
  cursor = 0;
  {
    const Integration integration(0.0, M.NodeHistory[n].x, n);
    // BurnRate handed over as itself, not through a pointer, so that the
    // integrator's four calls a step are in line with it.
    rkdumb(v, 1, 0.0, M.NodeHistory[n].x, n,
           [](double t, const double*, double* dydx) { dydx[1] = PlannedRate(t); });
  }
  const double integral = M.RkPath[1][n + 1];

  const double omega = BurnOmega(integral, m, p);

  M.RkPath = nullptr;
  M.RkTimes = nullptr;
  M.Omega = omega;
  return omega;
}
