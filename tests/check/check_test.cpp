// The command line and --check: what a data directory says, read through
// the run's own input stage, without running the model, opening OUTPUT.TXT
// or reading standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "support/support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using namespace testing_support;

namespace {

void CopyExample(const TempDir& dir, const std::string& example) {
  for (const auto& entry : fs::directory_iterator(fs::path(SKINBURN_SOURCE_DIR) / "examples" / example)) {
    if (entry.is_regular_file()) dir.Write(entry.path().filename().string(), Slurp(entry.path().string()));
  }
}

json CheckJson(const TempDir& dir, int* status = nullptr) {
  const RunResult run = RunBinary("--check=json '" + dir.path() + "'");
  if (status) *status = run.status;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(json::accept(run.out)) << run.out;
  EXPECT_FALSE(dir.Exists("OUTPUT.TXT")) << "--check created OUTPUT.TXT";
  return json::parse(run.out, nullptr, false);
}

// `file` of `dir` with `from` replaced by `to` (which must be there).
void Edit(const TempDir& dir, const std::string& file, const std::string& from, const std::string& to) {
  std::string text = dir.Read(file);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  dir.Write(file, text.replace(at, from.size(), to));
}

// The built skinburn with standard output on /dev/full: every write to it
// fails with "No space left on device".
RunResult RunToFull(const std::string& args) {
  TempDir io;
  const std::string command =
      "'" SKINBURN_BINARY "' " + args + " < /dev/null > /dev/full 2> '" + io.path() + "stderr'";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.err = io.Read("stderr");
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

std::set<std::string> Codes(const json& doc) {
  std::set<std::string> codes;
  for (const json& w : doc["warnings"]) codes.insert(w["code"].get<std::string>());
  return codes;
}

TEST(CommandLine, OptionsUsageAndTheOneArgumentOfOld) {
  const RunResult version = RunBinary("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "skinburn " SKINBURN_VERSION "\n");
  const RunResult help = RunBinary("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--check ", "--check=json", "--results PREFIX", "--threads N", "--version", "--help"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  // Usage errors: status 2, the usage on standard error, nothing run.
  for (const char* args : {"--frobnicate dir/", "--results", "--check", "--results= dir/", "--check=xml dir/",
                           "--threads 0 dir/", "--threads two dir/", "--threads", "--threads=-1 dir/",
                           "--results-brief dir/"}) {
    const RunResult bad = RunBinary(args);
    EXPECT_EQ(bad.status, 2) << args;
    EXPECT_EQ(bad.out, "") << args;
    EXPECT_NE(bad.err.find("Usage: skinburn [OPTIONS] DATADIR/"), std::string::npos) << args;
  }
  // A directory named like an option, given as a path.
  TempDir parent;
  fs::create_directory(parent.path() + "--check");
  CopyExample(parent, "hot-liquid");
  for (const auto& entry : fs::directory_iterator(parent.path())) {
    if (entry.is_regular_file()) fs::rename(entry.path(), parent.path() + "--check/" + entry.path().filename().string());
  }
  const RunResult named = RunBinary("./--check/", "", parent.path());
  EXPECT_EQ(named.status, 0) << named.out;
  EXPECT_TRUE(fs::exists(parent.path() + "--check/OUTPUT.TXT"));
  // No argument at all: the program's own message, as before.
  const RunResult none = RunBinary("");
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("Main() Error: No data directory was given."), std::string::npos);
}

// An option after the data directory was meant: running without it would
// quietly lose what it asked for (a run without its results bundle).
TEST(CommandLine, AnOptionAfterTheDataDirectoryStopsBeforeTheRun) {
  TempDir dir;
  CopyExample(dir, "hot-liquid");
  const std::string before = "an earlier trial's report\r\n";
  dir.Write("OUTPUT.TXT", before);
  TempDir bundle;
  for (const std::string& later : {"--results '" + bundle.path() + "r'", "--results='" + bundle.path() + "r'",
                                   std::string("--check=json"), std::string("--threads 1"), std::string("--")}) {
    const RunResult run = RunBinary("'" + dir.path() + "' " + later);
    EXPECT_EQ(run.status, 2) << later;
    EXPECT_EQ(run.out, "") << later;
    EXPECT_NE(run.err.find("Usage: skinburn [OPTIONS] DATADIR/"), std::string::npos) << later;
    const std::string option = later.substr(0, later.find_first_of(" ="));
    EXPECT_NE(run.err.find("skinburn: the option " + option), std::string::npos) << later << ": " << run.err;
    EXPECT_EQ(dir.Read("OUTPUT.TXT"), before) << later;
    EXPECT_TRUE(fs::is_empty(bundle.path())) << later;
  }
  // Other words after the directory are ignored, as they always were; a
  // single dash does not make an option.
  const RunResult run = RunBinary("'" + dir.path() + "' extra -x");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_GT(dir.Read("OUTPUT.TXT").size(), before.size());
}

TEST(CommandLine, ThreadsStatesItsRange) {
  for (const char* args : {"--threads 0 dir/", "--threads=1025 dir/", "--threads two dir/", "--threads",
                           "--threads=-1 dir/", "--threads= dir/", "--threads 1e3 dir/"}) {
    const RunResult bad = RunBinary(args);
    EXPECT_EQ(bad.status, 2) << args;
    EXPECT_EQ(bad.err.substr(0, bad.err.find('\n') + 1),
              "skinburn: --threads needs a whole number N from 1 to 1024\n")
        << args;
  }
  // Both ends of the range are taken.
  for (const char* n : {"1", "1024"}) {
    const RunResult good = RunBinary(std::string("--threads=") + n + " --version");
    EXPECT_EQ(good.status, 0) << n << good.err;
  }
}

TEST(Check, EveryExampleWouldStartWithoutAWarning) {
  for (const char* example : {"airbag-jet", "convection", "flux-cooling", "hot-liquid"}) {
    TempDir dir;
    CopyExample(dir, example);
    int status = -1;
    const json doc = CheckJson(dir, &status);
    EXPECT_EQ(status, 0) << example;
    EXPECT_TRUE(doc["would_start"].get<bool>()) << example;
    EXPECT_EQ(doc["warnings"], json::array()) << example << doc["warnings"].dump(1);
    EXPECT_EQ(doc["entries"].size(), 20u);
    EXPECT_EQ(doc["blocks"].size(), 8u);
    // Every value word stands where the document says, and the value is of the entry's kind.
    for (const json& entry : doc["entries"]) {
      const std::string kind = entry["kind"].get<std::string>();
      EXPECT_TRUE(kind == "text" ? entry["value"].is_string()
                  : kind == "integer" ? entry["value"].is_number_integer()
                                      : kind == "real" && entry["value"].is_number())
          << example << entry.dump();
      if (!entry["word"].is_object()) continue;
      const std::string text = dir.Read(entry["word"]["file"].get<std::string>());
      EXPECT_EQ(text.substr(entry["word"]["offset"].get<std::size_t>(), entry["word"]["length"].get<std::size_t>()),
                entry["word"]["text"].get<std::string>());
    }
    // So do the count words of separate files and of the jet's lists.
    std::vector<json> counts;
    for (const json& block : doc["blocks"]) {
      if (block["file_count"].is_object()) counts.push_back(block["file_count"]);
    }
    if (doc["jet"].is_object()) {
      counts.push_back(doc["jet"]["boundary_count"]);
      counts.push_back(doc["jet"]["velocity_count"]);
    }
    for (const json& word : counts) {
      ASSERT_TRUE(word.is_object()) << example;
      const std::string text = dir.Read(word["file"].get<std::string>());
      EXPECT_EQ(text.substr(word["offset"].get<std::size_t>(), word["length"].get<std::size_t>()),
                word["text"].get<std::string>());
    }
    for (const json& block : doc["blocks"]) {
      const std::string text = dir.Read(block["source"].get<std::string>());
      ASSERT_EQ(block["pair_words"].size(), block["pairs"].size());
      for (std::size_t k = 0; k < block["pairs"].size(); ++k) {
        const json& at = block["pair_words"][k]["y"];
        EXPECT_DOUBLE_EQ(std::stod(text.substr(at[0].get<std::size_t>(), at[1].get<std::size_t>())),
                         block["pairs"][k][1].get<double>());
      }
    }
    // The report for a person says the same.
    const RunResult person = RunBinary("--check '" + dir.path() + "'");
    EXPECT_EQ(person.status, 0);
    EXPECT_NE(person.out.find("No warnings."), std::string::npos);
    EXPECT_NE(person.out.find("The run would start."), std::string::npos);
    EXPECT_FALSE(dir.Exists("OUTPUT.TXT"));
  }
}

TEST(Check, TheHistorySizeIsWhatResultsWrites) {
  // The run keeps a few rows of the history at a time, so the check names the history's size on disk
  // (what --results writes after the .npy header), never a matrix in memory.
  TempDir dir;
  CopyExample(dir, "airbag-jet");
  const json grid = CheckJson(dir)["grid"];
  const RunResult run = RunBinary("--results '" + dir.path() + "h' '" + dir.path() + "'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(fs::file_size(dir.path() + "h.npy"), 128 + grid["history_mib"].get<double>() * (1 << 20));
  const RunResult person = RunBinary("--check '" + dir.path() + "'");
  EXPECT_NE(person.out.find("Temperature history: 0.313117981 MiB, which --results writes whole; the run holds a few "
                            "rows of it at a time.\n"),
            std::string::npos)
      << person.out;
  EXPECT_EQ(person.out.find("Temperature matrix"), std::string::npos);
}

TEST(Check, WarningsPointAtLikelyMistakes) {
  struct Case {
    const char* what;
    std::map<int, std::string> entries;
    int block;          // block to replace, -1 none
    std::string with;   // its text
    std::string code;   // expected warning
    std::string concerns;
  };
  const std::vector<Case> cases = {
      // One extra word on entry 17's line: every later value is shifted.
      {"shifted entry", {{17, "extra 100"}}, -1, "", "label-is-number", "entry 18"},
      {"exponent as 1e98", {{11, "3.1"}, {12, "1e98"}}, -1, "", "exponent-without-10^", "entry 12"},
      {"initial temperatures in C", {}, 0, Block("INITIAL_TEMPERATURE", "2", "0.0 32.5 0.01 37.0"),
       "temperature-looks-celsius", "block 1"},
      {"one gas temperature in C", {}, 5, Block("LEFT_AMBIENT", "2", "0.0 400.0 10.0 60.0"),
       "temperature-below-250K", "block 6"},
      {"signed inline value", {}, 4, Block("LEFT_BC", "2", "0.0 1000.0 10.0 -1000.0"), "signed-pair-value",
       "block 5"},
      {"lower-case name", {}, 2, Block("density", "2", "0.0 1000.0 0.01 1000.0"), "name-lower-case", "block 3"},
      {"face word in lower case", {{16, "convection"}}, -1, "", "face-word", "entry 16"},
      {"time table ends before the run", {}, 6, Block("RIGHT_BC", "2", "0.0 310.0 0.5 310.0"),
       "time-table-short", "block 7"},
      {"profile time no step reaches", {{1, "0.015"}, {2, "0"}}, -1, "", "outtime-not-reached", "entry 1"},
      {"single node with a profile time", {{1, "0.5"}, {2, "3"}}, -1, "", "single-node-with-outtime", "entry 1"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> blocks = StillBlocks();
    blocks[4] = Block("LEFT_BC", "2", "0.0 1000.0 10.0 1000.0");
    blocks[5] = Block("LEFT_AMBIENT", "2", "0.0 400.0 10.0 400.0");
    if (c.block >= 0) blocks[static_cast<std::size_t>(c.block)] = c.with;
    TempDir dir;
    dir.Write("DATA.DAT", DataDat(c.entries, Join(blocks)));
    const json doc = CheckJson(dir);
    bool found = false;
    for (const json& w : doc["warnings"]) {
      found = found || (w["code"] == c.code && w["concerns"] == c.concerns);
    }
    EXPECT_TRUE(found) << c.what << ": " << doc["warnings"].dump(1);
    const RunResult person = RunBinary("--check '" + dir.path() + "'");
    EXPECT_NE(person.out.find("[" + c.code + "] " + c.concerns), std::string::npos) << c.what;
  }
}

TEST(Check, JetWarningsAndTheGasTable) {
  TempDir dir;
  CopyExample(dir, "airbag-jet");
  std::string imp = dir.Read("LEFTIMP.DAT");
  imp.replace(imp.find("Standoff distance: 0.05"), 23, "Standoff distance: 0.25");
  imp.replace(imp.find("0.2 20.0"), 8, "0.05 20.0");
  dir.Write("LEFTIMP.DAT", imp);
  int status = -1;
  const json doc = CheckJson(dir, &status);
  // The stand-off fails the first jet coefficient: the run would not start.
  EXPECT_EQ(status, 1);
  EXPECT_EQ(doc["error"], "Error JetConvection():  On-axis Nusselt number could not be calculated.");
  EXPECT_EQ(Codes(doc), (std::set<std::string>{"standoff-out-of-range", "velocity-not-covering"}));
  EXPECT_DOUBLE_EQ(doc["jet"]["standoff_ratio"].get<double>(), 25);
  EXPECT_EQ(doc["jet"]["gas_table"]["rows"].size(), 18u);
  EXPECT_EQ(doc["jet"]["velocity_pairs"].size(), 3u);
}

// Every stop of the input stage, and the stops before the march, come out of
// --check as the run prints them.
TEST(Check, ACountThatDoesNotMatchItsPairsIsWarned) {
  // flux-cooling's LEFT_BC keeps "4 pairs" with a pair deleted: the run
  // would ask at a prompt and go on with three; the check names the block,
  // the count word and the pairs read, and turns what the input stage
  // printed into a warning of its own.
  TempDir dir;
  CopyExample(dir, "flux-cooling");
  Edit(dir, "DATA.DAT", "3.0  30000.0\n3.0  0.0\n", "3.0  30000.0\n");
  int status = -1;
  const json doc = CheckJson(dir, &status);
  EXPECT_EQ(status, 0);
  std::map<std::string, std::string> found;
  for (const json& warning : doc["warnings"]) found[warning["code"]] = warning["text"];
  ASSERT_EQ(found.count("count-mismatch"), 1u) << doc["warnings"].dump();
  EXPECT_EQ(found["count-mismatch"],
            "block 5 'LEFT_BC': the count word '4' (DATA.DAT line 48) says 4 pairs, but 3 were read: (0, 30000) "
            "(3, 30000) (10, 0). The run asks whether that is correct and goes on with the pairs read.");
  ASSERT_EQ(found.count("input-message"), 1u);
  EXPECT_NE(found["input-message"].find("is different from the number of data pairs specified (4)"), std::string::npos);
  const RunResult text = RunBinary("--check '" + dir.path() + "'");
  EXPECT_NE(text.out.find("[count-mismatch] block 5: block 5 'LEFT_BC'"), std::string::npos);
  EXPECT_EQ(text.out.find("No warnings."), std::string::npos);
}

TEST(Check, AnExtraLabelWordIsNamedAsTheLikelyCause) {
  // "Name of the operator: SKB": EXECBY reads 'operator:' and every entry
  // after it takes the word before the one meant. The first warning names
  // entry 10 and the direction (a word too many), and no value ending in ':'
  // is said to come from a missing word.
  TempDir dir;
  CopyExample(dir, "airbag-jet");
  Edit(dir, "DATA.DAT", "Name of operator: SKB", "Name of the operator: SKB");
  const json doc = CheckJson(dir);
  ASSERT_FALSE(doc["warnings"].empty());
  const json& first = doc["warnings"][0];
  EXPECT_EQ(first["code"], "label-as-value");
  EXPECT_EQ(first["concerns"], "entry 10");
  EXPECT_NE(first["text"].get<std::string>().find("EXECBY reads 'operator:' (DATA.DAT line 14)"), std::string::npos);
  EXPECT_NE(first["text"].get<std::string>().find("one word more than the reader skips"), std::string::npos);
  for (const json& warning : doc["warnings"]) {
    const std::string text = warning["text"];
    if (text.find(":' (DATA.DAT") != std::string::npos) {
      EXPECT_EQ(text.find("A word is missing above"), std::string::npos) << text;
    }
  }
  // A missing value turns the direction: TRIAL reads the next label's
  // first word, and the likely cause says a word is missing.
  TempDir missing;
  CopyExample(missing, "airbag-jet");
  Edit(missing, "DATA.DAT", "Trial number: 1", "Trial number:");
  const json shifted = CheckJson(missing);
  ASSERT_FALSE(shifted["warnings"].empty());
  EXPECT_EQ(shifted["warnings"][0]["concerns"], "entry 8");
  EXPECT_NE(shifted["warnings"][0]["text"].get<std::string>().find("TRIAL reads 'Date' (DATA.DAT line 13)"),
            std::string::npos);
  EXPECT_NE(shifted["warnings"][0]["text"].get<std::string>().find("a word is missing at or above this line"),
            std::string::npos);
}

TEST(Check, WhereTheJetLeavesItsRange) {
  // The airbag example is inside every range; hotter gas, a far nozzle and a
  // slow gas each leave one, and the run's own JSON says the same.
  std::map<std::string, std::string> found;
  TempDir slow;
  const auto warned = [&](const std::string& file, const std::string& from, const std::string& to,
                          const TempDir& dir = TempDir()) {
    CopyExample(dir, "airbag-jet");
    if (!file.empty()) Edit(dir, file, from, to);
    found.clear();
    const json doc = CheckJson(dir);
    for (const json& warning : doc["warnings"]) found[warning["code"]] = warning["text"];
  };
  warned("", "", "");
  EXPECT_TRUE(found.empty()) << found.begin()->second;
  warned("DATA.DAT", "0.0 1000.0\n0.06 1000.0", "0.0 1400.0\n0.06 1400.0");
  EXPECT_EQ(found["gas-beyond-table"],
            "gas temperatures outside the gas table's 250 to 1200 K (950 steps, first step 1; 1200.571429 to 1400 K): "
            "the jet coefficient holds the properties of the nearest row there. Extend GASPROP.DAT.");
  warned("LEFTIMP.DAT", "Standoff distance: 0.05", "Standoff distance: 0.15");
  EXPECT_NE(found["standoff-beyond-correlation"].find("the stand-off ratio 15 lies outside the correlation's 2 to 12"),
            std::string::npos);
  warned("LEFTIMP.DAT", "0.0 120.0\n0.06 120.0\n0.2 20.0", "0.0 1.0\n0.06 1.0\n0.2 1.0", slow);
  EXPECT_NE(found["reynolds-beyond-correlation"].find("jet Reynolds numbers outside the correlation's 2000 to 400000 "
                                                      "(1000 steps, first step 1; "),
            std::string::npos);
  // The run's JSON carries the same warnings in its inputs.
  ASSERT_EQ(RunBinary("--results '" + slow.path() + "r' '" + slow.path() + "'").status, 0);
  const json results = json::parse(Slurp(slow.path() + "r.json"));
  bool carried = false;
  for (const json& warning : results["inputs"]["warnings"]) carried |= warning["code"] == "reynolds-beyond-correlation";
  EXPECT_TRUE(carried);
}

TEST(Check, EachStopGivesTheRunsOwnMessage) {
  struct Case {
    const char* what;
    std::map<int, std::string> entries;
    int block;
    std::string with;
    std::map<std::string, std::string> files;
  };
  const std::vector<Case> cases = {
      {"node out of range", {{2, "99"}}, -1, "", {}},
      {"flag not 0 or 1", {{3, "2"}}, -1, "", {}},
      {"exponent too short", {{11, "3.1"}, {12, "94"}}, -1, "", {}},
      {"missing data file", {}, 1, Block("CONDUCTIVITY", "0", ""), {}},
      {"rows after a file call", {}, 2, Block("DENSITY", "0", "0.0 1000.0"),
       {{"DENSITY.DAT", "#\nT\nData pairs: 2\n0.0 1000.0 0.01 1000.0\nEND"}}},
      {"short of the depth", {}, 3, Block("HEAT_CAPACITY", "2", "0.0 4000.0 0.001 4000.0"), {}},
      {"negative count", {}, 6, Block("RIGHT_BC", "-2", "0.0 310.0 10.0 310.0"), {}},
      {"count mismatch, then short of the time", {}, 7, Block("RIGHT_AMBIENT", "3", "0.0 310.0 0.5 310.0"), {}},
      {"zero conductivity", {}, 1, Block("CONDUCTIVITY", "2", "0.0 0.0 0.01 0.0"), {}},
      {"no face type", {{15, "RADIATION"}}, -1, "", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> blocks = StillBlocks();
    if (c.block >= 0) blocks[static_cast<std::size_t>(c.block)] = c.with;
    TempDir dir;
    dir.Write("DATA.DAT", DataDat(c.entries, Join(blocks)));
    for (const auto& [name, text] : c.files) dir.Write(name, text);
    const RunResult run = RunOn(dir, std::string(100, '\n'));
    fs::remove(dir.path() + "OUTPUT.TXT");
    int status = -1;
    const json doc = CheckJson(dir, &status);
    EXPECT_EQ(run.status, 1) << c.what;
    EXPECT_EQ(status, 1) << c.what;
    ASSERT_TRUE(doc["error"].is_string()) << c.what;
    const std::string error = doc["error"].get<std::string>();
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_NE(run.out.find(error), std::string::npos) << c.what << ": " << error;
    // Before the march, everything after the banner is what the check
    // printed (a face word is first found wanting in step 1, after the
    // pre-run report).
    if (c.entries.count(15) == 0) {
      EXPECT_EQ(run.out.substr(Banner().size()), doc["printed"].get<std::string>()) << c.what;
    }
    const RunResult person = RunBinary("--check '" + dir.path() + "'");
    EXPECT_NE(person.out.find("The run would not start:\n" + error), std::string::npos) << c.what;
  }
}

// A report cut short must not pass for a whole one: status 1 and the reason
// on standard error, whatever the run would have done.
TEST(Check, AReportThatCannotBeWrittenWholeFails) {
  TempDir jet;
  CopyExample(jet, "airbag-jet");  // reports far larger than one stdio buffer
  TempDir empty;                   // no DATA.DAT: a short report, lost only at the last flush
  for (const TempDir* dir : {&jet, &empty}) {
    for (const char* option : {"--check", "--check=json"}) {
      const RunResult run = RunToFull(std::string(option) + " '" + dir->path() + "'");
      EXPECT_EQ(run.status, 1) << option << " " << dir->path();
      EXPECT_EQ(run.err, "skinburn: could not write the check report: No space left on device\n")
          << option << " " << dir->path();
      EXPECT_FALSE(dir->Exists("OUTPUT.TXT"));
    }
  }
}

// A jet whose Reynolds number is not positive gives a coefficient that is
// not a number (or 0), and the run marches NaN temperatures to a normal
// end: the check names the value and the first step it reaches.
TEST(Check, JetValuesThatMakeTheReynoldsNumberNotPositive) {
  struct Case {
    const char* what;
    std::vector<std::array<std::string, 3>> edits;  // file, from, to
    std::string code;                                // "" when nothing is to be said
    std::string concerns;
    std::vector<std::string> says;
    int status;
  };
  const std::string leftimp = "LEFTIMP.DAT";
  const std::string gasprop = "GASPROP.DAT";
  const std::string velocities = "0.0 120.0\n0.06 120.0\n0.2 20.0";
  const std::string backwards = "0.0 -120.0\n0.06 -120.0\n0.2 20.0";
  const std::vector<Case> cases = {
      {"gas velocities of -120 m/s", {{leftimp, velocities, backwards}}, "velocity-not-positive", leftimp,
       {"pair 1, -120 m/s at 0 s", "2 of the 3 pairs", "at step 1 ", "NaN"}, 0},
      {"a gas velocity of 0 at the start", {{leftimp, velocities, "0.0 0.0\n0.06 0.0\n0.2 20.0"}},
       "velocity-not-positive", leftimp, {"pair 1, 0 m/s", "is 0 at step 1 ", "coefficient is 0"}, 0},
      {"a velocity that turns negative inside the run",
       {{leftimp, velocities, "0.0 120.0\n0.05 120.0\n0.11 -100.0"}}, "velocity-not-positive", leftimp,
       {"pair 3, -100 m/s at 0.11 s", "at step 829 ", "NaN"}, 0},
      {"a negative velocity after the run's end", {{leftimp, "0.2 20.0", "0.2 -20.0"}}, "velocity-not-positive",
       leftimp, {"pair 3, -20 m/s at 0.2 s", "no step of this run uses"}, 0},
      {"a Reynolds number below 0", {{leftimp, "Reynolds number: 0.0", "Reynolds number: -5000"}},
       "reynolds-not-positive", leftimp, {"Reynolds number -5000 (LEFTIMP.DAT line 4)", "at step 1 ", "NaN"}, 0},
      {"a nozzle diameter of 0", {{leftimp, "Nozzle diameter: 0.01", "Nozzle diameter: 0.0"}},
       "reynolds-not-positive", leftimp, {"nozzle diameter 0 m (LEFTIMP.DAT line 5)"}, 1},
      {"no viscosity in the row the gas temperature reads", {{gasprop, "1000 121.9e-6", "1000 0.0"}},
       "viscosity-not-positive", gasprop, {"1000 K", "row 16", "infinite", "NaN"}, 0},
      // The gas cools from 1000 K after 0.06 s: the viscosity read between
      // 950 K and 1000 K turns negative at about 974 K.
      {"a negative viscosity in a row the falling gas temperature reaches",
       {{gasprop, "950  112.2e-6", "950  -112.2e-6"}}, "viscosity-not-positive", gasprop,
       {"row 15", "not positive", "NaN"}, 0},
      // Not warned: a Reynolds number given makes the velocities unused, and
      // a row that no gas temperature of the run reads is never used.
      {"velocities of -120 m/s under a given Reynolds number",
       {{leftimp, "Reynolds number: 0.0", "Reynolds number: 20000"}, {leftimp, velocities, backwards}}, "", "", {}, 0},
      {"a negative viscosity in a row no gas temperature reads", {{gasprop, "400  26.41e-6", "400  -26.41e-6"}}, "",
       "", {}, 0},
  };
  for (const Case& c : cases) {
    TempDir dir;
    CopyExample(dir, "airbag-jet");
    for (const auto& [file, from, to] : c.edits) Edit(dir, file, from, to);
    int status = -1;
    json doc = CheckJson(dir, &status);
    EXPECT_EQ(status, c.status) << c.what;
    const RunResult person = RunBinary("--check '" + dir.path() + "'");
    // A slow gas is also outside the correlation's range; that warning has a
    // test of its own.
    json& warnings = doc["warnings"];
    for (auto it = warnings.begin(); it != warnings.end();) {
      it = (*it)["code"] == "reynolds-beyond-correlation" ? warnings.erase(it) : it + 1;
    }
    if (c.code.empty()) {
      EXPECT_EQ(doc["warnings"], json::array()) << c.what << doc["warnings"].dump(1);
      EXPECT_NE(person.out.find("No warnings."), std::string::npos) << c.what;
      continue;
    }
    ASSERT_EQ(doc["warnings"].size(), 1u) << c.what << doc["warnings"].dump(1);
    const json& warning = doc["warnings"][0];
    EXPECT_EQ(warning["code"], c.code) << c.what;
    EXPECT_EQ(warning["concerns"], c.concerns) << c.what;
    const std::string text = warning["text"].get<std::string>();
    for (const std::string& part : c.says) EXPECT_NE(text.find(part), std::string::npos) << c.what << ": " << text;
    EXPECT_NE(person.out.find("  [" + c.code + "] " + c.concerns + ": " + text + "\n"), std::string::npos)
        << c.what;
  }
}

TEST(Check, NeverReadsStandardInput) {
  // A count mismatch waits in a run; the check must not read, even with
  // standard input open and silent.
  std::vector<std::string> blocks = StillBlocks();
  blocks[2] = Block("DENSITY", "5", "0.0 1000.0 0.01 1000.0");
  TempDir dir;
  dir.Write("DATA.DAT", DataDat({}, Join(blocks)));
  int feed[2];
  ASSERT_EQ(pipe(feed), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(feed[0], 0);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    close(feed[1]);
    execl(SKINBURN_BINARY, SKINBURN_BINARY, "--check", dir.path().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(feed[0]);
  int raw = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      ADD_FAILURE() << "--check waited on standard input";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  close(feed[1]);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
}

TEST(Check, TextThatIsNotUtf8StaysValidJson) {
  TempDir dir;
  dir.Write("DATA.DAT", DataDat({{10, "B\xff\xfeR"}, {9, "d\xc3\xa9j\xe0"}}));
  const json doc = CheckJson(dir);
  const json& by = doc["entries"][9];
  EXPECT_EQ(by["value"], "B\xEF\xBF\xBD\xEF\xBF\xBDR");
  EXPECT_EQ(by["value_hex"], "42fffe52");
  // Valid UTF-8 stays as written; a lone lead byte is replaced.
  EXPECT_EQ(doc["entries"][8]["value"], "d\xc3\xa9j\xEF\xBF\xBD");
  EXPECT_EQ(doc["entries"][8]["value_hex"], "64c3a96ae0");
}

}  // namespace

// Every stop the run can reach from what was read, one data directory each:
// the check's verdict and status are the run's, its message is the one the
// run stops with, and the run's own JSON says whether it started as the
// check does.
TEST(Check, PredictsEveryStopOfTheRun) {
  struct Case {
    const char* what;
    std::vector<std::array<std::string, 3>> edits;  // file, from, to ("" to: the file removed)
    bool starts;
  };
  const std::string flux = "Left BC: FLUX";
  const std::vector<Case> cases = {
      {"the airbag example", {}, true},
      {"first jet coefficient without GASPROP.DAT", {{"GASPROP.DAT", "", ""}}, false},
      {"a flux face still forms the jet coefficient after step 1",
       {{"DATA.DAT", "Left BC: CONVECTION", flux}, {"GASPROP.DAT", "", ""}}, true},
      {"a flux face with the stand-off out of range",
       {{"DATA.DAT", "Left BC: CONVECTION", flux}, {"LEFTIMP.DAT", "Standoff distance: 0.05", "Standoff distance: 0.5"}},
       true},
      {"gas velocities that end inside the run",
       {{"LEFTIMP.DAT", "Gas velocity: 3 pairs\n0.0 120.0\n0.06 120.0\n0.2 20.0",
         "Gas velocity: 2 pairs\n0.0 120.0\n0.06 120.0"}},
       true},
      {"a temperature face with gas velocities that end inside the run",
       {{"DATA.DAT", "Left BC: CONVECTION", "Left BC: TEMPERATURE"},
        {"LEFTIMP.DAT", "0.0 1.0\n0.2 1.0", "0.0 310.0\n0.2 310.0"},
        {"LEFTIMP.DAT", "0.06 120.0\n0.2 20.0", "0.03 120.0 0.04 20.0"}},
       true},
      {"no time step", {{"DATA.DAT", "Time steps: 1000", "Time steps: 0"}}, true},
      {"one node's Omega with a profile time",
       {{"DATA.DAT", "profile: 0.0 sec", "profile: 0.05 sec"},
        {"DATA.DAT", "Omega: 0 node", "Omega: 5 node"},
        {"DATA.DAT", "(burn depth): 1", "(burn depth): 0"}},
       true},
  };
  for (const Case& c : cases) {
    TempDir dir;
    CopyExample(dir, "airbag-jet");
    for (const auto& [file, from, to] : c.edits) {
      if (from.empty()) {
        fs::remove(dir.path() + file);
      } else {
        Edit(dir, file, from, to);
      }
    }
    int status = -1;
    const json doc = CheckJson(dir, &status);
    const RunResult run = RunBinary("--results '" + dir.path() + "r' '" + dir.path() + "'", std::string(100, '\n'));
    EXPECT_EQ(status, run.status) << c.what;
    EXPECT_EQ(doc["would_start"], c.starts) << c.what;
    const json results = json::parse(Slurp(dir.path() + "r.json"), nullptr, false);
    ASSERT_TRUE(results.is_object()) << c.what;
    EXPECT_EQ(results["inputs"]["would_start"], doc["would_start"]) << c.what;
    const RunResult person = RunBinary("--check '" + dir.path() + "'");
    EXPECT_EQ(person.status, run.status) << c.what;
    if (run.status == 0) {
      EXPECT_TRUE(doc["error"].is_null()) << c.what;
      EXPECT_NE(person.out.find("\nThe run would start.\n"), std::string::npos) << c.what;
      continue;
    }
    ASSERT_TRUE(doc["error"].is_string()) << c.what;
    const std::string error = doc["error"];
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_NE((run.out + run.err).find(error), std::string::npos) << c.what << ": " << error;
    EXPECT_EQ(results["error"], error) << c.what;
    if (!c.starts) {
      EXPECT_NE(person.out.find("The run would not start:\n" + error), std::string::npos) << c.what;
      continue;
    }
    ASSERT_TRUE(doc["stop"].is_object()) << c.what;
    const int after = doc["stop"]["after_step"];
    EXPECT_EQ(results["reached"]["step"], after) << c.what;
    const std::string verdict = doc["stop"]["phase"] == "burn"
                                    ? "The run would start, but stop in the burn evaluation:\n"
                                    : "The run would start, but stop after step " + std::to_string(after) + ":\n";
    EXPECT_NE(person.out.find(verdict + error), std::string::npos) << c.what << "\n" << person.out;
  }
}

// The small texts of a check: a word too many on a count's line is named,
// the jet's boundary list is shown as the selector it is, and a depth of
// nothing is 0, not -0.
TEST(Check, TextsSayWhatTheValuesAre) {
  TempDir extra;
  CopyExample(extra, "flux-cooling");
  Edit(extra, "DATA.DAT", "! LEFT_BC\n4 pairs", "! LEFT_BC\n4 data pairs");
  const json doc = CheckJson(extra);
  std::string mismatch;
  for (const json& warning : doc["warnings"]) {
    if (warning["code"] == "count-mismatch") mismatch = warning["text"];
  }
  EXPECT_NE(mismatch.find("but 0 were read: none. The list ended at the word 'pairs' (DATA.DAT line 48), on the "
                          "count's own line"),
            std::string::npos)
      << mismatch;
  TempDir jet;
  CopyExample(jet, "airbag-jet");
  const RunResult person = RunBinary("--check '" + jet.path() + "'");
  EXPECT_NE(person.out.find("(times 0..0.1 s): 1 .. 1 (a value of exactly 1 selects the jet correlation's "
                            "coefficient; any other is the coefficient in W/(m^2 K))\n"),
            std::string::npos);
  TempDir empty;
  empty.Write("DATA.DAT", "#\ntitle\n");
  const RunResult cut = RunBinary("--check '" + empty.path() + "'");
  EXPECT_NE(cut.out.find("(to a depth of 0 m)"), std::string::npos) << cut.out;
}

TEST(CommandLine, AResultsPrefixThatCannotBeWrittenSaysWhy) {
  TempDir dir;
  CopyExample(dir, "convection");
  const RunResult missing = RunBinary("--results '" + dir.path() + "no/such/r' '" + dir.path() + "'");
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err.find("skinburn: cannot write the results to " + dir.path() + "no/such/r.json: the directory " +
                             dir.path() + "no/such does not exist\n"),
            0u)
      << missing.err;
  fs::create_directory(dir.path() + "locked");
  fs::permissions(dir.path() + "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (access((dir.path() + "locked").c_str(), W_OK) != 0) {  // not as root
    const RunResult locked = RunBinary("--results '" + dir.path() + "locked/r' '" + dir.path() + "'");
    EXPECT_EQ(locked.status, 2);
    EXPECT_NE(locked.err.find("r.json: Permission denied\n"), std::string::npos) << locked.err;
  }
  EXPECT_FALSE(dir.Exists("OUTPUT.TXT"));
}

namespace {

std::string Perfuse(const std::string& arterial, const std::string& rates) {
  return "# blood perfusion of the dermis\nPerfusion data\nArterial temperature: " + arterial +
         " K\nBlood density: 1060 kg/m^3\nBlood heat capacity: 3800 J/(kg*K)\nPerfusion rates: 4 pairs\n" + rates +
         "\nEND\n";
}

const char* const kDermisRates = "0.0 0.0\n0.00008 0.0\n0.00008 0.002\n0.003 0.002";

}  // namespace

// --perfusion reads PERFUSE.DAT as a run would, names what it read and laid,
// refuses what cannot be a blood value, and is warned of when left out.
TEST(Check, PerfusionIsReadOnlyWhenAskedAndNamed) {
  TempDir dir;
  CopyExample(dir, "flux-cooling");
  dir.Write("PERFUSE.DAT", Perfuse("310.15", kDermisRates));
  const json plain = CheckJson(dir);
  EXPECT_FALSE(plain.contains("perfusion"));
  ASSERT_EQ(plain["warnings"].size(), 1u);
  EXPECT_EQ(plain["warnings"][0]["code"], "perfusion-not-asked");

  const RunResult run = RunBinary("--perfusion --check=json '" + dir.path() + "'");
  EXPECT_EQ(run.status, 0) << run.out;
  const json doc = json::parse(run.out);
  EXPECT_TRUE(doc["warnings"].empty());
  const json& blood = doc["perfusion"];
  EXPECT_EQ(blood["arterial_temperature_K"], 310.15);
  EXPECT_EQ(blood["blood_heat_capacity_J_kgK"], 3800.0);
  EXPECT_EQ(blood["pairs"].size(), 4u);
  const json& laid = blood["laid"]["values"];
  ASSERT_EQ(laid.size(), 101u);  // one rate a node
  EXPECT_EQ(laid[4], 0.0);       // 80 um: the step's earlier value
  EXPECT_EQ(laid[5], 0.002);
  const RunResult person = RunBinary("--perfusion --check '" + dir.path() + "'");
  EXPECT_NE(person.out.find("Blood perfusion (PERFUSE.DAT): arterial blood at 310.15 K, density 1060 kg/m^3"),
            std::string::npos)
      << person.out;

  struct Bad {
    const char* what;
    std::string file;
    const char* said;
  };
  const std::vector<Bad> bad = {
      {"no file", "", "PERFUSE.DAT could not be found"},
      {"arterial not a number", Perfuse("nan", kDermisRates), "gives an arterial temperature 'nan'"},
      {"negative rate", Perfuse("310", "0.0 0.0\n0.00008 0.0\n0.00008 -0.002\n0.003 0.002"),
       "gives a perfusion rate that is negative"},
      {"short of the depth", Perfuse("310", "0.0 0.0\n0.00008 0.0\n0.00008 0.002\n0.001 0.002"),
       "Node perfusion rates are not specified for the entire depth of the model."},
  };
  for (const Bad& b : bad) {
    TempDir broken;
    CopyExample(broken, "flux-cooling");
    if (!b.file.empty()) broken.Write("PERFUSE.DAT", b.file);
    const RunResult check = RunBinary("--perfusion --check=json '" + broken.path() + "'");
    EXPECT_EQ(check.status, 1) << b.what;
    const json stopped = json::parse(check.out);
    ASSERT_TRUE(stopped["error"].is_string()) << b.what;
    EXPECT_NE(stopped["error"].get<std::string>().find(b.said), std::string::npos) << b.what << ": " << stopped["error"];
    const RunResult runs = RunBinary("--perfusion '" + broken.path() + "'", std::string(10, '\n'));
    EXPECT_EQ(runs.status, 1) << b.what;
    EXPECT_NE(runs.out.find(b.said), std::string::npos) << b.what;
    EXPECT_FALSE(broken.Exists("OUTPUT.TXT")) << b.what;
  }
}
