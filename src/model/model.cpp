// The single instance of the program-wide model state.
#include "model/model.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <unistd.h>


// Constant-initialised where the compiler can: the several megabytes of
// tables then start as the program image's blank pages instead of being
// cleared by a constructor at start-up, and a run touches only the pages it
// uses. (Clang 14 cannot evaluate libstdc++ 12's std::string constructor as
// a constant; there M is initialised at start-up, with the same values.)
#if defined(__clang__)
Model M;
#else
constinit Model M;
#endif

namespace {

// Whether a reset asks the system which pages of the tables were written.
bool only_written = false;

struct Span {
  unsigned char* begin;
  std::size_t size;
};

Span Tables() {
  ModelTables& tables = M;
  return {reinterpret_cast<unsigned char*>(&tables), sizeof(ModelTables)};
}

std::uintptr_t PageSize() { return static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE)); }

// Marks, one per page from the page holding the tables' first byte, the
// pages a run may have written: those the process holds privately (present
// and not a page of the program's file, which is the image's blank page)
// or has handed to swap. False when the system cannot say.
bool WrittenPages(const Span& tables, std::vector<bool>& written) {
#if defined(__linux__)
  const std::uintptr_t page = PageSize();
  const auto begin = reinterpret_cast<std::uintptr_t>(tables.begin);
  const std::uintptr_t first = begin / page;
  const std::uintptr_t count = (begin + tables.size + page - 1) / page - first;
  std::vector<std::uint64_t> entries(count);
  const int fd = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const std::size_t bytes = count * sizeof(std::uint64_t);
  const ssize_t got = pread(fd, entries.data(), bytes, static_cast<off_t>(first * sizeof(std::uint64_t)));
  close(fd);
  if (got != static_cast<ssize_t>(bytes)) return false;
  constexpr std::uint64_t kPresent = std::uint64_t{1} << 63, kSwapped = std::uint64_t{1} << 62,
                          kFileOrShared = std::uint64_t{1} << 61;
  written.assign(count, false);
  for (std::size_t k = 0; k < count; ++k) {
    const std::uint64_t e = entries[k];
    written[k] = (e & kSwapped) != 0 || ((e & kPresent) != 0 && (e & kFileOrShared) == 0);
  }
  return true;
#else
  (void)tables, (void)written;
  return false;
#endif
}

// Clears the tables: all of them, or, where only the written pages need
// it, the stretches of pages a run wrote (every other page is still the
// blank page the program started with).
void ClearTables() {
  const Span tables = Tables();
  std::vector<bool> written;
  if (!only_written || !WrittenPages(tables, written)) {
    std::memset(tables.begin, 0, tables.size);
    return;
  }
  const std::uintptr_t page = PageSize();
  const auto begin = reinterpret_cast<std::uintptr_t>(tables.begin);
  const std::uintptr_t end = begin + tables.size;
  const std::uintptr_t first = begin / page * page;
  for (std::size_t k = 0; k < written.size();) {
    if (!written[k]) {
      ++k;
      continue;
    }
    std::size_t stop = k;
    while (stop < written.size() && written[stop]) ++stop;
    const std::uintptr_t from = std::max(first + k * page, begin);
    const std::uintptr_t to = std::min(first + stop * page, end);
    std::memset(reinterpret_cast<void*>(from), 0, to - from);
    k = stop;
  }
}

}  // namespace

void ResetModel() {
  // The tables are nothing but numbers, zero when fresh: they are cleared as
  // bytes, and the rest is made afresh (a temporary of the whole model, some
  // megabytes, would not fit on the stack).
  static_assert(std::is_trivially_copyable_v<ModelTables>);
  ClearTables();
  static_cast<ModelState&>(M) = ModelState{};
}

bool ResetOnlyWrittenTables() {
  std::vector<bool> written;
  only_written = WrittenPages(Tables(), written);  // whether the system keeps the map at all
  return only_written;
}

FaceKind FaceKindOf(const std::string& word) {
  switch (word.empty() ? '\0' : word[0]) {
    case 'C': return FaceKind::kConvection;
    case 'F': return FaceKind::kFlux;
    case 'T': return FaceKind::kTemperature;
    default: return FaceKind::kNone;
  }
}

FaceKind FaceKindOf(char side) { return FaceKindOf(side == 'L' ? M.LBC : M.RBC); }

const char* FaceKindName(FaceKind kind) {
  switch (kind) {
    case FaceKind::kConvection: return "convection";
    case FaceKind::kFlux: return "flux";
    case FaceKind::kTemperature: return "temperature";
    case FaceKind::kNone: break;
  }
  return "none";
}

const char* FaceValueUnit(FaceKind kind) {
  switch (kind) {
    case FaceKind::kConvection: return "W/(m^2 K)";
    case FaceKind::kFlux: return "W/m^2";
    case FaceKind::kTemperature: return "K";
    case FaceKind::kNone: break;
  }
  return "";
}

bool JetCalledIn() {
  assert(M.JetInUse == 0 || M.JetInUse == 1);  // set to 1 by the left block's call of LEFTIMP.DAT only
  return M.JetInUse == 1;
}

bool JetFormedBeforeMarch() { return FaceKindOf('L') == FaceKind::kConvection && JetCalledIn(); }

bool JetDrives(double left_value) { return JetCalledIn() && left_value == 1.0; }

bool BurnsEveryNode() { return BurnsEveryNode(M.OUTNODE); }

bool BurnsEveryNode(int output_node) { return !(output_node != 0 && M.BURNDEPTH == 0); }

double PerfusionGain(int i) {
  if (!M.Perfusion) return 0.0;
  const double volumetric = M.PerfusionTable[i].y * M.BloodDensity * M.BloodHeatCap;  // W/(m^3 K)
  return (M.DELTAT * M.SolveFraction) * volumetric / (M.DensityTable[i].y * M.HeatCapTable[i].y);
}
