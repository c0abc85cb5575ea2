// Boundary rows: the energy balance of each face node's half cell.
//
// The conduction term towards the neighbour carries twice an interior row's
// weight (w = 4 k_n / (k_face + k_n), the harmonic mean over half a cell),
// and heat entering through the face enters with 2 dt / (rho c dx). The
// blood perfuses the half cell as it does a whole one. Both use
// the time record they are given: the start of the step for backward Euler,
// its end for BDF2, whose step dt is 2 DELTAT / 3 (SolveFraction).
#include <limits>

#include "console/console.h"
#include "model/model.h"
#include "thermal/thermal.h"

namespace {

// The face node, its neighbour, and the face's values for step j.
struct Face {
  int node;
  int neighbour;
  double value;    // h, q or T of the boundary table
  double ambient;  // T of the ambient table
};

bool FaceOf(char side, int j, Face& face) {
  if (side == 'L') {
    face = {1, 2, M.LeftBCTable[j].y, M.LeftAmbTable[j].y};
    return true;
  }
  if (side == 'R') {
    face = {M.NODES, M.NODES - 1, M.RightBCTable[j].y, M.RightAmbTable[j].y};
    return true;
  }
  return false;
}

double Weight(const Face& face) {
  const double k_face = M.ConductTable[face.node].y;
  const double k_next = M.ConductTable[face.neighbour].y;
  return 4 * k_next / (k_face + k_next);  // the same on both faces (the sum commutes exactly)
}

// The convection coefficient of the face's row in step j: on the exposed
// face the value 1.0 selects the jet correlation's coefficient.
double Coefficient(char side, int j, const Face& face) {
  if (side == 'L' && JetDrives(face.value)) return M.HbarTable[j].y;
  return face.value;
}

// What the face did in step j, from its type word: `before` is the face
// node's temperature at the start of the step, u the step's solution.
void FaceStepOf(char side, int j, double before, const double* u, FaceStep& step) {
  Face face{};
  FaceOf(side, j, face);
  const int n = face.node;
  const FaceKind kind = FaceKindOf(side);
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  step = {kNone, kNone, u[n], kNone};
  if (kind == FaceKind::kConvection) {
    step.h = Coefficient(side, j, face);
    step.ambient = face.ambient;
    step.flux = step.h * (face.ambient - u[n]);
  } else if (kind == FaceKind::kFlux) {
    // The flux is positive towards increasing depth.
    step.flux = side == 'L' ? face.value : -face.value;
  } else if (kind == FaceKind::kTemperature) {
    // The half cell's energy balance: what it stored, and what it passed on
    // to its neighbour, both as the row forms them.
    const double dt = M.DELTAT * M.SolveFraction;
    const double cell = M.DensityTable[n].y * M.HeatCapTable[n].y * M.DELTAX / (2 * dt);
    const double fo = M.FourierNumber[n] * M.SolveFraction;
    step.flux = cell * ((u[n] - before) + Weight(face) * fo * (u[n] - u[face.neighbour]));
    // Less what the blood brought into the half cell.
    if (M.Perfusion) step.flux -= cell * PerfusionGain(n) * (M.ArterialTemp - u[n]);
  }
}

// The Pennes term of a face node's half cell, which the blood perfuses as
// the nodes inside: the same gain per unit volume.
void Perfused(int n) {
  if (!M.Perfusion) return;
  const double gain = PerfusionGain(n);
  M.AMiddle[n] += gain;
  M.RHS[n] += gain * M.ArterialTemp;
}

// The off-diagonal entry of the face row.
double& Coupling(const Face& face) {
  return face.node == 1 ? M.AUpper[1] : M.ALower[face.node];
}

}  // namespace

void Convection(char side, int j) {
  Face face;
  if (!FaceOf(side, j, face)) {
    console::Printf("Convection() Error: %s", "Node-0 and Last-Node Convection calculations failed");
    console::Wait();
    return;
  }
  const int n = face.node;
  const double w = Weight(face);
  const double h = Coefficient(side, j, face);
  const double dt = M.DELTAT * M.SolveFraction;
  const double beta = (dt / M.DELTAX) * h / (M.DensityTable[n].y * M.HeatCapTable[n].y);
  const double fo = M.FourierNumber[n] * M.SolveFraction;
  M.AMiddle[n] = w * fo + 1 + 2 * beta;
  Coupling(face) = -w * fo;
  M.RHS[n] = 2 * beta * face.ambient + M.InitTempTable[n].y;
  Perfused(n);
}

void Flux(char side, int j) {
  Face face;
  if (!FaceOf(side, j, face)) {
    console::Printf("Flux() Error: %s", "Node-0 and Last-Node Flux calculations failed");
    console::Wait();
    return;
  }
  const int n = face.node;
  const double w = Weight(face);
  const double q = face.value;
  const double dt = M.DELTAT * M.SolveFraction;
  const double fo = M.FourierNumber[n] * M.SolveFraction;
  M.AMiddle[n] = w * fo + 1;
  Coupling(face) = -w * fo;
  // The flux is positive towards increasing depth: it heats the left face
  // and cools the right one.
  const double gain = 2 * q * (dt / M.DELTAX) / (M.HeatCapTable[n].y * M.DensityTable[n].y);
  M.RHS[n] = side == 'L' ? M.InitTempTable[n].y + gain : M.InitTempTable[n].y - gain;
  Perfused(n);
}

void FaceSteps(int j, double left_before, double right_before, const double* u) {
  FaceStepOf('L', j, left_before, u, M.LeftStep);
  FaceStepOf('R', j, right_before, u, M.RightStep);
}
