// Shared by the fuzz targets.
#include "fuzz_common.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "console/console.h"
#include "driver/driver.h"
#include "input/input.h"
#include "model/model.h"
#include "report/report.h"
#include "thermal/thermal.h"

namespace fuzz {
namespace {

std::string* dir = nullptr;

void RemoveDir() {
  if (!dir) return;
  std::error_code ignored;
  std::filesystem::remove_all(*dir, ignored);
}


// Resetting the model. ResetModel (and a copy of the model) moves all 22
// tables of kTableSize entries, about 8 MB: half the time of a whole run of
// the input stage. A run writes only the first entries of a table, up to
// the nodes, the records of the steps or the pairs it read, so between two
// runs it is enough to copy those entries and every member that is not a
// table from the fresh state. The members are listed below; at start the
// list is checked against the model's layout, and when the model has a
// member the list lacks (a gap), the whole copy is used instead. Every 64th
// reset verifies that the entries past the bound are still fresh; if a run
// wrote past it, the whole copy is used from then on.
// offsetof on a model with std::string members: conditionally supported,
// and supported by both GCC and Clang.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

struct Member {
  std::size_t offset, size, align;
  void (*copy)(Model& to, const Model& from);  // nullptr for a table
};

#define FUZZ_MEMBER(f) \
  Member { offsetof(Model, f), sizeof(Model::f), alignof(decltype(Model::f)), [](Model& to, const Model& from) { to.f = from.f; } }
#define FUZZ_TABLE(f) \
  Member { offsetof(Model, f), sizeof(Model::f), alignof(decltype(Model::f)), nullptr }

const Member kMembers[] = {
    FUZZ_MEMBER(DataDir), FUZZ_MEMBER(OUTTIME), FUZZ_MEMBER(OUTNODE), FUZZ_MEMBER(VERBOSE),
    FUZZ_MEMBER(PRINTAMATRIX), FUZZ_MEMBER(PRINTINITTEMP), FUZZ_MEMBER(BURNDEPTH), FUZZ_MEMBER(BATCH),
    FUZZ_MEMBER(TRIAL), FUZZ_MEMBER(EXECDATE), FUZZ_MEMBER(EXECBY), FUZZ_MEMBER(FREQFACTOR),
    FUZZ_MEMBER(FREQEXP), FUZZ_MEMBER(ACTENERGY), FUZZ_MEMBER(GASCONST), FUZZ_MEMBER(LBC), FUZZ_MEMBER(RBC),
    FUZZ_MEMBER(TIMESTEPS), FUZZ_MEMBER(DELTAT), FUZZ_MEMBER(DELTAX), FUZZ_MEMBER(NODES),
    FUZZ_TABLE(InitTempTable), FUZZ_TABLE(ConductTable), FUZZ_TABLE(HeatCapTable), FUZZ_TABLE(DensityTable),
    FUZZ_TABLE(LeftBCTable), FUZZ_TABLE(LeftAmbTable), FUZZ_TABLE(RightBCTable), FUZZ_TABLE(RightAmbTable),
    FUZZ_TABLE(GasVelocityTable), FUZZ_TABLE(HbarTable), FUZZ_TABLE(NodeHistory), FUZZ_TABLE(InitialTemps),
    FUZZ_MEMBER(JetInUse), FUZZ_MEMBER(GasVelocityPairs), FUZZ_MEMBER(JETOPTION), FUZZ_MEMBER(JETREYNOLDS),
    FUZZ_MEMBER(NOZZLEDIAM), FUZZ_MEMBER(OFFAXISRATIO), FUZZ_MEMBER(STANDOFFRATIO), FUZZ_MEMBER(HBARDURATION),
    FUZZ_TABLE(ALower), FUZZ_TABLE(AMiddle), FUZZ_TABLE(AUpper), FUZZ_TABLE(RHS), FUZZ_TABLE(FourierNumber),
    FUZZ_TABLE(StepTemps), FUZZ_TABLE(FirstRow), FUZZ_TABLE(LastRow), FUZZ_MEMBER(Threads),
    FUZZ_MEMBER(BurnRefTemp), FUZZ_MEMBER(EOverR), FUZZ_MEMBER(BurnRefExponent), FUZZ_MEMBER(Omega),
    FUZZ_MEMBER(OmegaUnfloored), FUZZ_TABLE(OmegaByNode), FUZZ_TABLE(OmegaUnflooredByNode),
    FUZZ_MEMBER(Crossings), FUZZ_MEMBER(RkTimes), FUZZ_MEMBER(RkPath), FUZZ_MEMBER(Reached),
    FUZZ_MEMBER(StepsDone), FUZZ_MEMBER(Result), FUZZ_MEMBER(Record), FUZZ_MEMBER(LeftStep),
    FUZZ_MEMBER(RightStep), FUZZ_MEMBER(StagesPassed), FUZZ_MEMBER(Scheme), FUZZ_MEMBER(SolveFraction),
    FUZZ_TABLE(PrevTemps), FUZZ_MEMBER(Perfusion), FUZZ_MEMBER(ArterialTemp), FUZZ_MEMBER(BloodDensity),
    FUZZ_MEMBER(BloodHeatCap), FUZZ_MEMBER(PerfusionPairs), FUZZ_TABLE(PerfusionTable), FUZZ_MEMBER(PerfusionLaid),
};

#undef FUZZ_MEMBER
#undef FUZZ_TABLE
#pragma GCC diagnostic pop

// Whether kMembers covers every byte of the model but alignment padding.
bool MembersCoverModel() {
  std::vector<Member> members(std::begin(kMembers), std::end(kMembers));
  std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.offset < b.offset; });
  const auto align_up = [](std::size_t at, std::size_t align) { return (at + align - 1) / align * align; };
  std::size_t end = 0;
  for (const Member& m : members) {
    if (m.offset != align_up(end, m.align)) return false;
    end = m.offset + m.size;
  }
  return align_up(end, alignof(Model)) == sizeof(Model);
}

const Model& Pristine() {
  static const std::unique_ptr<Model> pristine = [] {
    ResetModel();
    return std::make_unique<Model>(M);
  }();
  return *pristine;
}

// The sound data files that WriteCompanions writes are together under 2 KB.
constexpr std::size_t kCompanionBytes = 4096;

bool quick = true;               // the layout is known and no run wrote past the bound
std::size_t bound = kTableSize;  // table entries the last run may have written
std::size_t resets = 0;

unsigned char* Bytes(Model& model, const Member& m) { return reinterpret_cast<unsigned char*>(&model) + m.offset; }
const unsigned char* Bytes(const Model& model, const Member& m) {
  return reinterpret_cast<const unsigned char*>(&model) + m.offset;
}

void FreshModel() {
  const Model& pristine = Pristine();
  static const bool known = [] {
    if (MembersCoverModel()) return true;
    std::fprintf(stderr, "fuzz: the model has members the quick reset does not list; it is copied whole\n");
    return false;
  }();
  quick = quick && known;
  if (quick && ++resets % 64 == 0) {
    for (const Member& m : kMembers) {
      if (m.copy) continue;
      const std::size_t entry = m.size / kTableSize;
      const std::size_t from = bound * entry;
      if (std::memcmp(Bytes(M, m) + from, Bytes(pristine, m) + from, m.size - from) != 0) {
        std::fprintf(stderr, "fuzz: a run wrote a table past entry %zu; the model is copied whole from now on\n",
                     bound);
        quick = false;
        break;
      }
    }
  }
  if (!quick) {
    M = pristine;
    return;
  }
  for (const Member& m : kMembers) {
    if (m.copy) {
      m.copy(M, pristine);
    } else {
      std::memcpy(Bytes(M, m), Bytes(pristine, m), bound * (m.size / kTableSize));
    }
  }
}

// The table entries a run may have written: up to the nodes and the
// records of the steps as the run left them, and up to the pairs that
// `input_bytes` of data files can hold (a pair takes at least two bytes).
void NoteBound(std::size_t input_bytes) {
  const auto clamp = [](long long n) {
    return static_cast<std::size_t>(std::clamp<long long>(n, 0, kTableSize));
  };
  bound = std::max({clamp(static_cast<long long>(M.NODES) + 2), clamp(static_cast<long long>(M.TIMESTEPS) + 3),
                    clamp(static_cast<long long>(input_bytes / 2) + 2), std::size_t{8}});
}

}  // namespace

const char kDepthFile[] =
    "# depth distribution\n"
    "Property versus depth\n"
    "Data pairs: 2\n"
    "0.0 0.5\n"
    "0.01 0.5\n"
    "END\n";

const char kInitTempFile[] =
    "# initial temperatures\n"
    "Temperature versus depth\n"
    "Data pairs: 2\n"
    "0.0 310.0\n"
    "0.01 310.0\n"
    "END\n";

const char kTimeFile[] =
    "# time distribution\n"
    "Value versus time\n"
    "Data pairs: 2\n"
    "0.0 400.0\n"
    "1.0 400.0\n"
    "END\n";

const char kLeftImpFile[] =
    "# jet of the inflator\n"
    "Jet impingement data\n"
    "Near field term: 1.0\n"
    "Reynolds number: 0.0\n"
    "Nozzle diameter: 0.01\n"
    "Offaxis spacing: 0.02\n"
    "Standoff distance: 0.05\n"
    "Boundary pairs: 2 pairs\n"
    "0.0 1.0\n"
    "1.0 1.0\n"
    "Gas velocity: 3 pairs\n"
    "0.0 120.0\n"
    "0.06 120.0\n"
    "1.0 20.0\n"
    "END\n";

const char kGasPropFile[] =
    "# air at atmospheric pressure: T K, nu m^2/s, k W/(m K), Pr\n"
    "T nu k Pr\n"
    "250  11.44e-6 0.0223 0.720\n"
    "300  15.89e-6 0.0263 0.707\n"
    "350  20.92e-6 0.0300 0.700\n"
    "400  26.41e-6 0.0338 0.690\n"
    "450  32.39e-6 0.0373 0.686\n"
    "500  38.79e-6 0.0407 0.684\n"
    "550  45.57e-6 0.0439 0.683\n"
    "600  52.69e-6 0.0469 0.685\n"
    "650  60.21e-6 0.0497 0.690\n"
    "700  68.10e-6 0.0524 0.695\n"
    "750  76.37e-6 0.0549 0.702\n"
    "800  84.93e-6 0.0573 0.709\n"
    "850  93.80e-6 0.0596 0.716\n"
    "900  102.9e-6 0.0620 0.720\n"
    "950  112.2e-6 0.0643 0.723\n"
    "1000 121.9e-6 0.0667 0.726\n"
    "1100 141.8e-6 0.0715 0.728\n"
    "1200 162.9e-6 0.0763 0.728\n";

const std::string& DataDir() {
  if (!dir) {
    // Every run writes its input file: a memory file system, when there is
    // one and TMPDIR does not name another place, doubles the speed.
    std::error_code error;
    const bool shm = !std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", error) &&
                     access("/dev/shm", W_OK) == 0;
    const std::filesystem::path base = shm ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "skinburn-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = new std::string(pattern + "/");
    std::atexit(RemoveDir);
  }
  return *dir;
}

void WriteFile(const std::string& name, std::string_view contents) {
  const std::string path = DataDir() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  if (std::fclose(file) != 0 || !written) throw std::runtime_error("cannot write " + path);
}

void WriteCompanions() {
  WriteFile("INITTEMP.DAT", kInitTempFile);
  for (const char* name : {"CONDUCT.DAT", "HEATCAP.DAT", "DENSITY.DAT"}) WriteFile(name, kDepthFile);
  for (const char* name : {"LEFTBC.DAT", "LEFTAMB.DAT", "RIGHTBC.DAT", "RIGHTAMB.DAT"}) {
    WriteFile(name, kTimeFile);
  }
  WriteFile("LEFTIMP.DAT", kLeftImpFile);
  WriteFile("GASPROP.DAT", kGasPropFile);
}

Session::Session(std::size_t input_bytes) : input_bytes_(input_bytes + kCompanionBytes) {
  FreshModel();
  M.DataDir = DataDir();
  console::Capture(&out_, &err_, "");
}

Session::~Session() {
  NoteBound(input_bytes_);
  console::Restore();
}

int Session::RunGetData() {
  try {
    return GetData();
  } catch (const console::Stopped&) {
    return -1;
  }
}

int Session::RunMain(int argc, char** argv) {
  return RunGuarded(Run, argc, argv);
}

void Session::RunJetAsDriver() {
  if (!JetFormedBeforeMarch()) return;
  double hbar = 0;
  (void)JetConvection(0, M.InitTempTable[1].y, M.LeftAmbTable[1].y, hbar);
  (void)JetConvection(M.TIMESTEPS, M.InitTempTable[1].y, M.LeftAmbTable[M.TIMESTEPS + 1].y, hbar);
}

}  // namespace fuzz
