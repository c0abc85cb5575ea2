// Shared by the fuzz targets: one data directory per process, the console
// captured with an empty input (every wait returns at once), and an exit
// hook that turns an ending of the process into an exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// The per-process data directory, made on first use (ends with '/'), and
// removed with its contents when the process exits normally.
const std::string& DataDir();

// Writes `contents` to `name` in the data directory, replacing it.
void WriteFile(const std::string& name, std::string_view contents);
inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// One fuzz run: fresh model state pointed at the data directory, console
// captured, the exit hook set. Destruction restores the real console.
// Nothing is recorded while reading, as in a run without --check and
// --results: the record locates every word by counting the lines before
// it, which takes most of the time of a run of the input stage.
// `input_bytes`: the bytes of the data files of this run, which bound the
// pairs it can write into the model's tables.
class Session {
 public:
  explicit Session(std::size_t input_bytes);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // GetData: its result, or -1 when it ended the process.
  int RunGetData();
  // The jet coefficient the driver stores before step 1, and the one of
  // the last step, as the run would compute them after a good GetData.
  void RunJetAsDriver();
  // The program on `argv` as main calls it (RunGuarded(Run, ...)): its
  // status, or the status it ended the process with.
  int RunMain(int argc, char** argv);
  // What it printed to standard output and standard error.
  const std::string& Out() const { return out_; }
  const std::string& Err() const { return err_; }

 private:
  std::size_t input_bytes_;
  std::string out_;
  std::string err_;
};

// Sound data files. Depth lists reach 0.01 m, time lists 1 s, so that any
// DATA.DAT with NODES * DELTAX <= 0.01 and TIMESTEPS * DELTAT <= 1 passes.
extern const char kDepthFile[];  // CONDUCT.DAT and the other depth tables
extern const char kInitTempFile[];
extern const char kTimeFile[];  // LEFTBC.DAT and the other time tables
extern const char kLeftImpFile[];
extern const char kGasPropFile[];

// Writes every sound data file, LEFTIMP.DAT and GASPROP.DAT.
void WriteCompanions();

}  // namespace fuzz
