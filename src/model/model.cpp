// The single instance of the program-wide model state.
#include "model/model.h"

#include <new>

#include <cassert>


// Constant-initialised where the compiler can: the several megabytes of
// tables then start as the program image's blank pages instead of being
// cleared by a constructor at start-up, and a run touches only the pages it
// uses. (Clang 14 cannot evaluate libstdc++ 12's std::string constructor as
// a constant; there M is initialised at start-up, with the same values.)
#if defined(__clang__)
Model M;
#else
constinit Model M;
#endif

void ResetModel() {
  // Built again in place: the tables are several megabytes, too many for a
  // temporary on the stack, and a copy from a kept fresh state would touch
  // twice the memory.
  M.~Model();
  new (&M) Model();
}

FaceKind FaceKindOf(const std::string& word) {
  switch (word.empty() ? '\0' : word[0]) {
    case 'C': return FaceKind::kConvection;
    case 'F': return FaceKind::kFlux;
    case 'T': return FaceKind::kTemperature;
    default: return FaceKind::kNone;
  }
}

FaceKind FaceKindOf(char side) { return FaceKindOf(side == 'L' ? M.LBC : M.RBC); }

const char* FaceKindName(FaceKind kind) {
  switch (kind) {
    case FaceKind::kConvection: return "convection";
    case FaceKind::kFlux: return "flux";
    case FaceKind::kTemperature: return "temperature";
    case FaceKind::kNone: break;
  }
  return "none";
}

const char* FaceValueUnit(FaceKind kind) {
  switch (kind) {
    case FaceKind::kConvection: return "W/(m^2 K)";
    case FaceKind::kFlux: return "W/m^2";
    case FaceKind::kTemperature: return "K";
    case FaceKind::kNone: break;
  }
  return "";
}

bool JetCalledIn() {
  assert(M.JetInUse == 0 || M.JetInUse == 1);  // set to 1 by the left block's call of LEFTIMP.DAT only
  return M.JetInUse == 1;
}

bool JetFormedBeforeMarch() { return FaceKindOf('L') == FaceKind::kConvection && JetCalledIn(); }

bool JetDrives(double left_value) { return JetCalledIn() && left_value == 1.0; }

bool BurnsEveryNode() { return BurnsEveryNode(M.OUTNODE); }

bool BurnsEveryNode(int output_node) { return !(output_node != 0 && M.BURNDEPTH == 0); }

double PerfusionGain(int i) {
  if (!M.Perfusion) return 0.0;
  const double volumetric = M.PerfusionTable[i].y * M.BloodDensity * M.BloodHeatCap;  // W/(m^3 K)
  return (M.DELTAT * M.SolveFraction) * volumetric / (M.DensityTable[i].y * M.HeatCapTable[i].y);
}
