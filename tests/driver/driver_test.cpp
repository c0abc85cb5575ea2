// The run as a whole: console text that reaches the user before the work it
// announces, every jet failure as a stop, the burn integral's start from the
// march's first temperatures, and an allocation failure as a clean stop.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>
#include <nlohmann/json.hpp>
#include <new>
#include <string>

#include "console/console.h"
#include "driver/driver.h"
#include "model/model.h"
#include "support/support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// A copy of an example's input files in `dir`.
void CopyExample(const TempDir& dir, const char* example) {
  for (const auto& entry : fs::directory_iterator(fs::path(SKINBURN_SOURCE_DIR) / "examples" / example)) {
    if (entry.is_regular_file()) dir.Write(entry.path().filename().string(), Slurp(entry.path().string()));
  }
}

// `file` of `dir` with `from` replaced by `to` (which must be there).
void Edit(const TempDir& dir, const std::string& file, const std::string& from, const std::string& to) {
  std::string text = dir.Read(file);
  const std::size_t at = text.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  dir.Write(file, text.replace(at, from.size(), to));
}

// --- Console text on time ----------------------------------------------------

// Run in process: the captured output and where the console flushed it.
struct Flushed {
  std::string out;
  std::vector<std::size_t> points;
  int status;
};

Flushed RunInProcess(const TempDir& dir) {
  InProcess run;
  std::string arg0 = "skinburn";
  std::string arg1 = dir.path();
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  Flushed result;
  result.status = RunGuarded(Run, 2, argv);
  result.out = run.out;
  result.points = console::FlushPoints();
  return result;
}

bool FlushedAt(const Flushed& run, std::size_t at) {
  return std::find(run.points.begin(), run.points.end(), at) != run.points.end();
}

TEST(ConsoleOnTime, FlushedBeforeTheMarchAndBeforeTheBurnIntegral) {
  TempDir dir;
  CopyExample(dir, "airbag-jet");
  // Unattended, the listing on the console: the announcement before the
  // march and the march's last lines before the integration.
  Edit(dir, "DATA.DAT", "Results to file (VERBOSE flag): 1", "Results to file (VERBOSE flag): 0");
  Edit(dir, "DATA.DAT", "List T-initial: 1", "List T-initial: 0");
  Edit(dir, "DATA.DAT", "Node for the history and Omega: 0", "Node for the history and Omega: 1");
  Edit(dir, "DATA.DAT", "Omega at every node (burn depth): 1", "Omega at every node (burn depth): 0");
  // Not a multiple of the 20-line page, so that no page wait stands where
  // the burn integral starts.
  Edit(dir, "DATA.DAT", "Time steps: 1000", "Time steps: 990");
  const Flushed run = RunInProcess(dir);
  EXPECT_EQ(run.status, 0) << run.out;
  const std::string announced = "\tPlease wait while temperature distribution is generated..." + Blank(12);
  const std::size_t march = run.out.find(announced);
  ASSERT_NE(march, std::string::npos);
  EXPECT_TRUE(FlushedAt(run, march + announced.size())) << "no flush before the time march";
  const std::size_t burn = run.out.find("Omega at node 1 =");
  ASSERT_NE(burn, std::string::npos);
  EXPECT_TRUE(FlushedAt(run, burn)) << "no flush before the burn integral";
  EXPECT_TRUE(FlushedAt(run, run.out.size())) << "no flush at the end";
}

// Starts skinburn on `dir` with standard output on `out_fd` (the write side
// of a pipe or the pty's terminal) and standard input from /dev/null.
pid_t Start(const TempDir& dir, int out_fd) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out_fd, 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    execl(SKINBURN_BINARY, SKINBURN_BINARY, dir.path().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// Reads from `fd` until `text` has arrived (true) or a generous time has
// passed (false).
bool ReadUntil(int fd, std::string& got, const std::string& text) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (got.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char chunk[4096];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) return got.find(text) != std::string::npos;
    got.append(chunk, static_cast<std::size_t>(n));
  }
  return true;
}

// True while `pid` is blocked opening a file: here, only GASPROP.DAT, a
// FIFO with no writer yet.
bool BlockedInOpen(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const std::string stat = Slurp(proc + "/stat");
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos || stat.compare(paren, 3, ") S") != 0) return false;
  long number = -1;
  return std::sscanf(Slurp(proc + "/syscall").c_str(), "%ld", &number) == 1 &&
         (number == SYS_openat || number == SYS_open);
}

// Hands GASPROP.DAT through its FIFO to the program's next open of it. The
// program blocks in that open until this runs, so what it printed before is
// all it can have printed; and it has read the last table handed over,
// so no two meet in one read.
void FeedGasTable(pid_t pid, const std::string& fifo, const std::string& contents) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!BlockedInOpen(pid)) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the program never opened GASPROP.DAT";
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const int fd = open(fifo.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
  close(fd);
}

// The jet example with 5 steps, and GASPROP.DAT a FIFO that the program
// opens once before the march and once after every step.
std::string FifoJet(const TempDir& dir) {
  CopyExample(dir, "airbag-jet");
  Edit(dir, "DATA.DAT", "Time steps: 1000", "Time steps: 5");
  const std::string table = dir.Read("GASPROP.DAT");
  fs::remove(dir.path() + "GASPROP.DAT");
  EXPECT_EQ(mkfifo((dir.path() + "GASPROP.DAT").c_str(), 0600), 0);
  return table;
}

TEST(ConsoleOnTime, AnnouncementReadableWhileInsideTheMarchThroughAPipe) {
  TempDir dir;
  const std::string table = FifoJet(dir);
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = Start(dir, out[1]);
  close(out[1]);
  FeedGasTable(pid, dir.path() + "GASPROP.DAT", table);  // before the march
  // Now the program marches step 1 and blocks on the table for step 2.
  std::string got;
  EXPECT_TRUE(ReadUntil(out[0], got, "\t\tPlease wait while model is running...." + Blank(20)))
      << "the announcement did not arrive while the program was inside the march:\n" << got;
  for (int step = 1; step <= 5; ++step) FeedGasTable(pid, dir.path() + "GASPROP.DAT", table);
  ReadUntil(out[0], got, "\x01");  // to the end of the output
  close(out[0]);
  int raw = 0;
  waitpid(pid, &raw, 0);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
  EXPECT_NE(got.find("Omega Output: Omega<1 for all nodes."), std::string::npos);
}

TEST(ConsoleOnTime, AtATerminalEveryLineArrivesAsItIsWritten) {
  TempDir dir;
  const std::string table = FifoJet(dir);
  int master = -1;
  int terminal = -1;
  ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  const pid_t pid = Start(dir, terminal);
  close(terminal);
  // Blocked on the first read of the gas table, before any flush point: the
  // banner can only be there if the terminal got it line by line.
  std::string got;
  EXPECT_TRUE(ReadUntil(master, got, "for airbag safety studies")) << got;
  FeedGasTable(pid, dir.path() + "GASPROP.DAT", table);
  EXPECT_TRUE(ReadUntil(master, got, "Please wait while model is running....")) << got;
  for (int step = 1; step <= 5; ++step) FeedGasTable(pid, dir.path() + "GASPROP.DAT", table);
  ReadUntil(master, got, "\x01");  // a pty read fails once the program has gone
  close(master);
  int raw = 0;
  waitpid(pid, &raw, 0);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
}

// --- Jet failures stop the run -------------------------------------------------

struct JetFailure {
  const char* what;
  void (*make)(const TempDir&);
  std::string message;  // the start of what follows the banner
};

TEST(JetFailures, EachStopsBeforeTheReportWithStatusOne) {
  const JetFailure failures[] = {
      {"no GASPROP.DAT", [](const TempDir& d) { fs::remove(d.path() + "GASPROP.DAT"); },
       "JetConvection() Error: \r\n GASPROP.DAT could not be found... \r\n"},
      {"stand-off ratio 25",
       [](const TempDir& d) { Edit(d, "LEFTIMP.DAT", "Standoff distance: 0.05", "Standoff distance: 0.25"); },
       "\r\n\r\nError JetConvection():  On-axis Nusselt number could not be calculated.\r\n"},
      {"GASPROP.DAT of 10 rows",
       [](const TempDir& d) {
         std::string text = d.Read("GASPROP.DAT");
         std::size_t at = 0;
         for (int line = 0; line < 10 + 3 && at != std::string::npos; ++line) at = text.find('\n', at + 1);
         d.Write("GASPROP.DAT", text.substr(0, at + 1));
       },
       "JetConvection() Error: \r\n GASPROP.DAT holds fewer than 18 complete rows of gas properties... \r\n"},
      {"velocities that start late",
       [](const TempDir& d) { Edit(d, "LEFTIMP.DAT", "0.0 120.0", "0.01 120.0"); },
       "JetConvection() Error: \r\n LEFTIMP.DAT gas velocities do not cover the time 0 s... \r\n"},
  };
  for (const JetFailure& failure : failures) {
    for (const bool earlier : {false, true}) {
      TempDir dir;
      CopyExample(dir, "airbag-jet");
      failure.make(dir);
      const std::string before = "an earlier trial's report\r\n";
      if (earlier) dir.Write("OUTPUT.TXT", before);
      const RunResult run = RunOn(dir);
      EXPECT_EQ(run.status, 1) << failure.what;
      EXPECT_EQ(run.out.substr(0, Banner().size()), Banner());
      // The message once, and nothing computed after it.
      EXPECT_EQ(run.out.substr(Banner().size()), failure.message) << failure.what;
      EXPECT_EQ(run.err, "");
      if (earlier) {
        EXPECT_EQ(dir.Read("OUTPUT.TXT"), before) << failure.what;
      } else {
        EXPECT_FALSE(dir.Exists("OUTPUT.TXT")) << failure.what;
      }
    }
  }
}

TEST(JetFailures, AFailureInsideTheMarchKeepsTheStepsBeforeIt) {
  // The gas velocities end at 0.05 s: after step 501 (which used the
  // coefficient formed at 0.05 s) the next one cannot be formed.
  TempDir dir;
  CopyExample(dir, "airbag-jet");
  Edit(dir, "LEFTIMP.DAT", "Gas velocity: 3 pairs\n0.0 120.0\n0.06 120.0\n0.2 20.0",
       "Gas velocity: 2 pairs\n0.0 120.0\n0.05 120.0");
  const RunResult run = RunOn(dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("LEFTIMP.DAT gas velocities do not cover the time 0.0501 s"), std::string::npos);
  EXPECT_EQ(run.out.find("Omega"), std::string::npos);
  const std::string report = dir.Read("OUTPUT.TXT");
  EXPECT_NE(report.find("T(K) @ time    0.05010 sec"), std::string::npos);
  EXPECT_EQ(report.find("T(K) @ time    0.05020 sec"), std::string::npos);
  EXPECT_EQ(report.find("Omega"), std::string::npos);
}

// --- The burn integral starts from the march's first temperatures -----------

TEST(BurnStart, AFirstBlockThatLaysNothingStillGivesTheMarchStart) {
  // One pair per node at the node's own depth (and one beyond, the reach
  // the grid asks for): laid by Interp (INITIAL) or
  // left as read (TEMPS, whose name selects no table), the march starts
  // from the same temperatures, and so must the burn integral.
  std::string pairs;
  for (int i = 1; i <= 42; ++i) pairs += Format("%.17g %.1f\n", (i - 1) * 0.0001, 330.0 - 0.25 * (i - 1));
  struct Mode {
    std::map<int, std::string> entries;
    const char* face;     // left h, W/(m^2 K)
    const char* ambient;  // left gas temperature, K
  };
  // All nodes with the burn depth under a hot gas; node 2 alone under a
  // mild one, where the first step's share of Omega shows in its 12 places.
  for (const Mode& mode : {Mode{{{2, "0"}, {6, "1"}, {17, "200"}}, "3000.0", "420.0"},
                           Mode{{{2, "2"}, {6, "0"}, {17, "200"}}, "10.0", "330.0"}}) {
    std::vector<std::string> blocks = StillBlocks();
    blocks[4] = Block("LEFT_BC", "2", std::string("0.0 ") + mode.face + " 10.0 " + mode.face);
    blocks[5] = Block("LEFT_AMBIENT", "2", std::string("0.0 ") + mode.ambient + " 10.0 " + mode.ambient);
    std::string reports[2];
    int index = 0;
    for (const char* name : {"INITIAL", "TEMPS"}) {
      blocks[0] = "Distribution: " + std::string(name) + "\n42 pairs\n" + pairs;
      TempDir dir;
      dir.Write("DATA.DAT", DataDat(mode.entries, Join(blocks)));
      const RunResult run = RunOn(dir, "\n");
      EXPECT_EQ(run.status, 0) << run.out;
      reports[index++] = dir.Read("OUTPUT.TXT");
    }
    EXPECT_NE(reports[0].find("Omega"), std::string::npos);
    EXPECT_TRUE(reports[0] == reports[1]) << "the two starts give different reports:\n"
                                          << reports[0].substr(reports[0].rfind("Omega")) << "\n"
                                          << reports[1].substr(reports[1].rfind("Omega"));
  }
}

// --- Threads ------------------------------------------------------------------

TEST(Threads, TheBurnOfEveryNodeDoesNotDependOnThem) {
  // Every node burnt, on one thread and on three, compared to the last bit
  // through the results bundle.
  std::string reports[2];
  std::string omegas[2];
  int index = 0;
  for (const char* threads : {"1", "3"}) {
    TempDir dir;
    CopyExample(dir, "hot-liquid");
    Edit(dir, "DATA.DAT", "Time steps: 100", "Time steps: 700");
    Edit(dir, "DATA.DAT", "delta-t: 0.1 sec", "delta-t: 0.0142 sec");
    TempDir bundle;
    const RunResult run = RunBinary(std::string("--threads ") + threads + " --results '" + bundle.path() + "r' '" +
                                    dir.path() + "'");
    EXPECT_EQ(run.status, 0) << run.out;
    reports[index] = dir.Read("OUTPUT.TXT");
    const std::string json = bundle.Read("r.json");
    const std::size_t at = json.find("\"omega_unfloored\"");
    ASSERT_NE(at, std::string::npos);
    omegas[index++] = json.substr(at, json.find(']', at) - at);
  }
  EXPECT_NE(reports[0].find("Omega = 1 at depth"), std::string::npos);
  EXPECT_TRUE(reports[0] == reports[1]);
  EXPECT_EQ(omegas[0], omegas[1]);
}

// --- Allocation failures ------------------------------------------------------

TEST(AllocationFailure, EndsWithAMemoryErrorAndKeepsWhatWasPrinted) {
  InProcess run;
  const int status = RunGuarded(
      [](int, char**) -> int {
        console::Print("text printed before\r\n");
        throw std::bad_alloc();
      },
      0, nullptr);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(run.out,
            "text printed before\r\n"
            "Memory Error: \nThere is not enough memory in your PC to go on with the run.\r\n"
            "Memory Error: \nTo remedy this, reduce the number of nodes, time steps or both.\r\n");
  EXPECT_TRUE(FlushedAt({run.out, console::FlushPoints(), 1}, run.out.size()));
}

}  // namespace

// --- Resident: one trial per request ------------------------------------------

// The answer lines of `out`, parsed.
std::vector<nlohmann::json> Answers(const std::string& out) {
  std::vector<nlohmann::json> answers;
  std::size_t from = 0;
  for (std::size_t at; (at = out.find('\n', from)) != std::string::npos; from = at + 1) {
    answers.push_back(nlohmann::json::parse(out.substr(from, at - from)));
  }
  return answers;
}

// A results document without the run's own identity (and the path of its history).
std::string WithoutRunId(const std::string& text) {
  nlohmann::json doc = nlohmann::json::parse(text);
  doc.erase("run_id");
  if (doc["history"].is_object()) doc["history"].erase("run_id");
  return doc.dump();
}

TEST(Serve, EachRequestRunsAsAProcessOfItsOwnWould) {
  // Every example alone, then all of them served twice in one process in a
  // changing order, in the same directories: the console text, OUTPUT.TXT,
  // the results and the status are the same bytes, so nothing of one served
  // run carries into the next.
  const std::vector<std::string> names = {"airbag-jet", "hot-liquid", "convection", "flux-cooling"};
  std::map<std::string, std::unique_ptr<TempDir>> dirs;
  std::map<std::string, RunResult> alone;
  std::map<std::string, std::string> report, results;
  std::string requests;
  for (const std::string& name : names) {
    dirs[name] = std::make_unique<TempDir>();
    TempDir& dir = *dirs[name];
    CopyExample(dir, name.c_str());
    const std::string args = "--time-scheme bdf2 --results '" + dir.path() + "r' '" + dir.path() + "'";
    alone[name] = RunBinary(args);
    report[name] = dir.Read("OUTPUT.TXT");
    results[name] = WithoutRunId(dir.Read("r.json"));
    std::filesystem::remove(dir.path() + "OUTPUT.TXT");
  }
  std::vector<std::string> order;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t k = 0; k < names.size(); ++k) {
      order.push_back(names[round == 0 ? k : names.size() - 1 - k]);
      const std::string path = dirs[order.back()]->path();
      requests += nlohmann::json{{"args", {"--time-scheme", "bdf2", "--results", path + "r", path}}}.dump() + "\n";
    }
  }
  requests += "not json\n{\"args\": [\"--serve\"]}\n{\"args\": [1]}\n";
  const RunResult served = RunBinary("--serve", requests);
  EXPECT_EQ(served.status, 0) << served.err;
  const std::vector<nlohmann::json> answers = Answers(served.out);
  ASSERT_EQ(answers.size(), order.size() + 3);
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::string& name = order[k];
    EXPECT_EQ(answers[k]["status"].get<int>(), alone[name].status) << name;
    EXPECT_TRUE(answers[k]["stdout"].get<std::string>() == alone[name].out) << name;
    EXPECT_EQ(answers[k]["stderr"].get<std::string>(), alone[name].err) << name;
  }
  for (const std::string& name : names) {
    EXPECT_TRUE(dirs[name]->Read("OUTPUT.TXT") == report[name] + report[name]) << name;
    EXPECT_EQ(WithoutRunId(dirs[name]->Read("r.json")), results[name]) << name;
  }
  // A request that cannot be run is answered with status 2 and the reason;
  // the requests after it are still served.
  for (std::size_t k = order.size(); k < answers.size(); ++k) {
    EXPECT_EQ(answers[k]["status"].get<int>(), 2);
    EXPECT_EQ(answers[k]["stderr"].get<std::string>().rfind("skinburn: ", 0), 0u);
  }
  EXPECT_EQ(RunBinary("--serve 'dir/'").status, 2);  // it stands alone
}

TEST(Serve, AResetBetweenRequestsClearsEveryPageARunWrote) {
  // A served program's reset clears only the pages of the tables the
  // system's page map calls written: writes scattered through all of them,
  // to their first and last bytes, and to the rest of the state, are all
  // gone after it, whether the map is there or not.
  ResetModel();
  const bool selective = ResetOnlyWrittenTables();
  ModelTables& tables = M;
  auto* bytes = reinterpret_cast<unsigned char*>(&tables);
  for (std::size_t at = 0; at < sizeof(ModelTables); at += 7 * 4096 + 24) bytes[at] = 0x5a;
  bytes[sizeof(ModelTables) - 1] = 1;
  M.NodeHistory[kTableSize - 1] = {1.0, 2.0};
  M.OmegaUnflooredByNode[kTableSize - 1] = 3.0;
  M.Threads = 7;
  M.SolveFraction = 0.5;
  M.DataDir = "dir/";
  M.Crossings.push_back({});
  ResetModel();
  std::size_t left = 0;
  for (std::size_t at = 0; at < sizeof(ModelTables); ++at) left += bytes[at] != 0;
  EXPECT_EQ(left, 0u) << (selective ? "with the page map" : "without a page map");
  EXPECT_EQ(M.Threads, 1);
  EXPECT_EQ(M.SolveFraction, 1.0);
  EXPECT_TRUE(M.DataDir.empty());
  EXPECT_TRUE(M.Crossings.empty());
#if defined(__linux__)
  EXPECT_TRUE(selective);  // every Linux since 2.6.25 keeps the map
#endif
}

// --- A march without the burn -----------------------------------------------

TEST(MarchOnly, TheSameHistoryWithoutTheBurnAndNothingCarriedIntoTheNextRun) {
  // The same trial with and without --march-only: the history to the last
  // bit, the report less the burn's lines and with the option named, no
  // Omega and no crossing in the results; served before a full run, it
  // leaves that run's bytes as a process of its own gives them.
  TempDir full;
  TempDir lean;
  CopyExample(full, "hot-liquid");
  CopyExample(lean, "hot-liquid");
  const RunResult burnt = RunBinary("--results '" + full.path() + "r' '" + full.path() + "'");
  const RunResult marched = RunBinary("--march-only --results '" + lean.path() + "r' '" + lean.path() + "'");
  ASSERT_EQ(burnt.status, 0) << burnt.out;
  ASSERT_EQ(marched.status, 0) << marched.out;
  const nlohmann::json doc = nlohmann::json::parse(lean.Read("r.json"));
  const std::size_t header = doc["history"]["data_offset"].get<std::size_t>();
  EXPECT_TRUE(lean.Read("r.npy").substr(header) == full.Read("r.npy").substr(header));
  EXPECT_EQ(doc["outcome"], "march-only");
  EXPECT_EQ(doc["status"], 0);
  EXPECT_EQ(doc["reached"]["phase"], "end");
  EXPECT_EQ(doc["inputs"]["grid"]["burn_mode"], "none");
  EXPECT_TRUE(doc["crossings"].empty());
  for (const auto& omega : doc["nodes"]["omega"]) EXPECT_TRUE(omega.is_null());
  EXPECT_EQ(doc["nodes"]["peak_temperature_K"], nlohmann::json::parse(full.Read("r.json"))["nodes"]["peak_temperature_K"]);

  const std::string named = "Burn: not evaluated (--march-only): the march and its history alone\r\n";
  std::string report = lean.Read("OUTPUT.TXT");
  const std::size_t at = report.find(named);
  ASSERT_NE(at, std::string::npos);
  report.erase(at, named.size());
  const std::string whole = full.Read("OUTPUT.TXT");
  EXPECT_EQ(whole.rfind(report, 0), 0u);  // the burn's lines come last
  EXPECT_NE(whole.find("Omega = 1 at depth", report.size()), std::string::npos);
  EXPECT_NE(burnt.out.find("Omega at depth"), std::string::npos);
  EXPECT_EQ(marched.out.find("Omega at depth"), std::string::npos);
  EXPECT_NE(marched.out.find("The march is complete; no burn was evaluated (--march-only).\r\n"), std::string::npos);

  // Brief: the same run and history; of the document only what the
  // history cannot give, and of the laid tables only the conductivities.
  const RunResult brief =
      RunBinary("--march-only --results-brief --results '" + lean.path() + "b' '" + lean.path() + "'");
  ASSERT_EQ(brief.status, 0) << brief.err;
  EXPECT_EQ(brief.out, marched.out);
  EXPECT_TRUE(lean.Read("b.npy").substr(header) == lean.Read("r.npy").substr(header));
  nlohmann::json short_doc = nlohmann::json::parse(lean.Read("b.json"));
  nlohmann::json expected = doc;
  EXPECT_EQ(short_doc["brief"], true);
  int kept = 0;
  for (auto& block : expected["inputs"]["blocks"]) {
    if (!block["laid"].is_object()) continue;
    if (block["laid"]["table"] == "conductivity") {
      ++kept;
    } else {
      block["laid"]["values"] = nullptr;
    }
  }
  EXPECT_EQ(kept, 1);
  for (const char* gone : {"nodes", "output_node_history", "faces"}) expected[gone] = nullptr;
  expected["brief"] = true;
  for (nlohmann::json* d : {&short_doc, &expected}) {
    d->erase("run_id");
    (*d)["history"].erase("run_id");
    (*d)["history"].erase("file");
    (*d)["inputs"].erase("data_dir");
  }
  EXPECT_EQ(short_doc, expected);
  EXPECT_FALSE(doc.contains("brief"));

  std::filesystem::remove(full.path() + "OUTPUT.TXT");
  const std::string requests =
      nlohmann::json{{"args", {"--march-only", "--results-brief", "--results", lean.path() + "s", lean.path()}}}
          .dump() + "\n" +
      nlohmann::json{{"args", {"--results", full.path() + "r", full.path()}}}.dump() + "\n";
  const std::string before = WithoutRunId(full.Read("r.json"));
  const RunResult served = RunBinary("--serve", requests);
  const std::vector<nlohmann::json> answers = Answers(served.out);
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_EQ(answers[0]["status"].get<int>(), 0);
  EXPECT_TRUE(answers[1]["stdout"].get<std::string>() == burnt.out);
  EXPECT_EQ(WithoutRunId(full.Read("r.json")), before);
}
