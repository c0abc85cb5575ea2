// Test helpers: temporary data directories, the built binary run end to end,
// and the stages run in process with the console captured.
#pragma once

#include <map>
#include <string>
#include <string_view>

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

// Thrown by the exit hook in process: the stage ended the process.
struct ProcessEnded {
  int status;
};

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

// The banner the program prints first.
std::string Banner();

}  // namespace testing_support
