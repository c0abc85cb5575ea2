// Jet convection: the heat-transfer coefficient Hbar of the exposed face
// under the hot gas jet of the airbag, from an impinging-jet correlation.
//
//   Nu_0 = 1.1613 Re^0.5041 Pr^0.42 C(H)        on the jet axis,
//   Nu   = Nu_0 F                              averaged off the axis,
//   Hbar = Nu k_g / D,
// with the viscosity at the gas temperature and the Prandtl number and the
// conductivity at the film temperature, all from GASPROP.DAT. The file is
// read anew at every call, so a change to it takes effect at the next step.
// Every failure is reported here and stops the run: a coefficient of 0 in
// its place would march a complete-looking trial that never saw the jet.
#include <array>
#include <cmath>
#include <cstdio>

#include "input/input.h"
#include "input/reader.h"
#include "model/console.h"
#include "model/model.h"
#include "thermal/thermal.h"

namespace {

constexpr int kGasRows = 18;

struct GasRow {
  double T;   // K
  double nu;  // m^2/s, kinematic viscosity
  double k;   // W/(m K), conductivity
  double Pr;  // Prandtl number
};
using GasTable = std::array<GasRow, kGasRows + 1>;  // rows 1..18

int Fail(const char* text) {
  console::Printf("JetConvection() Error: %s", text);
  return 0;
}

// Reads GASPROP.DAT; false after a failure it has reported.
bool ReadGasTable(GasTable& gas) {
  TextSource file;
  if (!file.Load(M.DataDir + "GASPROP.DAT")) return Fail("\r\n GASPROP.DAT could not be found... \r\n");
  if (!SkipHeader(file)) return Fail("\r\n GASPROP.DAT ends inside its comment lines... \r\n");
  for (int row = 1; row <= kGasRows; ++row) {
    double* fields[] = {&gas[row].T, &gas[row].nu, &gas[row].k, &gas[row].Pr};
    for (double* field : fields) {
      std::string_view word;
      const TextSource::Word got = file.Next(word);
      if (got == TextSource::Word::kEnd) {
        return Fail("\r\n GASPROP.DAT holds fewer than 18 complete rows of gas properties... \r\n");
      }
      if (got == TextSource::Word::kTooLong) {
        return Fail("\r\n GASPROP.DAT holds a word longer than 79 characters... \r\n");
      }
      *field = ParseReal(word);
    }
    // The lookup needs temperatures that strictly ascend.
    if (row > 1 && !(gas[row].T > gas[row - 1].T)) {
      return Fail("\r\n GASPROP.DAT temperatures must ascend from row to row... \r\n");
    }
  }
  return true;
}

// The property `field` at temperature x: clamped at both ends, linear between.
double Property(const GasTable& gas, double GasRow::*field, double x) {
  if (x < gas[1].T) return gas[1].*field;
  if (x > gas[kGasRows].T) return gas[kGasRows].*field;
  for (int k = 1; k < kGasRows; ++k) {
    if (gas[k].T <= x && x <= gas[k + 1].T) {
      return LinearInterp(gas[k + 1].T, x, gas[k].T, gas[k + 1].*field, gas[k].*field);
    }
  }
  return NAN;  // only a temperature that is not a number reaches here
}

// Gas velocity at time t from the pairs of LEFTIMP.DAT (records 1..1000);
// false after reporting a time that no pair interval covers: no velocity
// measured for one time can stand in for another's.
bool Velocity(double t, double& velocity) {
  if (GasVelocityAt(t, velocity)) return true;
  char text[160];
  std::snprintf(text, sizeof text, "\r\n LEFTIMP.DAT gas velocities do not cover the time %.6g s... \r\n", t);
  Fail(text);
  return false;
}

}  // namespace

bool GasVelocityAt(double t, double& velocity) {
  const int last = M.GasVelocityPairs < 1000 ? M.GasVelocityPairs : 1000;
  const PairTable& v = M.GasVelocityTable;
  for (int k = 1; k < last; ++k) {
    if (v[k].x <= t && t <= v[k + 1].x) {
      // A step (two pairs at one time) takes the earlier pair.
      velocity = v[k].x == v[k + 1].x ? v[k].y : LinearInterp(v[k + 1].x, t, v[k].x, v[k + 1].y, v[k].y);
      return true;
    }
  }
  return false;
}

bool GasPropertyRows(double rows[18][4]) {
  GasTable gas{};
  if (!ReadGasTable(gas)) return false;
  for (int r = 0; r < kGasRows; ++r) {
    rows[r][0] = gas[r + 1].T;
    rows[r][1] = gas[r + 1].nu;
    rows[r][2] = gas[r + 1].k;
    rows[r][3] = gas[r + 1].Pr;
  }
  return true;
}

int JetConvection(int j, double surface, double gas_temperature, double& hbar) {
  hbar = 0.0;
  GasTable gas{};
  if (!ReadGasTable(gas)) return 0;

  const double D = M.NOZZLEDIAM;
  const double H = M.STANDOFFRATIO;
  const double R = M.OFFAXISRATIO;
  double Re = M.JETREYNOLDS;
  if (Re == 0) {
    double velocity;
    if (!Velocity(j * M.DELTAT, velocity)) return 0;
    Re = velocity * D / Property(gas, &GasRow::nu, gas_temperature);
  }
  const double film = (gas_temperature + surface) / 2;
  const double Pr = Property(gas, &GasRow::Pr, film);

  double C;
  if (H > 0 && H <= 5.5) {
    C = 1.06 - 0.03 * H;
    if (M.JETOPTION == 1.0) C += 2e-6 * Re * std::exp(-((H - 4.4) * (H - 4.4)) / 0.7);
  } else if (H > 5.5 && H <= 10) {
    C = 1.593 - 0.1266 * H;
  } else if (H > 10 && H <= 20) {
    C = 0.6295 - 0.0287 * H;
  } else {
    console::Printf("\r\n\r\nError JetConvection():  %s", "On-axis Nusselt number could not be calculated.\r\n");
    console::Wait();
    return 0;
  }
  const double Nu0 = 1.1613 * std::pow(Re, 0.5041) * std::pow(Pr, 0.42) * C;

  double Nu = Nu0;
  if (R > 0) {
    // Radial average of the profile over R/200 .. R/2. Only the bell-shaped
    // term depends on the radial position.
    const double s = 2.4902 - 0.233 * H + 0.01462 * H * H + 6.2769e-6 * Re + 3.5356e-6 * Re * H;
    const double n = Re < 25000 ? 1.3 + 1e-7 * Re + 2.171e-5 * Re * std::exp(-(H * H) / 9)
                                : 1.4 + 1e-7 * Re + 1.55e-4 * Re * std::exp(-(H * H) / 9);
    const double xm = Re <= 30000 ? 1.5139 - 1.624e-5 * Re : 1.0;
    double x = 0;
    double sum = 0;
    for (int step = 0; step < 100; ++step) {
      x += R / 2 / 100;
      sum += std::exp(-std::pow(H / s, n)) + 5.2587e-4 +
             2.6503e-2 * std::exp(-6.25 * ((x - xm) * (x - xm))) / (H * H);
    }
    Nu = Nu0 * (sum / 100);
  }
  hbar = Nu * Property(gas, &GasRow::k, film) / D;
  return 1;
}
