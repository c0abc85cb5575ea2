// End-to-end runs of the built program: console transcripts page by page
// (a page ends where the program waits for Enter), OUTPUT.TXT and the exit
// status, byte for byte, on slabs whose temperatures are known.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/support.h"

using namespace testing_support;
using Pages = std::vector<std::string>;

namespace {

const std::string kFileRun = Banner() + "\t\tPlease wait while model is running...." + Blank(20);
const std::string kInvalid =
    "Main() Error: BurnInjury() returned an invalid value of Omega to Main().\r\n\r\n";
const std::string kBelow = Blank(35) + "Omega Output: Omega<1 for all nodes.\r\n\r\n";
const std::string kAbove = Blank(35) + "Omega Output: Omega>1 for all nodes.\r\n\r\n";

std::string Header(int trial = 7, const char* date = "12/07/26", const char* by = "TST") {
  return Format("\r\n\r\nTRIAL:%5d", trial) + Format("    Execution Date: %8s", date) +
         Format("    Executed By: %6s\r\n", by);
}

// The file's history of node 1 at 310 K over n steps of 0.01 s.
std::string History(int n) {
  std::string text = "\nTime Step  Depth(m)     time(sec)       T(K) @ Node   1\n";
  for (int j = 1; j <= n; ++j) text += Format("%7d      %9.7f %10.5f   %10.1f\r\n", j, 0.0, j * 0.01, 310.0);
  return text;
}

// Every node of the default 41 at 310 K.
std::string Profile(double time) {
  std::string text = Format("\nNode    Depth           T(K) @ time %10.5f sec\n", time);
  for (int i = 1; i <= 41; ++i) text += Format("%3d     %9.7f  %10.1f\r\n", i, i * 0.0001 - 0.0001, 310.0);
  return text;
}

// A run over a slab in which nothing heats.
Dialogue Still(const TempDir& dir, const std::map<int, std::string>& entries) {
  dir.Write("DATA.DAT", DataDat(entries, Join(StillBlocks())));
  return Converse(dir);
}

TEST(FileReport, TrialsAccumulateUnderTheirHeaders) {
  // The header's widths are minimum widths.
  for (const auto& [trial, date, by] :
       {std::tuple{7, "12/07/26", "TST"}, {123456, "2026-07-12T10:00", "Dr.Somebody"}, {-3, "1/1", "X"}}) {
    TempDir dir;
    for (int run = 0; run < 2; ++run) {
      const Dialogue d = Still(dir, {{8, std::to_string(trial)}, {9, date}, {10, by}, {17, "3"}});
      EXPECT_EQ(d.pages, (Pages{kFileRun + kInvalid, ""}));
      EXPECT_EQ(d.status, 1);
    }
    const std::string one = Header(trial, date, by) + History(3);
    EXPECT_EQ(dir.Read("OUTPUT.TXT"), one + one);
  }
}

TEST(FileReport, MatrixAndInitialTemperatureListings) {
  for (int nodes : {2, 3}) {
    TempDir dir;
    Still(dir, {{4, "1"}, {5, "1"}, {17, "1"}, {20, std::to_string(nodes)}});
    // The face rows are only set by the first step; the interior row has
    // the Fourier number 0.5 * 0.01 / (1000 * 4000 * 1e-8).
    std::string expected = Header() + "A-Matrix Diagonals\r\n Lower      Middle     Upper  \r\n" +
                           Format("           %20.12f, %20.12f\r\n", 0.0, 0.0);
    if (nodes == 3) expected += Format("%20.12f, %20.12f, %20.12f\r\n", -0.125, 1.25, -0.125);
    expected += Format("%20.12f, %20.12f\r\n", 0.0, 0.0) +
                "\n   Node   Depth               T(K):  Initial Temperature Distribution\n";
    for (int i = 1; i <= nodes; ++i)
      expected += Format("%7d     %9.7f   %10.1f\r\n", i, i * 1e-4 - 1e-4, 310.0);
    EXPECT_EQ(dir.Read("OUTPUT.TXT"), expected + History(1));
  }
}

TEST(FileReport, ProfileOnlyAtAnExactlyMatchingTime) {
  // 2 * 0.25 is exactly 0.5; 3 * 0.1 is not exactly 0.3.
  for (const auto& [outtime, deltat, profile] :
       {std::tuple{"0.5", "0.25", Profile(0.5)}, std::tuple{"0.3", "0.1", std::string()}}) {
    TempDir dir;
    const Dialogue d = Still(dir, {{1, outtime}, {2, "0"}, {17, "4"}, {18, deltat}});
    EXPECT_EQ(d.pages, (Pages{kFileRun + kBelow, ""}));
    EXPECT_EQ(d.status, 0);
    EXPECT_EQ(dir.Read("OUTPUT.TXT"), Header() + profile);
  }
}

TEST(FileReport, UnwritableOutputStopsBeforeTheRun) {
  for (const bool full_disk : {false, true}) {
    TempDir dir;
    if (full_disk) std::filesystem::create_symlink("/dev/full", dir.path() + "OUTPUT.TXT");
    if (!full_disk) std::filesystem::create_directory(dir.path() + "OUTPUT.TXT");
    const Dialogue d = Still(dir, {});
    EXPECT_EQ(d.out(),
              kFileRun + (full_disk ? "Main() Error: OUTPUT.TXT could not be written completely; the "
                                      "disk may be full\r\n"
                                    : "Main() Error: OUTPUT.TXT could not be opened or created\r\n Make "
                                      "sure the data directory, appended to the call line\n to run "
                                      "this program, exists.\r\n\r\n"));
    EXPECT_EQ(d.status, 1);
  }
}

const std::string kConsoleRun =
    Banner() + Blank(32) + "\tPlease wait while temperature distribution is generated..." + Blank(12);

TEST(ConsoleReport, NodeHistoryPausesAfterEveryTwentySteps) {
  TempDir dir;
  Pages pages = {kConsoleRun + "\nDepth(m)     time(sec)       T(K) @ Node   1\n", "", ""};
  for (int j = 1; j <= 45; ++j)
    pages[(j - 1) / 20] += Format("%9.7f     %10.5f   %10.1f\r\n", 0.0, j * 0.01, 310.0);
  pages[2] += kInvalid;  // no pause after step 45: this one is the error's
  pages.push_back("");
  EXPECT_EQ(Still(dir, {{3, "0"}, {17, "45"}}).pages, pages);
  EXPECT_FALSE(dir.Exists("OUTPUT.TXT"));
}

TEST(ConsoleReport, EveryNodeListingPausesPerTwentyNodesAndAtTheEnd) {
  Pages pages;
  for (int j = 1; j <= 2; ++j) {
    const std::string all = Profile(j * 0.01);
    const std::size_t node21 = all.find("\n 21 ") + 1, node41 = all.find("\n 41 ") + 1;
    pages.insert(pages.end(),
                 {all.substr(0, node21), all.substr(node21, node41 - node21), all.substr(node41)});
  }
  pages[0].insert(0, kConsoleRun);
  pages.insert(pages.end(), {kBelow, ""});
  TempDir dir;
  const Dialogue d = Still(dir, {{2, "0"}, {3, "0"}, {17, "2"}});
  EXPECT_EQ(d.pages, pages);
  EXPECT_EQ(d.status, 0);
}

TEST(Boundaries, EveryFaceTypeOnEitherSideByItsFirstLetter) {
  const char* wrong =
      "Main() Error: No %s Boundary Condition was found.\r\n %s: line-input in DATA.DAT should be "
      "CONVECTION, FLUX, OR TEMPERATURE.  Hit <Enter> to exit...\r\n";
  for (const auto& [left, right, tail] : {std::tuple{"CONVECTION", "FLUX", kInvalid},
                                          {"FLUX", "T", kInvalid},
                                          {"TEMPERATURE", "CONVECTION", kInvalid},
                                          {"convection", "CONVECTION", Format(wrong, "Left", "LBC")},
                                          {"TEMPERATURE", "flux", Format(wrong, "Right", "RBC")}}) {
    TempDir dir;
    const Dialogue d = Still(dir, {{15, left}, {16, right}, {17, "3"}});
    EXPECT_EQ(d.pages, (Pages{kFileRun + tail, ""})) << left << ' ' << right;
    EXPECT_EQ(d.status, 1);
    EXPECT_EQ(dir.Read("OUTPUT.TXT"), Header() + (tail == kInvalid ? History(3) : ""));
  }
}

// Four nodes held on a linear profile by TEMPERATURE faces for 1 s. With
// ACTENERGY 1000, GASCONST 1 and FREQFACTOR 1.5 e, Omega is 1.5 at 1000 K and
// 0.5 at 1000 / (1 + ln 3) K, the temperatures of the middle two nodes.
const std::string kHot = "2046.9892839189913", kCold = "476.50535804050435";

void WriteSlab(const TempDir& dir, const std::map<int, std::string>& changes, const std::string& left,
               const std::string& right, const std::string& k = "0.5", const std::string& initial = "") {
  std::map<int, std::string> entries = {{2, "3"},
                                        {11, "4.077422742688568"},
                                        {12, "10^0"},
                                        {13, "1000"},
                                        {14, "1"},
                                        {15, "TEMPERATURE"},
                                        {16, "TEMPERATURE"},
                                        {17, "4"},
                                        {18, "0.25"},
                                        {20, "4"}};
  for (const auto& [entry, value] : changes) entries[entry] = value;
  std::vector<std::string> b = StillBlocks();
  b[0] = Block("INITIAL_TEMPERATURE", "3", "0.0 " + left + " 0.0003 " + right + " 0.0004 " + right);
  if (!initial.empty()) b[0] = Block("INITIAL_TEMPERATURE", "4", initial);
  b[1] = Block("CONDUCTIVITY", "2", "0.0 " + k + " 0.01 " + k);
  b[4] = Block("LEFT_BC", "2", "0.0 " + left + " 10.0 " + left);
  b[6] = Block("RIGHT_BC", "2", "0.0 " + right + " 10.0 " + right);
  dir.Write("DATA.DAT", DataDat(entries, Join(b)));
}

std::string Crossing(const char* lead, double at, double omega_at, double omega_next) {
  return Blank(15) + Format("Omega at depth %lf (m) = %20.12lf\r\n", at, omega_at) +
         Format("Omega at depth %lf (m) = %20.12lf\r\n", at + 0.0001, omega_next) +
         Format("%s, Omega is equal to 1 at depth %lf (m).\r\n", lead, at + 0.00005) + Blank(15);
}

const std::string kOmega3 = Format("Omega at node %d = %20.12lf\r\n", 3, 1.5);

TEST(Burn, OmegaOfOneNodeOrTheDepthWhereItIsOne) {
  const char* rising = "Therefore, by interpolation";
  const std::string rising_file = "Omega = 1 at depth 0.000150 (m)\r\n";
  struct Case {
    std::map<int, std::string> entries;
    bool hot_first;
    std::string out, file;
  };
  const Case cases[] = {
      {{{6, "1"}},
       true,
       Crossing("By interpolation", 0.0003, 1.5, 0.5),
       kOmega3 + "Omega = 1 at depth   0.000350 (m)\r\n"},
      {{{2, "2"}, {6, "1"}},
       false,
       Crossing(rising, 0.0001, 0.5, 1.5),
       Format("Omega at node %d = %20.12lf\r\n", 2, 1.5) + rising_file},
      {{{2, "0"}}, false, Crossing(rising, 0.0001, 0.5, 1.5), rising_file},  // no node 0 to name
      {{}, true, kOmega3, kOmega3},
      {{{6, "1"}, {12, "10^1"}}, true, kAbove, ""},
      {{{6, "1"}, {12, "10^-1"}}, true, kBelow, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    WriteSlab(dir, c.entries, c.hot_first ? kHot : kCold, c.hot_first ? kCold : kHot);
    const Dialogue d = Converse(dir);
    const bool waits = c.out == kAbove || c.out == kBelow;  // the two all-nodes outcomes wait
    EXPECT_EQ(d.pages.size(), waits ? 2u : 1u);
    EXPECT_EQ(d.out(), kFileRun + c.out);
    EXPECT_EQ(d.status, 0);
    const std::string file = dir.Read("OUTPUT.TXT");
    EXPECT_EQ(file.substr(std::min(file.find("Omega"), file.size())), c.file);
  }
  // Hot faces over a cold interior that barely conducts: only the first and
  // the last node decide.
  TempDir dir;
  WriteSlab(dir, {{6, "1"}}, kHot, kHot, "1e-9", "0.0 2046.9 0.0001 300.0 0.0003 300.0 0.0004 2046.9");
  EXPECT_EQ(Converse(dir).out(), kFileRun + kAbove);
}

TEST(Burn, NoHistoryWithAProfileTimeIsFatalInTheIntegrator) {
  TempDir dir;
  const Dialogue d = Still(dir, {{1, "0.5"}, {17, "4"}, {18, "0.25"}});
  EXPECT_EQ(d.pages, (Pages{kFileRun, ""}));
  EXPECT_EQ(d.err,
            "Numerical Recipes run-time error...\nStep size too small in routine rkdumb\n"
            "Check that all input files and data are available...now exiting to system...\n");
  EXPECT_EQ(d.status, 1);
}

TEST(Dialogue, AttendedRunPausesAtEveryPhase) {
  TempDir dir;
  WriteSlab(dir, {{7, "0"}}, kHot, kCold);
  const Dialogue d = Converse(dir);
  EXPECT_EQ(d.pages, (Pages{Banner() + "Press <Ctrl>-C to quit or <Enter> to proceed....",
                            Blank(30) + "\t\tPlease wait while model is running...." + Blank(20) +
                                "Output file created.  Press <Enter> to continue. ",
                            Blank(22) + "\tThe Burn Injury parameter, Omega, will be calculated." +
                                Blank(12) + "Press <Ctrl>-C to quit or <Enter> to proceed....",
                            kOmega3 + "The program is complete.  ", ""}));
  EXPECT_EQ(d.status, 0);
}

}  // namespace
