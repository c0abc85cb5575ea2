// Test helpers: temporary data directories, the built binary run end to end,
// and the stages run in process with the console captured.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes. path() ends with '/', ready as a DataDir.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  void Write(const std::string& name, std::string_view contents) const;
  std::string Read(const std::string& name) const;  // "" when missing
  bool Exists(const std::string& name) const;

 private:
  std::string path_;
};

// The whole of a file, "" when it cannot be read.
std::string Slurp(const std::string& path);

struct RunResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status
};

// Runs the built skinburn with `args` (a shell word list, e.g. "'dir/'"),
// from the working directory `cwd`, feeding `input` to standard input.
RunResult RunBinary(const std::string& args, std::string_view input = "",
                    const std::string& cwd = ".");
// The same with the data directory `dir` as the one argument.
RunResult RunOn(const TempDir& dir, std::string_view input = "");

// A run of the built skinburn on `dir` as a user at the console would have
// it: each time the program blocks reading standard input, one Enter is
// typed. pages[k] is what it printed before its wait k + 1; the last page is
// what it printed after its last wait, so pages.size() is the number of
// waits plus one.
struct Dialogue {
  std::vector<std::string> pages;
  std::string err;
  int status = -1;
  std::string out() const;  // every page, joined
};
Dialogue Converse(const TempDir& dir);

// Resets the model state and captures the console for one in-process test.
// Destruction restores the real console.
class InProcess {
 public:
  explicit InProcess(std::string_view input = "");
  ~InProcess();
  InProcess(const InProcess&) = delete;
  InProcess& operator=(const InProcess&) = delete;
  std::string out;
  std::string err;
};

// A DATA.DAT for tests: the twenty entries with the given values (entry
// number -> value word; the others take sound defaults: a 41-node slab,
// 100 steps of 0.01 s, both faces CONVECTION, all to OUTPUT.TXT, BATCH 1),
// followed by `blocks`, or by eight uniform inline blocks when empty.
std::string DataDat(const std::map<int, std::string>& entries = {}, const std::string& blocks = "");

// Eight inline blocks reaching depth `depth` m and time `time` s: 310 K,
// k 0.5, rho 1000, c 4000, left h 1000 with ambient 400 K, right h 10 with
// ambient 310 K.
std::string UniformBlocks(double depth = 0.01, double time = 10.0);

// One distribution block as written in DATA.DAT: the "!" marker, the name,
// the count word with one free word, then the pairs as given.
std::string Block(const std::string& name, const std::string& count, const std::string& pairs);

// The eight blocks of a slab in which nothing heats: 310 K throughout, k 0.5,
// rho 1000, c 4000 to 0.01 m, and every face value and ambient 310 to 10 s
// (neutral for CONVECTION, FLUX or TEMPERATURE). Edit them, then Join.
std::vector<std::string> StillBlocks();
std::string Join(const std::vector<std::string>& blocks);  // adds the closing "!"

// printf into a string: the expected report lines, from their formats.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `count` times "\r\n".
std::string Blank(int count);

// The banner the program prints first.
std::string Banner();

}  // namespace testing_support
