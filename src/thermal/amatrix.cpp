// Fourier numbers and the interior rows of the A-matrix.
//
// The skin is a row of NODES nodes DELTAX apart. Each step solves, fully
// implicit in time (backward Euler), with second-order central differences
// in space,
//   (1 + wW Fo_i + wE Fo_i) T_i - wW Fo_i T_(i-1) - wE Fo_i T_(i+1) = T_i(old),
// where Fo_i = k_i dt / (rho_i c_i dx^2) and the weights wW, wE turn k_i into
// the harmonic mean of the conductivities of node i and its neighbour. The
// face nodes own half a cell; their rows are set per step by the boundary
// routines. With --perfusion each node's row gains the Pennes term
// (PerfusionGain: the blood's exchange with the node over the step) on the
// diagonal, and the same times the arterial temperature on the right. With
// --time-scheme bdf2 the same rows serve the second-order
// backward difference: after one step as above, each step solves them with
// 2 dt / 3 in place of dt (SolveFraction) from (4 T_i(old) - T_i(older)) / 3. The groupings of the arithmetic below are fixed so that every
// build gives the same bits.
#include <cmath>

#include "model/model.h"
#include "thermal/thermal.h"

namespace {

bool Usable(double property) { return property > 0 && std::isfinite(property); }

}  // namespace

int Fourier() {
  for (int i = 1; i <= M.NODES; ++i) {
    const double k = M.ConductTable[i].y;
    const double rho = M.DensityTable[i].y;
    const double c = M.HeatCapTable[i].y;
    if (!Usable(k) || !Usable(rho) || !Usable(c)) return 0;
    M.FourierNumber[i] = (k * M.DELTAT) / ((rho * M.DELTAX) * (c * M.DELTAX));
  }
  return 1;
}

void InterNodes() {
  for (int i = 2; i <= M.NODES - 1; ++i) {
    const double k = M.ConductTable[i].y;
    const double k_west = M.ConductTable[i - 1].y;
    const double k_east = M.ConductTable[i + 1].y;
    const double west = 2 * k_west / (k + k_west);
    const double east = 2 * k_east / (k + k_east);
    const double fo = M.FourierNumber[i] * M.SolveFraction;
    M.ALower[i] = -west * fo;
    M.AMiddle[i] = west * fo + 1 + east * fo;
    if (M.Perfusion) M.AMiddle[i] += PerfusionGain(i);
    M.AUpper[i] = -east * fo;
  }
}
