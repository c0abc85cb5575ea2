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

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "thermal/thermal.h"

namespace {

int Fail(const char* text) {
  console::Printf("JetConvection() Error: %s", text);
  return 0;
}

// The failure at a time that no pair interval of the gas velocities of
// LEFTIMP.DAT covers: no velocity measured for one time can stand in for
// another's.
int NotCovered(double t) {
  char text[160];
  std::snprintf(text, sizeof text, "\r\n LEFTIMP.DAT gas velocities do not cover the time %.6g s... \r\n", t);
  return Fail(text);
}

}  // namespace

int JetConvection(int j, double surface, double gas_temperature, double& hbar) {
  hbar = 0.0;
  GasTable gas{};
  if (!ReadGasTable(gas)) return 0;

  const double D = M.NOZZLEDIAM;
  const double H = M.STANDOFFRATIO;
  const double R = M.OFFAXISRATIO;
  JetFlow flow;
  if (!JetFlowAt(gas, j * M.DELTAT, gas_temperature, flow)) return NotCovered(j * M.DELTAT);
  const double Re = flow.reynolds;
  const double film = (gas_temperature + surface) / 2;
  const double Pr = GasProperty(gas, &GasRow::Pr, film);

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
  hbar = Nu * GasProperty(gas, &GasRow::k, film) / D;
  return 1;
}
