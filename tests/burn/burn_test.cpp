// The burn damage integral of one node: Omega against closed forms, from
// the node's initial temperature, and its temperature lookup.
#include "burn/burn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "input/input.h"
#include "model/model.h"
#include "support/support.h"

namespace {

TEST(BurnInjury, ConstantTemperature) {
  // Against P exp(-E / (R T)) t; the skin constants give about 0.545 at 340 K
  // for 10 s, 1.33 at 345 K for 1 s, and 9e-14 at 300 K, which is cut to 0.
  const double R = 8.31439, E = 623580.0;
  for (const auto& [factor, exponent, activation, T, seconds] :
       {std::tuple{1.0, 0, 300 * R, 300.0, 1.0}, std::tuple{3.442707, 94, E, 340.0, 10.0},
        std::tuple{3.442707, 94, E, 340.0, 20.0}, std::tuple{3.442707, 94, E, 345.0, 1.0},
        std::tuple{3.442707, 94, E, 300.0, 10.0}}) {
    testing_support::InProcess guard;
    M.FREQFACTOR = factor;
    M.FREQEXP = exponent;
    M.ACTENERGY = activation;
    M.GASCONST = R;
    M.TIMESTEPS = static_cast<int>(4 * seconds);  // records 0.25 s apart
    M.OUTNODE = 1;
    M.InitialTemps[1] = T;
    for (int j = 1; j <= M.TIMESTEPS; ++j) M.NodeHistory[j] = {j * 0.25, T};
    double expected = factor * std::pow(10.0, exponent) * std::exp(-activation / (R * T)) * seconds;
    if (expected < 1e-6) expected = 0;
    const double omega = BurnInjury();
    EXPECT_NEAR(omega, expected, 1e-10 * expected) << T << ' ' << seconds;
    EXPECT_EQ(M.Omega, omega);
  }
}

TEST(BurnInjury, StartsFromInitialTemperatureOfTheNode) {
  // T(t) = 300 (1 + t) over one second, P = 1, E / R = 300 K:
  // Omega = integral of exp(-1 / (1 + t)) dt = 0.5047922...
  testing_support::InProcess guard;
  M.FREQFACTOR = 1;
  M.GASCONST = 8.31439;
  M.ACTENERGY = 300 * M.GASCONST;
  M.TIMESTEPS = 4;
  M.OUTNODE = 3;
  M.InitialTemps[1] = 600;  // another node's
  M.InitialTemps[3] = 300;
  M.NodeHistory[0] = {0.0, 600};
  for (int j = 1; j <= 4; ++j) M.NodeHistory[j] = {0.25 * j, 300 * (1 + 0.25 * j)};
  EXPECT_NEAR(BurnInjury(), 0.5047922178731842, 1e-5);
  EXPECT_EQ(M.NodeHistory[0].y, 300);
}

// The lookup read straight off its rules, scanning every record afresh.
double ScanLookup(double t) {
  const PairTable& h = M.NodeHistory;
  const int n = M.TIMESTEPS;
  if (t == 0.0) return h[0].y;
  for (int i = 1; i <= n; ++i) {
    if (t == h[i].x) return h[i].y;
    if (h[i - 1].x < t && t < h[i].x) return LinearInterp(h[i].x, t, h[i - 1].x, h[i].y, h[i - 1].y);
    if (i < n && h[i].x < t && t < h[i + 1].x) return LinearInterp(h[i + 1].x, t, h[i].x, h[i + 1].y, h[i].y);
  }
  return h[n].y;  // past the last record
}

TEST(HistoryTemperature, SameBitsAsFullScan) {
  testing_support::InProcess guard;
  const int n = 37;
  M.TIMESTEPS = n;
  M.NodeHistory[0] = {0.0, 305};
  for (int j = 1; j <= n; ++j) M.NodeHistory[j] = {j * 0.1, 300 * std::exp(1.5 * std::sin(j))};
  const double end = M.NodeHistory[n].x;
  std::vector<double> times = {0.0, end + 1e-12, std::nextafter(end, 1e9), 2 * end};
  for (int j = 1; j <= n; ++j) {
    times.push_back(M.NodeHistory[j].x);
    times.push_back((M.NodeHistory[j - 1].x + M.NodeHistory[j].x) / 2);
  }
  // The integrator's own times: x, x + h/2 and x + h, x advanced by addition.
  const double h = end / n;
  double x = 0;
  for (int k = 1; k <= n; ++k, x += h) {
    for (double t : {x, x + h * 0.5, x + h}) times.push_back(t);
  }
  std::vector<double> reversed(times.rbegin(), times.rend()), shuffled = times;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  for (const std::vector<double>* order : {&times, &reversed, &shuffled}) {
    for (double t : *order) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(HistoryTemperature(t)),
                std::bit_cast<std::uint64_t>(ScanLookup(t)))
          << "t = " << t;
    }
  }
}

}  // namespace
