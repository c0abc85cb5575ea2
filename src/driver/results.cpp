// The results bundle of a run: PREFIX.json (what was read, how the run
// ended, per node the peak temperature and Omega, the crossings of Omega = 1
// in both depth conventions, the output node's history) and PREFIX.npy (the
// full-precision temperature history, written row by row as the march makes
// it, so that it is never held in memory). Both are complete at every end of
// the run, each written under a temporary name and then renamed.
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "driver/driver.h"
#include "driver/lineformat.h"
#include "input/input.h"
#include "input/reader.h"
#include "model/console.h"
#include "model/model.h"

using nlohmann::json;

namespace {

// Per node, over the history rows written: the peak and when it came.
struct Peaks {
  std::vector<double> temperature;
  std::vector<double> time;
};

// The state of the bundle for the one run of the process.
struct Bundle {
  bool active = false;
  std::string prefix;
  std::FILE* history = nullptr;  // PREFIX.npy.tmp while the march writes it
  bool history_failed = false;
  int rows = 0;                  // history rows written
  int output_node = 0;           // OUTNODE as the march started
  Peaks peaks;
  std::vector<double> output_times;         // s
  std::vector<double> output_temperatures;  // K
};
Bundle bundle;

constexpr std::size_t kNpyHeader = 128;  // bytes: room for any shape

void Complain(const std::string& path) {
  console::ErrorPrint("skinburn: could not write " + path + ": " + std::strerror(errno) + "\n");
}

// Writes `text` to path.tmp and renames it to path.
bool WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (std::fclose(file) != 0 || !written) {
    std::remove(temporary.c_str());
    return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

// The .npy header of a `rows` x `columns` array of doubles in C order, of
// kNpyHeader bytes whatever the shape, so that it can be written first and
// rewritten with the rows reached at the end.
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

// Ends PREFIX.npy: the header with the rows written, then the rename.
bool FinishHistory(const std::string& path) {
  std::FILE* file = bundle.history;
  bundle.history = nullptr;
  const std::string temporary = path + ".tmp";
  const std::string header = NpyHeader(static_cast<std::size_t>(bundle.rows), static_cast<std::size_t>(M.NODES));
  bool written = !bundle.history_failed && std::fseek(file, 0, SEEK_SET) == 0 &&
                 std::fwrite(header.data(), 1, header.size(), file) == header.size();
  written = std::fclose(file) == 0 && written;
  if (!written) {
    std::remove(temporary.c_str());
    return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
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
    case Outcome::kNone: return "error";
  }
  return "error";
}

std::string Fixed(double value, int width, int decimals) {
  LineBuffer line;
  line.Fixed(value, width, decimals);
  return line.str();
}

json Crossings() {
  json list = json::array();
  for (const Crossing& c : M.Crossings) {
    const int i = c.node;
    const double here = M.OmegaByNode[i];
    const double next = M.OmegaByNode[i + 1];
    // The same straight line, with the nodes at their true depths.
    const double shallow = (i - 1) * M.DELTAX;
    const double deep = i * M.DELTAX;
    const double depth = c.falling ? LinearInterp(next, 1.0, here, deep, shallow)
                                   : LinearInterp(here, 1.0, next, shallow, deep);
    list.push_back({{"nodes", {i, i + 1}},
                    {"direction", c.falling ? "falling" : "rising"},
                    {"depth_m", depth},
                    {"report_depth_m", c.report_depth},
                    {"printed", Fixed(c.report_depth, 0, 6)}});
  }
  return list;
}

}  // namespace

void BeginResults(const std::string& prefix) {
  // Whether the bundle can be written at all is found out before the run.
  const std::string probe = prefix + ".json.tmp";
  std::FILE* file = std::fopen(probe.c_str(), "wb");
  if (!file) return;
  std::fclose(file);
  std::remove(probe.c_str());
  bundle.active = true;
  bundle.prefix = prefix;
  M.Record.on = true;
  console::KeepSinceMark(true);
  console::SetEndHook([](int status) { WriteResults(status); });
}

bool ResultsActive() { return bundle.active; }

void ResultsRow(int r, const double* u) {
  if (!bundle.active) return;
  const int nodes = M.NODES;
  const std::size_t count = static_cast<std::size_t>(nodes);
  if (r == 0) {
    const std::string temporary = bundle.prefix + ".npy.tmp";
    bundle.history = std::fopen(temporary.c_str(), "wb");
    bundle.history_failed = bundle.history == nullptr;
    if (bundle.history) {
      const std::string header = NpyHeader(static_cast<std::size_t>(M.TIMESTEPS) + 1, count);
      bundle.history_failed = std::fwrite(header.data(), 1, header.size(), bundle.history) != header.size();
    }
    bundle.peaks.temperature.assign(u + 1, u + 1 + nodes);
    bundle.peaks.time.assign(count, 0.0);
    bundle.output_node = M.OUTNODE;
  }
  if (bundle.history && !bundle.history_failed) {
    bundle.history_failed = std::fwrite(u + 1, sizeof(double), count, bundle.history) != count;
  }
  bundle.rows = r + 1;
  const double time = r * M.DELTAT;
  for (std::size_t i = 0; i < count; ++i) {
    if (u[i + 1] > bundle.peaks.temperature[i]) {
      bundle.peaks.temperature[i] = u[i + 1];
      bundle.peaks.time[i] = time;
    }
  }
  const int k = bundle.output_node;
  if (k >= 1 && k <= nodes) {
    bundle.output_times.push_back(time);
    bundle.output_temperatures.push_back(u[k]);
  }
}

void WriteResults(int status) {
  if (!bundle.active) return;
  bundle.active = false;  // once, whichever end comes first
  console::SetEndHook(nullptr);
  const std::string error = Trimmed(console::SinceMark());
  console::KeepSinceMark(false);

  json doc = json::object();
  doc["program"] = "skinburn";
  doc["version"] = SKINBURN_VERSION;
  doc["kind"] = "results";
  json inputs = json::object();
  inputs["program"] = "skinburn";
  inputs["version"] = SKINBURN_VERSION;
  inputs["kind"] = "check";
  SetText(inputs, "data_dir", M.DataDir);
  inputs["would_start"] = M.Reached != Phase::kInput;
  inputs["status"] = nullptr;
  inputs["error"] = nullptr;
  inputs["printed"] = nullptr;
  inputs.update(InputDocument());
  doc["inputs"] = std::move(inputs);
  doc["status"] = status;
  const bool ended = status == 0 && M.Result != Outcome::kNone;
  doc["outcome"] = ended ? OutcomeName(M.Result) : "error";
  doc["error"] = nullptr;
  if (!ended) SetText(doc, "error", error);
  doc["reached"] = {{"phase", PhaseName(M.Reached)},
                    {"step", M.StepsDone},
                    {"time_s", M.StepsDone * M.DELTAT}};

  const std::string npy = bundle.prefix + ".npy";
  const bool marched = M.Reached >= Phase::kMarch && bundle.rows > 0;
  doc["history"] = nullptr;
  doc["nodes"] = nullptr;
  // The burn evaluation of every node leaves OUTNODE at the last node: the
  // output node is the one DATA.DAT gave.
  int output_node = M.OUTNODE;
  for (const EntryRead& entry : M.Record.entries) {
    if (entry.number == 2) output_node = ParseInt(entry.value.text);
  }
  doc["output_node"] = output_node;
  doc["omega_at_output_node"] = nullptr;
  doc["crossings"] = Crossings();
  doc["output_node_history"] = nullptr;
  if (bundle.history) {
    if (FinishHistory(npy)) {
      doc["history"] = {{"file", npy}, {"rows", bundle.rows}, {"columns", M.NODES}, {"row_time_s", M.DELTAT}};
    } else {
      Complain(npy);
    }
  } else if (std::remove(npy.c_str()) != 0 && errno != ENOENT) {
    Complain(npy);
  }
  if (marched) {
    const bool all_nodes = !(output_node != 0 && M.BURNDEPTH == 0);
    const bool burnt = M.Reached == Phase::kEnd;
    json depth = json::array();
    json omega = json::array();
    json unfloored = json::array();
    for (int i = 1; i <= M.NODES; ++i) {
      depth.push_back((i - 1) * M.DELTAX);
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
    doc["nodes"] = {{"depth_m", depth},
                    {"peak_temperature_K", bundle.peaks.temperature},
                    {"peak_time_s", bundle.peaks.time},
                    {"omega", omega},
                    {"omega_unfloored", unfloored}};
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
  const std::string path = bundle.prefix + ".json";
  if (!WriteWhole(path, doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n")) Complain(path);
}
