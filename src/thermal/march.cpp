// The time loop: one backward Euler step at a time from the initial
// distribution to the end of the exposure. Each step completes the
// tridiagonal system with the boundary rows of that step, solves it, reports
// it and refreshes the jet coefficient for the next step. The march can be
// made again, silently and to the same bits, from the stored coefficients:
// the burn of every node is integrated during that second march.
#include "console/console.h"
#include "model/model.h"
#include "numeric/numeric.h"
#include "report/report.h"
#include "thermal/thermal.h"

namespace {

// The march's elimination, kept from step to step while the faces'
// coefficients stay the same.
TridagFactors factors;

char FaceType(const std::string& word) { return word.empty() ? '\0' : word[0]; }

bool FaceKnown(char side) {
  const char type = FaceType(side == 'L' ? M.LBC : M.RBC);
  return type == 'C' || type == 'F' || type == 'T';
}

void FaceError(char side) {
  if (side == 'L') {
    console::Printf("Main() Error: %s %s", "No Left Boundary Condition was found.\r\n",
                    "LBC: line-input in DATA.DAT should be CONVECTION, FLUX, OR TEMPERATURE.  Hit <Enter> to exit...");
  } else {
    console::Printf("Main() Error: %s %s", "No Right Boundary Condition was found.\r\n",
                    "RBC: line-input in DATA.DAT should be CONVECTION, FLUX, OR TEMPERATURE.  Hit <Enter> to exit...");
  }
  console::Print("\r\n");
  console::Wait();
}

// The row of one face for step j; false for a type word that names none.
bool FaceRow(char side, int j) {
  const char type = FaceType(side == 'L' ? M.LBC : M.RBC);
  if (type == 'C') {
    Convection(side, j);
  } else if (type == 'F') {
    Flux(side, j);
  } else if (type == 'T') {
    // The prescribed temperature at the end of the step.
    const int n = side == 'L' ? 1 : M.NODES;
    M.AMiddle[n] = 1.0;
    (side == 'L' ? M.AUpper[1] : M.ALower[n]) = 0.0;
    M.RHS[n] = (side == 'L' ? M.LeftBCTable : M.RightBCTable)[j + 1].y;
  } else {
    FaceError(side);
    return false;
  }
  return true;
}

}  // namespace

int FacesNamed() {
  for (const char side : {'L', 'R'}) {
    if (!FaceKnown(side)) {
      FaceError(side);
      return 0;
    }
  }
  return 1;
}

int TimeMarch() {
  const int n = M.NODES;
  // The burn integral starts every node from the temperature the march
  // starts from, however the first block laid it.
  for (int i = 1; i <= n; ++i) M.InitialTemps[i] = M.InitTempTable[i].y;
  M.Reached = Phase::kMarch;
  factors.valid = false;  // InterNodes has laid the interior rows anew
  ResultsRow(0, M.InitialTemps.data());
  for (int j = 1; j <= M.TIMESTEPS; ++j) {
    console::Mark();
    if (!FaceRow('L', j) || !FaceRow('R', j)) return 0;
    for (int i = 2; i <= n - 1; ++i) M.RHS[i] = M.InitTempTable[i].y;
    // The solver only reads the diagonals and the right-hand side, so it
    // works on them in place and writes the solution into row j.
    double* u = M.StepTemps.data();
    const double left_before = M.InitTempTable[1].y;
    const double right_before = M.InitTempTable[n].y;
    tridag(M.ALower.data(), M.AMiddle.data(), M.AUpper.data(), M.RHS.data(), u,
           static_cast<unsigned>(n), factors);
    FaceSteps(j, left_before, right_before, u);
    if (M.OUTTIME == 0 && M.OUTNODE != 0) M.NodeHistory[j] = {j * M.DELTAT, u[M.OUTNODE]};
    if (j == 1) M.FirstRow = M.StepTemps;
    if (j == M.TIMESTEPS) M.LastRow = M.StepTemps;
    M.StepsDone = j;
    ResultsRow(j, u);
    if (!StepReport(j, u)) return 0;
    console::Mark();
    if (M.JetInUse != 0 && !JetConvection(j, u[1], M.LeftAmbTable[j + 1].y, M.HbarTable[j + 1].y)) return 0;
  }
  return 1;
}

void RestartMarch() {
  factors.valid = false;
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = M.InitialTemps[i];
}

void MarchAgain(int j, double* u) {
  // The face words were found sound in the first march.
  FaceRow('L', j);
  FaceRow('R', j);
  const int n = M.NODES;
  for (int i = 2; i <= n - 1; ++i) M.RHS[i] = M.InitTempTable[i].y;
  tridag(M.ALower.data(), M.AMiddle.data(), M.AUpper.data(), M.RHS.data(), u, static_cast<unsigned>(n), factors);
}
