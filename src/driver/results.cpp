// The results bundle of a run: PREFIX.json (what was read, how the run
// ended, per node the peak temperature and Omega, the crossings of Omega = 1
// in both depth conventions, the output node's history) and PREFIX.npy (the
// full-precision temperature history, written row by row from TempMatrix
// as it stands). Both are written at every end of the run, each under a
// temporary name and then renamed.
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

// The state of the bundle for the one run of the process.
struct Bundle {
  bool active = false;
  std::string prefix;
};
Bundle bundle;

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

// The .npy header of a `rows` x `columns` array of doubles in C order,
// padded so that the data start on a 64-byte boundary.
std::string NpyHeader(std::size_t rows, std::size_t columns) {
  const char* descr = std::endian::native == std::endian::little ? "<f8" : ">f8";
  std::string dict = std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (" +
                     std::to_string(rows) + ", " + std::to_string(columns) + "), }";
  const std::size_t unpadded = 10 + dict.size() + 1;
  dict.append((64 - unpadded % 64) % 64, ' ');
  dict += '\n';
  std::string header = "\x93NUMPY";
  header += '\x01';
  header += '\x00';
  header += static_cast<char>(dict.size() & 0xFF);
  header += static_cast<char>(dict.size() >> 8);
  return header + dict;
}

// Per node, over the history rows 0 .. rows-1: the peak and when it came.
struct Peaks {
  std::vector<double> temperature;
  std::vector<double> time;
};

// Writes the history rows to PREFIX.npy and finds the peaks on the way, in
// one pass over the matrix; false when the file could not be written.
bool WriteHistory(const std::string& path, int rows, Peaks& peaks) {
  const int nodes = M.NODES;
  peaks.temperature.assign(static_cast<std::size_t>(nodes), 0.0);
  peaks.time.assign(static_cast<std::size_t>(nodes), 0.0);
  for (int i = 1; i <= nodes; ++i) peaks.temperature[static_cast<std::size_t>(i - 1)] = M.TempRows[0][i];
  const std::string temporary = path + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return false;
  const std::string header = NpyHeader(static_cast<std::size_t>(rows), static_cast<std::size_t>(nodes));
  bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  for (int r = 0; r < rows && written; ++r) {
    const double* row = M.TempRows[r] + 1;
    written = std::fwrite(row, sizeof(double), static_cast<std::size_t>(nodes), file) ==
              static_cast<std::size_t>(nodes);
    const double time = r * M.DELTAT;
    for (int i = 0; i < nodes; ++i) {
      if (row[i] > peaks.temperature[static_cast<std::size_t>(i)]) {
        peaks.temperature[static_cast<std::size_t>(i)] = row[i];
        peaks.time[static_cast<std::size_t>(i)] = time;
      }
    }
  }
  if (std::fclose(file) != 0 || !written) {
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

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of("\r\n");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of("\r\n");
  return text.substr(first, last - first + 1);
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
  const bool marched = M.TempRows != nullptr && M.Reached >= Phase::kMarch;
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
  if (marched) {
    const int rows = M.StepsDone + 1;
    Peaks peaks;
    if (WriteHistory(npy, rows, peaks)) {
      doc["history"] = {{"file", npy}, {"rows", rows}, {"columns", M.NODES}, {"row_time_s", M.DELTAT}};
    } else {
      Complain(npy);
    }
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
                    {"peak_temperature_K", peaks.temperature},
                    {"peak_time_s", peaks.time},
                    {"omega", omega},
                    {"omega_unfloored", unfloored}};
    if (burnt && !all_nodes) {
      doc["omega_at_output_node"] = {{"omega", M.Omega},
                                     {"omega_unfloored", M.OmegaUnfloored},
                                     {"printed", Trimmed(Fixed(M.Omega, 0, 12))}};
    }
    const int k = output_node;
    if (k >= 1 && k <= M.NODES) {
      json times = json::array();
      json temperatures = json::array();
      for (int r = 0; r < rows; ++r) {
        times.push_back(r * M.DELTAT);
        temperatures.push_back(M.TempRows[r][k]);
      }
      doc["output_node_history"] = {{"node", k}, {"time_s", times}, {"temperature_K", temperatures}};
    }
  } else if (std::remove(npy.c_str()) != 0 && errno != ENOENT) {
    Complain(npy);
  }
  const std::string path = bundle.prefix + ".json";
  if (!WriteWhole(path, doc.dump(1, ' ', false, json::error_handler_t::replace) + "\n")) Complain(path);
}
