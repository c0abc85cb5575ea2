// Boundary rows: the energy balance of each face node's half cell.
//
// The conduction term towards the neighbour carries twice an interior row's
// weight (w = 4 k_n / (k_face + k_n), the harmonic mean over half a cell),
// and heat entering through the face enters with 2 dt / (rho c dx). Both use
// the time record j, the start of the step.
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
  return face.node == 1 ? 4 * k_next / (k_face + k_next) : 4 * k_next / (k_next + k_face);
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
  double h = face.value;
  // On the exposed face the value 1.0 selects the jet correlation's coefficient.
  if (side == 'L' && M.JetInUse == 1 && face.value == 1.0) h = M.HbarTable[j].y;
  const double beta = (M.DELTAT / M.DELTAX) * h / (M.DensityTable[n].y * M.HeatCapTable[n].y);
  const double fo = M.FourierNumber[n];
  M.AMiddle[n] = w * fo + 1 + 2 * beta;
  Coupling(face) = -w * fo;
  M.RHS[n] = 2 * beta * face.ambient + M.InitTempTable[n].y;
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
  const double fo = M.FourierNumber[n];
  M.AMiddle[n] = w * fo + 1;
  Coupling(face) = -w * fo;
  // The flux is positive towards increasing depth: it heats the left face
  // and cools the right one.
  const double gain = 2 * q * (M.DELTAT / M.DELTAX) / (M.HeatCapTable[n].y * M.DensityTable[n].y);
  M.RHS[n] = side == 'L' ? M.InitTempTable[n].y + gain : M.InitTempTable[n].y - gain;
}
