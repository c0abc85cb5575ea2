// Hostile and damaged input: whatever a hand-edited data directory holds,
// the program ends with a clear message or a defined result, never a crash,
// a hang or a success status over a failure.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "support/support.h"
#include "thermal/thermal.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// GetData over `dir` in process: 1 = read, 0 = refused with a message,
// or the status the input stage ended the process with.
int ReadInput(const TempDir& dir, std::string* printed) {
  InProcess run;
  M.DataDir = dir.path();
  int result;
  try {
    result = GetData();
    if (result == 0 && run.out.empty()) result = -1;  // a refusal must say why
  } catch (const console::Stopped& ended) {
    result = ended.status == 1 ? 2 : -2;  // the input stage only ends after an error
  }
  *printed = run.out;
  return result;
}

// Every example input file cut at every byte: each cut ends in a clear
// message or a run of what was read, never undefined values or a crash.
TEST(DamagedInput, EveryExampleFileCutAtEveryByte) {
  const fs::path examples = fs::path(SKINBURN_SOURCE_DIR) / "examples";
  for (const char* example : {"airbag-jet", "convection"}) {
    for (const char* file : {"DATA.DAT", "LEFTIMP.DAT", "CONDUCT.DAT"}) {
      if (!fs::exists(examples / example / file)) continue;
      TempDir dir;
      for (const auto& entry : fs::directory_iterator(examples / example)) {
        if (entry.is_regular_file()) dir.Write(entry.path().filename().string(), Slurp(entry.path().string()));
      }
      const std::string whole = Slurp((examples / example / file).string());
      for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        dir.Write(file, whole.substr(0, cut));
        std::string printed;
        const int result = ReadInput(dir, &printed);
        ASSERT_GE(result, 0) << example << "/" << file << " cut at " << cut << ":\n" << printed;
      }
    }
  }
}

TEST(DamagedInput, GasPropertiesCutAtEveryByteGiveACoefficientOrZero) {
  const std::string whole = Slurp((fs::path(SKINBURN_SOURCE_DIR) / "examples/airbag-jet/GASPROP.DAT").string());
  TempDir dir;
  for (std::size_t cut = 0; cut < whole.size(); ++cut) {
    dir.Write("GASPROP.DAT", whole.substr(0, cut));
    InProcess run;
    M.DataDir = dir.path();
    M.NOZZLEDIAM = 0.01;
    M.STANDOFFRATIO = 5;
    M.JETREYNOLDS = 10000;
    double hbar = -1;
    const int ok = JetConvection(0, 310, 1000, hbar);
    ASSERT_TRUE(ok ? std::isfinite(hbar) && hbar > 0 && run.out.empty() : hbar == 0 && !run.out.empty())
        << "cut at " << cut;
  }
}

// Each numeric entry of DATA.DAT given a hostile word: a normal run or a
// clear error, with the status that says which.
TEST(HostileValues, EveryNumericEntryEndsCleanly) {
  const int numeric[] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 17, 18, 19, 20};
  const std::string words[] = {"nan", "inf", "1e999", "-0", std::string(200, '9'), ".", "-", "e5",
                               "-1e999", "1e-999"};
  for (int entry : numeric) {
    for (const std::string& word : words) {
      std::map<int, std::string> entries = {{17, "20"}, {entry, word}};
      if (entry == 12) entries[11] = "3.1";
      TempDir dir;
      dir.Write("DATA.DAT", DataDat(entries, UniformBlocks(0.01, 1.0)));
      const RunResult r = RunOn(dir);
      ASSERT_TRUE(r.status == 0 || r.status == 1) << "entry " << entry << " = " << word << "\n" << r.out;
      if (r.status == 1) {
        EXPECT_NE(r.out.find("Error"), std::string::npos) << "entry " << entry << " = " << word;
      }
      EXPECT_EQ(r.err.find("runtime error"), std::string::npos) << r.err;  // no sanitizer report
    }
  }
}

TEST(HostileValues, CapacityLimitsOfNodesAndSteps) {
  struct Case {
    const char* nodes;
    const char* steps;
    bool accepted;
  } cases[] = {{"30000", "0", true}, {"30001", "0", false}, {"2", "29999", true}, {"2", "30000", false}};
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("DATA.DAT", DataDat({{2, "0"}, {6, "0"}, {20, c.nodes}, {17, c.steps}, {18, "0.0001"}},
                                  UniformBlocks(4.0, 4.0)));
    const RunResult r = RunOn(dir);
    const bool refused = r.out.find("DATA.DAT Error: DATA.DAT Line") != std::string::npos;
    EXPECT_EQ(refused, !c.accepted) << c.nodes << " x " << c.steps << "\n" << r.out.substr(r.out.size() > 400 ? r.out.size() - 400 : 0);
    EXPECT_EQ(r.status, c.accepted && std::string(c.steps) != "0" ? 0 : 1) << c.nodes << " x " << c.steps;
  }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SKINBURN_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SKINBURN_UNDER_ASAN 1
#endif
// The address sanitizer reserves far more address space than any limit
// worth testing, so this runs in the plain build only.
#ifndef SKINBURN_UNDER_ASAN
// No temperature history is held whole: a grid whose history would take
// 480 MB runs to its end within 100 MB of address space, the burn of every
// node included, with the output of an unlimited run.
TEST(MemoryExhaustion, ALargeGridRunsInASmallAddressSpace) {
  TempDir dir;
  dir.Write("DATA.DAT", DataDat({{2, "1"}, {6, "1"}, {20, "30000"}, {17, "2000"}, {18, "0.0001"}, {19, "0.0000001"}},
                                UniformBlocks(1.0, 10.0)));
  TempDir io;
  const auto run = [&](const std::string& limit, const std::string& name) {
    const std::string command = "bash -c '" + limit + "exec \"" SKINBURN_BINARY "\" \"" + dir.path() + "\"' > '" +
                                io.path() + name + "' 2>&1 < /dev/null";
    const int raw = std::system(command.c_str());
    const std::string report = dir.Read("OUTPUT.TXT");
    std::remove((dir.path() + "OUTPUT.TXT").c_str());
    return std::pair{WEXITSTATUS(raw), report};
  };
  const auto limited = run("ulimit -v 100000; ", "limited");
  const auto unlimited = run("", "unlimited");
  EXPECT_EQ(limited.first, 0) << io.Read("limited");
  EXPECT_EQ(io.Read("limited"), io.Read("unlimited"));
  EXPECT_TRUE(limited.second == unlimited.second);
  EXPECT_NE(io.Read("limited").find("Omega"), std::string::npos);  // the burn was evaluated
}
#endif

}  // namespace
