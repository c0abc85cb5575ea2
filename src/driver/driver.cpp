// The run driver: the banner, the command-line options, the stages of one
// trial in their fixed order with the start and end pauses, and the exit
// status (0 for a run that reaches its end, 1 for every stop after an error,
// 2 for a usage error).
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include <limits.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sched.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "burn/burn.h"
#include "check/check.h"
#include "console/console.h"
#include "driver/driver.h"
#include "input/input.h"
#include "model/model.h"
#include "report/report.h"
#include "results/results.h"
#include "thermal/thermal.h"

namespace {

void Banner() {
  console::Blank(5);
  console::Print("\t\t\t  VORAN Airbag Skin Pellimar\r\n");
  console::Print("\t\t\t\t  Release 9809\r\n");
  console::Blank(3);
  console::Print("\t\t\t\t Programmed by:\r\n\r\n");
  console::Print("\t\t\t  The skinburn developers\n");
  console::Print("\t\t\t  Implicit conduction through the skin,\n");
  console::Print("\t\t\t  impinging-jet convection on the exposed face\n");
  console::Print("\t\t\t  and the Arrhenius burn damage integral\n");
  console::Print("\t\t\t  for airbag safety studies\n");
  console::Blank(9);
}

// --- The command line ------------------------------------------------------

constexpr const char* kUsage =
    "Usage: skinburn [OPTIONS] DATADIR/\n"
    "Runs one trial on the data directory DATADIR/ (a prefix of every file name).\n"
    "  --check            read DATADIR/ as a run would, report what was read, and stop\n"
    "  --check=json       the same as one JSON document (see docs/results.md)\n"
    "  --results PREFIX   also write PREFIX.json and PREFIX.npy with what the run computed\n"
    "  --results-brief    with --results: leave out of PREFIX.json what the history gives\n"
    "  --threads N        threads for the burn of every node (default: the cores available; 1 = none)\n"
    "  --time-scheme S    backward-euler (the default, first order in time) or bdf2 (second order)\n"
    "  --perfusion        add the blood's perfusion (the Pennes term) from DATADIR/PERFUSE.DAT\n"
    "  --march-only       march and write the history, but evaluate no burn (no Omega, no burn depth)\n"
    "  --serve            stay resident: run the trial of each line of standard input\n"
    "                     ({\"args\": [...], \"cwd\": DIR} in JSON) and answer each with one line\n"
    "                     ({\"status\": N, \"stdout\": TEXT, \"stderr\": TEXT}); given alone\n"
    "  --version          print the version and stop\n"
    "  --help             print this help and stop\n";

struct Options {
  bool check = false;
  bool json = false;
  bool version = false;
  bool help = false;
  bool results = false;
  std::string prefix;          // of the results bundle
  int threads = 0;             // 0 = the cores available
  TimeScheme scheme = TimeScheme::kBackwardEuler;
  bool perfusion = false;      // read PERFUSE.DAT and perfuse the skin
  bool march_only = false;     // evaluate no burn after the march
  bool brief = false;          // --results-brief: the results document without what the history gives
  bool serve = false;          // stay resident and run the trials asked on standard input
  const char* dir = nullptr;   // the data directory
};

constexpr const char* kThreadsRange = "--threads needs a whole number N from 1 to 1024";
constexpr const char* kSchemeNames = "--time-scheme needs backward-euler or bdf2";

int UsageError(const std::string& problem) {
  console::ErrorPrint("skinburn: " + problem + "\n" + kUsage);
  return 2;
}

// The value of an option given as "NAME VALUE" or "NAME=VALUE" into `value`;
// false when NAME stands last with no value after it.
bool OptionValue(std::string_view arg, std::string_view name, int argc, char** argv, int& i, std::string& value) {
  if (arg != name) {
    value = std::string(arg.substr(name.size() + 1));
    return true;
  }
  if (i + 1 >= argc) return false;
  value = argv[++i];
  return true;
}

bool Names(std::string_view arg, std::string_view name) {
  return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

// Options up to the first argument that is not one; that argument is the
// data directory. Later arguments are ignored, as they always were, except
// one that looks like an option: the user meant it, and a run without it
// would quietly lack what was asked for.
// -1 when the run goes on, otherwise the status to end with.
int ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, 2) != "--") {
      options.dir = argv[i];
      for (int later = i + 1; later < argc; ++later) {
        if (std::string_view(argv[later]).substr(0, 2) == "--") {
          return UsageError("the option " + std::string(argv[later]) +
                            " stands after the data directory; options come before it");
        }
      }
      return -1;
    }
    if (arg == "--check") {
      options.check = true;
    } else if (arg == "--check=json") {
      options.check = options.json = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--help") {
      options.help = true;
    } else if (arg == "--perfusion") {
      options.perfusion = true;
    } else if (arg == "--march-only") {
      options.march_only = true;
    } else if (arg == "--results-brief") {
      options.brief = true;
    } else if (arg == "--serve") {
      if (argc != 2) return UsageError("--serve stands alone: each trial's options come with its request");
      options.serve = true;
    } else if (Names(arg, "--results")) {
      if (!OptionValue(arg, "--results", argc, argv, i, options.prefix) || options.prefix.empty()) {
        return UsageError("--results needs a PREFIX");
      }
      options.results = true;
    } else if (Names(arg, "--threads")) {
      std::string count;
      if (!OptionValue(arg, "--threads", argc, argv, i, count)) return UsageError(kThreadsRange);
      const int n = ParseInt(count);
      if (count.empty() || count.find_first_not_of("0123456789") != std::string::npos || n < 1 || n > 1024) {
        return UsageError(kThreadsRange);
      }
      options.threads = n;
    } else if (Names(arg, "--time-scheme")) {
      std::string name;
      if (!OptionValue(arg, "--time-scheme", argc, argv, i, name)) return UsageError(kSchemeNames);
      if (name == "backward-euler") {
        options.scheme = TimeScheme::kBackwardEuler;
      } else if (name == "bdf2") {
        options.scheme = TimeScheme::kBdf2;
      } else {
        return UsageError(kSchemeNames);
      }
    } else {
      return UsageError("unknown option " + std::string(arg));
    }
  }
  return -1;
}

// The cores this process may run on.
int CoresAvailable() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set) > 0 ? CPU_COUNT(&set) : 1;
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

int Trial() {
  Banner();
  console::Mark();
  if (!GetData()) return StageError("GetData() Error: %s", "Exiting Pellimar");
  M.Reached = Phase::kStart;
  if (M.BATCH != 1) {
    console::Printf("%s", "Press <Ctrl>-C to quit or <Enter> to proceed....");
    console::Wait();
    console::Blank(30);
  }
  console::Mark();
  // A failure here stops the run before anything is appended to OUTPUT.TXT.
  if (!StartStages()) return 1;
  M.StagesPassed = FaceKindOf('L') != FaceKind::kNone && FaceKindOf('R') != FaceKind::kNone;
  if (!PreRunReport()) return 1;
  console::Flush();  // the announcement stays on screen through the march
  if (!TimeMarch()) return 1;
  if (M.MarchOnly) {
    // The history is the answer (--results): a caller that integrates the
    // damage itself has no use for the program's.
    M.Reached = Phase::kEnd;
    M.Result = Outcome::kMarchOnly;
    console::Print("The march is complete; no burn was evaluated (--march-only).\r\n");
  } else if (!BurnEvaluation()) {
    return 1;
  }
  if (M.BATCH != 1) {
    console::Printf("%s", "The program is complete.  ");
    console::Wait();
  }
  return 0;
}

// --- Resident: one trial per request --------------------------------------

using nlohmann::json;

bool serving = false;  // inside a served run, which cannot serve in turn
constexpr std::size_t kRequestMax = std::size_t{1} << 20;

// The arguments and working directory of one request line into `args` (after
// the program's name) and `cwd`; what is wrong with it, or "".
std::string ParseRequest(const std::string& line, std::vector<std::string>& args, std::string& cwd) {
  const json request = json::parse(line, nullptr, false);
  if (request.is_discarded() || !request.is_object()) return "a request is one JSON object on one line";
  for (const auto& item : request.items()) {
    if (item.key() != "args" && item.key() != "cwd") return "a request holds args and cwd, not " + item.key();
  }
  if (!request.contains("args") || !request["args"].is_array()) return "a request needs args, an array of strings";
  for (const json& arg : request["args"]) {
    if (!arg.is_string()) return "a request needs args, an array of strings";
    const std::string text = arg.get<std::string>();
    if (text.find('\0') != std::string::npos) return "an argument of a request holds a NUL character";
    args.push_back(text);
  }
  if (request.contains("cwd")) {
    if (!request["cwd"].is_string()) return "a request's cwd is a directory's name";
    cwd = request["cwd"].get<std::string>();
    if (cwd.find('\0') != std::string::npos) return "a request's cwd holds a NUL character";
  }
  return "";
}

// Reads requests until the end of standard input; each is run as the same
// arguments would run in a process of their own, from its working
// directory (relative to the one the program started in), and answered on
// one line. 0 at the end of the input, 1 when the answers can no longer be
// written.
int Serve() {
  char start[PATH_MAX];
  if (getcwd(start, sizeof start) == nullptr) {
    console::ErrorPrint(std::string("skinburn: --serve cannot name its working directory: ") +
                        std::strerror(errno) + "\n");
    return 1;
  }
#if defined(__GLIBC__)
  // Memory a run frees stays with the process for the next: each run's
  // buffers (the results document, the history's rows) would otherwise be
  // handed back to the system and their pages faulted in again.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  // From here on a reset between two requests clears only the pages of the
  // tables the runs wrote (a few of a small trial) instead of all of them.
  ResetOnlyWrittenTables();
  std::string line;
  bool fresh = true;  // the model as the program started: the first run needs no reset
  for (;;) {
    const console::LineRead read = console::ReadLine(line, kRequestMax);
    if (read == console::LineRead::kEnd) return 0;
    std::vector<std::string> args{"skinburn"};
    std::string cwd;
    std::string problem = read == console::LineRead::kTooLong ? "a request is at most 1 MiB"
                                                               : ParseRequest(line, args, cwd);
    if (problem.empty() && (chdir(start) != 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0))) {
      problem = "cannot enter the directory " + cwd + ": " + std::strerror(errno);
    }
    std::string out, err;
    int status = 2;
    if (!problem.empty()) {
      err = "skinburn: " + problem + "\n";
    } else {
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      if (!fresh) ResetModel();
      fresh = false;
      console::Capture(&out, &err, "");
      serving = true;
      status = RunGuarded(Run, static_cast<int>(args.size()), argv.data());
      serving = false;
      console::Restore();
    }
    const json answer = {{"status", status}, {"stdout", out}, {"stderr", err}};
    console::Print(answer.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
    if (!console::FlushOk()) return 1;  // whoever asked is gone
  }
}

}  // namespace

int Run(int argc, char** argv) {
  if (argc < 2) {
    console::Printf("Main() Error: %s %s", "No data directory was given.\r\n",
                    "Call the program as: skinburn <data directory>/  (with the trailing separator)\r\n\r\n");
    return 1;
  }
  Options options;
  if (const int status = ParseOptions(argc, argv, options); status >= 0) return status;
  if (options.serve) return serving ? UsageError("a served run cannot serve in turn") : Serve();
  if (options.help) {
    console::Print(kUsage);
    return 0;
  }
  if (options.version) {
    console::Print("skinburn " SKINBURN_VERSION "\n");
    return 0;
  }
  if (options.brief && !options.results) return UsageError("--results-brief needs --results PREFIX");
  if (!options.dir) return UsageError("no data directory was given");
  if (std::strlen(options.dir) > static_cast<std::size_t>(kDataDirMax)) {
    console::Printf("Main() Error: %s %s", "The data directory name is longer than 63 characters.\r\n",
                    "Move the data directory to a shorter path or call the program from nearer to it.\r\n\r\n");
    return 1;
  }
  M.DataDir = options.dir;
  M.Threads = options.threads > 0 ? options.threads : CoresAvailable();
  M.Scheme = options.scheme;
  M.Perfusion = options.perfusion;
  M.MarchOnly = options.march_only;
  SetRowSink(nullptr);
  if (options.check) return CheckInput(options.json);
  if (options.results) {
    BeginResults(options.prefix, options.brief);
    if (!ResultsActive()) {
      // The reason the trial file could not be made: most often a directory
      // of the prefix that is not there.
      const int error = errno;
      const std::size_t slash = options.prefix.rfind('/');
      const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : options.prefix.substr(0, slash);
      const std::string reason = error == ENOENT ? "the directory " + dir + " does not exist" : std::strerror(error);
      return UsageError("cannot write the results to " + options.prefix + ".json: " + reason);
    }
    SetRowSink(ResultsRow);  // the history goes to PREFIX.npy row by row as the march makes it
  }
  return Trial();
}

int RunGuarded(int (*run)(int argc, char** argv), int argc, char** argv) {
  int status;
  try {
    status = run(argc, argv);
  } catch (const console::Stopped& stop) {
    status = stop.status;  // a stage that could not go on has said why
  } catch (const std::bad_alloc&) {
    console::Printf("Memory Error: %s", "\nThere is not enough memory in your PC to go on with the run.\r\n");
    console::Printf("Memory Error: %s", "\nTo remedy this, reduce the number of nodes, time steps or both.\r\n");
    status = 1;
  }
  if (ResultsActive()) status = WriteResults(status);
  console::Flush();
  return status;
}
