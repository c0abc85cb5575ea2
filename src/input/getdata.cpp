// GetData: the parameter file DATA.DAT front to back, twenty run-parameter
// entries and then eight distribution blocks.
//
// The file is a stream of white-space-separated words after a "#" comment
// header and one title line. Each entry skips a fixed number of free label
// words, takes its value word and for some entries skips one unit word:
// only the number of words matters, not the lines they stand on.
#include <cassert>
#include <cmath>
#include <cstring>
#include <string>

#include "console/console.h"
#include "input/blocks.h"
#include "input/input.h"

namespace {

constexpr const char* kDataFile = "DATA.DAT";
constexpr const char* kEntriesEnded = "all twenty run-parameter entries were read";
constexpr const char* kBlocksEnded = "all eight distribution blocks were read";

// The entries in file order.
const EntryTable kEntryTables[kEntryCount] = {
    {1, "OUTTIME", "s", EntryKind::kReal, &Model::OUTTIME, nullptr, nullptr, 7, 1},
    {2, "OUTNODE", "", EntryKind::kInteger, nullptr, &Model::OUTNODE, nullptr, 6, 1},
    {3, "VERBOSE", "", EntryKind::kInteger, nullptr, &Model::VERBOSE, nullptr, 5, 0},
    {4, "PRINTAMATRIX", "", EntryKind::kInteger, nullptr, &Model::PRINTAMATRIX, nullptr, 2, 0},
    {5, "PRINTINITTEMP", "", EntryKind::kInteger, nullptr, &Model::PRINTINITTEMP, nullptr, 2, 0},
    {6, "BURNDEPTH", "", EntryKind::kInteger, nullptr, &Model::BURNDEPTH, nullptr, 6, 0},
    {7, "BATCH", "", EntryKind::kInteger, nullptr, &Model::BATCH, nullptr, 2, 0},
    {8, "TRIAL", "", EntryKind::kInteger, nullptr, &Model::TRIAL, nullptr, 2, 0},
    {9, "EXECDATE", "", EntryKind::kText, nullptr, nullptr, &Model::EXECDATE, 3, 0},
    {10, "EXECBY", "", EntryKind::kText, nullptr, nullptr, &Model::EXECBY, 3, 0},
    {11, "FREQFACTOR", "1/s", EntryKind::kReal, &Model::FREQFACTOR, nullptr, nullptr, 3, 0},
    {12, "FREQEXP", "", EntryKind::kInteger, nullptr, &Model::FREQEXP, nullptr, 1, 0},
    {13, "ACTENERGY", "J/mol", EntryKind::kReal, &Model::ACTENERGY, nullptr, nullptr, 1, 0},
    {14, "GASCONST", "J/(mol K)", EntryKind::kReal, &Model::GASCONST, nullptr, nullptr, 1, 0},
    {15, "LBC", "", EntryKind::kText, nullptr, nullptr, &Model::LBC, 2, 0},
    {16, "RBC", "", EntryKind::kText, nullptr, nullptr, &Model::RBC, 1, 0},
    {17, "TIMESTEPS", "", EntryKind::kInteger, nullptr, &Model::TIMESTEPS, nullptr, 2, 0},
    {18, "DELTAT", "s", EntryKind::kReal, &Model::DELTAT, nullptr, nullptr, 1, 1},
    {19, "DELTAX", "m", EntryKind::kReal, &Model::DELTAX, nullptr, nullptr, 1, 1},
    {20, "NODES", "", EntryKind::kInteger, nullptr, &Model::NODES, nullptr, 1, 0},
};

}  // namespace

const EntryTable& EntryOf(int number) {
  assert(number >= 1 && number <= kEntryCount);
  return kEntryTables[number - 1];
}

const char* EntryKindName(EntryKind kind) {
  switch (kind) {
    case EntryKind::kReal: return "real";
    case EntryKind::kInteger: return "integer";
    case EntryKind::kText: return "text";
  }
  return "";
}

const BlockTable kBlockTables[kBlockCount] = {
    {'I', &Model::InitTempTable, "INITTEMP.DAT", "GetData() Error: %s",
     "\r\n INITTEMP.DAT could not be found... \r\n",
     "Initial Temperature Distribution Error: \r\n%s%s\r\n",
     "Initial Temperature Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     true, "Initial node temperatures", "initial_temperature", "K"},
    {'C', &Model::ConductTable, "CONDUCT.DAT", "GetData Error: %s",
     "\r\n CONDUCT.DAT could not be found... \r\n",
     "Conductivity Distribution Error:  \r\n%s%s\r\n",
     "Conductivity Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     true, "Node conductivities", "conductivity", "W/(m K)"},
    {'H', &Model::HeatCapTable, "HEATCAP.DAT", "%s",
     "\r\n HEATCAP.DAT could not be found... \r\n",
     "Heat Capacity Distribution Error:  \r\n%s%s\r\n",
     "Heat Capacity Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     true, "Node heat capacities", "heat_capacity", "J/(kg K)"},
    {'D', &Model::DensityTable, "DENSITY.DAT", "GetData() Error: %s",
     "\r\n DENSITY.DAT could not be found... \r\n",
     "Density Distribution Error:  \r\n%s%s\r\n",
     "Density Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     true, "Node densities", "density", "kg/m^3"},
    {'L', &Model::LeftBCTable, "LEFTBC.DAT", "GetData() Error: %s",
     "\r\n LEFTBC.DAT could not be found... \r\n",
     "Left Boundary Condition Distribution Error:  \r\n%s%s\r\n",
     "Left Boundary Condition Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     false, "Left boundary conditions", "left_bc", ""},
    {'O', &Model::LeftAmbTable, "LEFTAMB.DAT", "GetData() Error: %s",
     "\r\n LEFTAMB.DAT could not be found... \r\n",
     "Left-side Ambient Temperature Distribution Error:  \r\n%s%s\r\n",
     "Left-side Ambient Temperature Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     false, "Left-side ambient temperatures", "left_ambient", "K"},
    {'R', &Model::RightBCTable, "RIGHTBC.DAT", "GetData() Error: %s",
     "\r\n RIGHTBC.DAT could not be found... \r\n",
     "Right Boundary Condition Distribution Error:  \r\n%s%s\r\n",
     "Right Boundary Condition Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     false, "Right boundary conditions", "right_bc", ""},
    {'A', &Model::RightAmbTable, "RIGHTAMB.DAT", "GetData() Error: %s",
     "\r\n RIGHTAMB.DAT could not be found... \r\n",
     "Right-side Ambient Temperature Distribution Error:  \r\n%s%s\r\n",
     "Right-side Ambient Temperature Distribution: \r\n%s (%d)\n%s (%d)\r\n",
     false, "Right-side ambient temperatures", "right_ambient", "K"},
};

const BlockTable* BlockOf(char letter) {
  for (const BlockTable& block : kBlockTables) {
    if (block.letter == letter) return &block;
  }
  return nullptr;
}

namespace {

// The block a marker selects after the first: the initial temperatures come
// first, and only first.
const BlockTable* KindOf(char letter) { return letter == 'I' ? nullptr : BlockOf(letter); }

// --- The run-parameter entries -------------------------------------------

// Takes entry `number`'s value word; with the record on, keeps the word and
// the labels around it.
bool Entry(TextSource& data, int number, int before, std::string_view& value, int after) {
  if (!TakeWord(data, before, value, after, kDataFile, kEntriesEnded)) return false;
  InputRecord& record = M.Record;
  if (record.on) {
    EntryRead entry;
    entry.number = number;
    entry.value = record.taken;
    entry.before = record.skipped_before;
    entry.after = record.skipped_after;
    record.entries.push_back(std::move(entry));
  }
  return true;
}

// Takes entry `number` into its member of the model.
bool TakeEntry(TextSource& data, int number) {
  const EntryTable& entry = EntryOf(number);
  std::string_view word;
  if (!Entry(data, number, entry.before, word, entry.after)) return false;
  switch (entry.kind) {
    case EntryKind::kReal: M.*entry.real = ParseReal(word); break;
    case EntryKind::kInteger: M.*entry.integer = ParseInt(word); break;
    case EntryKind::kText: (M.*entry.text).assign(word.substr(0, word.find('\0'))); break;  // a C string ends at NUL
  }
  return true;
}

bool TakeEntries(TextSource& data, int first, int last) {
  for (int number = first; number <= last; ++number) {
    if (!TakeEntry(data, number)) return false;
  }
  return true;
}

// Marks entry `number` as replaced by its standard constant.
void Defaulted(int number) {
  for (EntryRead& entry : M.Record.entries) {
    if (entry.number == number) entry.defaulted = true;
  }
}

bool ReadEntries(TextSource& data) {
  if (!TakeEntries(data, 1, 11)) return false;
  if (M.FREQFACTOR == 0) {
    // The standard skin constants; the file then leaves out the exponent.
    Defaulted(11);
    M.FREQFACTOR = 3.442707;
    M.FREQEXP = 94;
    if (M.Record.on) {
      EntryRead absent;
      absent.number = 12;
      absent.absent = true;
      absent.defaulted = true;
      M.Record.entries.push_back(std::move(absent));
    }
  } else {
    const EntryTable& exponent = EntryOf(12);
    std::string_view word;
    if (!Entry(data, 12, exponent.before, word, exponent.after)) return false;
    if (word.size() <= 3) {
      DataError("DATA.DAT Line 12 input must be longer than three characters, as in 10^94.");
      return false;
    }
    M.FREQEXP = ParseInt(word.substr(3));  // "10^94" gives 94
  }
  if (!TakeEntries(data, 13, 14)) return false;
  if (M.ACTENERGY == 0) {
    Defaulted(13);
    M.ACTENERGY = 623580.0;
  }
  if (M.GASCONST == 0) {
    Defaulted(14);
    M.GASCONST = 8.31439;
  }
  return TakeEntries(data, 15, kEntryCount);
}

bool Positive(double value) { return value > 0 && std::isfinite(value); }

bool FaceNeedsNeighbour(char side) {
  const FaceKind kind = FaceKindOf(side);
  return kind == FaceKind::kConvection || kind == FaceKind::kFlux;
}

// The checks in their order; the first that fails is the one reported.
const char* FirstFailedCheck() {
  const auto flag = [](int value) { return value != 0 && value != 1; };
  if (!(M.OUTTIME >= 0 && M.OUTTIME <= M.TIMESTEPS * M.DELTAT)) {
    return "DATA.DAT Line 1 input must be greater than zero and less than \n(Time Steps*delta-t).";
  }
  if (M.OUTNODE < 0 || M.OUTNODE > M.NODES) return "DATA.DAT Line 2 input must be between 1 and NODES.";
  if (flag(M.VERBOSE)) return "DATA.DAT Line 3 input must be set to either 1 or 0.";
  if (flag(M.PRINTAMATRIX)) return "DATA.DAT Line 4 input must be set to either 1 or 0.";
  if (flag(M.PRINTINITTEMP)) return "DATA.DAT Line 5 input must be set to either 1 or 0.";
  if (flag(M.BURNDEPTH)) return "DATA.DAT Line 6 input must be set to either 1 or 0.";
  if (flag(M.BATCH)) return "DATA.DAT Line 7 input must be set to either 1 or 0.";
  if (M.BURNDEPTH == 1 && M.OUTTIME != 0) return "DATA.DAT Line 1 must be set to 0 if Line 6 is set to 1.";
  // Past these bounds the tables would overflow or the solver divide by zero.
  if (M.TIMESTEPS < 0 || M.TIMESTEPS > kMaxTimeSteps) {
    return "DATA.DAT Line 17 input must be between 0 and 29999.";
  }
  if (!Positive(M.DELTAT)) return "DATA.DAT Line 18 input must be greater than zero.";
  if (!Positive(M.DELTAX)) return "DATA.DAT Line 19 input must be greater than zero.";
  if (M.NODES < 1 || M.NODES > kMaxNodes) return "DATA.DAT Line 20 input must be between 1 and 30000.";
  if (M.NODES == 1 && (FaceNeedsNeighbour('L') || FaceNeedsNeighbour('R'))) {
    return "DATA.DAT Line 20 input must be at least 2 with a CONVECTION or FLUX boundary.";
  }
  return nullptr;
}

// --- The distribution blocks ---------------------------------------------

// The block being read, in the record.
BlockRead* Current() { return M.Record.on && !M.Record.blocks.empty() ? &M.Record.blocks.back() : nullptr; }

// The pairs of the list just read, as read, into the record of the block.
void KeepPairs(const char* source, const PairTable& table, int read) {
  BlockRead* block = Current();
  if (!block) return;
  block->source = source;
  block->pairs.assign(table.begin() + 1, table.begin() + 1 + read);
  block->words = M.Record.list_words;
  block->ended_by = M.Record.list_end;
  block->notes.insert(block->notes.end(), M.Record.list_notes.begin(), M.Record.list_notes.end());
}

// The word that must follow an external data file call in DATA.DAT.
bool ExpectMarker(TextSource& data, const BlockTable& kind) {
  std::string_view word;
  if (!TakeWord(data, 0, word, 0, kDataFile, kBlocksEnded)) return false;
  if (word[0] != '!') RowsOfDataError(kind.rows_format);
  return true;
}

// The block's pairs from its separate data file (count code 0).
bool ReadDataFile(TextSource& data, const BlockTable& kind, int& count) {
  TextSource file;
  file.name = kind.file;
  if (!file.Load(M.DataDir + kind.file)) {
    console::Printf(kind.missing_format, kind.missing_text);
    return false;
  }
  if (!SkipHeader(file)) {
    FileError(kind.file, "ended before its count entry");
    return false;
  }
  std::string_view word;
  if (!TakeWord(file, 2, word, 0, kind.file, "its count entry")) return false;
  if (BlockRead* block = Current()) block->file_count = M.Record.taken;
  const int specified = ParseInt(word);
  int read = 0;
  if (ReadPairs(file, M.*kind.table, false, kind.file, read) == ListEnd::kFailed) return false;
  KeepPairs(kind.file, M.*kind.table, read);
  if (!ExpectMarker(data, kind)) return false;
  count = specified;
  // After LEFTBC.DAT the file's count is handed on unchanged.
  if (kind.letter != 'L' && count > 0 && read != count) {
    count = CompareCount(kind.compare_format, read, count, true);
  }
  return true;
}

// Reads one recognised block after its count and hands it to Interp.
bool ReadBlock(TextSource& data, const BlockTable& kind, std::string_view name, int count) {
  if (kind.letter == 'L' && count == -1) {
    if (!ReadLeftImp(data, count)) return false;
  } else if (count == 0) {
    if (!ReadDataFile(data, kind, count)) return false;
  } else {
    int read = 0;
    if (ReadPairs(data, M.*kind.table, true, kDataFile, read) == ListEnd::kFailed) return false;
    KeepPairs(kDataFile, M.*kind.table, read);
    if (count > 0 && read != count) count = CompareCount(kind.compare_format, read, count, true);
  }
  if (kind.letter == 'O' && JetCalledIn()) M.HBARDURATION = M.LeftAmbTable[2].x;
  Interp(name, count);
  return true;
}

bool TakeName(TextSource& data, int place, int before, std::string& name) {
  std::string_view word;
  if (!TakeWord(data, before, word, 0, kDataFile, kBlocksEnded)) return false;
  if (M.Record.on) {
    BlockRead block;
    block.place = place;
    block.name = M.Record.taken;
    M.Record.blocks.push_back(std::move(block));
  }
  if (word.size() > static_cast<std::size_t>(kNameMax)) {
    DataError("The distribution name " + std::string(word) + " is longer than 23 characters.");
    return false;
  }
  name.assign(word);
  return true;
}

bool TakeCount(TextSource& data, int& count) {
  std::string_view word;
  if (!TakeWord(data, 0, word, 1, kDataFile, kBlocksEnded)) return false;
  count = ParseInt(word);
  if (BlockRead* block = Current()) {
    block->count = M.Record.taken;
    block->count_code = count;
  }
  return true;
}

bool ReadBlocks(TextSource& data) {
  std::string name;
  int count = 0;
  // The first block is the initial temperatures, whatever its name says.
  if (!TakeName(data, 1, 1, name) || !TakeCount(data, count)) return false;
  if (count < 0) {
    console::Blank(23);
    console::Printf("DATA.DAT Error: %s",
                    "The number of Initial Node Temperature data-pairs must be greater than or equal to zero.\r\n");
    return false;
  }
  if (BlockRead* block = Current()) block->letter = 'I';
  if (!ReadBlock(data, kBlockTables[0], name, count)) return false;

  for (int place = 2; place <= 8; ++place) {
    if (!TakeName(data, place, 0, name) || !TakeCount(data, count)) return false;
    if (count < -1) {
      console::Blank(23);
      console::Printf("DATA.DAT '%s' Error: %s", name.c_str(),
                      "The number of data pairs must be -1, 0, or a positive integer.\r\n");
      return false;
    }
    // The ambient blocks are told apart by a letter at a fixed position:
    // LEFT_AMBIENT against LEFT_BC, RIGHT_AMBIENT against RIGHT_BC.
    if (name.size() >= 6 && name[0] == 'L' && name[5] == 'A') {
      name = "O";
    } else if (name.size() >= 7 && name[0] == 'R' && name[6] == 'A') {
      name = "A";
    }
    const BlockTable* kind = KindOf(name[0]);
    if (!kind) continue;  // an unknown block still uses up its place
    if (BlockRead* block = Current()) block->letter = kind->letter;
    if (!ReadBlock(data, *kind, name, count)) return false;
  }
  return true;
}

}  // namespace

int GetData() {
  TextSource data;
  data.name = kDataFile;
  if (!data.Load(M.DataDir + kDataFile)) {
    console::Printf("GetData() Error: %s", "\r\n DATA.DAT could not be found... \r\n");
    // The argument is a prefix of every file name: a directory named
    // without its separator finds nothing, however sound its files.
    const std::string& dir = M.DataDir;
    if (!dir.empty() && dir.back() != '/' && TextSource().Load(dir + "/" + kDataFile)) {
      console::Print(" Did you mean " + dir + "/ ? The data directory must end with the separator.\r\n");
    }
    return 0;
  }
  if (!SkipHeader(data)) {
    DataError(std::string("DATA.DAT ended before ") + kEntriesEnded + ".");
    return 0;
  }
  if (!ReadEntries(data)) return 0;
  if (const char* failed = FirstFailedCheck()) {
    DataError(failed);
    return 0;
  }
  if (!ReadBlocks(data)) return 0;
  return !M.Perfusion || ReadPerfusion() ? 1 : 0;
}
