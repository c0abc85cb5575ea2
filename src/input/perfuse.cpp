// The blood perfusion file PERFUSE.DAT, read only when the run is given
// --perfusion: after its "#" header and title line, the arterial blood
// temperature, the blood's density and heat capacity, each with two label
// words before it (three for the heat capacity) and a unit word after it,
// then the count of perfusion pairs and the pairs (depth m, rate 1/s),
// laid onto the nodes as the depth tables are.
#include <cmath>
#include <string>

#include "console/console.h"
#include "input/blocks.h"

const BlockTable kPerfusionBlock = {
    'P', &Model::PerfusionTable, kPerfusionFile, "GetData() Error: %s",
    "\r\n PERFUSE.DAT could not be found... \r\n",
    "Perfusion Distribution Error:  \r\n%s%s\r\n",
    "Perfusion Distribution (PERFUSE.DAT): \r\n%s (%d)\n%s (%d)\r\n",
    true, "Node perfusion rates", "perfusion", "1/s"};

namespace {

bool Value(TextSource& file, int before, double& target, const char* what) {
  std::string_view word;
  if (!TakeWord(file, before, word, 1, kPerfusionFile, "its three blood values and the perfusion pairs")) {
    return false;
  }
  target = ParseReal(word);
  if (!(target > 0) || !std::isfinite(target)) {
    FileError(kPerfusionFile, std::string("gives ") + what + " '" + std::string(word) +
                                  "', which is not a positive number");
    return false;
  }
  return true;
}

}  // namespace

bool ReadPerfusion() {
  TextSource file;
  file.name = kPerfusionFile;
  if (!file.Load(M.DataDir + kPerfusionFile)) {
    console::Printf(kPerfusionBlock.missing_format, kPerfusionBlock.missing_text);
    return false;
  }
  if (!SkipHeader(file)) {
    FileError(kPerfusionFile, "ended before its three blood values");
    return false;
  }
  std::string_view word;
  if (!Value(file, 2, M.ArterialTemp, "an arterial temperature") ||
      !Value(file, 2, M.BloodDensity, "a blood density") ||
      !Value(file, 3, M.BloodHeatCap, "a blood heat capacity") ||
      !TakeWord(file, 2, word, 1, kPerfusionFile, "its perfusion pair count")) {
    return false;
  }
  const int specified = ParseInt(word);
  int read = 0;
  if (ReadPairs(file, M.PerfusionTable, false, kPerfusionFile, read) == ListEnd::kFailed) return false;
  M.PerfusionPairs.assign(M.PerfusionTable.begin() + 1, M.PerfusionTable.begin() + 1 + read);
  for (const Pair& pair : M.PerfusionPairs) {
    if (!(pair.y >= 0) || !std::isfinite(pair.y)) {
      FileError(kPerfusionFile, "gives a perfusion rate that is negative or not a number; rates are 0 or more, in 1/s");
      return false;
    }
  }
  if (read != specified) CompareCount(kPerfusionBlock.compare_format, read, specified, false);
  Interp("P", read);
  M.PerfusionLaid = true;
  return true;
}
