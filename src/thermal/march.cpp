// The time loop: one implicit step at a time from the initial distribution
// to the end of the exposure. Each step completes the tridiagonal system with
// the boundary rows of that step, solves it, reports it and refreshes the jet
// coefficient for the next step. The march can be made again, silently and to
// the same bits, from the stored coefficients: the burn of every node is
// integrated during that second march.
//
// Backward Euler takes the faces' convection and flux at the start of the
// step. BDF2 (--time-scheme bdf2) takes every face value at the end of the
// step, and the jet's coefficient there from the surface temperature
// extrapolated from the two steps before; its first step, and the step after
// a jump of a face table, is backward Euler.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "console/console.h"
#include "model/model.h"
#include "numeric/numeric.h"
#include "report/report.h"
#include "thermal/thermal.h"

namespace {

// The march's elimination, kept from step to step while the faces'
// coefficients stay the same.
TridagFactors factors;

RowSink row_sink = nullptr;

void HandOn(int r, const double* u) {
  if (row_sink) row_sink(r, u);
}

bool FaceKnown(char side) { return FaceKindOf(side) != FaceKind::kNone; }

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

bool Bdf2() { return M.Scheme == TimeScheme::kBdf2; }

// The time record of the faces' convection and flux in step j.
int FaceRecord(int j) { return Bdf2() ? j + 1 : j; }

// The row of one face for step j; false for a type word that names none.
bool FaceRow(char side, int j) {
  const FaceKind kind = FaceKindOf(side);
  if (kind == FaceKind::kConvection) {
    Convection(side, FaceRecord(j));
  } else if (kind == FaceKind::kFlux) {
    Flux(side, FaceRecord(j));
  } else if (kind == FaceKind::kTemperature) {
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

// True when a face table jumps at the start of step j: its value changes
// within the step by more than a tenth of its size and by more than four
// times its change in the step before (an exposure that ends, a gas that is
// switched on). A ramp that starts or stops is no jump. BDF2 across a jump
// of what drives it is only first order from there on, so the step after
// one is a backward Euler step.
bool Jumps(const PairTable& table, int j) {
  const double before = std::fabs(table[j].y - table[j - 1].y);
  const double after = std::fabs(table[j + 1].y - table[j].y);
  const double size = std::max({std::fabs(table[j - 1].y), std::fabs(table[j].y), std::fabs(table[j + 1].y)});
  return after > 0.1 * size && after > 4.0 * before;
}

bool FaceJumps(int j) {
  return j > 1 && (Jumps(M.LeftBCTable, j) || Jumps(M.LeftAmbTable, j) || Jumps(M.RightBCTable, j) ||
                   Jumps(M.RightAmbTable, j));
}

// BDF2's start of step j: step 1, and the step after a jump of a face table,
// is a backward Euler step over DELTAT; every other is the backward Euler
// step over 2 DELTAT / 3 from (4 T(j-1) - T(j-2)) / 3, set here in
// InitTempTable's value column. Both marches make the same changes, so the
// second gives the first's bits.
void SchemeStep(int j) {
  if (!Bdf2()) return;
  const int n = M.NODES;
  const bool restart = j == 1 || FaceJumps(j);
  const double fraction = restart ? 1.0 : 2.0 / 3.0;
  if (j == 1 || fraction != M.SolveFraction) {
    M.SolveFraction = fraction;
    InterNodes();
    factors.valid = false;
  }
  for (int i = 1; i <= n; ++i) {
    const double now = M.InitTempTable[i].y;
    if (!restart) M.InitTempTable[i].y = (4 * now - M.PrevTemps[i]) / 3;
    M.PrevTemps[i] = now;
  }
}

// BDF2's jet coefficient at the end of step j, from the surface temperature
// extrapolated linearly from the two steps before (the start's on step 1).
bool PredictJet(int j) {
  if (!Bdf2() || !JetCalledIn()) return true;
  const double now = M.InitTempTable[1].y;
  const double surface = j == 1 ? now : 2 * now - M.PrevTemps[1];
  return JetConvection(j, surface, M.LeftAmbTable[j + 1].y, M.HbarTable[j + 1].y) != 0;
}

// The right-hand side of the interior rows: the temperatures the step
// starts from, and the blood's arterial heat where the skin is perfused.
void InteriorRight() {
  const int n = M.NODES;
  for (int i = 2; i <= n - 1; ++i) M.RHS[i] = M.InitTempTable[i].y;
  if (!M.Perfusion) return;
  for (int i = 2; i <= n - 1; ++i) M.RHS[i] += PerfusionGain(i) * M.ArterialTemp;
}

}  // namespace

void SetRowSink(RowSink sink) { row_sink = sink; }

bool StartStages(void (*stage)(void* context), void* context) {
  const auto next = [&] {
    if (stage) stage(context);
  };
  next();
  if (JetFormedBeforeMarch() && !JetConvection(0, M.InitTempTable[1].y, M.LeftAmbTable[1].y, M.HbarTable[1].y)) {
    return false;
  }
  next();
  if (!Fourier()) {
    StageError("Fourier() Error: %s", "Fourier Numbers could not be generated");
    return false;
  }
  next();
  InterNodes();
  return true;
}

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
  // The input stage let through only a grid the tables hold, and a step
  // that BDF2 alone scales.
  assert(n >= 1 && n <= kMaxNodes && M.TIMESTEPS >= 0 && M.TIMESTEPS <= kMaxTimeSteps);
  assert(Bdf2() || M.SolveFraction == 1.0);
  // The burn integral starts every node from the temperature the march
  // starts from, however the first block laid it.
  for (int i = 1; i <= n; ++i) M.InitialTemps[i] = M.InitTempTable[i].y;
  M.Reached = Phase::kMarch;
  factors.valid = false;  // InterNodes has laid the interior rows anew
  HandOn(0, M.InitialTemps.data());
  for (int j = 1; j <= M.TIMESTEPS; ++j) {
    console::Mark();
    if (!PredictJet(j)) return 0;
    SchemeStep(j);
    if (!FaceRow('L', j) || !FaceRow('R', j)) return 0;
    InteriorRight();
    // The solver only reads the diagonals and the right-hand side, so it
    // works on them in place and writes the step's solution into StepTemps.
    double* u = M.StepTemps.data();
    const double left_before = M.InitTempTable[1].y;
    const double right_before = M.InitTempTable[n].y;
    tridag(M.ALower.data(), M.AMiddle.data(), M.AUpper.data(), M.RHS.data(), u,
           static_cast<unsigned>(n), factors);
    FaceSteps(FaceRecord(j), left_before, right_before, u);
    if (M.OUTTIME == 0 && M.OUTNODE != 0) M.NodeHistory[j] = {j * M.DELTAT, u[M.OUTNODE]};
    if (j == 1) M.FirstRow = M.StepTemps;
    if (j == M.TIMESTEPS) M.LastRow = M.StepTemps;
    M.StepsDone = j;
    HandOn(j, u);
    if (!StepReport(j, u)) return 0;
    console::Mark();
    if (JetCalledIn() && !Bdf2() && !JetConvection(j, u[1], M.LeftAmbTable[j + 1].y, M.HbarTable[j + 1].y)) {
      return 0;
    }
  }
  return 1;
}

void RestartMarch() {
  factors.valid = false;
  for (int i = 1; i <= M.NODES; ++i) M.InitTempTable[i].y = M.InitialTemps[i];
}

void MarchAgain(int j, double* u) {
  SchemeStep(j);
  // The face words were found sound in the first march.
  FaceRow('L', j);
  FaceRow('R', j);
  const int n = M.NODES;
  InteriorRight();
  tridag(M.ALower.data(), M.AMiddle.data(), M.AUpper.data(), M.RHS.data(), u, static_cast<unsigned>(n), factors);
}
