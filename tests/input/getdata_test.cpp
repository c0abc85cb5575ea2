// The input stage: DATA.DAT's run parameters and their checks, the
// distribution blocks with their data files and LEFTIMP.DAT, in process
// where the tables matter and end to end where the dialogue does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "support/support.h"

using namespace testing_support;
using Entries = std::map<int, std::string>;

namespace {

// GetData on `dir`: its result, or 100 + the status when it ended the process.
int Load(const TempDir& dir) {
  M.DataDir = dir.path();
  try {
    return GetData();
  } catch (const console::Stopped& ended) {
    return 100 + ended.status;
  }
}

std::string Params() {
  return Format("%.10g %d %d %d %d %d %d %d %s %s %.10g %d %.10g %.10g %s %s %d %.10g %.10g %d", M.OUTTIME,
                M.OUTNODE, M.VERBOSE, M.PRINTAMATRIX, M.PRINTINITTEMP, M.BURNDEPTH, M.BATCH, M.TRIAL,
                M.EXECDATE.c_str(), M.EXECBY.c_str(), M.FREQFACTOR, M.FREQEXP, M.ACTENERGY, M.GASCONST,
                M.LBC.c_str(), M.RBC.c_str(), M.TIMESTEPS, M.DELTAT, M.DELTAX, M.NODES);
}

std::string With(std::size_t place, const std::string& block) {
  std::vector<std::string> blocks = StillBlocks();
  blocks[place] = block;
  return Join(blocks);
}

const std::string kExiting = "GetData() Error: Exiting Pellimar\r\n";
const std::string kPrompt = "If this is correct press the <Enter> key to continue or <Ctrl>-C to quit";

TEST(Parameters, ChecksInTheirOrder) {
  const std::string l1 = "Line 1 input must be greater than zero and less than \n(Time Steps*delta-t).";
  const std::string l2 = "Line 2 input must be between 1 and NODES.",
                    flag = " input must be set to either 1 or 0.";
  const std::string l20 = "Line 20 input must be between 1 and 30000.",
                    above = " input must be greater than zero.";
  const std::string two = "Line 20 input must be at least 2 with a CONVECTION or FLUX boundary.";
  // clang-format off
  const std::pair<Entries, std::string> cases[] = {
      {{{1, "50"}, {18, "0.5"}}, ""}, {{{1, "50.5"}, {18, "0.5"}}, l1}, {{{1, "-0.5"}}, l1},
      {{{2, "41"}}, ""}, {{{2, "42"}}, l2}, {{{2, "-1"}}, l2}, {{{3, "2"}}, "Line 3" + flag},
      {{{3, "2"}, {1, "1e9"}}, l1},  // the first check that fails is the one reported
      {{{3, "yes"}}, ""}, {{{4, "-1"}}, "Line 4" + flag}, {{{5, "2"}}, "Line 5" + flag},
      {{{6, "2"}}, "Line 6" + flag}, {{{7, "9"}}, "Line 7" + flag}, {{{6, "1"}}, ""},
      {{{6, "1"}, {1, "0.5"}}, "Line 1 must be set to 0 if Line 6 is set to 1."}, {{{17, "0"}}, ""},
      {{{17, "30000"}}, "Line 17 input must be between 0 and 29999."}, {{{18, "0"}}, "Line 18" + above},
      {{{18, "1e999"}}, "Line 18" + above}, {{{19, "-0.0001"}}, "Line 19" + above},
      {{{19, "inf"}}, "Line 19" + above}, {{{20, "30001"}}, l20}, {{{2, "0"}, {20, "0"}}, l20},
      {{{20, "1"}}, two}, {{{20, "1"}, {15, "TEMPERATURE"}, {16, "FLUX"}}, two},
      {{{20, "1"}, {15, "TEMPERATURE"}, {16, "TEMPERATURE"}}, ""},
      {{{11, "3.1"}, {12, "10^"}}, "Line 12 input must be longer than three characters, as in 10^94."},
  };
  // clang-format on
  for (const auto& [entries, message] : cases) {
    TempDir dir;
    dir.Write("DATA.DAT", DataDat(entries, UniformBlocks(0.01, 100)));
    InProcess io;
    EXPECT_EQ(Load(dir), message.empty() ? 1 : 0) << message;
    EXPECT_EQ(io.out, message.empty() ? "" : "\r\nDATA.DAT Error: DATA.DAT " + message + "\r\n");
  }
}

TEST(Parameters, ConversionsAndDefaults) {
  const std::string start = "0 1 1 0 0 0 1 ", end = " CONVECTION CONVECTION 100 0.01 0.0001 41";
  // clang-format off
  const std::tuple<Entries, int, std::string> cases[] = {
      {{}, 1, start + "7 12/07/26 TST 3.442707 94 623580 8.31439" + end},
      {{{11, "3.1"}, {12, "10^98"}, {13, "5000"}, {14, "8.314"}}, 1,
       start + "7 12/07/26 TST 3.1 98 5000 8.314" + end},
      {{{8, "0x10"}, {11, "2.5e-3x"}, {12, "10^-7"}, {13, "inf"}, {14, "nan"}}, 1,
       start + "0 12/07/26 TST 0.0025 -7 623580 8.31439" + end},
      {{{1, "+.5e0s"}, {8, "-99999999999"}, {13, "1e"}, {14, "12abc"}}, 1,
       "0.5 1 1 0 0 0 1 -2147483648 12/07/26 TST 3.442707 94 1 12" + end},
      // A zero mantissa leaves out the exponent entry: a file that has one
      // anyway is misread from entry 13 on.
      {{{11, "0.0"}}, 0, start + "7 12/07/26 TST 3.442707 94 10 8.31439 Left CONVECTION 0 100 0 0"},
  };
  // clang-format on
  for (const auto& [entries, result, params] : cases) {
    TempDir dir;
    dir.Write("DATA.DAT", DataDat(entries));
    InProcess io;
    EXPECT_EQ(Load(dir), result) << io.out;
    EXPECT_EQ(Params(), params);
  }
}

TEST(Parameters, OnlyTheNumberOfWordsMatters) {
  const Entries entries = {{1, "0.5"},          {2, "3"},      {4, "1"},     {5, "1"},       {8, "12"},
                           {11, "3.1"},         {12, "10^98"}, {13, "1000"}, {14, "8.314"},  {15, "FLUX"},
                           {16, "TEMPERATURE"}, {17, "50"},    {18, "0.02"}, {19, "0.0002"}, {20, "20"}};
  const std::string standard = DataDat(entries);
  const std::size_t body = standard.find("Listing");
  std::string one_line = standard;
  std::replace(one_line.begin() + static_cast<std::ptrdiff_t>(body), one_line.end(), '\n', ' ');
  // A comment line of 79 characters with its line end is read whole; one
  // character more and its remainder is the line that ends the header.
  const std::string read_whole = "#" + std::string(77, '-') + "\n" + standard.substr(standard.find("Title"));
  const std::string split = "#" + std::string(78, '-') + "\n" + standard.substr(body);
  for (const std::string& text : {standard, one_line, read_whole, split}) {
    TempDir dir;
    dir.Write("DATA.DAT", text);
    InProcess io;
    EXPECT_EQ(Load(dir), 1) << io.out;
    EXPECT_EQ(Params(),
              "0.5 3 1 1 1 0 1 12 12/07/26 TST 3.1 98 1000 8.314 FLUX TEMPERATURE 50 0.02 0.0002 20");
  }
}

TEST(Blocks, ExampleWithAConductivityFile) {
  TempDir dir;
  const Entries entries = {{2, "5"},     {7, "0"},        {8, "12"},          {9, "06/01/98"},
                           {10, "ABC"},  {11, "3.1"},     {12, "10^98"},      {14, "8.314"},
                           {17, "1000"}, {18, "0.00004"}, {16, "TEMPERATURE"}};
  dir.Write("DATA.DAT", DataDat(entries,
                                "Distribution: INITIAL_TEMPERATURE\n2 pairs\n0.0 310.0\n0.005 310.0\n"
                                "! CONDUCTIVITY\n0 pairs\n! DENSITY\n2 pairs\n0.0 1000.0 0.005 1000.0\n"
                                "! HEAT_CAPACITY\n2 pairs\n0.0 3600.0\n0.005 3600.0\n! LEFT_BC\n2 pairs\n"
                                "0.0 500.0\n0.05 500.0\n! LEFT_AMBIENT\n2 pairs\n0.0 600.0\n0.05 600.0\n"
                                "! RIGHT_BC\n2 pairs\n0.0 310.0\n0.05 310.0\n! RIGHT_AMBIENT\n2 pairs\n"
                                "0.0 310.0\n0.05 310.0\n!\n"));
  dir.Write("CONDUCT.DAT",
            "# skin conductivity\nConductivity versus depth\nData pairs: 2\n0.0 0.37\n0.005 0.37\nEND\n");
  InProcess io;
  ASSERT_EQ(Load(dir), 1) << io.out;
  EXPECT_EQ(io.out, "");
  EXPECT_EQ(Params(),
            "0 5 1 0 0 0 0 12 06/01/98 ABC 3.1 98 623580 8.314 CONVECTION TEMPERATURE 1000 4e-05 0.0001 41");
  // clang-format off
  for (const auto& [table, value] : {std::pair{&Model::InitTempTable, 310.0}, {&Model::ConductTable, 0.37},
                                     {&Model::DensityTable, 1000.0}, {&Model::HeatCapTable, 3600.0}}) {
    // clang-format on
    for (int i = 1; i <= 42; ++i) {
      EXPECT_EQ((M.*table)[i].x, i <= 41 ? (i - 1) * 0.0001 : 0.0) << i;
      EXPECT_EQ((M.*table)[i].y, i <= 41 ? value : 0.0) << i;
    }
  }
  // clang-format off
  for (const auto& [table, value] : {std::pair{&Model::LeftBCTable, 500.0}, {&Model::LeftAmbTable, 600.0},
                                     {&Model::RightBCTable, 310.0}, {&Model::RightAmbTable, 310.0}}) {
    // clang-format on
    for (int j = 1; j <= 1001; ++j) ASSERT_EQ((M.*table)[j].x, (j - 1) * 0.00004) << j;  // not summed
    EXPECT_EQ((M.*table)[1001].y, value);
  }
}

std::string LeftImp(const std::string& spacing, const std::string& boundary, const std::string& velocities) {
  // clang-format off
  return "# jet of the driver airbag, left face\nJet impingement data\nNear field term: 1.0\n"
         "Reynolds number: 0.0\nNozzle diameter: 0.01\nOffaxis spacing: " + spacing +
         "\nStandoff distance: 0.05\nBoundary pairs: 2 pairs\n" + boundary +
         "\nGas velocity: " + velocities + " pairs\n0.0 30.0\n0.05 -30.0\nEND\n";
  // clang-format on
}

TEST(Blocks, AnyOrderGivesTheSameTablesAndTheJetFile) {
  std::vector<std::string> blocks = StillBlocks();
  blocks[4] = Block("LEFT_BC", "-1", "");
  TempDir dir;
  dir.Write("DATA.DAT", DataDat({{17, "5"}}, Join(blocks)));
  dir.Write("LEFTIMP.DAT", LeftImp("0.0", "0.0 1.0\n0.05 1.0", "2"));
  std::unique_ptr<Model> first;
  {
    InProcess io;
    ASSERT_EQ(Load(dir), 1) << io.out;
    EXPECT_EQ(io.out, "");
    EXPECT_EQ(Format("%d %g %g %g %g %g %g", M.JetInUse, M.JETOPTION, M.JETREYNOLDS, M.NOZZLEDIAM,
                     M.STANDOFFRATIO, M.OFFAXISRATIO, M.GasVelocityTable[2].y),
              "1 1 0 0.01 5 0 -30");
    EXPECT_EQ(M.HBARDURATION, 10.0);  // the left face came before its ambient
    first = std::make_unique<Model>(M);
  }
  std::reverse(blocks.begin() + 1, blocks.end());
  dir.Write("DATA.DAT", DataDat({{17, "5"}}, Join(blocks)));
  dir.Write("LEFTIMP.DAT", LeftImp("0.02", "0.0 1.0\n0.03 1.0\n0.05 1.0", "3"));
  InProcess io;
  ASSERT_EQ(Load(dir), 1) << io.out;
  const char* report =
      "%s (LEFTIMP.DAT): The number of data pairs read (%d)\n"
      "is different from the number of data pairs specified (%d)\r\n";
  EXPECT_EQ(io.out, Format(report, "Left Boundary Condition Distribution", 3, 2) + kPrompt + Blank(23) +
                        Format(report, "Gas Velocity Distribution", 2, 3) + kPrompt);
  EXPECT_EQ(Format("%g %g", M.OFFAXISRATIO, M.HBARDURATION), "1 0");
  for (PairTable Model::*table :
       {&Model::InitTempTable, &Model::ConductTable, &Model::DensityTable, &Model::HeatCapTable,
        &Model::LeftBCTable, &Model::LeftAmbTable, &Model::RightBCTable, &Model::RightAmbTable}) {
    EXPECT_EQ(std::memcmp(&((*first).*table), &(M.*table), sizeof(PairTable)), 0);
  }
}

TEST(Blocks, SkippedRepeatedAndSignedBlocks) {
  std::vector<std::string> skipped = StillBlocks(), repeated = StillBlocks(), signs = StillBlocks();
  std::vector<std::string> adiabatic = StillBlocks(), file = StillBlocks();
  skipped[1] = "! note 0 x CONDUCTIVITY 2 pairs 0.0 0.5 0.01 0.5\n";  // a name that selects nothing
  repeated[2] = Block("CONDUCTIVITY", "2", "0.0 0.25 0.01 0.25");
  signs[6] = "! RIGHT_BC\n2 pairs\n0.0 -10.0 10.0 -10.0\n-5 RIGHT_AMBIENT\n2 pairs\n0.0 310.0 10.0 310.0\n";
  signs.pop_back();
  adiabatic[5] = Block("LEFT_ADIABATIC", "2", "0.0 400.0 10.0 400.0");  // A in sixth place: left ambient
  file[6] = Block("RIGHT_BC", "0", "");
  // clang-format off
  const std::tuple<std::vector<std::string>, PairTable Model::*, double> cases[] = {
      {skipped, &Model::RightAmbTable, 0.0},  // the eighth block is never reached
      {skipped, &Model::ConductTable, 0.5}, {repeated, &Model::ConductTable, 0.25},
      {repeated, &Model::DensityTable, 0.0}, {signs, &Model::RightBCTable, 0.0},
      {signs, &Model::RightAmbTable, 310.0}, {file, &Model::RightBCTable, -10.0},
      {adiabatic, &Model::LeftAmbTable, 400.0}};
  // clang-format on
  for (const auto& [blocks, table, value] : cases) {
    TempDir dir;
    dir.Write("DATA.DAT", DataDat({}, Join(blocks)));
    dir.Write("RIGHTBC.DAT", "# right face\nTitle\nData pairs: 2\n0.0 -10.0\n10.0 -10.0\n-1 END\n");
    InProcess io;
    ASSERT_EQ(Load(dir), 1) << io.out;
    EXPECT_EQ((M.*table)[2].y, value);
  }
}

// An unattended run (BATCH 1) reports the count and goes on with the pairs
// read without waiting for an answer nobody is there to give; BATCH 0 asks.
TEST(Blocks, CountMismatchPromptsThenUsesThePairsRead) {
  for (const auto& [count, read] : {std::pair{3, 4}, {5, 4}}) {
    TempDir dir;
    const std::string pairs = "0.0 1000.0 0.001 1000.0 0.002 1000.0 0.01 1000.0";
    dir.Write("DATA.DAT", DataDat({}, With(2, Block("DENSITY", std::to_string(count), pairs))));
    const char* report =
        "Density Distribution: \r\nThe number of data pairs read (%d)\n"
        "is different from the number of data pairs specified (%d)\r\n";
    EXPECT_EQ(Converse(dir).pages, (std::vector<std::string>{
                                       Banner() + Format(report, read, count) + kPrompt + Blank(23) +
                                           "\t\tPlease wait while model is running...." + Blank(20) +
                                           "Main() Error: BurnInjury() returned an invalid value of Omega to "
                                           "Main().\r\n\r\n",
                                       ""}));
    dir.Write("DATA.DAT", DataDat({{7, "0"}}, With(2, Block("DENSITY", std::to_string(count), pairs))));
    const Dialogue asked = Converse(dir);
    ASSERT_GE(asked.pages.size(), 2u);
    EXPECT_EQ(asked.pages[0], Banner() + Format(report, read, count) + kPrompt);
  }
}

TEST(Blocks, FailuresStopTheRun) {
  const char* rows =
      "%s Error: %s\r\nAn external data file call cannot be followed by rows of data.\r\n"
      "Check DATA.DAT for pairs of data following a 0 code integer.\r\n\r\n";
  const std::string short_of =
      "Datafile Error:  %s are not specified for the %s of the model.  Make sure to "
      "supply enough data to characterize at least the total %s of the model.";
  const std::string density = Format(short_of.c_str(), "Node densities", "entire depth", "depth");
  const std::string missing = " could not be found... \r\n" + kExiting;
  const std::string none = "#\nT\nData pairs: 0\nEND", jet = LeftImp("0.0", "0.0 1.0\n0.05 1.0", "2");
  struct Case {
    std::string data, file, contents, out;
    std::size_t waits;
  };
  // clang-format off
  const Case cases[] = {
      {With(0, Block("INITIAL_TEMPERATURE", "0", "0.0 310.0")), "INITTEMP.DAT", none,
       Format(rows, "Initial Temperature Distribution", ""), 1},
      {With(1, Block("CONDUCTIVITY", "0", "0.0 0.5")), "CONDUCT.DAT", none,
       Format(rows, "Conductivity Distribution", " "), 1},
      {With(4, Block("LEFT_BC", "-1", "0.0 310.0")), "LEFTIMP.DAT", jet,
       Format(rows, "Left Boundary Condition Distribution", " "), 1},
      {With(1, Block("CONDUCTIVITY", "0", "")), "", "", "GetData Error: \r\n CONDUCT.DAT" + missing, 0},
      {With(3, Block("HEAT_CAPACITY", "0", "")), "", "", "\r\n HEATCAP.DAT" + missing, 0},
      {With(4, Block("LEFT_BC", "-1", "")), "", "", "GetData() Error: \r\n LEFTIMP.DAT" + missing, 0},
      {With(0, Block("INITIAL_TEMPERATURE", "-1", "0.0 310.0 0.01 310.0")), "", "", Blank(23) +
       "DATA.DAT Error: The number of Initial Node Temperature data-pairs must be greater than or equal to "
       "zero.\r\n" + kExiting, 0},
      {With(5, Block("LEFT_AMBIENT", "-2", "0.0 310.0 10.0 310.0")), "", "", Blank(23) +
       "DATA.DAT 'LEFT_AMBIENT' Error: The number of data pairs must be -1, 0, or a positive integer.\r\n" +
       kExiting, 0},
      {With(2, Block("DENSITY", "-1", "0.0 1000.0 0.01 1000.0")), "", "", density, 1},
      {With(2, Block("DENSITY", "0", "")), "DENSITY.DAT", "#\nT\nData pairs: 0\n0.0 1000.0 0.01 1000.0\nEND",
       density, 1},
      // LEFTBC.DAT's count is handed on as written, without a comparison.
      {With(4, Block("LEFT_BC", "0", "")), "LEFTBC.DAT", "#\nT\nData pairs: 3\n0.0 310.0 10.0 310.0\nEND",
       Format(short_of.c_str(), "Left boundary conditions", "total time", "time"), 1},
      {With(4, Block("LEFT_BC", "-1", "")), "LEFTIMP.DAT", LeftImp("-0.02", "0.0 1.0\n0.05 1.0", "2"),
       "\r\nGetData() Error:  Offaxis Spacing is limited to the values greater than zero.\r\n" + kPrompt +
       kExiting, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    TempDir dir;
    dir.Write("DATA.DAT", DataDat({{17, "5"}}, c.data));
    if (!c.file.empty()) dir.Write(c.file, c.contents);
    const Dialogue d = Converse(dir);
    EXPECT_EQ(d.out(), Banner() + c.out);
    EXPECT_EQ(d.pages.size(), 1 + c.waits) << c.out;
    EXPECT_EQ(d.status, 1);
    EXPECT_FALSE(dir.Exists("OUTPUT.TXT"));
  }
}

TEST(DataDirectory, IsAPlainPrefix) {
  TempDir dir;
  const RunResult missing = RunBinary("data", "", dir.path());
  EXPECT_EQ(missing.out, Banner() + "GetData() Error: \r\n DATA.DAT could not be found... \r\n" + kExiting);
  EXPECT_EQ(missing.status, 1);
  dir.Write("dataDATA.DAT", DataDat({{17, "2"}}, Join(StillBlocks())));
  EXPECT_EQ(RunBinary("data", "", dir.path()).status, 1);  // the negligible burn of a slab at 310 K
  EXPECT_TRUE(dir.Exists("dataOUTPUT.TXT"));
}

TEST(DataDirectory, ADirectoryWithoutItsSeparatorIsNamed) {
  // "s1" where s1/ holds DATA.DAT: the stop names the fix, in a run and in
  // the check; a name that is no such directory stops as before.
  TempDir dir;
  std::filesystem::create_directory(dir.path() + "/s1");
  dir.Write("s1/DATA.DAT", DataDat({{17, "2"}}, Join(StillBlocks())));
  const std::string hint = " Did you mean s1/ ? The data directory must end with the separator.\r\n";
  const RunResult run = RunBinary("s1", "", dir.path());
  EXPECT_EQ(run.out, Banner() + "GetData() Error: \r\n DATA.DAT could not be found... \r\n" + hint + kExiting);
  EXPECT_EQ(run.status, 1);
  const RunResult check = RunBinary("--check=json s1", "", dir.path());
  EXPECT_NE(check.out.find("Did you mean s1/ ?"), std::string::npos);
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(RunBinary("s2", "", dir.path()).out,
            Banner() + "GetData() Error: \r\n DATA.DAT could not be found... \r\n" + kExiting);
}

}  // namespace
