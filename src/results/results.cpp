// The results bundle of a run: PREFIX.json (what was read, how the run
// ended, per node the peak temperature and Omega, the crossings of Omega = 1
// in both depth conventions, the output node's history) and PREFIX.npy (the
// full-precision temperature history, written row by row as the march makes
// it, so that it is never held in memory).
//
// The two files are one pair or nothing:
// - When the run starts, PREFIX.json and PREFIX.npy of an earlier run are
//   removed, and so are the partial files of runs that died (a partial file
//   is held locked by its run while it lives).
// - While the run goes, both are written under names of their own in the
//   target directory, PREFIX.npy.partial-PID-XXXXXX and
//   PREFIX.json.partial-PID-XXXXXX. The .npy header always states the rows
//   that are on disk, so a partial history left by a killed run still loads.
//   SIGINT, SIGTERM, SIGHUP and SIGPIPE remove them before the run dies.
// - At the end both are renamed into place together, under a lock on the
//   directory, the JSON already there removed first and the new one renamed
//   last: of two runs on one prefix the last to finish leaves its pair
//   whole, and no moment shows one run's JSON beside another's history. The JSON names its history by the run id, the .npy's size and the
//   CRC-32 of its rows. A write that fails leaves neither file, and the run
//   ends with status 1.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "facts/facts.h"
#include "report/report.h"
#include "results/results.h"

using nlohmann::json;

namespace {

constexpr std::size_t kNpyHeader = 128;           // bytes: room for any shape
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;  // rows handed to the file at a time
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The partial files' names, for the signal handler: fixed buffers, changed
// only while the interrupts are held off. Empty when there is none.
char npy_partial[PATH_MAX];
char json_partial[PATH_MAX];

extern "C" void RemovePartialsAndDie(int signal_number) {
  if (npy_partial[0] != '\0') unlink(npy_partial);
  if (json_partial[0] != '\0') unlink(json_partial);
  // The signal's own ending, as without the bundle.
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

// Holds the interrupts off for its lifetime: a partial file is named and
// created, or the pair renamed, as one step.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : kInterrupts) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
  sigset_t old_;
};

// An exclusive lock on the target directory for its lifetime: the pair is
// renamed, earlier files removed and partial files made or judged dead
// under it. Without a readable directory it locks nothing.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& dir) : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool WriteAllAt(int fd, const char* data, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t written = pwrite(fd, data, size, offset);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
    offset += written;
  }
  return true;
}

// The .npy header of a `rows` x `columns` array of doubles in C order, of
// kNpyHeader bytes whatever the shape, so that it can be rewritten in place
// as rows reach the file.
std::string NpyHeader(std::size_t rows, std::size_t columns) {
  const char* descr = std::endian::native == std::endian::little ? "<f8" : ">f8";
  std::string dict = std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (" +
                     std::to_string(rows) + ", " + std::to_string(columns) + "), }";
  dict.append(kNpyHeader - 10 - 1 - dict.size(), ' ');
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xFF);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

// The first value of the history that is not a number or is infinite.
struct NonFinite {
  bool found = false;
  int row = 0;
  int node = 0;
  double value = 0;
  int rows = 0;  // history rows holding one or more
};

// The state of the bundle for the one run of the process.
struct Bundle {
  bool active = false;
  bool failed = false;   // a write failed; reported once
  bool brief = false;    // --results-brief: the document without what the history gives
  std::string prefix;
  std::string dir;       // the target directory
  std::string base;      // the prefix's last component
  std::string run_id;
  mode_t file_mode = 0644;
  json inputs;           // the input facts as the march started; null before

  // PREFIX.npy while the march writes it.
  int history = -1;
  std::vector<char> pending;  // rows not yet handed to the file
  std::size_t rows_on_disk = 0;
  std::uint64_t data_bytes = 0;
  unsigned long crc = 0;      // CRC-32 of the rows on disk

  int rows = 0;           // history rows made
  int output_node = 0;    // OUTNODE as the march started
  std::vector<double> peak_temperature;  // per node, over the finite values
  std::vector<double> peak_time;
  std::vector<char> not_finite;          // per node: a value was not finite
  NonFinite non_finite;
  std::vector<double> output_times;         // s
  std::vector<double> output_temperatures;  // K
  std::vector<FaceStep> left_face;          // steps 1, 2, ...
  std::vector<FaceStep> right_face;
};
Bundle bundle;

void Complain(const std::string& path, int error) {
  console::ErrorPrint("skinburn: could not write " + path + ": " + std::strerror(error) + "\n");
}

// Records the first failure: its message, and status 1 at the end.
void Fail(const std::string& path, int error = errno) {
  if (!bundle.failed) Complain(path, error);
  bundle.failed = true;
}

// A new partial file for `kind` ("npy" or "json") in `name`, created and
// locked under the directory lock; -1 on failure.
int MakePartial(const char* kind, char (&name)[PATH_MAX]) {
  const std::string pattern =
      bundle.prefix + "." + kind + ".partial-" + std::to_string(static_cast<long>(getpid())) + "-XXXXXX";
  if (pattern.size() >= sizeof name) {
    errno = ENAMETOOLONG;
    return -1;
  }
  InterruptsHeld held;
  DirectoryLock lock(bundle.dir);
  std::memcpy(name, pattern.c_str(), pattern.size() + 1);
  const int fd = mkostemp(name, O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    name[0] = '\0';
    errno = error;
    return -1;
  }
  flock(fd, LOCK_EX | LOCK_NB);  // held while the run lives
  fchmod(fd, bundle.file_mode);
  return fd;
}

void RemovePartial(char (&name)[PATH_MAX]) {
  InterruptsHeld held;
  if (name[0] != '\0') unlink(name);
  name[0] = '\0';
}

// Whether `name` is a partial file of this prefix: PREFIX's last component,
// ".npy.partial-" or ".json.partial-", the process id, '-', six characters.
bool IsPartialName(const std::string& name) {
  for (const char* kind : {".npy.partial-", ".json.partial-"}) {
    const std::string head = bundle.base + kind;
    if (name.size() <= head.size() || name.compare(0, head.size(), head) != 0) continue;
    const std::string tail = name.substr(head.size());
    const std::size_t dash = tail.find('-');
    if (dash == 0 || dash == std::string::npos || tail.size() != dash + 7) continue;
    if (tail.find_first_not_of("0123456789") != dash) continue;
    return true;
  }
  return false;
}

// Under the directory lock: removes the partial files of runs that died (no
// process holds their lock) and the pair of an earlier run.
void ClearEarlier() {
  DirectoryLock lock(bundle.dir);
  if (DIR* dir = opendir(bundle.dir.c_str())) {
    std::vector<std::string> dead;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (!IsPartialName(name)) continue;
      const std::string path = bundle.dir + "/" + name;
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
      if (fd < 0) continue;
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) dead.push_back(path);
      close(fd);
    }
    closedir(dir);
    for (const std::string& path : dead) unlink(path.c_str());
  }
  // Not a directory of the same name: that is the user's, and the rename
  // at the end will fail on it.
  for (const char* suffix : {".json", ".npy"}) {
    const std::string path = bundle.prefix + suffix;
    if (unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR) Fail(path);
  }
}

std::string RunId() {
  char text[33];
  try {
    std::random_device device;
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x", device(), device(), device(), device());
  } catch (const std::exception&) {
    std::snprintf(text, sizeof text, "%016lx%016lx", static_cast<unsigned long>(getpid()),
                  static_cast<unsigned long>(time(nullptr)));
  }
  return text;
}

// The dispositions before InstallHandlers, put back when the bundle is
// written.
struct sigaction handlers_before[std::size(kInterrupts)];
bool handlers_installed = false;

void InstallHandlers() {
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
    struct sigaction now {};
    struct sigaction& before = handlers_before[i];
    if (sigaction(kInterrupts[i], nullptr, &before) != 0) before.sa_handler = SIG_IGN;
    if (before.sa_handler == SIG_IGN) continue;  // kept ignored
    now.sa_handler = RemovePartialsAndDie;
    sigemptyset(&now.sa_mask);
    now.sa_flags = 0;
    sigaction(kInterrupts[i], &now, nullptr);
  }
  handlers_installed = true;
}

void RestoreHandlers() {
  if (!handlers_installed) return;
  for (std::size_t i = 0; i < std::size(kInterrupts); ++i) {
    if (handlers_before[i].sa_handler != SIG_IGN) sigaction(kInterrupts[i], &handlers_before[i], nullptr);
  }
  handlers_installed = false;
}

// A history write failed: reported once, its partial file removed, and no
// more rows go to it.
void AbandonHistory() {
  Fail(bundle.prefix + ".npy");
  close(bundle.history);
  bundle.history = -1;
  RemovePartial(npy_partial);
  bundle.pending.clear();
}

// Hands the pending rows to the file, then rewrites the header with the
// rows now on disk: the header never claims a row that is not there.
void FlushRows() {
  if (bundle.history < 0 || bundle.pending.empty()) return;
  const std::size_t row_bytes = sizeof(double) * static_cast<std::size_t>(M.NODES);
  if (!WriteAll(bundle.history, bundle.pending.data(), bundle.pending.size())) {
    AbandonHistory();
    return;
  }
  bundle.crc = crc32_z(bundle.crc, reinterpret_cast<const Bytef*>(bundle.pending.data()), bundle.pending.size());
  bundle.data_bytes += bundle.pending.size();
  assert(bundle.pending.size() % row_bytes == 0);  // whole rows only
  bundle.rows_on_disk += bundle.pending.size() / row_bytes;
  bundle.pending.clear();
  const std::string header = NpyHeader(bundle.rows_on_disk, static_cast<std::size_t>(M.NODES));
  if (!WriteAllAt(bundle.history, header.data(), header.size(), 0)) AbandonHistory();
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kInput: return "input";
    case Phase::kStart: return "start";
    case Phase::kMarch: return "march";
    case Phase::kBurn: return "burn";
    case Phase::kEnd: return "end";
  }
  return "input";
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kBurnDepth: return "burn-depth";
    case Outcome::kOmegaAtNode: return "omega-at-node";
    case Outcome::kAllAbove: return "all-above";
    case Outcome::kAllBelow: return "all-below";
    case Outcome::kMarchOnly: return "march-only";
    case Outcome::kNone: return "error";
  }
  return "error";
}

std::string Fixed(double value, int width, int decimals) {
  LineBuffer line;
  line.Fixed(value, width, decimals);
  return line.str();
}

// Every bracket of Omega = 1 between neighbouring nodes, whatever the
// outcome (the report prints them only for a burn depth).
json Crossings() {
  json list = json::array();
  for (const Crossing& c : M.Crossings) {
    const int i = c.node;
    list.push_back({{"nodes", {i, i + 1}},
                    {"direction", c.falling ? "falling" : "rising"},
                    {"depth_m", c.depth},
                    {"report_depth_m", c.report_depth},
                    {"printed", Fixed(c.report_depth, 0, 6)}});
  }
  return list;
}

// One face, step by step: its row's coefficient and ambient, its node's
// temperature and the heat flux into the skin (NaN, as null, where the face
// type has none).
json FaceSeries(char side, const std::vector<FaceStep>& steps) {
  json h = json::array(), ambient = json::array(), surface = json::array(), flux = json::array();
  const auto number = [](double value) { return std::isfinite(value) ? json(value) : json(nullptr); };
  for (const FaceStep& step : steps) {
    h.push_back(number(step.h));
    ambient.push_back(number(step.ambient));
    surface.push_back(number(step.surface));
    flux.push_back(number(step.flux));
  }
  return {{"type", FaceKindName(FaceKindOf(side))}, {"h_W_m2K", h}, {"ambient_K", ambient}, {"surface_K", surface},
          {"flux_W_m2", flux}};
}

json Faces() {
  if (bundle.left_face.empty()) return nullptr;
  json time = json::array();
  for (std::size_t r = 1; r <= bundle.left_face.size(); ++r) time.push_back(static_cast<double>(r) * M.DELTAT);
  return {{"time_s", time}, {"left", FaceSeries('L', bundle.left_face)},
          {"right", FaceSeries('R', bundle.right_face)}};
}

json NonFiniteRecord() {
  const NonFinite& n = bundle.non_finite;
  if (!n.found) return nullptr;
  const char* value = std::isnan(n.value) ? "nan" : n.value > 0 ? "inf" : "-inf";
  return {{"step", n.row},
          {"time_s", n.row * M.DELTAT},
          {"node", n.node},
          {"depth_m", (n.node - 1) * M.DELTAX},
          {"value", value},
          {"rows", n.rows}};
}

// The history: ended (the last rows, the header) and renamed into place
// with the JSON, or both removed. Interrupts are held and the directory
// locked by the caller.
void Publish(const std::string& text) {
  const std::string npy = bundle.prefix + ".npy";
  const std::string path = bundle.prefix + ".json";
  const int fd = MakePartial("json", json_partial);
  if (fd < 0) {
    Fail(path);
  } else {
    const bool written = WriteAll(fd, text.data(), text.size());
    const int error = errno;
    if (close(fd) != 0 || !written) Fail(path, written ? errno : error);
  }
  if (bundle.failed) {
    RemovePartial(json_partial);
    RemovePartial(npy_partial);
    return;
  }
  InterruptsHeld held;
  DirectoryLock lock(bundle.dir);
  // The JSON already in place goes first: between the renames below the
  // directory holds no JSON at all, never one run's JSON beside another's
  // history. (A reader that opened the old JSON before checks the history's
  // size and CRC-32 against it.)
  if (unlink(path.c_str()) != 0 && errno != ENOENT && errno != EISDIR) {
    Fail(path);
    RemovePartial(json_partial);
    RemovePartial(npy_partial);
    return;
  }
  bool placed_history = false;
  if (npy_partial[0] != '\0') {
    if (std::rename(npy_partial, npy.c_str()) != 0) {
      Fail(npy);
    } else {
      placed_history = true;
      npy_partial[0] = '\0';
    }
  } else if (unlink(npy.c_str()) != 0 && errno != ENOENT) {
    Fail(npy);  // a history of another run must not stand beside this JSON
  }
  if (!bundle.failed && std::rename(json_partial, path.c_str()) != 0) {
    Fail(path);
    if (placed_history) unlink(npy.c_str());
  }
  if (!bundle.failed) json_partial[0] = '\0';
  if (json_partial[0] != '\0') unlink(json_partial);
  if (npy_partial[0] != '\0') unlink(npy_partial);
  json_partial[0] = npy_partial[0] = '\0';
}

// A brief document keeps of the tables laid on the grid only the
// conductivities, by which a depth between two nodes of different
// conductivity is read; the other values are left out (null).
void LeaveOutLaidValues(json& inputs) {
  if (!inputs.contains("blocks") || !inputs["blocks"].is_array()) return;
  const std::string kept = BlockOf('C')->name;
  for (json& block : inputs["blocks"]) {
    if (!block.is_object() || !block.contains("laid") || !block["laid"].is_object()) continue;
    json& laid = block["laid"];
    if (!(laid.contains("table") && laid["table"] == kept)) laid["values"] = nullptr;
  }
}

// Per node: its depth, its peak and when it came, and its Omega where the
// burn was evaluated for it.
json NodeArrays(bool burnt, bool all_nodes, int output_node) {
  json depth = json::array();
  json peak = json::array();
  json peak_time = json::array();
  json omega = json::array();
  json unfloored = json::array();
  for (int i = 1; i <= M.NODES; ++i) {
    depth.push_back((i - 1) * M.DELTAX);
    const std::size_t at = static_cast<std::size_t>(i - 1);
    if (bundle.not_finite[at]) {
      peak.push_back(nullptr);
      peak_time.push_back(nullptr);
    } else {
      peak.push_back(bundle.peak_temperature[at]);
      peak_time.push_back(bundle.peak_time[at]);
    }
    if (burnt && all_nodes) {
      omega.push_back(M.OmegaByNode[i]);
      unfloored.push_back(M.OmegaUnflooredByNode[i]);
    } else if (burnt && i == output_node) {
      omega.push_back(M.Omega);
      unfloored.push_back(M.OmegaUnfloored);
    } else {
      omega.push_back(nullptr);
      unfloored.push_back(nullptr);
    }
  }
  return {{"depth_m", std::move(depth)},
          {"peak_temperature_K", std::move(peak)},
          {"peak_time_s", std::move(peak_time)},
          {"omega", std::move(omega)},
          {"omega_unfloored", std::move(unfloored)}};
}

}  // namespace

void BeginResults(const std::string& prefix, bool brief) {
  // A fresh bundle for every run of the process (tests and fuzzing make
  // many): nothing of an earlier run's history or failure carries over.
  if (bundle.history >= 0) close(bundle.history);
  // The buffer of pending rows is kept, emptied, with its room: a resident
  // program's runs then neither grow it again nor touch fresh pages.
  std::vector<char> pending = std::move(bundle.pending);
  pending.clear();
  bundle = Bundle{};
  bundle.pending = std::move(pending);
  bundle.pending.reserve(2 * kFlushBytes);
  bundle.brief = brief;
  const std::size_t slash = prefix.rfind('/');
  bundle.prefix = prefix;
  bundle.dir = slash == std::string::npos ? "." : slash == 0 ? "/" : prefix.substr(0, slash);
  bundle.base = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  const mode_t mask = umask(0);
  umask(mask);
  bundle.file_mode = static_cast<mode_t>(0666 & ~mask);
  // Whether the bundle can be written at all is found out before the run.
  const int probe = MakePartial("json", json_partial);
  if (probe < 0) return;
  close(probe);
  RemovePartial(json_partial);
  bundle.run_id = RunId();
  ClearEarlier();
  InstallHandlers();
  bundle.active = true;
  M.Record.on = true;
  console::KeepSinceMark(true);
}

bool ResultsActive() { return bundle.active; }

void ResultsRow(int r, const double* u) {
  if (!bundle.active) return;
  const int nodes = M.NODES;
  const std::size_t count = static_cast<std::size_t>(nodes);
  if (r == 0) {
    // What was read, before the burn evaluation works on OUTNODE.
    bundle.inputs = InputDocument();
    bundle.output_node = M.OUTNODE;
    bundle.peak_temperature.assign(count, -std::numeric_limits<double>::infinity());
    bundle.peak_time.assign(count, 0.0);
    bundle.not_finite.assign(count, 0);
    bundle.crc = crc32_z(0, nullptr, 0);
    if (!bundle.failed) {
      bundle.history = MakePartial("npy", npy_partial);
      if (bundle.history < 0) {
        Fail(bundle.prefix + ".npy");
      } else {
        const std::string header = NpyHeader(0, count);
        if (!WriteAll(bundle.history, header.data(), header.size())) AbandonHistory();
      }
    }
  }
  if (bundle.history >= 0) {
    const char* bytes = reinterpret_cast<const char*>(u + 1);
    bundle.pending.insert(bundle.pending.end(), bytes, bytes + count * sizeof(double));
    if (bundle.pending.size() >= kFlushBytes) FlushRows();
  }
  bundle.rows = r + 1;
  const double time = r * M.DELTAT;
  bool row_not_finite = false;
  for (std::size_t i = 0; i < count; ++i) {
    const double value = u[i + 1];
    if (!std::isfinite(value)) {
      bundle.not_finite[i] = 1;
      row_not_finite = true;
      if (!bundle.non_finite.found) bundle.non_finite = {true, r, static_cast<int>(i) + 1, value, 0};
    } else if (value > bundle.peak_temperature[i]) {
      bundle.peak_temperature[i] = value;
      bundle.peak_time[i] = time;
    }
  }
  if (row_not_finite) ++bundle.non_finite.rows;
  if (bundle.brief) return;  // the faces and the output node's history are not written
  if (r >= 1) {
    bundle.left_face.push_back(M.LeftStep);
    bundle.right_face.push_back(M.RightStep);
  }
  const int k = bundle.output_node;
  if (k >= 1 && k <= nodes) {
    bundle.output_times.push_back(time);
    bundle.output_temperatures.push_back(u[k]);
  }
}

int WriteResults(int status) {
  if (!bundle.active) return status;
  bundle.active = false;  // once, whichever end comes first
  const std::string error = Trimmed(console::SinceMark());
  console::KeepSinceMark(false);

  json doc = json::object();
  doc["program"] = "skinburn";
  doc["version"] = SKINBURN_VERSION;
  doc["kind"] = "results";
  doc["run_id"] = bundle.run_id;
  json head = json::object();
  head["program"] = "skinburn";
  head["version"] = SKINBURN_VERSION;
  head["kind"] = "check";
  SetText(head, "data_dir", M.DataDir);
  head["would_start"] = M.StagesPassed;
  head["status"] = nullptr;
  head["error"] = nullptr;
  head["printed"] = nullptr;
  // A run that stopped before the march left the state as the input stage
  // (and the first jet coefficient) left it. The facts take precedence over
  // the head's fields (the keys are kept sorted, so the order is the same).
  json inputs = bundle.inputs.is_null() ? InputDocument() : std::move(bundle.inputs);
  bundle.inputs = nullptr;
  for (auto& field : head.items()) {
    if (!inputs.contains(field.key())) inputs[field.key()] = std::move(field.value());
  }
  const json& grid = inputs["grid"];
  const int output_node =
      grid.is_object() && grid.contains("output_node") ? grid["output_node"].get<int>() : M.OUTNODE;
  if (bundle.brief) LeaveOutLaidValues(inputs);
  doc["inputs"] = std::move(inputs);
  doc["status"] = status;
  const bool ended = status == 0 && M.Result != Outcome::kNone;
  doc["outcome"] = !ended ? "error" : bundle.non_finite.found ? "non-finite" : OutcomeName(M.Result);
  doc["error"] = nullptr;
  if (!ended) SetText(doc, "error", error);
  doc["reached"] = {{"phase", PhaseName(M.Reached)},
                    {"step", M.StepsDone},
                    {"time_s", M.StepsDone * M.DELTAT}};
  doc["non_finite"] = NonFiniteRecord();

  const std::string npy = bundle.prefix + ".npy";
  const bool marched = M.Reached >= Phase::kMarch && bundle.rows > 0;
  doc["history"] = nullptr;
  doc["nodes"] = nullptr;
  doc["output_node"] = output_node;
  doc["omega_at_output_node"] = nullptr;
  doc["crossings"] = Crossings();
  doc["output_node_history"] = nullptr;
  doc["faces"] = bundle.brief ? json(nullptr) : Faces();
  if (bundle.history >= 0) {
    FlushRows();
    if (bundle.history >= 0) {
      const int fd = bundle.history;
      bundle.history = -1;
      if (close(fd) != 0) Fail(npy);
    }
    if (!bundle.failed) {
      json history = json::object();
      SetText(history, "file", npy);
      history["rows"] = bundle.rows;
      history["columns"] = M.NODES;
      history["row_time_s"] = M.DELTAT;
      history["run_id"] = bundle.run_id;
      history["bytes"] = static_cast<std::uint64_t>(kNpyHeader) + bundle.data_bytes;
      history["data_offset"] = kNpyHeader;
      history["data_crc32"] = bundle.crc;
      doc["history"] = std::move(history);
    }
  }
  if (marched) {
    const bool all_nodes = BurnsEveryNode(output_node);
    const bool burnt = M.Reached == Phase::kEnd && M.Result != Outcome::kMarchOnly;
    // A brief document leaves out the arrays by node and by step: the
    // caller reads them from the history itself.
    if (!bundle.brief) doc["nodes"] = NodeArrays(burnt, all_nodes, output_node);
    if (burnt && !all_nodes) {
      doc["omega_at_output_node"] = {{"omega", M.Omega},
                                     {"omega_unfloored", M.OmegaUnfloored},
                                     {"printed", Trimmed(Fixed(M.Omega, 0, 12))}};
    }
    if (!bundle.output_times.empty()) {
      doc["output_node_history"] = {{"node", bundle.output_node},
                                    {"time_s", bundle.output_times},
                                    {"temperature_K", bundle.output_temperatures}};
    }
  }
  if (bundle.brief) doc["brief"] = true;
  Publish(doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n");
  RestoreHandlers();  // no partial file is left to remove
  return bundle.failed ? 1 : status;
}
