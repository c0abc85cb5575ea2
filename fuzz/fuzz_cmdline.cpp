// The command line: the fuzzer's bytes split at line ends into the
// arguments after the program's name, then the program as main calls it,
// RunGuarded(Run, argc, argv), with the console captured (every wait returns
// at once) and the ending of the process turned into an exception.
//
// Everything stays in the per-process temporary directory: the run works in
// it (the working directory is changed for the run and restored after), every
// '/' is dropped from the arguments, so that each names a file of that
// directory, and then the word @D becomes "d/" and @E "e/", two small sound
// data directories inside it (5 nodes, 4 steps; d/ the burn of every node
// with OUTPUT.TXT, ending with status 0; e/ one node under the jet, on the
// console, with the pauses, whose burn stage refuses the Omega and ends
// with status 1). Every file a run
// leaves is removed after it, and the interrupt handlers that a run may
// install are put back as they were, so that nothing passes from one input
// to the next.
//
// What must hold: the status is 0, 1 or 2; 2 comes with the usage on
// standard error; no temporary file (*.tmp) is left behind; a PREFIX.json the
// run wrote is one JSON document of the kind "results".
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_common.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxArgs = 24;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

const char kEntries[] =
    "# fuzz run: 5 nodes 1 mm apart, 4 steps of 0.1 s\n"
    "Fuzz trial\n"
    "Listing time for the full temperature profile: %s sec\n"
    "Node for the history and Omega: %s node\n"
    "Results to file (VERBOSE flag): %s\n"
    "List A-matrix: 1\n"
    "List T-initial: 1\n"
    "Omega at every node (burn depth): %s\n"
    "No pauses: %s\n"
    "Trial number: 1\n"
    "Date of execution: 01/01/26\n"
    "Name of operator: FZ\n"
    "Frequency factor mantissa: 3.1\n"
    "Exponent: 10^98\n"
    "Activation-energy: 6.28e5\n"
    "Gas-constant: 8.314\n"
    "Left BC: CONVECTION\n"
    "RBC: TEMPERATURE\n"
    "Time steps: 4\n"
    "delta-t: 0.1 sec\n"
    "delta-x: 0.001 m\n"
    "NODES: 5\n"
    "Distribution: INITIAL_TEMPERATURE\n2 pairs\n0.0 310.0\n0.01 310.0\n"
    "! CONDUCTIVITY\n0 file\n"
    "! DENSITY\n2 pairs\n0.0 1000.0\n0.01 1000.0\n"
    "! HEAT_CAPACITY\n2 pairs\n0.0 4000.0\n0.01 4000.0\n"
    "! LEFT_BC\n%s\n"
    "! LEFT_AMBIENT\n2 pairs\n0.0 400.0\n1.0 400.0\n"
    "! RIGHT_BC\n2 pairs\n0.0 310.0\n1.0 310.0\n"
    "! RIGHT_AMBIENT\n2 pairs\n0.0 310.0\n1.0 310.0\n"
    "!\n";

std::string DataDat(const char* outtime, const char* outnode, const char* verbose, const char* burndepth,
                    const char* batch, const char* left) {
  char text[sizeof kEntries + 256];
  std::snprintf(text, sizeof text, kEntries, outtime, outnode, verbose, burndepth, batch, left);
  return text;
}

// A sound data directory `name` inside the working directory.
void WriteDataDir(const std::string& name, const std::string& data_dat) {
  const std::string dir = fuzz::DataDir() + name + "/";
  fs::create_directories(dir);
  const auto write = [&](const char* file, std::string_view text) {
    std::ofstream(dir + file, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
  };
  write("DATA.DAT", data_dat);
  write("CONDUCT.DAT", fuzz::kDepthFile);
  write("LEFTIMP.DAT", fuzz::kLeftImpFile);
  write("GASPROP.DAT", fuzz::kGasPropFile);
}

const std::set<std::string> kDataFiles = {"DATA.DAT", "CONDUCT.DAT", "LEFTIMP.DAT", "GASPROP.DAT"};

void Setup() {
  WriteDataDir("d", DataDat("0.0", "0", "1", "1", "1", "2 pairs\n0.0 50.0\n1.0 50.0"));
  WriteDataDir("e", DataDat("0.0", "3", "0", "0", "0", "-1 jet"));
}

// An argument made safe: no '/', then @D and @E as the data directories.
std::string Confined(std::string_view raw) {
  std::string arg;
  for (const char c : raw) {
    if (c != '/') arg += c;
  }
  for (const auto& [word, dir] : {std::pair{"@D", "d/"}, {"@E", "e/"}}) {
    for (std::size_t at = arg.find(word); at != std::string::npos; at = arg.find(word, at + 2)) {
      arg.replace(at, 2, dir);
    }
  }
  return arg;
}

[[noreturn]] void Breach(const std::string& what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_cmdline: %s\n%s\n", what.c_str(), detail.c_str());
  std::abort();
}

// Every file the run made is checked, then removed: the working directory
// keeps d/ and e/ with their data files only.
void CheckAndClean() {
  std::vector<fs::path> made;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(".", error)) {
    const fs::path path = entry.path().lexically_normal();
    const std::string first = path.begin()->string();
    const bool data_dir = entry.is_directory() && path.parent_path().empty() && (first == "d" || first == "e");
    const bool data_file = (first == "d" || first == "e") && path.parent_path().string() == first &&
                           kDataFiles.count(path.filename().string()) > 0;
    if (!data_dir && !data_file) made.push_back(path);
  }
  for (const fs::path& path : made) {
    const std::string name = path.filename().string();
    if (name.size() >= 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
      Breach("a temporary file was left behind", path.string());
    }
    if (name.size() >= 5 && name.compare(name.size() - 5, 5, ".json") == 0 && fs::is_regular_file(path)) {
      std::ifstream in(path, std::ios::binary);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
      if (doc.is_discarded() || !doc.is_object() || doc.value("kind", "") != "results") {
        Breach("a results file is not a results document", path.string() + "\n" + text);
      }
    }
  }
  for (const fs::path& path : made) fs::remove_all(path, error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (Setup(), true);
  (void)ready;
  std::vector<std::string> args = {"skinburn"};
  std::string_view rest = fuzz::Bytes(data, size);
  while (!rest.empty() && args.size() <= kMaxArgs) {
    const std::size_t end = rest.find('\n');
    args.push_back(Confined(rest.substr(0, end)));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  struct sigaction kept[std::size(kSignals)];
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], nullptr, &kept[i]);
  const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || chdir(fuzz::DataDir().c_str()) != 0) Breach("cannot enter the temporary directory", "");

  int status;
  std::string err;
  {
    fuzz::Session session(0);
    status = session.RunMain(static_cast<int>(args.size()), argv.data());
    err = session.Err();
  }
  if (status < 0 || status > 2) Breach("a status other than 0, 1 or 2: " + std::to_string(status), err);
  if (status == 2 && (err.rfind("skinburn: ", 0) != 0 || err.find("Usage: skinburn") == std::string::npos)) {
    Breach("status 2 without the usage message", err);
  }
  CheckAndClean();

  if (fchdir(home) != 0) Breach("cannot return to the working directory", "");
  close(home);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &kept[i], nullptr);
  return 0;
}
