// Shared by the fuzz targets.
#include "fuzz_common.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "console/console.h"
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

[[noreturn]] void ThrowEnded(int status) {
  throw ProcessEnded{status};
}

// The model state as ResetModel leaves it, taken once. ResetModel builds a
// fresh state of several megabytes on the heap at every call, and the page
// faults of that cost more than a whole run of the input stage; copying
// this one over the model gives the same state at a small part of the cost.
void FreshModel() {
  static const std::unique_ptr<Model> pristine = [] {
    ResetModel();
    return std::make_unique<Model>(M);
  }();
  M = *pristine;
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

Session::Session() {
  FreshModel();
  M.DataDir = DataDir();
  M.Record.on = true;
  console::Capture(&out_, &err_, "");
  console::SetExitHook(ThrowEnded);
}

Session::~Session() {
  console::SetExitHook(nullptr);
  console::Restore();
}

int Session::RunGetData() {
  try {
    return GetData();
  } catch (const ProcessEnded&) {
    return -1;
  }
}

void Session::RunJetAsDriver() {
  if (M.LBC.empty() || M.LBC[0] != 'C' || M.JetInUse != 1) return;
  double hbar = 0;
  (void)JetConvection(0, M.InitTempTable[1].y, M.LeftAmbTable[1].y, hbar);
  (void)JetConvection(M.TIMESTEPS, M.InitTempTable[1].y, M.LeftAmbTable[M.TIMESTEPS + 1].y, hbar);
}

}  // namespace fuzz

namespace fuzz {

void Session::CheckDocument() {
  const std::string text = InputDocument().dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  if (!nlohmann::json::accept(text)) std::abort();
}

}  // namespace fuzz
