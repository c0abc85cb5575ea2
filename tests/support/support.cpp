// Test helpers.
#include "console/console.h"
#include "model/model.h"
#include "support/support.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>


namespace testing_support {
namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "skinburn-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ignored;
  // A test may have made files unreadable or read-only directories.
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

void TempDir::Write(const std::string& name, std::string_view contents) const {
  std::ofstream file(path_ + name, std::ios::binary);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string TempDir::Read(const std::string& name) const {
  std::ifstream file(path_ + name, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool TempDir::Exists(const std::string& name) const { return fs::exists(path_ + name); }

std::string Slurp(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

RunResult RunBinary(const std::string& args, std::string_view input, const std::string& cwd) {
  TempDir io;
  io.Write("stdin", input);
  const std::string command = "cd '" + cwd + "' && '" SKINBURN_BINARY "' " + args + " < '" + io.path() +
                              "stdin' > '" + io.path() + "stdout' 2> '" + io.path() + "stderr'";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.out = Slurp(io.path() + "stdout");
  result.err = Slurp(io.path() + "stderr");
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

RunResult RunOn(const TempDir& dir, std::string_view input) {
  // Every run on a data directory is made twice: with --results first, then
  // plainly from the same OUTPUT.TXT. The bundle only adds: both runs must
  // print, wait, append and end alike. The plain run's OUTPUT.TXT stays.
  const bool had_report = dir.Exists("OUTPUT.TXT") && fs::is_regular_file(dir.path() + "OUTPUT.TXT");
  const std::string before = had_report ? dir.Read("OUTPUT.TXT") : "";
  TempDir bundle;
  const RunResult with = RunBinary("--results '" + bundle.path() + "trial' '" + dir.path() + "'", input);
  const std::string report_with = dir.Read("OUTPUT.TXT");
  if (had_report) {
    dir.Write("OUTPUT.TXT", before);
  } else if (fs::is_regular_file(dir.path() + "OUTPUT.TXT")) {
    fs::remove(dir.path() + "OUTPUT.TXT");
  }
  const RunResult plain = RunBinary("'" + dir.path() + "'", input);
  EXPECT_EQ(with.status, plain.status) << "--results changed the exit status";
  EXPECT_TRUE(with.out == plain.out) << "--results changed standard output";
  EXPECT_TRUE(with.err == plain.err) << "--results changed standard error";
  EXPECT_TRUE(report_with == dir.Read("OUTPUT.TXT")) << "--results changed OUTPUT.TXT";
  EXPECT_TRUE(bundle.Exists("trial.json")) << "no results bundle";
  return plain;
}

namespace {

bool Sleeping(const std::string& proc) {
  const std::string stat = Slurp(proc + "/stat");
  const std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && stat.compare(paren, 3, ") S") == 0;
}

// True while `pid` sleeps in read(0, ...): waiting for the user. A process
// that ends between the reads of its state and of its system call shows no
// system call either, like a kernel that does not show them at all; so the
// sleep must outlast the read of the system call to count.
bool WaitsForInput(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  if (!Sleeping(proc)) return false;
  std::istringstream call(Slurp(proc + "/syscall"));
  long number = -1;
  std::string fd;
  const bool shown = static_cast<bool>(call >> number >> fd);
  if (!Sleeping(proc)) return false;
  if (!shown) return true;  // no system call shown: the sleep is the wait
  return number == SYS_read && fd == "0x0";
}

}  // namespace

std::string Dialogue::out() const {
  std::string all;
  for (const std::string& page : pages) all += page;
  return all;
}

Dialogue Converse(const TempDir& dir) {
  TempDir io;
  const std::string out_path = io.path() + "stdout";
  const std::string err_path = io.path() + "stderr";
  int feed[2];
  if (pipe(feed) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(feed[0], 0);
    close(feed[0]);
    close(feed[1]);
    dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
    dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    execl(SKINBURN_BINARY, SKINBURN_BINARY, dir.path().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::vector<std::size_t> waits;
  int raw = 0;
  while (waitpid(pid, &raw, WNOHANG) != pid) {
    int pending = 0;
    ioctl(feed[0], FIONREAD, &pending);
    if (pending == 0 && WaitsForInput(pid)) {
      waits.push_back(fs::file_size(out_path));  // the wait flushed standard output
      if (waits.size() > 10000 || write(feed[1], "\n", 1) != 1) kill(pid, SIGKILL);
    } else {
      usleep(50);
    }
  }
  close(feed[0]);
  close(feed[1]);
  Dialogue result;
  const std::string out = Slurp(out_path);
  std::size_t from = 0;
  for (const std::size_t at : waits) {
    result.pages.push_back(out.substr(from, at - from));
    from = at;
  }
  result.pages.push_back(out.substr(from));
  result.err = Slurp(err_path);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

InProcess::InProcess(std::string_view input) {
  ResetModel();
  console::Capture(&out, &err, input);
}

InProcess::~InProcess() {
  console::Restore();
}

std::string DataDat(const std::map<int, std::string>& entries, const std::string& blocks) {
  std::map<int, std::string> v = {
      {1, "0.0"},   {2, "1"},     {3, "1"},          {4, "0"},          {5, "0"},
      {6, "0"},     {7, "1"},     {8, "7"},          {9, "12/07/26"},   {10, "TST"},
      {11, "0"},    {12, "10^94"}, {13, "0"},        {14, "0"},         {15, "CONVECTION"},
      {16, "CONVECTION"}, {17, "100"}, {18, "0.01"}, {19, "0.0001"},     {20, "41"}};
  for (const auto& [entry, value] : entries) v[entry] = value;
  std::string text =
      "# test parameter file\n"
      "Title line of the test\n"
      "Listing time for the full temperature profile: " + v[1] + " sec\n"
      "Node for the history and Omega: " + v[2] + " node\n"
      "Results to file (VERBOSE flag): " + v[3] + "\n"
      "List A-matrix: " + v[4] + "\n"
      "List T-initial: " + v[5] + "\n"
      "Omega at every node (burn depth): " + v[6] + "\n"
      "No pauses: " + v[7] + "\n"
      "Trial number: " + v[8] + "\n"
      "Date of execution: " + v[9] + "\n"
      "Name of operator: " + v[10] + "\n"
      "Frequency factor mantissa: " + v[11] + "\n";
  if (v[11] != "0") text += "Exponent: " + v[12] + "\n";
  text +=
      "Activation-energy: " + v[13] + "\n"
      "Gas-constant: " + v[14] + "\n"
      "Left BC: " + v[15] + "\n"
      "RBC: " + v[16] + "\n"
      "Time steps: " + v[17] + "\n"
      "delta-t: " + v[18] + " sec\n"
      "delta-x: " + v[19] + " m\n"
      "NODES: " + v[20] + "\n";
  text += blocks.empty() ? UniformBlocks() : blocks;
  return text;
}

std::string UniformBlocks(double depth, double time) {
  char d[64];
  char t[64];
  std::snprintf(d, sizeof d, "%.17g", depth);
  std::snprintf(t, sizeof t, "%.17g", time);
  const std::string D(d);
  const std::string T(t);
  return "Distribution: INITIAL_TEMPERATURE\n2 pairs\n0.0 310.0\n" + D + " 310.0\n"
         "! CONDUCTIVITY\n2 pairs\n0.0 0.5\n" + D + " 0.5\n"
         "! DENSITY\n2 pairs\n0.0 1000.0\n" + D + " 1000.0\n"
         "! HEAT_CAPACITY\n2 pairs\n0.0 4000.0\n" + D + " 4000.0\n"
         "! LEFT_BC\n2 pairs\n0.0 1000.0\n" + T + " 1000.0\n"
         "! LEFT_AMBIENT\n2 pairs\n0.0 400.0\n" + T + " 400.0\n"
         "! RIGHT_BC\n2 pairs\n0.0 10.0\n" + T + " 10.0\n"
         "! RIGHT_AMBIENT\n2 pairs\n0.0 310.0\n" + T + " 310.0\n"
         "!\n";
}

std::string Block(const std::string& name, const std::string& count, const std::string& pairs) {
  return "! " + name + "\n" + count + " pairs\n" + pairs + "\n";
}

std::vector<std::string> StillBlocks() {
  std::vector<std::string> blocks;
  for (const auto& [name, value] : {std::pair{"INITIAL_TEMPERATURE", "310.0"},
                                    {"CONDUCTIVITY", "0.5"},
                                    {"DENSITY", "1000.0"},
                                    {"HEAT_CAPACITY", "4000.0"}}) {
    blocks.push_back(Block(name, "2", std::string("0.0 ") + value + " 0.01 " + value));
  }
  for (const char* name : {"LEFT_BC", "LEFT_AMBIENT", "RIGHT_BC", "RIGHT_AMBIENT"}) {
    blocks.push_back(Block(name, "2", "0.0 310.0 10.0 310.0"));
  }
  return blocks;
}

std::string Join(const std::vector<std::string>& blocks) {
  std::string text;
  for (const std::string& block : blocks) text += block;
  return text + "!\n";
}

std::string Format(const char* format, ...) {
  char text[1024];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Blank(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += "\r\n";
  return text;
}

std::string Banner() {
  std::string b;
  for (int i = 0; i < 5; ++i) b += "\r\n";
  b += "\t\t\t  VORAN Airbag Skin Pellimar\r\n";
  b += "\t\t\t\t  Release 9809\r\n";
  for (int i = 0; i < 3; ++i) b += "\r\n";
  b += "\t\t\t\t Programmed by:\r\n\r\n";
  b += "\t\t\t  The skinburn developers\n";
  b += "\t\t\t  Implicit conduction through the skin,\n";
  b += "\t\t\t  impinging-jet convection on the exposed face\n";
  b += "\t\t\t  and the Arrhenius burn damage integral\n";
  b += "\t\t\t  for airbag safety studies\n";
  for (int i = 0; i < 9; ++i) b += "\r\n";
  return b;
}

}  // namespace testing_support
