// One data file from the fuzzer's bytes: the first byte chooses which of
// INITTEMP.DAT .. RIGHTAMB.DAT, LEFTIMP.DAT or PERFUSE.DAT, the rest is its
// contents. A fixed DATA.DAT (5 nodes, 4 steps) calls that file in with the
// count 0, or -1 for LEFTIMP.DAT; every other block is written inline.
// PERFUSE.DAT is read as --perfusion reads it, after DATA.DAT.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "model/model.h"

namespace {

struct Choice {
  const char* file;
  const char* block;  // the block's name in DATA.DAT
  bool depth;         // a depth list (else a time list)
};

// In DATA.DAT's order; the first block must be the initial temperatures.
const Choice kChoices[] = {
    {"INITTEMP.DAT", "INITIAL_TEMPERATURE", true},
    {"CONDUCT.DAT", "CONDUCTIVITY", true},
    {"DENSITY.DAT", "DENSITY", true},
    {"HEATCAP.DAT", "HEAT_CAPACITY", true},
    {"LEFTBC.DAT", "LEFT_BC", false},
    {"LEFTAMB.DAT", "LEFT_AMBIENT", false},
    {"RIGHTBC.DAT", "RIGHT_BC", false},
    {"RIGHTAMB.DAT", "RIGHT_AMBIENT", false},
    {"LEFTIMP.DAT", "LEFT_BC", false},
    {"PERFUSE.DAT", nullptr, true},
};
constexpr std::size_t kChoiceCount = sizeof kChoices / sizeof kChoices[0];
constexpr std::size_t kLeftImp = kChoiceCount - 2;
constexpr std::size_t kPerfuse = kChoiceCount - 1;

const char kEntries[] =
    "# fuzz run: 5 nodes 1 mm apart, 4 steps of 0.1 s\n"
    "Fuzz trial\n"
    "Listing time for the full temperature profile: 0.0 sec\n"
    "Node for the history and Omega: 0 node\n"
    "Results to file (VERBOSE flag): 0\n"
    "List A-matrix: 0\n"
    "List T-initial: 0\n"
    "Omega at every node (burn depth): 1\n"
    "No pauses: 1\n"
    "Trial number: 1\n"
    "Date of execution: 01/01/26\n"
    "Name of operator: FZ\n"
    "Frequency factor mantissa: 0\n"
    "Activation-energy: 0\n"
    "Gas-constant: 0\n"
    "Left BC: CONVECTION\n"
    "RBC: TEMPERATURE\n"
    "Time steps: 4\n"
    "delta-t: 0.1 sec\n"
    "delta-x: 0.001 m\n"
    "NODES: 5\n";

// DATA.DAT with block `chosen` called in from its file.
std::string DataDat(std::size_t chosen) {
  std::string text = kEntries;
  text += "Distribution:";
  const std::size_t called = chosen == kLeftImp ? 4 : chosen;  // LEFTIMP.DAT stands for LEFT_BC
  for (std::size_t i = 0; i < kLeftImp; ++i) {
    text += i == 0 ? " " : "! ";
    text += kChoices[i].block;
    if (i != called) {
      text += kChoices[i].depth ? "\n2 pairs\n0.0 310.0\n0.01 310.0\n" : "\n2 pairs\n0.0 400.0\n1.0 400.0\n";
    } else {
      text += chosen == kLeftImp ? "\n-1 jet\n" : "\n0 file\n";
    }
  }
  return text + "!\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (fuzz::WriteFile("GASPROP.DAT", fuzz::kGasPropFile), true);
  (void)ready;
  if (size < 1) return 0;
  const std::size_t chosen = data[0] % kChoiceCount;
  fuzz::WriteFile("DATA.DAT", DataDat(chosen));
  fuzz::WriteFile(kChoices[chosen].file, fuzz::Bytes(data + 1, size - 1));
  fuzz::Session session(size);
  M.Perfusion = chosen == kPerfuse;
  if (session.RunGetData() == 1) session.RunJetAsDriver();
  return 0;
}
