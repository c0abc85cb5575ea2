// What the input stage read, as facts: every entry with the word it came
// from and the labels around it, every block with its pairs and how they
// were laid on the grid, the jet, the grid, and the warnings that point at
// a likely mistake. One JSON document holds them; the report for a person
// is printed from that same document.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "console/console.h"
#include "input/input.h"
#include "model/model.h"
#include "facts/facts.h"

using nlohmann::json;

namespace {

// The value entry `number` holds in the model, by its kind (null for text).
json EntryValue(int number) {
  const EntryTable& entry = EntryOf(number);
  switch (entry.kind) {
    case EntryKind::kReal: return M.*entry.real;
    case EntryKind::kInteger: return M.*entry.integer;
    case EntryKind::kText: break;
  }
  return nullptr;
}

// The unit of a face table's values, by the face's type word.
const char* UnitOf(const BlockTable& table) {
  if (table.letter == 'L' || table.letter == 'R') return FaceValueUnit(FaceKindOf(table.letter));
  return table.unit;
}

// A word that is nothing but the number the input rules read from it.
bool IsNumber(std::string_view word) { return !word.empty() && NumberLength(word) == word.size(); }

bool IsInteger(std::string_view word) {
  std::size_t i = 0;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) ++i;
  if (i == word.size()) return false;
  for (; i < word.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(word[i]))) return false;
  }
  return true;
}

json Word(const WordAt& word, bool with_line) {
  json j = json::object();
  SetText(j, "text", word.text);
  SetText(j, "file", word.file);
  j["offset"] = word.offset;
  j["length"] = word.length;
  if (with_line) j["line"] = word.line;
  return j;
}

json Words(const std::vector<WordAt>& words) {
  json list = json::array();
  for (const WordAt& w : words) list.push_back(Word(w, false));
  return list;
}

json PairList(const std::vector<Pair>& pairs) {
  json list = json::array();
  for (const Pair& p : pairs) list.push_back({p.x, p.y});
  return list;
}

json PairWordList(const std::vector<PairWords>& words, const std::string& file) {
  json list = json::array();
  for (const PairWords& w : words) {
    json j = json::object();
    SetText(j, "file", file);
    j["x"] = {w.x_offset, w.x_length};
    j["y"] = {w.y_offset, w.y_length};
    list.push_back(std::move(j));
  }
  return list;
}

void Warn(json& warnings, const char* code, const std::string& concerns, const std::string& text) {
  json w = json::object();
  w["code"] = code;
  SetText(w, "concerns", concerns);
  SetText(w, "text", text);
  warnings.push_back(std::move(w));
}

// The first entry that read a label word as its value, named first as the
// likely cause of every warning after it, with its direction: a word that
// ends in ':' like a label's last word means the labels before it hold a
// word more than the reader skips (it took the word before the one meant);
// a number entry reading any other word that is no number means a word is
// missing at or above it (it took the next label's first word).
void LikelyCause(json& warnings) {
  for (const EntryRead& entry : M.Record.entries) {
    const std::string& word = entry.value.text;
    if (entry.absent || word.empty()) continue;
    const bool colon = word.size() >= 2 && word.back() == ':';
    const bool text_entry = EntryOf(entry.number).kind == EntryKind::kText;
    const bool exponent = entry.number == 12 && word.rfind("10^", 0) == 0;
    if (!colon && (text_entry || exponent || IsNumber(word))) continue;
    std::string skipped;
    for (const WordAt& label : entry.before) skipped += " '" + label.text + "'";
    const std::string read = std::string(EntryOf(entry.number).name) + " reads '" + word + "' (DATA.DAT line " +
                             std::to_string(entry.value.line) + "), ";
    json warning = json::object();
    warning["code"] = "label-as-value";
    warning["concerns"] = "entry " + std::to_string(entry.number);
    SetText(warning, "text",
            colon ? read + "a word that ends in ':' like a label: the labels before it" +
                        (skipped.empty() ? std::string() : " (" + skipped.substr(1) + " skipped)") +
                        " hold one word more than the reader skips, so this entry and every one after it took the "
                        "word before the one meant. This is the likely cause of the warnings after it: remove the "
                        "extra label word (the labels are counted, not read)."
                  : read + "a word that is no number, likely the first word of the next label: a word is missing "
                           "at or above this line, so this entry and every one after it took the word after the "
                           "one meant. This is the likely cause of the warnings after it: put the missing value "
                           "back.");
    warnings.insert(warnings.begin(), std::move(warning));
    return;
  }
}

json Entries(json& warnings) {
  json list = json::array();
  for (const EntryRead& entry : M.Record.entries) {
    const EntryTable& about = EntryOf(entry.number);
    const bool text = about.kind == EntryKind::kText;
    json j = json::object();
    j["number"] = entry.number;
    j["name"] = about.name;
    j["unit"] = about.unit;
    j["kind"] = EntryKindName(about.kind);
    if (text) {
      SetText(j, "value", M.*about.text);
    } else {
      j["value"] = EntryValue(entry.number);
    }
    j["word"] = entry.absent ? json(nullptr) : Word(entry.value, true);
    j["labels_before"] = Words(entry.before);
    j["labels_after"] = Words(entry.after);
    j["default"] = nullptr;
    if (entry.defaulted) {
      j["default"] = {{"read", 0}, {"value", EntryValue(entry.number)}};
      if (entry.absent) j["default"]["absent"] = true;
    }
    list.push_back(std::move(j));

    const std::string concerns = "entry " + std::to_string(entry.number);
    const std::string where = " (DATA.DAT line " + std::to_string(entry.value.line) + ")";
    for (const std::vector<WordAt>* labels : {&entry.before, &entry.after}) {
      for (const WordAt& label : *labels) {
        if (IsNumber(label.text)) {
          Warn(warnings, "label-is-number", concerns,
               std::string(about.name) + ": the label word '" + label.text + "' on line " +
                   std::to_string(label.line) +
                   " is a number. An entry above has a word too many, so this value and every one after it "
                   "come from the wrong words.");
        }
      }
    }
    if (entry.absent) continue;
    const std::string& word = entry.value.text;
    if (entry.number == 12) {
      if (word.rfind("10^", 0) != 0) {
        Warn(warnings, "exponent-without-10^", concerns,
             "FREQEXP: the exponent word '" + word + "'" + where +
                 " does not begin with 10^; its first three characters are dropped, so it reads as " +
                 std::to_string(M.FREQEXP) + ". Write the exponent as 10^94.");
      } else if (!IsInteger(std::string_view(word).substr(3))) {
        Warn(warnings, "value-not-number", concerns,
             "FREQEXP: '" + word + "'" + where + " has no whole power of ten after 10^; it reads as " +
                 std::to_string(M.FREQEXP) + ".");
      }
    } else if (!text && !IsNumber(word)) {
      Warn(warnings, "value-not-number", concerns,
           std::string(about.name) + ": the value word '" + word + "'" + where +
               " is not a number; it reads as " + EntryValue(entry.number).dump() +
               (!word.empty() && word.back() == ':'
                    ? ". It ends in ':' like a label: the labels above hold a word too many."
                    : ". A word is missing above, or a label stands where the value should."));
    } else if ((entry.number == 15 || entry.number == 16) &&
               (word.empty() || (word[0] != 'C' && word[0] != 'F' && word[0] != 'T'))) {
      Warn(warnings, "face-word", concerns,
           std::string(about.name) + ": '" + word + "'" + where +
               " names no face type; write CONVECTION, FLUX or TEMPERATURE in capitals.");
    }
  }
  return list;
}

// Temperature tables below 250 K, or wholly so (degrees Celsius, by the look).
void CheckTemperatures(json& warnings, const std::string& concerns, const std::string& what,
                       const std::vector<Pair>& pairs) {
  if (pairs.empty()) return;
  double low = pairs[0].y;
  double high = pairs[0].y;
  for (const Pair& p : pairs) {
    low = std::fmin(low, p.y);
    high = std::fmax(high, p.y);
  }
  if (high < 250) {
    Warn(warnings, "temperature-looks-celsius", concerns,
         what + ": every temperature is below 250 K (from " + Shown(low) + " to " + Shown(high) +
             "). Temperatures are in kelvin: 37 degrees Celsius is 310.15 K.");
  } else if (low < 250) {
    Warn(warnings, "temperature-below-250K", concerns,
         what + ": a temperature of " + Shown(low) + " K is below 250 K. Temperatures are in kelvin.");
  }
}

bool IsTemperatureTable(char letter) {
  if (letter == 'I' || letter == 'O' || letter == 'A') return true;
  if (letter == 'L' || letter == 'R') return FaceKindOf(letter) == FaceKind::kTemperature;
  return false;
}

// The word that ended a block's list, when it stands on the count's own
// line: a word too many there ("2 data pairs"), not the next block's marker.
std::string EndedBy(const BlockRead& block) {
  const WordAt& word = block.ended_by;
  if (word.text.empty() || word.text[0] == '!') return "";
  const WordAt& counted = block.count_code == 0 ? block.file_count : block.count;
  if (word.file != counted.file || word.line != counted.line) return "";
  return " The list ended at the word '" + word.text + "' (" + word.file + " line " + std::to_string(word.line) +
         "), on the count's own line: the count takes one word after it, and a further word ends the list before "
         "its pairs.";
}

json Blocks(json& warnings) {
  json list = json::array();
  for (const BlockRead& block : M.Record.blocks) {
    json j = json::object();
    j["place"] = block.place;
    j["name"] = Word(block.name, true);
    const BlockTable* table = BlockOf(block.letter);
    j["table"] = table ? json(table->name) : json(nullptr);
    j["unit"] = table ? json(UnitOf(*table)) : json(nullptr);
    j["count"] = block.count.text.empty() ? json(nullptr) : Word(block.count, true);
    j["count_code"] = block.count_code;
    j["file_count"] = block.file_count.text.empty() ? json(nullptr) : Word(block.file_count, true);
    SetText(j, "source", block.source);
    j["pairs_read"] = block.pairs.size();
    j["pairs"] = PairList(block.pairs);
    j["pair_words"] = PairWordList(block.words, block.source);
    j["first_pair"] = block.pairs.empty() ? json(nullptr) : json({block.pairs.front().x, block.pairs.front().y});
    j["last_pair"] = block.pairs.empty() ? json(nullptr) : json({block.pairs.back().x, block.pairs.back().y});
    j["laid"] = nullptr;
    if (const BlockTable* laid = BlockOf(block.laid)) {
      j["laid"] = {{"table", laid->name},
                   {"grid", laid->depth ? "depth" : "time"},
                   {"first", 1},
                   {"last", block.laid_values.size()},
                   {"spacing", laid->depth ? M.DELTAX : M.DELTAT},
                   {"values", block.laid_values}};
    }
    list.push_back(std::move(j));

    const std::string concerns = "block " + std::to_string(block.place);
    const std::string label = "block " + std::to_string(block.place) + " '" + block.name.text + "'";
    if (IsNumber(block.name.text)) {
      Warn(warnings, "label-is-number", concerns,
           label + " (DATA.DAT line " + std::to_string(block.name.line) +
               "): the block name is a number. The block above has a word too many, so this block's name, "
               "count and pairs come from the wrong words.");
    } else if (!block.name.text.empty() && std::islower(static_cast<unsigned char>(block.name.text[0]))) {
      Warn(warnings, "name-lower-case", concerns,
           label + ": the name begins with a lower-case letter and selects no table. Block names are in "
                   "capitals.");
    }
    if (!block.count.text.empty() && !IsInteger(block.count.text)) {
      Warn(warnings, "value-not-number", concerns,
           label + ": the count word '" + block.count.text + "' (line " + std::to_string(block.count.line) +
               ") is not a whole number; it reads as " + std::to_string(block.count_code) + ".");
    }
    for (const ListNote& note : block.notes) Warn(warnings, note.code.c_str(), concerns, label + ": " + note.text);
    // A count that does not match the pairs given: the run asks at a prompt
    // and goes on with the pairs read, so an unattended run passes it by.
    const WordAt& counted = block.count_code == 0 ? block.file_count : block.count;
    const int said = block.count_code == 0 ? ParseInt(block.file_count.text) : block.count_code;
    if (block.count_code >= 0 && !counted.text.empty() && said != static_cast<int>(block.pairs.size())) {
      std::string read;
      for (const Pair& pair : block.pairs) read += " (" + Shown(pair.x) + ", " + Shown(pair.y) + ")";
      Warn(warnings, "count-mismatch", concerns,
           label + ": the count word '" + counted.text + "' (" + (block.count_code == 0 ? block.source : "DATA.DAT") +
               " line " + std::to_string(counted.line) + ") says " + std::to_string(said) + " pairs, but " +
               std::to_string(block.pairs.size()) + " were read:" + (read.empty() ? " none" : read) + "." +
               EndedBy(block) + " The run asks whether that is correct and goes on with the pairs read.");
    }
    if (IsTemperatureTable(block.letter)) CheckTemperatures(warnings, concerns, label, block.pairs);
    // Pairs that stop short of what the grid asks for (the run refuses them).
    if (table && !block.pairs.empty()) {
      const double reach = table->depth ? M.NODES * M.DELTAX : M.TIMESTEPS * M.DELTAT;
      const double last = block.pairs.back().x;
      if (last < reach) {
        Warn(warnings, table->depth ? "depth-table-short" : "time-table-short", concerns,
             label + ": the pairs end at " + Shown(last) + (table->depth ? " m" : " s") + ", before the " +
                 (table->depth ? "depth NODES*DELTAX = " : "run's end TIMESTEPS*DELTAT = ") + Shown(reach) +
                 (table->depth ? " m that the grid needs." : " s."));
      }
    }
  }
  // Tables the run uses that no block laid.
  for (const BlockTable& table : kBlockTables) {
    if (table.letter == 'O' && FaceKindOf('L') != FaceKind::kConvection) continue;
    if (table.letter == 'A' && FaceKindOf('R') != FaceKind::kConvection) continue;
    bool laid = false;
    for (const BlockRead& block : M.Record.blocks) laid = laid || block.laid == table.letter;
    if (!laid && M.Record.blocks.size() == 8) {
      Warn(warnings, "table-not-given", table.name,
           std::string("no block laid the ") + table.name + " table: its values are 0 for the whole run.");
    }
  }
  return list;
}

json JetValue(const WordAt& word, double value) {
  json j = Word(word, true);
  j["value"] = value;
  return j;
}

// --- The jet's Reynolds number, step by step --------------------------------
//
// The coefficient that step s uses is formed before it, at the time
// (s - 1) DELTAT and the gas temperature of record s. With a Reynolds number
// of 0 in LEFTIMP.DAT it is Re = velocity D / nu, nu read from GASPROP.DAT at
// the gas temperature. A negative Re makes the correlation's power not a
// number, and the face row carries it into every temperature.

// One step that uses the jet coefficient, with what the coefficient reads
// (its velocity, nu, gas rows and Reynolds number: JetFlow).
struct JetStep : JetFlow {
  int step = 0;
  double time = 0;  // s, when the coefficient is formed
  double gas = 0;   // K
};

// Every step of the run whose left face takes the jet coefficient (a
// CONVECTION face whose boundary value is exactly 1.0), until a time the gas
// velocities do not cover. `table` is null when GASPROP.DAT could not be read.
std::vector<JetStep> StepsUsingTheJet(const GasTable* gas) {
  std::vector<JetStep> steps;
  if (FaceKindOf('L') != FaceKind::kConvection || !(M.DELTAT > 0)) return steps;
  const int last = std::min(M.TIMESTEPS, kTableSize - 1);
  for (int s = 1; s <= last; ++s) {
    if (!JetDrives(M.LeftBCTable[static_cast<std::size_t>(s)].y)) continue;
    JetStep step;
    step.step = s;
    step.time = (s - 1) * M.DELTAT;
    step.gas = M.LeftAmbTable[static_cast<std::size_t>(s)].y;
    step.reynolds = M.JETREYNOLDS;
    if (M.JETREYNOLDS == 0 && (!gas || !JetFlowAt(*gas, step.time, step.gas, step))) break;
    steps.push_back(step);
  }
  return steps;
}

// Where the jet's physics leaves its range: a gas temperature beyond the
// gas table (its properties are held at the nearest row), and a Reynolds
// number, stand-off or off-axis spacing outside the range of the
// single-nozzle correlation of this form (docs/jet.md).
constexpr double kReynoldsLow = 2e3, kReynoldsHigh = 4e5;
constexpr double kStandoffLow = 2, kStandoffHigh = 12;
constexpr double kOffaxisLow = 2.5, kOffaxisHigh = 7.5;

void RangeWarnings(json& warnings, const GasTable* gas) {
  // Only over tables the input stage laid whole: a stop before that has its
  // own message, and the tables hold nothing to judge.
  if (M.Record.blocks.size() != 8 || !(M.NOZZLEDIAM > 0)) return;
  const std::vector<JetStep> steps = StepsUsingTheJet(gas);
  const auto span = [](const std::vector<const JetStep*>& found, double JetStep::*field, const char* unit) {
    double low = found.front()->*field, high = low;
    for (const JetStep* step : found) {
      low = std::min(low, step->*field);
      high = std::max(high, step->*field);
    }
    return std::to_string(found.size()) + " step" + (found.size() == 1 ? "" : "s") + ", first step " +
           std::to_string(found.front()->step) + "; " + Shown(low) + (low == high ? "" : " to " + Shown(high)) + unit;
  };
  if (gas) {
    const double first = (*gas)[1].T, last = (*gas)[kGasRows].T;
    std::vector<const JetStep*> beyond;
    for (const JetStep& step : steps) {
      if (step.gas < first || step.gas > last) beyond.push_back(&step);
    }
    if (!beyond.empty()) {
      Warn(warnings, "gas-beyond-table", "GASPROP.DAT",
           "gas temperatures outside the gas table's " + Shown(first) + " to " + Shown(last) +
               " K (" + span(beyond, &JetStep::gas, " K") +
               "): the jet coefficient holds the properties of the nearest row there. Extend GASPROP.DAT.");
    }
  }
  std::vector<const JetStep*> outside;
  for (const JetStep& step : steps) {
    if (step.reynolds > 0 && (step.reynolds < kReynoldsLow || step.reynolds > kReynoldsHigh)) outside.push_back(&step);
  }
  if (!outside.empty()) {
    Warn(warnings, "reynolds-beyond-correlation", "LEFTIMP.DAT",
         "jet Reynolds numbers outside the correlation's " + Shown(kReynoldsLow) + " to " + Shown(kReynoldsHigh) +
             " (" + span(outside, &JetStep::reynolds, "") + "): the coefficient is extrapolated there.");
  }
  const double H = M.STANDOFFRATIO;
  if (!steps.empty() && H > 0 && H <= 20 && (H < kStandoffLow || H > kStandoffHigh)) {
    Warn(warnings, "standoff-beyond-correlation", "LEFTIMP.DAT",
         "the stand-off ratio " + Shown(H) + " lies outside the correlation's " + Shown(kStandoffLow) + " to " +
             Shown(kStandoffHigh) + " nozzle diameters: the coefficient is extrapolated.");
  }
  const double R = M.OFFAXISRATIO;
  if (!steps.empty() && R > 0 && (R < kOffaxisLow || R > kOffaxisHigh)) {
    Warn(warnings, "offaxis-beyond-correlation", "LEFTIMP.DAT",
         "half the off-axis spacing is " + Shown(R) + " nozzle diameters, outside the correlation's " +
             Shown(kOffaxisLow) + " to " + Shown(kOffaxisHigh) + ": the averaged coefficient is extrapolated.");
  }
}

// What the run does at `step` with its Reynolds number.
std::string ReynoldsEffect(const JetStep& step) {
  const std::string at = "step " + std::to_string(step.step) + " (coefficient formed at " + Shown(step.time) + " s)";
  const double re = step.reynolds;
  if (re == 0) {
    return "the jet's Reynolds number is 0 at " + at +
           ": the jet coefficient is 0 there and the gas does not heat the face.";
  }
  if (re > 0 && std::isinf(re)) {
    return "the jet's Reynolds number is infinite at " + at +
           ": the jet coefficient is infinite and the temperatures become NaN from that step on.";
  }
  if (re > 0) {
    return "the jet's Reynolds number at " + at + " comes out at " + Shown(re) +
           ", but from a viscosity no gas has.";
  }
  return "the jet's Reynolds number is not positive (" + Shown(re) + ") at " + at +
         ": the jet coefficient is not a number and the temperatures become NaN from that step on.";
}

void ReynoldsWarnings(json& warnings, const JetRead& jet, const GasTable* gas) {
  const std::vector<JetStep> steps = StepsUsingTheJet(gas);
  if (M.JETREYNOLDS != 0) {
    if (!(M.JETREYNOLDS > 0) && !jet.reynolds.text.empty()) {
      Warn(warnings, "reynolds-not-positive", "LEFTIMP.DAT",
           "the Reynolds number " + Shown(M.JETREYNOLDS) + " (LEFTIMP.DAT line " + std::to_string(jet.reynolds.line) +
               ") is below 0 (0 alone means: from the gas velocity): " +
               (steps.empty() ? "the jet coefficient is not a number, but no step of this run uses it."
                              : ReynoldsEffect(steps.front())));
    }
    return;
  }
  if (!(M.NOZZLEDIAM > 0) && !jet.nozzle.text.empty()) {
    Warn(warnings, "reynolds-not-positive", "LEFTIMP.DAT",
         "the nozzle diameter " + Shown(M.NOZZLEDIAM) + " m (LEFTIMP.DAT line " + std::to_string(jet.nozzle.line) +
             ") is not positive: the jet's Reynolds number (gas velocity x nozzle diameter / kinematic viscosity) "
             "is not positive, and the run stops before it starts.");
    return;
  }
  // Gas velocities: every pair read, and the steps that read them.
  std::size_t bad = 0;
  std::size_t first = 0;
  for (std::size_t k = 0; k < jet.velocities.size(); ++k) {
    if (!(jet.velocities[k].y > 0) && bad++ == 0) first = k;
  }
  if (bad > 0) {
    const Pair& pair = jet.velocities[first];
    std::string text = "gas velocities: pair " + std::to_string(first + 1) + ", " + Shown(pair.y) + " m/s at " +
                       Shown(pair.x) + " s, is not positive";
    if (bad > 1) {
      text += " (" + std::to_string(bad) + " of the " + std::to_string(jet.velocities.size()) + " pairs are)";
    }
    text += "; ";
    const JetStep* step = nullptr;
    for (const JetStep& s : steps) {
      if (!(s.velocity > 0)) {
        step = &s;
        break;
      }
    }
    text += step ? ReynoldsEffect(*step) : "no step of this run uses the jet coefficient at such a velocity.";
    Warn(warnings, "velocity-not-positive", "LEFTIMP.DAT", text);
  }
  // Gas table rows that a step reads: the first step where the viscosity
  // read is not positive, else the first that reads such a row at all.
  const auto bad_row = [&](const JetStep& s) {
    for (const int r : s.rows) {
      if (r > 0 && !((*gas)[r].nu > 0)) return r;
    }
    return 0;
  };
  const JetStep* found = nullptr;
  for (const JetStep& s : steps) {
    if (!(s.nu > 0) || (!found && bad_row(s) > 0)) found = &s;
    if (!(s.nu > 0)) break;
  }
  if (found) {
    const int row = bad_row(*found);
    std::string text = "the kinematic viscosity at the gas temperature " + Shown(found->gas) + " K is " +
                       Shown(found->nu) + " m^2/s";
    if (row > 0) {
      text += " (row " + std::to_string(row) + ", " + Shown((*gas)[row].T) + " K, gives " +
              Shown((*gas)[row].nu) + " m^2/s)";
    }
    text += "; " + ReynoldsEffect(*found);
    Warn(warnings, "viscosity-not-positive", "GASPROP.DAT", text);
  }
}

json Jet(json& warnings) {
  const JetRead& jet = M.Record.jet;
  if (!jet.present) return nullptr;
  json j = json::object();
  j["option"] = JetValue(jet.option, M.JETOPTION);
  j["reynolds"] = JetValue(jet.reynolds, M.JETREYNOLDS);
  j["nozzle_diameter_m"] = JetValue(jet.nozzle, M.NOZZLEDIAM);
  j["offaxis_spacing_m"] = JetValue(jet.offaxis, ParseReal(jet.offaxis.text));
  j["standoff_m"] = JetValue(jet.standoff, ParseReal(jet.standoff.text));
  j["standoff_ratio"] = M.STANDOFFRATIO;
  j["offaxis_ratio"] = M.OFFAXISRATIO;
  std::size_t boundary = 0;
  for (const BlockRead& block : M.Record.blocks) {
    if (block.source == "LEFTIMP.DAT") boundary = block.pairs.size();
  }
  j["boundary_pairs"] = boundary;
  j["boundary_count"] = jet.boundary_count.text.empty() ? json(nullptr) : Word(jet.boundary_count, true);
  j["velocity_count"] = jet.velocity_count.text.empty() ? json(nullptr) : Word(jet.velocity_count, true);
  j["velocity_pairs"] = PairList(jet.velocities);
  j["velocity_words"] = PairWordList(jet.velocity_words, "LEFTIMP.DAT");
  // The gas table as the jet coefficient reads it, read once more in quiet.
  GasTable table{};
  std::string failure;
  bool read;
  {
    console::Quiet quiet;
    read = ReadGasTable(table);
    failure = quiet.said;
  }
  json gas = json::object();
  gas["rows"] = json::array();
  if (read) {
    for (int r = 1; r <= kGasRows; ++r) gas["rows"].push_back({table[r].T, table[r].nu, table[r].k, table[r].Pr});
  }
  SetText(gas, "error", failure);
  if (read) gas["error"] = nullptr;
  j["gas_table"] = gas;

  for (const ListNote& note : jet.notes) Warn(warnings, note.code.c_str(), "LEFTIMP.DAT", "gas velocities: " + note.text);
  for (const auto& [word, name] : {std::pair{&jet.option, "near-field option"}, {&jet.reynolds, "Reynolds number"},
                                   {&jet.nozzle, "nozzle diameter"}, {&jet.offaxis, "off-axis spacing"},
                                   {&jet.standoff, "stand-off distance"}}) {
    if (!word->text.empty() && !IsNumber(word->text)) {
      Warn(warnings, "value-not-number", "LEFTIMP.DAT",
           std::string("the ") + name + " word '" + word->text + "' (LEFTIMP.DAT line " +
               std::to_string(word->line) + ") is not a number.");
    }
  }
  const double H = M.STANDOFFRATIO;
  if (M.NOZZLEDIAM > 0 && !(H > 0 && H <= 20)) {
    Warn(warnings, "standoff-out-of-range", "LEFTIMP.DAT",
         "the stand-off ratio is " + Shown(H) +
             " nozzle diameters, outside 0 < H <= 20: the jet coefficient cannot be formed and the run stops.");
  }
  if (M.JETREYNOLDS == 0 && M.TIMESTEPS >= 0 && M.DELTAT > 0) {
    for (int step = 0; step <= M.TIMESTEPS; ++step) {
      double velocity;
      if (!GasVelocityAt(step * M.DELTAT, velocity)) {
        Warn(warnings, "velocity-not-covering", "LEFTIMP.DAT",
             "the gas velocities do not cover the time " + Shown(step * M.DELTAT) + " s: the run stops " +
                 (step == 0 ? std::string("before the first step") : "after step " + std::to_string(step)) +
                 ".");
        break;
      }
    }
  }
  ReynoldsWarnings(warnings, jet, read ? &table : nullptr);
  RangeWarnings(warnings, read ? &table : nullptr);
  return j;
}

json Grid(json& warnings) {
  json j = json::object();
  j["nodes"] = M.NODES;
  j["deltax_m"] = M.DELTAX;
  // NODES may be any int here; + 0.0 shows a depth of nothing as 0, not -0.
  j["depth_m"] = (static_cast<double>(M.NODES) - 1) * M.DELTAX + 0.0;
  j["timesteps"] = M.TIMESTEPS;
  j["deltat_s"] = M.DELTAT;
  j["duration_s"] = M.TIMESTEPS * M.DELTAT + 0.0;
  // What the face words name, as the march reads them (by their first letter).
  j["left_face"] = FaceKindName(FaceKindOf('L'));
  j["right_face"] = FaceKindName(FaceKindOf('R'));
  // The full temperature history: the march holds a few rows of it at a time, and only --results
  // writes it whole (the rows after its 128-byte header). `matrix_mib`, the block of (TIMESTEPS+2) x
  // (NODES+2) doubles a run once held, stays for the callers that read it.
  const double matrix = (static_cast<double>(M.TIMESTEPS) + 2) * (static_cast<double>(M.NODES) + 2) * 8;
  j["matrix_mib"] = matrix / (1 << 20);
  const double history = (static_cast<double>(M.TIMESTEPS) + 1) * static_cast<double>(M.NODES) * 8;
  j["history_mib"] = history / (1 << 20);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  const double memory = pages > 0 && page > 0 ? static_cast<double>(pages) * static_cast<double>(page) : 0;
  j["memory_mib"] = memory / (1 << 20);
  const bool all_nodes = BurnsEveryNode();
  j["burn_mode"] = M.MarchOnly ? "none" : all_nodes ? "all-nodes" : "single-node";
  j["output_node"] = M.OUTNODE;
  // Named only when chosen, so that a run without the option reads as it always did.
  if (M.Scheme == TimeScheme::kBdf2) j["time_scheme"] = "bdf2";
  if (M.OUTTIME != 0 && M.DELTAT > 0) {
    bool reached = false;
    for (int step = 1; step <= M.TIMESTEPS && !reached; ++step) reached = step * M.DELTAT == M.OUTTIME;
    if (!reached) {
      Warn(warnings, "outtime-not-reached", "entry 1",
           "OUTTIME " + Shown(M.OUTTIME) + " s equals no step time j*DELTAT exactly: no profile will be listed.");
    }
    if (!all_nodes) {
      Warn(warnings, "single-node-with-outtime", "entry 1",
           "single-node burn mode (OUTNODE " + std::to_string(M.OUTNODE) +
               ", BURNDEPTH 0) with OUTTIME not 0 keeps no history: the run ends in the integrator's fatal "
               "error \"Step size too small in routine rkdumb\".");
    }
  }
  return j;
}

}  // namespace

std::string Shown(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

bool ValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t extra;
    unsigned min;
    unsigned code;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, min = 0x80, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, min = 0x800, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, min = 0x10000, code = c & 0x07;
    } else {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      if (i + k >= text.size()) return false;
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of("\r\n");
  if (first == std::string::npos) return "";
  const std::size_t last = text.find_last_not_of("\r\n");
  return text.substr(first, last - first + 1);
}

void SetText(json& object, const std::string& key, std::string_view bytes) {
  if (ValidUtf8(bytes)) {
    object[key] = std::string(bytes);
    return;
  }
  // Each byte that does not begin a valid sequence becomes U+FFFD; the exact
  // bytes go beside it in hexadecimal.
  std::string shown;
  std::string hex;
  static const char kDigits[] = "0123456789abcdef";
  for (const char ch : bytes) {
    hex += kDigits[static_cast<unsigned char>(ch) >> 4];
    hex += kDigits[static_cast<unsigned char>(ch) & 15];
  }
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t length = 0;  // of the character that starts at i, if valid
    for (std::size_t n = 1; n <= 4 && i + n <= bytes.size() && length == 0; ++n) {
      if (ValidUtf8(bytes.substr(i, n))) length = n;
    }
    if (length == 0) {
      shown += "\xEF\xBF\xBD";
      ++i;
    } else {
      shown.append(bytes.substr(i, length));
      i += length;
    }
  }
  object[key] = shown;
  object[key + "_hex"] = hex;
}

namespace {

// The blood perfusion of --perfusion: the blood's values, the pairs read
// and the rate of every node once laid (null before).
json Perfusion() {
  json j = json::object();
  j["file"] = kPerfusionFile;
  j["arterial_temperature_K"] = M.ArterialTemp;
  j["blood_density_kg_m3"] = M.BloodDensity;
  j["blood_heat_capacity_J_kgK"] = M.BloodHeatCap;
  j["pairs"] = PairList(M.PerfusionPairs);
  j["laid"] = nullptr;
  if (M.PerfusionLaid) {
    std::vector<double> rates;
    for (int i = 1; i <= M.NODES; ++i) rates.push_back(M.PerfusionTable[i].y);
    j["laid"] = {{"table", kPerfusionBlock.name},
                 {"grid", "depth"},
                 {"first", 1},
                 {"last", rates.size()},
                 {"spacing", M.DELTAX},
                 {"unit", kPerfusionBlock.unit},
                 {"values", rates}};
  }
  return j;
}

}  // namespace

json InputDocument() {
  json doc = json::object();
  json warnings = json::array();
  doc["entries"] = Entries(warnings);
  LikelyCause(warnings);
  doc["blocks"] = Blocks(warnings);
  doc["jet"] = Jet(warnings);
  doc["grid"] = Grid(warnings);
  // Named only with --perfusion, so that a run without it reads as it always did.
  if (M.Perfusion) {
    doc["perfusion"] = Perfusion();
  } else if (access((M.DataDir + kPerfusionFile).c_str(), F_OK) == 0) {
    Warn(warnings, "perfusion-not-asked", kPerfusionFile,
         std::string(kPerfusionFile) + " is in the data directory, but the run reads it only with --perfusion: "
                                       "without it the skin is not perfused.");
  }
  doc["warnings"] = warnings;
  return doc;
}
