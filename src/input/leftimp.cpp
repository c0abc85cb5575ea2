// The jet impingement file LEFTIMP.DAT: the jet's five values, the left
// boundary list (a value of exactly 1.0 selects the jet correlation for that
// time) and the gas velocity list.
#include <cmath>

#include "console/console.h"
#include "input/blocks.h"

namespace {

constexpr const char* kFile = "LEFTIMP.DAT";

bool Value(TextSource& file, int before, double& target, WordAt JetRead::*kept) {
  std::string_view word;
  if (!TakeWord(file, before, word, 0, kFile, "its five jet values")) return false;
  target = ParseReal(word);
  if (M.Record.on) M.Record.jet.*kept = M.Record.taken;
  return true;
}

}  // namespace

bool ReadLeftImp(TextSource& data, int& count) {
  M.JetInUse = 1;  // set first: it stays set even when the file is missing
  TextSource file;
  file.name = kFile;
  if (!file.Load(M.DataDir + kFile)) {
    console::Printf("GetData() Error: %s", "\r\n LEFTIMP.DAT could not be found... \r\n");
    return false;
  }
  if (!SkipHeader(file)) {
    FileError(kFile, "ended before its five jet values");
    return false;
  }
  double offaxis_spacing = 0;  // m
  double standoff = 0;         // m, nozzle to skin
  std::string_view word;
  if (M.Record.on) M.Record.jet.present = true;
  if (!Value(file, 3, M.JETOPTION, &JetRead::option) || !Value(file, 2, M.JETREYNOLDS, &JetRead::reynolds) ||
      !Value(file, 2, M.NOZZLEDIAM, &JetRead::nozzle) || !Value(file, 2, offaxis_spacing, &JetRead::offaxis) ||
      !Value(file, 2, standoff, &JetRead::standoff) ||
      !TakeWord(file, 2, word, 1, kFile, "its boundary pair count")) {
    return false;
  }
  if (M.Record.on) M.Record.jet.boundary_count = M.Record.taken;
  int specified = ParseInt(word);
  int read = 0;
  if (ReadPairs(file, M.LeftBCTable, false, kFile, read) == ListEnd::kFailed) return false;
  if (M.Record.on && !M.Record.blocks.empty()) {
    BlockRead& block = M.Record.blocks.back();
    block.source = kFile;
    block.pairs.assign(M.LeftBCTable.begin() + 1, M.LeftBCTable.begin() + 1 + read);
    block.words = M.Record.list_words;
    block.notes = M.Record.list_notes;
  }
  if (read != specified) {
    specified = CompareCount("Left Boundary Condition Distribution (LEFTIMP.DAT): %s (%d)\n%s (%d)\r\n",
                             read, specified, true);
  }
  // The word that ended the first list began the gas velocity header.
  if (!TakeWord(file, 1, word, 1, kFile, "its gas velocity count")) return false;
  if (M.Record.on) M.Record.jet.velocity_count = M.Record.taken;
  const int velocity_count = ParseInt(word);
  int velocities = 0;
  if (ReadPairs(file, M.GasVelocityTable, false, kFile, velocities) == ListEnd::kFailed) return false;
  if (M.Record.on) {
    JetRead& jet = M.Record.jet;
    jet.velocities.assign(M.GasVelocityTable.begin() + 1, M.GasVelocityTable.begin() + 1 + velocities);
    jet.velocity_words = M.Record.list_words;
    jet.notes = M.Record.list_notes;
  }
  if (velocities != velocity_count) {
    CompareCount("Gas Velocity Distribution (LEFTIMP.DAT): %s (%d)\n%s (%d)\r\n", velocities,
                 velocity_count, false);
  }
  M.GasVelocityPairs = velocities;

  // Both ratios divide by the nozzle diameter.
  if (!(M.NOZZLEDIAM > 0) || !std::isfinite(M.NOZZLEDIAM)) {
    console::Printf("\r\nGetData() Error:  %s", "The nozzle diameter must be greater than zero.\r\n");
    return false;
  }
  M.STANDOFFRATIO = standoff / M.NOZZLEDIAM;
  M.OFFAXISRATIO = offaxis_spacing / 2 / M.NOZZLEDIAM;
  if (M.OFFAXISRATIO < 0) {
    console::Printf("\r\nGetData() Error:  %s", "Offaxis Spacing is limited to the values greater than zero.\r\n");
    console::Printf("%s", "If this is correct press the <Enter> key to continue or <Ctrl>-C to quit");
    return false;
  }
  count = specified;

  if (!TakeWord(data, 0, word, 0, "DATA.DAT", "all eight distribution blocks were read")) return false;
  if (word[0] != '!') RowsOfDataError("Left Boundary Condition Distribution Error:  \r\n%s%s\r\n");
  return true;
}
