// GASPROP.DAT from the fuzzer's bytes, read by JetConvection under a few
// sound jets (each stand-off range, with and without the off-axis average,
// Reynolds number given and from the gas velocity, temperatures inside and
// outside the table). Then once more under a jet taken from the first eight
// bytes, which lie in the comment or heading line that the reader skips:
// edge values of the stand-off ratio, Reynolds number, nozzle diameter and
// temperatures, not-a-number and infinities included.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "fuzz_common.h"
#include "model/model.h"
#include "thermal/thermal.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Jet {
  double option, reynolds, diameter, offaxis, standoff;
  int j;
  double surface, gas;
};

const Jet kSoundJets[] = {
    {1.0, 0.0, 0.01, 1.0, 4.4, 0, 310.0, 800.0},
    {0.0, 20000.0, 0.01, 0.0, 8.0, 50, 400.0, 1000.0},
    {1.0, 40000.0, 0.005, 2.0, 15.0, 100, 1500.0, 100.0},
    {0.0, 0.0, 0.02, 0.5, 2.0, 2000, 600.0, 650.0},
};

// Byte `b` as one of the edge values, or past them as a step of `scale`.
template <std::size_t N>
double Pick(std::uint8_t b, const double (&edges)[N], double scale) {
  return b < N ? edges[b] : (b - N) * scale;
}

void Velocities(int pairs) {
  M.GasVelocityTable[1] = {0.0, 120.0};
  M.GasVelocityTable[2] = {0.06, 120.0};
  M.GasVelocityTable[3] = {1.0, 20.0};
  M.GasVelocityPairs = pairs;
}

double Evaluate(const Jet& jet) {
  M.JETOPTION = jet.option;
  M.JETREYNOLDS = jet.reynolds;
  M.NOZZLEDIAM = jet.diameter;
  M.OFFAXISRATIO = jet.offaxis;
  M.STANDOFFRATIO = jet.standoff;
  double hbar = 0;
  (void)JetConvection(jet.j, jet.surface, jet.gas, hbar);
  return hbar;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::WriteFile("GASPROP.DAT", fuzz::Bytes(data, size));
  fuzz::Session session(size);
  M.DELTAT = 0.001;
  Velocities(3);
  for (const Jet& jet : kSoundJets) (void)Evaluate(jet);
  if (size < 8) return 0;

  static const double kStandoff[] = {0,  1e-9, 4.4, 5.5,  5.500000001, 10, 10.000000001,
                                     20, 20.5, -3,  kInf, kNaN};
  static const double kOffaxis[] = {0, -1, 1e-300, 1e300, kInf, kNaN};
  static const double kReynolds[] = {0, 25000, 30000, 24999.999, 30000.001, -100, 1e308, kInf, -kInf, kNaN};
  static const double kDiameter[] = {0, -0.01, 1e-300, kInf, kNaN};
  static const double kOption[] = {1.0, 0.0, 1.0000000000000002};
  static const double kTemperature[] = {kNaN, -kInf, kInf, 0, -300, 1e308};
  static const double kStep[] = {0, -1, 1e6, 2147483647, -2147483647};
  Velocities(data[4] / 3 % 4);  // none, one, two or three pairs
  const Jet derived{Pick(data[4] % 3, kOption, 0),    Pick(data[2], kReynolds, 500.0),
                    Pick(data[3], kDiameter, 0.001),  Pick(data[1], kOffaxis, 0.05),
                    Pick(data[0], kStandoff, 0.1),    static_cast<int>(Pick(data[7], kStep, 40.0)),
                    Pick(data[5], kTemperature, 8.0), Pick(data[6], kTemperature, 8.0)};
  (void)Evaluate(derived);
  return 0;
}
