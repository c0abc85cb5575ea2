// The --check=json document of a data directory made from the fuzzer's
// bytes. The bytes are DATA.DAT, optionally followed by other files of the
// directory, each after a line "@@NAME" (NAME one of the files the input
// stage reads: INITTEMP.DAT .. RIGHTAMB.DAT, LEFTIMP.DAT, GASPROP.DAT); a
// file not given is the sound one of fuzz_common. The program runs as
// `skinburn --check=json DIR/`, and what it prints must be one JSON document
// that holds what docs/results.md promises of it:
//   - the status agrees with would_start, error and the program's status;
//     nothing goes to standard error;
//   - every word location (file, offset, length) holds exactly the word's
//     text in that file, and every pair word reads as the number of its pair
//     (but a value word passed over by the DATA.DAT rule);
//   - entries are numbered 1..20 in file order under their names, blocks
//     are placed 1..8 in file order, pairs_read, first_pair and last_pair
//     agree with pairs, a laid table covers the grid;
//   - the grid's depth, duration and history size are the products they stand for, and
//     the burn mode follows OUTNODE and BURNDEPTH.
// Any breach prints what was wrong and aborts.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "input/input.h"
#include "facts/facts.h"
#include "fuzz_common.h"

using nlohmann::json;

namespace {

const char* const kFiles[] = {"INITTEMP.DAT", "CONDUCT.DAT", "HEATCAP.DAT", "DENSITY.DAT", "LEFTBC.DAT",
                              "LEFTAMB.DAT",  "RIGHTBC.DAT", "RIGHTAMB.DAT", "LEFTIMP.DAT", "GASPROP.DAT"};

// The files of this run's data directory, by name, as written.
std::map<std::string, std::string> files;
std::string document_text;  // for the report of a breach

[[noreturn]] void Breach(const std::string& what, const json& where) {
  std::fprintf(stderr, "fuzz_check: %s\n  at: %s\n  document:\n%s\n", what.c_str(),
               where.dump(-1, ' ', false, json::error_handler_t::replace).c_str(), document_text.c_str());
  std::abort();
}

void Require(bool holds, const std::string& what, const json& where = nullptr) {
  if (!holds) Breach(what, where);
}

const json& Field(const json& object, const char* key) {
  Require(object.is_object() && object.contains(key), std::string("missing field ") + key, object);
  return object[key];
}

bool IsUInt(const json& value) { return value.is_number_unsigned() || (value.is_number_integer() && value >= 0); }

// The exact bytes of a text field: from key_hex when present.
std::string Exact(const json& object, const std::string& key) {
  const json& text = Field(object, key.c_str());
  Require(text.is_string(), key + " is not text", object);
  if (!object.contains(key + "_hex")) return text.get<std::string>();
  const std::string hex = object[key + "_hex"].get<std::string>();
  Require(hex.size() % 2 == 0, key + "_hex has an odd length", object);
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  Require(!ValidUtf8(bytes), key + "_hex given for valid UTF-8", object);
  return bytes;
}

// The bytes [offset, offset + length) of `file`, which must lie in it.
std::string_view At(const json& where, const std::string& file, const json& offset, const json& length) {
  const auto found = files.find(file);
  Require(found != files.end(), "a word location names a file the directory does not hold", where);
  Require(IsUInt(offset) && IsUInt(length), "a word location is not two counts", where);
  const std::size_t at = offset.get<std::size_t>();
  const std::size_t size = length.get<std::size_t>();
  Require(at <= found->second.size() && size <= found->second.size() - at, "a word location is outside its file",
          where);
  return std::string_view(found->second).substr(at, size);
}

// {text, file, offset, length}: the file holds the text there.
void CheckWord(const json& word) {
  Require(word.is_object(), "a word is not an object", word);
  const std::string text = Exact(word, "text");
  const std::string_view held = At(word, Exact(word, "file"), Field(word, "offset"), Field(word, "length"));
  Require(held == text, "the bytes at a word's location are not its text", word);
  if (word.contains("line")) Require(IsUInt(word["line"]) && word["line"] >= 1, "a word's line is not 1 or more", word);
}

void CheckWordOrNull(const json& word) {
  if (!word.is_null()) CheckWord(word);
}

void CheckWords(const json& list) {
  Require(list.is_array(), "a word list is not an array", list);
  for (const json& word : list) CheckWord(word);
}

// A number of the document against the value a word reads as: equal, or
// null where the value is not finite (JSON has no infinities).
void CheckValue(const json& value, double read, const json& where, const char* what) {
  const std::string detail = std::string(what) + " " + value.dump() + ", its word reads as " + std::to_string(read);
  if (!std::isfinite(read)) {
    Require(value.is_null(), detail + ": a value that is not finite is not null", where);
  } else {
    Require(value.is_number() && value.get<double>() == read, detail + ": the value is not what its word reads as",
            where);
  }
}

// Pairs with their word locations: each word reads as its value.
void CheckPairs(const json& pairs, const json& words) {
  Require(pairs.is_array() && words.is_array(), "pairs or pair words are not arrays", pairs);
  Require(words.size() == pairs.size(), "not one pair word entry per pair", words);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const json& pair = pairs[i];
    const json& at = words[i];
    Require(pair.is_array() && pair.size() == 2, "a pair is not two values", pair);
    const std::string file = Exact(at, "file");
    for (const auto& [key, column] : {std::pair{"x", 0}, {"y", 1}}) {
      const json& loc = Field(at, key);
      Require(loc.is_array() && loc.size() == 2, "a pair word is not [offset, length]", at);
      const std::string_view word = At(at, file, loc[0], loc[1]);
      Require(!word.empty(), "a pair word is empty", at);
      // In DATA.DAT a value word that is no number (a signed one) is passed
      // over and the pair keeps the value it had; the first word of a pair
      // always begins a number.
      if (column == 1 && !StartsNumber(word)) continue;
      Require(StartsNumber(word) || column == 1, "a pair's first word does not begin a number", at);
      CheckValue(pair[static_cast<std::size_t>(column)], ParseReal(word), at, "pair");
    }
  }
}

void CheckEntries(const json& entries) {
  Require(entries.is_array() && entries.size() <= 20, "entries is not an array of at most 20", entries);
  int last = 0;
  for (const json& entry : entries) {
    const json& number = Field(entry, "number");
    Require(number.is_number_integer() && number > last && number <= 20, "entries are not numbered in order", entry);
    last = number.get<int>();
    Require(Field(entry, "name") == EntryOf(last).name, "an entry has the name of another", entry);
    Require(Field(entry, "kind") == EntryKindName(EntryOf(last).kind), "an entry has the kind of another", entry);
    Require(Field(entry, "unit").is_string(), "an entry's unit is not text", entry);
    (void)Field(entry, "value");
    CheckWordOrNull(Field(entry, "word"));
    CheckWords(Field(entry, "labels_before"));
    CheckWords(Field(entry, "labels_after"));
    const json& fallback = Field(entry, "default");
    Require(fallback.is_null() || (last >= 11 && last <= 14), "a default for an entry that has none", entry);
    // A default replaces a zero that was read; an absent word is entry 12's.
    if (fallback.is_object() && fallback.contains("absent")) Require(last == 12, "an absent entry other than 12", entry);
    if (Field(entry, "word").is_null()) Require(fallback.is_object() && fallback.contains("absent"),
                                                "an entry without a word that is not the absent exponent", entry);
  }
}

void CheckBlocks(const json& blocks, const json& grid) {
  Require(blocks.is_array() && blocks.size() <= 8, "blocks is not an array of at most 8", blocks);
  int last = 0;
  for (const json& block : blocks) {
    const json& place = Field(block, "place");
    Require(place.is_number_integer() && place > last && place <= 8, "blocks are not placed in order", block);
    last = place.get<int>();
    CheckWord(Field(block, "name"));
    CheckWordOrNull(Field(block, "count"));
    CheckWordOrNull(Field(block, "file_count"));
    Require(Field(block, "count_code").is_number_integer(), "count_code is not a whole number", block);
    const json& pairs = Field(block, "pairs");
    CheckPairs(pairs, Field(block, "pair_words"));
    Require(Field(block, "pairs_read") == pairs.size(), "pairs_read is not the number of pairs", block);
    Require(Field(block, "first_pair") == (pairs.empty() ? json(nullptr) : pairs.front()), "first_pair is not the first",
            block);
    Require(Field(block, "last_pair") == (pairs.empty() ? json(nullptr) : pairs.back()), "last_pair is not the last",
            block);
    const json& laid = Field(block, "laid");
    if (laid.is_null()) continue;
    const json& values = Field(laid, "values");
    Require(values.is_array() && Field(laid, "first") == 1 && Field(laid, "last") == values.size(),
            "a laid table's first and last are not 1 and its values", laid);
    const bool depth = Field(laid, "grid") == "depth";
    Require(depth || laid["grid"] == "time", "a laid table's grid is neither depth nor time", laid);
    const json& count = depth ? grid["nodes"] : grid["timesteps"];
    if (count.is_number_integer() && count >= 0 && count < 30000) {
      const std::size_t expected = count.get<std::size_t>() + (depth ? 0 : 1);
      Require(values.size() == expected, "a laid table does not cover its grid", laid);
    }
    Require(Field(laid, "spacing") == (depth ? grid["deltax_m"] : grid["deltat_s"]),
            "a laid table's spacing is not the grid's", laid);
  }
}

void CheckJet(const json& jet) {
  if (jet.is_null()) return;
  for (const char* key : {"option", "reynolds", "nozzle_diameter_m", "offaxis_spacing_m", "standoff_m"}) {
    const json& value = Field(jet, key);
    // A word that LEFTIMP.DAT ended before stands with no file and no text.
    if (Exact(value, "file").empty()) {
      Require(Exact(value, "text").empty() && value["length"] == 0, "a jet word without a file has text", value);
      continue;
    }
    CheckWord(value);
    CheckValue(Field(value, "value"), ParseReal(Exact(value, "text")), value, key);
  }
  CheckWordOrNull(Field(jet, "boundary_count"));
  CheckWordOrNull(Field(jet, "velocity_count"));
  CheckPairs(Field(jet, "velocity_pairs"), Field(jet, "velocity_words"));
  const json& gas = Field(jet, "gas_table");
  if (gas.is_null()) return;
  const json& rows = Field(gas, "rows");
  const json& error = Field(gas, "error");
  Require(rows.is_array() && (error.is_null() ? rows.size() == 18 : rows.empty()),
          "the gas table has neither its 18 rows nor an error", gas);
}

void CheckGrid(const json& grid, const json& entries) {
  const json& nodes = Field(grid, "nodes");
  const json& timesteps = Field(grid, "timesteps");
  Require(nodes.is_number_integer() && timesteps.is_number_integer(), "nodes or timesteps not whole numbers", grid);
  const json& deltax = Field(grid, "deltax_m");
  const json& deltat = Field(grid, "deltat_s");
  if (deltax.is_number()) {
    CheckValue(Field(grid, "depth_m"), (nodes.get<double>() - 1) * deltax.get<double>(), grid, "depth_m");
  }
  if (deltat.is_number()) {
    CheckValue(Field(grid, "duration_s"), timesteps.get<int>() * deltat.get<double>(), grid, "duration_s");
  }
  CheckValue(Field(grid, "history_mib"), (timesteps.get<double>() + 1) * nodes.get<double>() * 8 / (1 << 20), grid,
             "history_mib");
  int outnode = 0;
  int burndepth = 0;
  for (const json& entry : entries) {
    if (entry["number"] == 2) outnode = entry["value"].get<int>();
    if (entry["number"] == 6) burndepth = entry["value"].get<int>();
  }
  Require(Field(grid, "output_node") == outnode, "output_node is not OUTNODE", grid);
  const bool all_nodes = !(outnode != 0 && burndepth == 0);
  Require(Field(grid, "burn_mode") == (all_nodes ? "all-nodes" : "single-node"), "burn_mode does not follow entries",
          grid);
}

void CheckWarnings(const json& warnings) {
  Require(warnings.is_array(), "warnings is not an array", warnings);
  for (const json& warning : warnings) {
    const json& code = Field(warning, "code");
    Require(code.is_string() && !code.get<std::string>().empty() &&
                code.get<std::string>().find_first_of(" \t\r\n") == std::string::npos,
            "a warning's code is not one word", warning);
    (void)Exact(warning, "concerns");
    Require(!Exact(warning, "text").empty(), "a warning without text", warning);
  }
}

void CheckDocument(const json& doc, int status) {
  Require(doc.is_object(), "the document is not an object", nullptr);
  Require(Field(doc, "program") == "skinburn" && Field(doc, "kind") == "check" &&
              Field(doc, "version") == SKINBURN_VERSION,
          "program, kind or version", doc["version"]);
  Require(Exact(doc, "data_dir") == fuzz::DataDir(), "data_dir is not the directory given", doc["data_dir"]);
  const json& start = Field(doc, "would_start");
  Require(start.is_boolean(), "would_start is not true or false", start);
  Require(Field(doc, "status") == (start.get<bool>() ? 0 : 1), "status does not follow would_start", doc["status"]);
  Require(status == doc["status"], "the program's status is not the document's", status);
  const json& error = Field(doc, "error");
  if (start.get<bool>()) {
    Require(error.is_null(), "an error for a run that would start", error);
  } else {
    Require(!Exact(doc, "error").empty(), "a run that would not start, without its message", doc["printed"]);
  }
  (void)Exact(doc, "printed");
  const json& entries = Field(doc, "entries");
  CheckEntries(entries);
  const json& grid = Field(doc, "grid");
  CheckGrid(grid, entries);
  CheckBlocks(Field(doc, "blocks"), grid);
  CheckJet(Field(doc, "jet"));
  CheckWarnings(Field(doc, "warnings"));
}

// Splits the input into DATA.DAT and the files after "\n@@NAME\n" lines.
void Split(std::string_view input) {
  files.clear();
  std::string name = "DATA.DAT";
  for (;;) {
    const std::size_t mark = input.find("\n@@");
    files[name] = std::string(input.substr(0, mark == std::string_view::npos ? input.size() : mark + 1));
    if (mark == std::string_view::npos) return;
    input.remove_prefix(mark + 3);
    const std::size_t end = input.find('\n');
    name = std::string(input.substr(0, end));
    input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    bool known = false;
    for (const char* file : kFiles) known = known || name == file;
    if (!known) name = "?";  // not a file of the directory: dropped
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::map<std::string, std::string> sound;
  if (sound.empty()) {
    fuzz::WriteCompanions();
    const char* const kinds[] = {fuzz::kInitTempFile, fuzz::kDepthFile, fuzz::kDepthFile, fuzz::kDepthFile,
                                 fuzz::kTimeFile,     fuzz::kTimeFile,  fuzz::kTimeFile,  fuzz::kTimeFile,
                                 fuzz::kLeftImpFile,  fuzz::kGasPropFile};
    for (std::size_t i = 0; i < std::size(kFiles); ++i) sound[kFiles[i]] = kinds[i];
  }
  Split(fuzz::Bytes(data, size));
  files.erase("?");
  // Only the files that differ from what the directory holds are written.
  static std::map<std::string, std::string> held = sound;
  for (const char* file : kFiles) {
    if (!files.count(file)) files[file] = sound[file];
    if (held[file] != files[file]) {
      fuzz::WriteFile(file, files[file]);
      held[file] = files[file];
    }
  }
  fuzz::WriteFile("DATA.DAT", files["DATA.DAT"]);

  fuzz::Session session(size);
  std::string arg0 = "skinburn";
  std::string arg1 = "--check=json";
  std::string arg2 = fuzz::DataDir();
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
  const int status = session.RunMain(3, argv);
  document_text = session.Out();
  Require(session.Err().empty(), "the check wrote to standard error", session.Err());
  Require(!document_text.empty() && document_text.back() == '\n', "the document does not end with a line end");
  json doc;
  try {
    doc = json::parse(document_text);
  } catch (const json::exception& error) {
    Breach(std::string("the document is not JSON: ") + error.what(), nullptr);
  }
  CheckDocument(doc, status);
  return 0;
}
