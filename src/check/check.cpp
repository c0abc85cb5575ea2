// The check mode: the input stage run as a run would run it, silently, up
// to the march, and a report of what it read: the JSON document of the
// report room as it stands (`--check=json`), or the same facts for a person
// (`--check`). Nothing is shown while it reads, no wait reads standard
// input, and OUTPUT.TXT is never opened.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "check/check.h"
#include "console/console.h"
#include "facts/facts.h"
#include "input/input.h"
#include "model/model.h"
#include "numeric/numeric.h"
#include "report/report.h"
#include "thermal/thermal.h"

using nlohmann::json;

namespace {

std::string Quoted(const json& word) {
  if (!word.is_object()) return "-";
  std::string text(1, '\'');
  text += word.value("text", std::string());
  text += '\'';
  return text;
}

std::string ValueText(const json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_float()) return Shown(value.get<double>());
  return value.dump();
}

std::string PairText(const json& pair) {
  if (!pair.is_array()) return "-";
  // Appended piece by piece: GCC 12 at -O3 sees an overlapping copy in
  // "(" + std::string&& (a false positive under -Werror).
  std::string text(1, '(');
  text += ValueText(pair[0]);
  text += ", ";
  text += ValueText(pair[1]);
  text += ')';
  return text;
}

void Line(const std::string& text) { console::Print(text + "\n"); }

// The check's report for a person, from its JSON document.
void PrintCheckReport(const json& doc) {
  Line("skinburn " SKINBURN_VERSION ": what a run would read from '" + doc.value("data_dir", std::string()) + "'");
  Line("");
  Line("Entries of DATA.DAT (value as stored, the word it came from, the label words skipped around it):");
  for (const json& entry : doc["entries"]) {
    char head[64];
    std::snprintf(head, sizeof head, "  %2d %-13s = ", entry["number"].get<int>(),
                  entry["name"].get<std::string>().c_str());
    std::string line = head;
    line += ValueText(entry["value"]);
    const std::string unit = entry["unit"].get<std::string>();
    if (!unit.empty()) {
      line += ' ';
      line += unit;
    }
    if (entry["word"].is_object()) {
      line += "   from " + Quoted(entry["word"]) + " on line " + std::to_string(entry["word"]["line"].get<int>());
    } else {
      line += "   (not in the file)";
    }
    std::string labels;
    for (const json& label : entry["labels_before"]) {
      labels += ' ';
      labels += Quoted(label);
    }
    if (!labels.empty()) line += ";  skipped before:" + labels;
    labels.clear();
    for (const json& label : entry["labels_after"]) {
      labels += ' ';
      labels += Quoted(label);
    }
    if (!labels.empty()) line += ";  after:" + labels;
    if (entry["default"].is_object()) line += ";  0 replaced by the standard value";
    Line(line);
  }
  Line("");
  Line("Distribution blocks:");
  for (const json& block : doc["blocks"]) {
    std::string line = "  block " + std::to_string(block["place"].get<int>()) + " " + Quoted(block["name"]) +
                       " (line " + std::to_string(block["name"]["line"].get<int>()) + "): ";
    if (block["table"].is_null()) {
      Line(line + "skipped (the name selects no table), count " + std::to_string(block["count_code"].get<int>()));
      continue;
    }
    line += block["table"].get<std::string>() + " table, count " + std::to_string(block["count_code"].get<int>());
    const std::string source = block.value("source", std::string());
    if (!source.empty()) {
      line += source == "DATA.DAT" ? ", pairs inline in DATA.DAT" : ", pairs from " + source;
      line += ": " + std::to_string(block["pairs_read"].get<std::size_t>()) + " read, first " +
              PairText(block["first_pair"]) + ", last " + PairText(block["last_pair"]);
    }
    Line(line);
    const json& laid = block["laid"];
    if (laid.is_object()) {
      const bool depth = laid["grid"] == "depth";
      const std::size_t last = laid["last"].get<std::size_t>();
      const double spacing = laid["spacing"].get<double>();
      const json& values = laid["values"];
      std::string how = "      laid as the " + laid["table"].get<std::string>() + " table on " +
                        (depth ? "nodes 1.." : "time records 1..") + std::to_string(last) + " (" +
                        (depth ? "depths 0.." : "times 0..") + Shown(static_cast<double>(last - 1) * spacing) +
                        (depth ? " m" : " s") + ")";
      if (!values.empty()) how += ": " + ValueText(values.front()) + " .. " + ValueText(values.back());
      const std::string unit = block["unit"].is_string() ? block["unit"].get<std::string>() : "";
      if (source == "LEFTIMP.DAT" && FaceKindOf('L') == FaceKind::kConvection) {
        // On a convection face the jet's list is a selector, not a coefficient.
        how += " (a value of exactly 1 selects the jet correlation's coefficient; any other is the coefficient in " +
               unit + ")";
      } else if (!unit.empty()) {
        how += " " + unit;
      }
      Line(how);
    } else {
      Line("      not laid on the grid");
    }
  }
  if (doc["jet"].is_object()) {
    const json& jet = doc["jet"];
    Line("");
    Line("Jet (LEFTIMP.DAT):");
    Line("  near-field option " + ValueText(jet["option"]["value"]) + ", Reynolds number " +
         ValueText(jet["reynolds"]["value"]) + " (0: from the gas velocity)");
    Line("  nozzle diameter " + ValueText(jet["nozzle_diameter_m"]["value"]) + " m, off-axis spacing " +
         ValueText(jet["offaxis_spacing_m"]["value"]) + " m, stand-off " + ValueText(jet["standoff_m"]["value"]) +
         " m");
    Line("  stand-off ratio H = " + ValueText(jet["standoff_ratio"]) + ", off-axis ratio R = " +
         ValueText(jet["offaxis_ratio"]) + " (half the spacing over the diameter)");
    Line("  boundary pairs " + std::to_string(jet["boundary_pairs"].get<std::size_t>()) + ", gas velocity pairs " +
         std::to_string(jet["velocity_pairs"].size()) + ":" +
         [&] {
           std::string all;
           for (const json& pair : jet["velocity_pairs"]) {
             all += ' ';
             all += PairText(pair);
           }
           return all;
         }());
    const json& gas = jet["gas_table"];
    if (gas["error"].is_string()) {
      Line("  GASPROP.DAT: " + gas["error"].get<std::string>());
    } else {
      Line("  GASPROP.DAT (T K, nu m^2/s, k W/(m K), Pr):");
      for (const json& row : gas["rows"]) {
        Line("    " + ValueText(row[0]) + "  " + ValueText(row[1]) + "  " + ValueText(row[2]) + "  " +
             ValueText(row[3]));
      }
    }
  }
  const json& grid = doc["grid"];
  Line("");
  Line("Grid: " + std::to_string(grid["nodes"].get<int>()) + " nodes " + ValueText(grid["deltax_m"]) +
       " m apart (to a depth of " + ValueText(grid["depth_m"]) + " m), " +
       std::to_string(grid["timesteps"].get<int>()) + " steps of " + ValueText(grid["deltat_s"]) + " s (" +
       ValueText(grid["duration_s"]) + " s); burn evaluation: " + grid["burn_mode"].get<std::string>() + ".");
  if (grid.contains("time_scheme")) {
    Line("Time scheme: BDF2, second order in time (step 1 backward Euler); the program's own is backward Euler.");
  }
  if (doc.contains("perfusion")) {
    const json& blood = doc["perfusion"];
    Line("Blood perfusion (" + blood["file"].get<std::string>() + "): arterial blood at " +
         ValueText(blood["arterial_temperature_K"]) + " K, density " + ValueText(blood["blood_density_kg_m3"]) +
         " kg/m^3, heat capacity " + ValueText(blood["blood_heat_capacity_J_kgK"]) + " J/(kg K).");
    std::string rates;
    for (const json& pair : blood["pairs"]) rates += " " + PairText(pair);
    Line("  Perfusion rates (depth m, 1/s):" + (rates.empty() ? std::string(" none") : rates));
  }
  Line("Temperature history: " + Shown(grid["history_mib"].get<double>()) +
       " MiB, which --results writes whole; the run holds a few rows of it at a time.");
  const std::string printed = doc.value("printed", std::string());
  if (!printed.empty()) {
    Line("");
    Line("What the input stage printed:");
    console::Print(printed);
    if (printed.back() != '\n') Line("");
  }
  Line("");
  if (doc["warnings"].empty()) {
    Line("No warnings.");
  } else {
    Line("Warnings:");
    for (const json& warning : doc["warnings"]) {
      Line("  [" + warning["code"].get<std::string>() + "] " + warning["concerns"].get<std::string>() + ": " +
           warning["text"].get<std::string>());
    }
  }
  Line("");
  if (doc["would_start"].get<bool>() && doc["stop"].is_object()) {
    const json& stop = doc["stop"];
    Line(stop["phase"] == "burn" ? std::string("The run would start, but stop in the burn evaluation:")
                                 : "The run would start, but stop after step " +
                                       std::to_string(stop["after_step"].get<int>()) + ":");
    Line(doc["error"].is_string() ? doc["error"].get<std::string>() : std::string());
  } else if (doc["would_start"].get<bool>()) {
    Line("The run would start.");
  } else {
    Line("The run would not start:");
    Line(doc["error"].is_string() ? doc["error"].get<std::string>() : std::string());
  }
}

// Set while LaterStop looks past the start: an end of the process there is
// a stop of the run after it started.
bool from_stop = false;

// The first stop the march or the burn evaluation would make from what was
// read, with its message printed as the run prints it: the steps done before
// it, or -1 when the run would reach its end. What only the temperatures
// decide (an Omega of 0 at the output node) shows only in a run.
int LaterStop() {
  from_stop = true;
  // After every step the jet coefficient of the next is formed, whatever the
  // face: GASPROP.DAT read, the gas velocity of that time, the stand-off.
  // Only the velocity's time changes from call to call, so the first call
  // and the first time the velocities do not cover decide.
  if (JetCalledIn() && M.TIMESTEPS >= 1) {
    const bool first_formed = JetFormedBeforeMarch();
    double hbar = 0;
    int j = first_formed ? 0 : 1;
    if (!first_formed && !JetConvection(j, M.InitTempTable[1].y, M.LeftAmbTable[2].y, hbar)) {
      from_stop = false;
      return j;
    }
    if (M.JETREYNOLDS == 0) {
      for (++j; j <= M.TIMESTEPS; ++j) {
        double velocity;
        if (GasVelocityAt(j * M.DELTAT, velocity)) continue;
        JetConvection(j, M.InitTempTable[1].y, M.LeftAmbTable[static_cast<std::size_t>(j) + 1].y, hbar);
        from_stop = false;
        return j;
      }
    }
  }
  // The burn integral needs an exposure: with no step, or with one node's
  // Omega asked for while OUTTIME lists a profile (the march then keeps no
  // history of the node), the integrator ends the run.
  if (M.TIMESTEPS < 1 || (!BurnsEveryNode() && M.OUTTIME != 0)) {
    run_error("Step size too small in routine rkdumb");
  }
  from_stop = false;
  return -1;
}

}  // namespace

int CheckInput(bool as_json) {
  M.Record.on = true;
  console::KeepSinceMark(true);
  console::SetSilent(true);
  console::SetWaitsReturn(true);
  bool start = true;
  std::size_t from = 0;
  int stop_at = -1;  // steps done before a stop the march or the burn evaluation would make
  bool in_burn = false;
  from_stop = false;
  const auto failed = [&] { start = false; };
  try {
    if (!GetData()) {
      StageError("GetData() Error: %s", "Exiting Pellimar");
      failed();
    }
    // Each stage's messages begin where the console stood before it.
    const auto mark = [](void* at) { *static_cast<std::size_t*>(at) = console::SinceMark().size(); };
    if (start && !StartStages(mark, &from)) failed();
    if (start) {
      from = console::SinceMark().size();
      if (!FacesNamed()) failed();
    }
    if (start) {
      from = console::SinceMark().size();
      stop_at = LaterStop();
    }
  } catch (const console::Stopped&) {  // a stage that would have ended the run
    if (start && from_stop) {
      stop_at = M.TIMESTEPS;  // in the burn evaluation, after the last step
      in_burn = true;
    } else {
      failed();
    }
  }
  from_stop = false;
  const std::string printed = console::SinceMark();
  console::SetWaitsReturn(false);
  console::SetSilent(false);
  console::KeepSinceMark(false);

  nlohmann::json document = nlohmann::json::object();
  document["program"] = "skinburn";
  document["version"] = SKINBURN_VERSION;
  document["kind"] = "check";
  SetText(document, "data_dir", M.DataDir);
  const bool stops = !start || stop_at >= 0;
  document["would_start"] = start;
  document["status"] = stops ? 1 : 0;
  document["error"] = nullptr;
  if (stops) SetText(document, "error", Trimmed(printed.substr(std::min(from, printed.size()))));
  document["stop"] = nullptr;
  if (start && stop_at >= 0) {
    document["stop"] = {{"phase", in_burn ? "burn" : "march"}, {"after_step", stop_at}};
  }
  SetText(document, "printed", printed);
  document.update(InputDocument());
  // Whatever the input stage printed for a run that would start (a count
  // it questions, a note on a block) is a warning: a run with BATCH 1 would
  // pass it by.
  const std::string input_printed = Trimmed(stop_at >= 0 ? printed.substr(0, std::min(from, printed.size())) : printed);
  if (start && !input_printed.empty()) {
    json message = json::object();
    message["code"] = "input-message";
    message["concerns"] = "input";
    SetText(message, "text", "the input stage printed: " + input_printed);
    document["warnings"].push_back(std::move(message));
  }
  if (as_json) {
    console::Print(document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
  } else {
    PrintCheckReport(document);
  }
  // A report cut short by a full disk would read as a whole one.
  if (!console::FlushOk()) {
    console::ErrorPrint(std::string("skinburn: could not write the check report: ") + std::strerror(errno) + "\n");
    return 1;
  }
  return stops ? 1 : 0;
}
