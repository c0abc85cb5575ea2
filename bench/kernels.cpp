// Kernels of a model run, each measured beside its floor in the same run:
//
//   step solve        tridag over the A-matrix as the time loop hands it
//                     (interior right-hand side from the node temperatures,
//                     solution into the step's row, node temperatures
//                     rewritten), and the whole TimeMarch loop without report
//                     or jet, against a bare Thomas loop over the same system;
//   jet coefficient   JetConvection per call, GASPROP.DAT read included,
//                     against a bare open/read/close of that file;
//   step append       the per-step open/append/close of OUTPUT.TXT (node
//                     history line) against a bare fopen/fwrite/fclose;
//   burn rate         BurnRate per call made directly (outside an
//                     integration: one full evaluation each), and BurnInjury
//                     per rate call of its integration, against a bare loop
//                     of the same exp calls; and
//                     the burn of every node with its second march;
//   report lines      LineBuffer building "%3d     %9.7f  %10.1f\r\n" lines
//                     and StepReport's full listing, against fprintf of the
//                     same lines to a file;
//   history store     first touch of a fresh block as large as a whole history
//                     (nodes x steps, as the march once held and no longer does),
//                     warm (a block of the same size was just freed) and cold
//                     (a fresh process after some seconds idle, as a user's
//                     run starts);
//   honest floors     what identical results leave to any implementation,
//                     written without the model's code: the Thomas sweep with
//                     its two divisions a row as tridag makes them, 2 exp calls
//                     a node-step (the fewest the RK4 burn integral needs), the
//                     whole per node-step arithmetic of that integral
//                     (interpolation, rate, RK4 combination) around them, and
//                     a second march with the integration behind it.
//
// Every benchmark sets the counter "unit" to the number of units (node-steps,
// calls, lines, bytes) one iteration does; the summary after the run prints
// CPU nanoseconds per unit (the best of --benchmark_repetitions) and the
// ratio of each kernel to its floor, and --floors=FILE writes the floors for
// bench/run.sh.
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "burn/burn.h"
#include "model/model.h"
#include "numeric/numeric.h"
#include "report/report.h"
#include "thermal/thermal.h"

#ifndef SKINBURN_SOURCE_DIR
#error "SKINBURN_SOURCE_DIR must name the source tree"
#endif

namespace {

namespace fs = std::filesystem;

// A data directory of our own, removed at exit.
const std::string& Scratch() {
  // Never destroyed: the exit handler registered below is registered before
  // this string is complete, so it would run after the string's destructor,
  // and it needs the string.
  static const std::string& dir = *new std::string([] {
    std::string pattern = (fs::temp_directory_path() / "skinburn-kernels.XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    fs::copy_file(fs::path(SKINBURN_SOURCE_DIR) / "examples/airbag-jet/GASPROP.DAT",
                  fs::path(pattern) / "GASPROP.DAT");
    std::atexit([] { fs::remove_all(Scratch()); });
    return pattern + "/";
  }());
  return dir;
}

void SetUnit(benchmark::State& state, double units) { state.counters["unit"] = units; }

// ------------------------------------------------------------ conduction

constexpr int kRing = 64;  // rows of the bench's own ring that the solve cycles through

// A uniform slab of n nodes (skin: k 0.37, rho 1000, c 3600), 1 um and 10 us
// steps as in the fine grid case, both faces held: 400 K left, 310 K right.
void Slab(int n, int steps) {
  ResetModel();
  M.NODES = n;
  M.TIMESTEPS = steps;
  M.DELTAT = 1e-5;
  M.DELTAX = 3e-3 / n;
  M.LBC = "TEMPERATURE";
  M.RBC = "TEMPERATURE";
  for (int i = 1; i <= n; ++i) {
    M.ConductTable[i] = {(i - 1) * M.DELTAX, 0.37};
    M.DensityTable[i] = {(i - 1) * M.DELTAX, 1000.0};
    M.HeatCapTable[i] = {(i - 1) * M.DELTAX, 3600.0};
    M.InitTempTable[i] = {(i - 1) * M.DELTAX, 310.0};
    M.InitialTemps[i] = 310.0;
  }
  for (int k = 1; k <= steps + 1; ++k) {
    M.LeftBCTable[k] = {(k - 1) * M.DELTAT, 400.0};
    M.RightBCTable[k] = {(k - 1) * M.DELTAT, 310.0};
  }
  Fourier();
  InterNodes();
  M.AMiddle[1] = 1.0;
  M.AUpper[1] = 0.0;
  M.RHS[1] = 400.0;
  M.AMiddle[n] = 1.0;
  M.ALower[n] = 0.0;
  M.RHS[n] = 310.0;
}

// One step as the time loop makes it: interior right-hand side from the node
// temperatures, then tridag straight into a row of the ring.
void BM_StepSolve(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Slab(n, 1);
  std::vector<double> rows(static_cast<std::size_t>(kRing) * (n + 1));
  int row = 0;
  for (auto _ : state) {
    for (int i = 2; i <= n - 1; ++i) M.RHS[i] = M.InitTempTable[i].y;
    double* u = rows.data() + static_cast<std::size_t>(row) * (n + 1);
    tridag(M.ALower.data(), M.AMiddle.data(), M.AUpper.data(), M.RHS.data(), u,
           static_cast<unsigned>(n));
    benchmark::DoNotOptimize(u);
    row = (row + 1) % kRing;
  }
  SetUnit(state, n);
}

// The time loop itself, without report (VERBOSE 0, no listing time reached)
// and without jet.
void BM_TimeMarch(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int steps = static_cast<int>(state.range(1));
  Slab(n, steps);
  M.VERBOSE = 0;
  M.OUTTIME = -1.0;  // a time no step reaches: nothing is reported
  for (auto _ : state) {
    if (!TimeMarch()) state.SkipWithError("TimeMarch stopped");
    benchmark::DoNotOptimize(M.StepTemps.data());
  }
  SetUnit(state, static_cast<double>(n) * steps);
}

// Floor: the Thomas algorithm over the same system, plain arrays, no pivot
// test, the previous solution as the next right-hand side.
void BM_BareThomas(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Slab(n, 1);
  std::vector<double> a(M.ALower.begin(), M.ALower.begin() + n + 1);
  std::vector<double> b(M.AMiddle.begin(), M.AMiddle.begin() + n + 1);
  std::vector<double> c(M.AUpper.begin(), M.AUpper.begin() + n + 1);
  std::vector<double> r(n + 1), gam(n + 1), rows(static_cast<std::size_t>(kRing) * (n + 1), 310.0);
  r[1] = 400.0;
  r[n] = 310.0;
  int row = 0;
  for (auto _ : state) {
    const double* previous = rows.data() + static_cast<std::size_t>((row + kRing - 1) % kRing) * (n + 1);
    double* u = rows.data() + static_cast<std::size_t>(row) * (n + 1);
    for (int i = 2; i <= n - 1; ++i) r[i] = previous[i];
    double bet = b[1];
    u[1] = r[1] / bet;
    for (int j = 2; j <= n; ++j) {
      gam[j] = c[j - 1] / bet;
      bet = b[j] - a[j] * gam[j];
      u[j] = (r[j] - a[j] * u[j - 1]) / bet;
    }
    for (int j = n - 1; j >= 1; --j) u[j] -= gam[j + 1] * u[j + 1];
    benchmark::DoNotOptimize(u);
    row = (row + 1) % kRing;
  }
  SetUnit(state, n);
}

// Floor of the history store: writing a fresh block (page faults and the
// kernel's zeroing included), 64 MiB per iteration.
// Warm: a block of the same size was touched and freed just before (one
// such round, untimed, precedes the timed ones, so that a single timed
// iteration is not the process's first).
bool TouchBlock(std::size_t bytes, bool huge, benchmark::State* state) {
  void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (block == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
  if (huge) madvise(block, bytes, MADV_HUGEPAGE);
#endif
  double* d = static_cast<double*>(block);
  for (std::size_t i = 0; i < bytes / sizeof(double); ++i) d[i] = 310.0;
  benchmark::DoNotOptimize(d);
  if (state) state->PauseTiming();
  munmap(block, bytes);
  if (state) state->ResumeTiming();
  return true;
}

void BM_FirstTouch(benchmark::State& state) {
  const std::size_t bytes = std::size_t{64} << 20;
  const bool huge = state.range(0) != 0;
  if (!TouchBlock(bytes, huge, nullptr)) {
    state.SkipWithError("mmap failed");
    return;
  }
  for (auto _ : state) {
    if (!TouchBlock(bytes, huge, &state)) {
      state.SkipWithError("mmap failed");
      break;
    }
  }
  SetUnit(state, static_cast<double>(bytes));
}

// ------------------------------------------------------------ jet

// The jet of the typical run (LEFTIMP.DAT of examples/airbag-jet).
void Jet(double offaxis) {
  ResetModel();
  M.DataDir = Scratch();
  M.DELTAT = 1e-4;
  M.JetInUse = 1;
  M.JETOPTION = 1.0;
  M.JETREYNOLDS = 0.0;
  M.NOZZLEDIAM = 0.01;
  M.OFFAXISRATIO = offaxis;
  M.STANDOFFRATIO = 5.0;
  M.GasVelocityTable[1] = {0.0, 120.0};
  M.GasVelocityTable[2] = {0.06, 120.0};
  M.GasVelocityTable[3] = {0.2, 20.0};
  M.GasVelocityPairs = 3;
}

void BM_JetConvection(benchmark::State& state) {
  Jet(static_cast<double>(state.range(0)));
  int j = 0;
  for (auto _ : state) {
    double hbar = 0;
    benchmark::DoNotOptimize(JetConvection(j, 330.0 + j * 0.01, 1000.0, hbar));
    benchmark::DoNotOptimize(hbar);
    j = (j + 1) % 1000;
  }
  SetUnit(state, 1);
}

// Floor: the file's bytes, opened, read and closed.
void BM_BareFileRead(benchmark::State& state) {
  const std::string name = Scratch() + "GASPROP.DAT";
  char buffer[4096];
  for (auto _ : state) {
    std::FILE* file = std::fopen(name.c_str(), "rb");
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
    std::fclose(file);
    benchmark::DoNotOptimize(got);
    benchmark::DoNotOptimize(buffer);
  }
  SetUnit(state, 1);
}

// ------------------------------------------------------------ step append

void RemoveOutput() { fs::remove(Scratch() + "OUTPUT.TXT"); }

// Every so many iterations the report file is emptied, outside the timing.
template <typename Body>
void WithOutputFile(benchmark::State& state, int every, Body body) {
  RemoveOutput();
  int count = 0;
  for (auto _ : state) {
    body();
    if (++count == every) {
      state.PauseTiming();
      RemoveOutput();
      count = 0;
      state.ResumeTiming();
    }
  }
  RemoveOutput();
}

// StepReport of the node-history layout: one line per step, the file opened
// for appending and closed again.
void BM_StepReportHistory(benchmark::State& state) {
  ResetModel();
  M.DataDir = Scratch();
  M.VERBOSE = 1;
  M.BATCH = 1;
  M.OUTNODE = 1;
  M.NODES = 1;
  M.DELTAX = 1e-6;
  M.DELTAT = 1e-5;
  M.TIMESTEPS = 1 << 30;
  double u[2] = {0.0, 442.2};
  int j = 0;
  WithOutputFile(state, 4096, [&] {
    ++j;
    if (!StepReport(j, u)) std::abort();
  });
  SetUnit(state, 1);
}

// Floor: the same line appended with a bare fopen/fwrite/fclose.
void BM_BareAppend(benchmark::State& state) {
  const std::string name = Scratch() + "OUTPUT.TXT";
  static const char line[] = "  29999      0.0000000    0.29999        442.2\r\n";
  WithOutputFile(state, 4096, [&] {
    std::FILE* file = std::fopen(name.c_str(), "ab");
    std::fwrite(line, 1, sizeof line - 1, file);
    std::fclose(file);
  });
  SetUnit(state, 1);
}

// ------------------------------------------------------------ burn

constexpr int kBurnSteps = 1000;

// A node history of the fine grid case's surface: 310 K rising to 440 K.
void BurnHistory(int steps) {
  ResetModel();
  M.TIMESTEPS = steps;
  M.DELTAT = 1e-5;
  M.OUTNODE = 1;
  M.NODES = 1;
  M.ACTENERGY = 623580.0;
  M.GASCONST = 8.31439;
  M.FREQFACTOR = 3.442707;
  M.FREQEXP = 94;
  M.InitialTemps[1] = 310.0;
  for (int s = 1; s <= steps; ++s) {
    M.NodeHistory[s] = {s * M.DELTAT, 440.0 - 130.0 * std::exp(-8.0 * s / steps)};
  }
  M.NodeHistory[0] = {0.0, 310.0};
  M.BurnRefTemp = (M.NodeHistory[1].y + M.NodeHistory[steps].y) / 2.0;
  M.EOverR = M.ACTENERGY / M.GASCONST;
  M.BurnRefExponent = M.EOverR / M.BurnRefTemp;
}

// The times at which the integrator asks for the rate: start, midpoint
// twice, end of every step, with x advanced by repeated addition. Called
// directly, outside BurnInjury, every call is one full evaluation.
std::vector<double> RateTimes(int steps) {
  std::vector<double> times;
  const double h = M.NodeHistory[steps].x / steps;
  double x = 0.0;
  for (int k = 1; k <= steps; ++k) {
    const double xh = x + h * 0.5;
    times.insert(times.end(), {x, xh, xh, x + h});
    x += h;
  }
  return times;
}

void BM_BurnRate(benchmark::State& state) {
  BurnHistory(kBurnSteps);
  const std::vector<double> times = RateTimes(kBurnSteps);
  double y[2] = {0.0, 0.0};
  double dydx[2] = {0.0, 0.0};
  for (auto _ : state) {
    for (double t : times) {
      BurnRate(t, y, dydx);
      benchmark::DoNotOptimize(dydx[1]);
    }
  }
  SetUnit(state, static_cast<double>(times.size()));
}

// BurnInjury of one node, per rate call (4 per step).
void BM_BurnInjury(benchmark::State& state) {
  const int steps = static_cast<int>(state.range(0));
  BurnHistory(steps);
  for (auto _ : state) benchmark::DoNotOptimize(BurnInjury());
  SetUnit(state, 4.0 * steps);
}

// Floor: the same exp calls over the temperatures the rate calls see.
void BM_BareExp(benchmark::State& state) {
  BurnHistory(kBurnSteps);
  const std::vector<double> times = RateTimes(kBurnSteps);
  std::vector<double> temperatures;
  for (double t : times) temperatures.push_back(HistoryTemperature(t));
  const double exponent = M.BurnRefExponent;
  const double eoverr = M.EOverR;
  for (auto _ : state) {
    double sum = 0.0;
    for (double T : temperatures) sum += std::exp(exponent - eoverr / T);
    benchmark::DoNotOptimize(sum);
  }
  SetUnit(state, static_cast<double>(temperatures.size()));
}

// The burn of every node of a fine grid (3000 nodes) after a march of
// `steps` steps: the second march and the integration behind it, on one
// thread (range 1 = 1) or two.
void BM_BurnEveryNode(benchmark::State& state) {
  const int nodes = 3000;
  const int steps = static_cast<int>(state.range(0));
  Slab(nodes, steps);
  M.VERBOSE = 0;
  M.OUTTIME = -1.0;
  M.GASCONST = 8.31439;
  M.ACTENERGY = 623580.0;
  M.FREQFACTOR = 3.442707;
  M.FREQEXP = 94;
  M.Threads = static_cast<int>(state.range(1));
  if (!TimeMarch()) state.SkipWithError("TimeMarch stopped");
  for (auto _ : state) {
    BurnEveryNode();
    benchmark::DoNotOptimize(M.OmegaByNode.data());
  }
  SetUnit(state, static_cast<double>(nodes) * steps);
}

// ------------------------------------------------------------ report lines

constexpr int kListing = 1000;  // lines of one profile, as in the full listing case

double ListingTemperature(int i) { return 310.0 + 130.0 * std::exp(-i / 40.0); }

// LineBuffer formatting every field of every line, then one fwrite.
void BM_LineBuffer(benchmark::State& state) {
  const std::string name = Scratch() + "OUTPUT.TXT";
  const double dx = 4e-6;
  LineBuffer lines;
  WithOutputFile(state, 256, [&] {
    lines.clear();
    for (int i = 1; i <= kListing; ++i) {
      lines.Int(i, 3);
      lines.Text("     ");
      lines.Fixed(i * dx - dx, 9, 7);
      lines.Text("  ");
      lines.Fixed(ListingTemperature(i), 10, 1);
      lines.Text("\r\n");
    }
    std::FILE* file = std::fopen(name.c_str(), "ab");
    std::fwrite(lines.str().data(), 1, lines.str().size(), file);
    std::fclose(file);
  });
  SetUnit(state, kListing);
}

// The full listing step as the run makes it (the node prefixes cached).
void BM_StepReportListing(benchmark::State& state) {
  ResetModel();
  M.DataDir = Scratch();
  M.VERBOSE = 1;
  M.BATCH = 1;
  M.NODES = kListing;
  M.DELTAX = 4e-6;
  M.DELTAT = 1e-5;
  M.TIMESTEPS = 1 << 30;
  std::vector<double> u(kListing + 1);
  for (int i = 1; i <= kListing; ++i) u[i] = ListingTemperature(i);
  int j = 0;
  WithOutputFile(state, 256, [&] {
    ++j;
    if (!StepReport(j, u.data())) std::abort();
  });
  SetUnit(state, kListing);
}

// The reference: fprintf of the same lines to the file.
void BM_Fprintf(benchmark::State& state) {
  const std::string name = Scratch() + "OUTPUT.TXT";
  const double dx = 4e-6;
  WithOutputFile(state, 256, [&] {
    std::FILE* file = std::fopen(name.c_str(), "ab");
    for (int i = 1; i <= kListing; ++i) {
      std::fprintf(file, "%3d     %9.7f  %10.1f\r\n", i, i * dx - dx, ListingTemperature(i));
    }
    std::fclose(file);
  });
  SetUnit(state, kListing);
}

// Floor of the bytes alone: the same listing, already formatted, written.
void BM_BareWrite(benchmark::State& state) {
  const std::string name = Scratch() + "OUTPUT.TXT";
  std::string text;
  char line[64];
  for (int i = 1; i <= kListing; ++i) {
    std::snprintf(line, sizeof line, "%3d     %9.7f  %10.1f\r\n", i, i * 4e-6 - 4e-6, ListingTemperature(i));
    text += line;
  }
  WithOutputFile(state, 256, [&] {
    std::FILE* file = std::fopen(name.c_str(), "ab");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  });
  SetUnit(state, kListing);
}

// ------------------------------------------------------------ honest floors
//
// The least work that results identical to the last bit leave, written as
// fast as we can write it with the project's flags (no fast-math, no -march:
// SSE2 vectors at most, exp from the C library, one call per value: a
// vector exp would not give the same bits). Nothing here calls the model's
// code, so these floors stay put whatever the model's internals become.

// A row of skin temperatures as a march hands them: 310 K deep, up to 500 K
// at the surface, rising with the row.
double FloorTemperature(int row, int i, int n) {
  return 310.0 + (150.0 + 2.0 * row) * std::exp(-8.0 * i / n);
}

constexpr int kFloorRows = 8;  // rows cycled through: the data stays in cache

// The Thomas sweep exactly as tridag makes it: one division for the
// elimination factor and one for the solution in every row (a product with
// a reciprocal would change the bits), the pivot test, the previous row's
// solution carried in a register, back substitution; the interior
// right-hand side from the previous step's row. Uniform skin at 1 um and
// 10 us as in the fine grid case, convection on both faces. Rows 1..n.
struct ThomasSystem {
  int n;
  std::vector<double> a, b, c, r, g;
  double left_gain, right_gain;  // the faces' heat, 2 beta T_ambient
  explicit ThomasSystem(int nodes)
      : n(nodes), a(nodes + 1), b(nodes + 1), c(nodes + 1), r(nodes + 1), g(nodes + 1) {
    const double dt = 1e-5, dx = 1e-6;
    const double fo = (0.37 * dt) / ((1000.0 * dx) * (3600.0 * dx));
    for (int i = 2; i <= n - 1; ++i) {
      a[i] = -fo;
      b[i] = fo + 1 + fo;
      c[i] = -fo;
    }
    const double beta = (dt / dx) * 250.0 / (1000.0 * 3600.0);
    b[1] = 2 * fo + 1 + 2 * beta;
    c[1] = -2 * fo;
    left_gain = 2 * beta * 1000.0;
    b[n] = 2 * fo + 1 + 2 * (beta / 12.5);
    a[n] = -2 * fo;
    right_gain = 2 * (beta / 12.5) * 310.0;
  }

  // One step: u[1..n] from old[1..n].
  void Step(const double* old, double* u) {
    r[1] = left_gain + old[1];
    r[n] = right_gain + old[n];
    for (int i = 2; i <= n - 1; ++i) r[i] = old[i];
    double bet = b[1];
    if (bet == 0.0) std::abort();
    double previous = r[1] / bet;
    u[1] = previous;
    for (int j = 2; j <= n; ++j) {
      const double factor = c[j - 1] / bet;
      g[j] = factor;
      bet = b[j] - a[j] * factor;
      if (bet == 0.0) std::abort();
      previous = (r[j] - a[j] * previous) / bet;
      u[j] = previous;
    }
    for (int j = n - 1; j >= 1; --j) {
      previous = u[j] - g[j + 1] * previous;
      u[j] = previous;
    }
  }
};

// kFloorRows + 1 rows of n + 1 values (entry 0 unused), row q rising with q.
std::vector<double> FloorRows(int n) {
  std::vector<double> rows(static_cast<std::size_t>(kFloorRows + 1) * (n + 1), 310.0);
  for (int q = 0; q <= kFloorRows; ++q)
    for (int i = 1; i <= n; ++i) rows[static_cast<std::size_t>(q) * (n + 1) + i] = FloorTemperature(q, i, n);
  return rows;
}

void BM_FloorThomas(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ThomasSystem s(n);
  std::vector<double> rows = FloorRows(n);
  int row = 1;
  for (auto _ : state) {
    double* u = rows.data() + static_cast<std::size_t>(row) * (n + 1);
    s.Step(u - (n + 1), u);
    benchmark::DoNotOptimize(u);
    row = row == kFloorRows ? 1 : row + 1;
  }
  SetUnit(state, n);
}

// The same sweep with the elimination kept from the step before (allowed
// while neither face row changes, as with constant tables): the factors and
// pivots are the same numbers, so only the solution's own chain is left,
// still one division a row.
void BM_FloorThomasKept(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ThomasSystem s(n);
  std::vector<double> pivot(n + 1);
  double bet = s.b[1];
  pivot[1] = bet;
  for (int j = 2; j <= n; ++j) {
    s.g[j] = s.c[j - 1] / bet;
    bet = s.b[j] - s.a[j] * s.g[j];
    pivot[j] = bet;
  }
  std::vector<double> rows = FloorRows(n);
  int row = 1;
  for (auto _ : state) {
    double* u = rows.data() + static_cast<std::size_t>(row) * (n + 1);
    const double* old = u - (n + 1);
    double previous = (s.left_gain + old[1]) / pivot[1];
    u[1] = previous;
    for (int j = 2; j <= n - 1; ++j) {
      previous = (old[j] - s.a[j] * previous) / pivot[j];
      u[j] = previous;
    }
    previous = ((s.right_gain + old[n]) - s.a[n] * previous) / pivot[n];
    u[n] = previous;
    for (int j = n - 1; j >= 1; --j) {
      previous = u[j] - s.g[j + 1] * previous;
      u[j] = previous;
    }
    benchmark::DoNotOptimize(u);
    row = row == kFloorRows ? 1 : row + 1;
  }
  SetUnit(state, n);
}

// The burn integral's rates. Classical RK4 asks for the rate four times a
// step: at its start, twice at its midpoint, at its end. The two midpoint
// calls are one time and the end of a step is the start of the next, so a
// node-step needs exactly 2 new values: exp at the midpoint and at the end.
// The scaled exponents exp takes here are those of a run (Tref 400 K).
constexpr double kEOverR = 623580.0 / 8.31439;

void BM_FloorExp2(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::vector<double> x_mid(static_cast<std::size_t>(kFloorRows) * n), x_end(x_mid.size());
  for (int q = 0; q < kFloorRows; ++q) {
    for (int i = 0; i < n; ++i) {
      const double t0 = FloorTemperature(q, i, n), t1 = FloorTemperature(q + 1, i, n);
      x_mid[static_cast<std::size_t>(q) * n + i] = kEOverR / 400.0 - kEOverR / (0.5 * (t0 + t1));
      x_end[static_cast<std::size_t>(q) * n + i] = kEOverR / 400.0 - kEOverR / t1;
    }
  }
  int row = 0;
  double sum = 0.0;
  for (auto _ : state) {
    const double* m = x_mid.data() + static_cast<std::size_t>(row) * n;
    const double* e = x_end.data() + static_cast<std::size_t>(row) * n;
    for (int i = 0; i < n; ++i) sum += std::exp(m[i]) + std::exp(e[i]);
    benchmark::DoNotOptimize(sum);
    row = (row + 1) % kFloorRows;
  }
  SetUnit(state, n);
}

// Everything a node-step of the burn integral must compute for identical
// bits, a row at a time over all nodes as a march hands them: the
// temperature at the midpoint and at the end by the line between the two
// records (LinearInterp's operations, its division included; at the end the
// record's value where the time falls on it, chosen after forming the line),
// the scaled exponent of each with its division, the 2 exp calls, and the
// RK4 combination h/6 ((k1 + k4) + 2 (k2 + k3)) added to Omega. The times
// are formed by repeated addition as the integrator forms them. The
// arithmetic around exp is in loops of its own, where the compiler can pair
// it up in vectors; exp stays one call per value.
class BurnRows {
 public:
  BurnRows(int n, const double* first, const double* last)
      : n_(n), scale_(n + 1), omega_(n + 1, 0.0), start_rate_(n + 1), x_mid_(n + 1), x_end_(n + 1) {
    for (int i = 1; i <= n; ++i) {
      scale_[i] = kEOverR / ((first[i] + last[i]) / 2.0);
      start_rate_[i] = std::exp(scale_[i] - kEOverR / first[i]);
    }
  }

  // One step from the record `below` (nodes 1..n) to the record `above`.
  void Step(const double* below, const double* above) {
    const double t_below = step_ * kDt, t_above = (step_ + 1) * kDt;
    const double to_mid = t_above - (x_ + kHalf), to_end = t_above - (x_ + kH), span = t_above - t_below;
    const bool end_on_record = t_above == x_ + kH;
    for (int i = 1; i <= n_; ++i) {
      const double rise = above[i] - below[i];
      const double mid = above[i] - to_mid * rise / span;
      const double line = above[i] - to_end * rise / span;
      const double end = end_on_record ? above[i] : line;
      x_mid_[i] = scale_[i] - kEOverR / mid;
      x_end_[i] = scale_[i] - kEOverR / end;
    }
    for (int i = 1; i <= n_; ++i) {
      x_mid_[i] = std::exp(x_mid_[i]);
      x_end_[i] = std::exp(x_end_[i]);
    }
    for (int i = 1; i <= n_; ++i) {
      const double k2 = x_mid_[i];
      omega_[i] = omega_[i] + kSixth * ((start_rate_[i] + x_end_[i]) + 2.0 * (k2 + k2));
      start_rate_[i] = x_end_[i];
    }
    x_ += kH;
    ++step_;
  }
  const double* omega() const { return omega_.data(); }

 private:
  static constexpr double kDt = 1e-5;
  static constexpr double kH = 29999 * kDt / 29999;
  static constexpr double kHalf = kH * 0.5;
  static constexpr double kSixth = kH / 6.0;
  int n_;
  std::vector<double> scale_, omega_, start_rate_, x_mid_, x_end_;
  double x_ = 0.0;
  long step_ = 0;
};

void BM_FloorBurnStep(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> rows = FloorRows(n);
  const auto row = [&](int q) { return rows.data() + static_cast<std::size_t>(q) * (n + 1); };
  BurnRows burn(n, row(0), row(kFloorRows));
  int q = 0;
  for (auto _ : state) {
    burn.Step(row(q), row(q + 1));
    benchmark::DoNotOptimize(burn.omega());
    q = (q + 1) % kFloorRows;
  }
  SetUnit(state, n);
}

// The second march of an all-nodes burn with its integration behind it,
// at its forced floor: the sweep of one step, then the burn step over the
// row before and the row just solved.
void BM_FloorMarchBurn(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  ThomasSystem s(n);
  std::vector<double> rows = FloorRows(n);
  const auto row = [&](int q) { return rows.data() + static_cast<std::size_t>(q) * (n + 1); };
  BurnRows burn(n, row(0), row(kFloorRows));
  int q = 1;
  for (auto _ : state) {
    s.Step(row(q - 1), row(q));
    burn.Step(row(q - 1), row(q));
    benchmark::DoNotOptimize(burn.omega());
    q = q == kFloorRows ? 1 : q + 1;
  }
  SetUnit(state, n);
}

// First touch as a user's run meets it: a fresh process, started after the
// machine has been idle for some seconds (SKINBURN_BENCH_IDLE, default 3),
// maps a 768 MiB block (the size of the fine grid case's history, 687 MiB)
// and writes it once; the time is the child's CPU time for the writing
// (page faults and the kernel's zeroing), handed back through a pipe. On
// this kind of virtual machine, memory beyond what was in use a moment ago
// comes from the host again, and costs several times the warm rate of
// BM_FirstTouch (the same block size freed and taken again in one process),
// by an amount that varies from run to run: each iteration is one sample,
// and the mean of them is reported, not the best.
void BM_FirstTouchCold(benchmark::State& state) {
  const std::size_t bytes = std::size_t{768} << 20;
  const bool huge = state.range(0) != 0;
  const char* idle_text = std::getenv("SKINBURN_BENCH_IDLE");
  const unsigned idle = idle_text ? static_cast<unsigned>(std::atoi(idle_text)) : 3u;
  for (auto _ : state) {
    sleep(idle);
    int channel[2];
    if (pipe(channel) != 0) {
      state.SkipWithError("pipe failed");
      break;
    }
    const pid_t child = fork();
    if (child == 0) {
      double seconds = -1.0;
      void* block = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (block != MAP_FAILED) {
#ifdef MADV_HUGEPAGE
        if (huge) madvise(block, bytes, MADV_HUGEPAGE);
#endif
        timespec t0{}, t1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t0);
        double* plain = static_cast<double*>(block);
        for (std::size_t i = 0; i < bytes / sizeof(double); ++i) plain[i] = 310.0;
        benchmark::DoNotOptimize(plain);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t1);
        seconds = static_cast<double>(t1.tv_sec - t0.tv_sec) + static_cast<double>(t1.tv_nsec - t0.tv_nsec) * 1e-9;
      }
      if (write(channel[1], &seconds, sizeof seconds) != static_cast<ssize_t>(sizeof seconds)) _exit(1);
      _exit(0);
    }
    double seconds = -1.0;
    const bool got = child > 0 && read(channel[0], &seconds, sizeof seconds) == static_cast<ssize_t>(sizeof seconds);
    if (child > 0) waitpid(child, nullptr, 0);
    close(channel[0]);
    close(channel[1]);
    if (!got || seconds < 0) {
      state.SkipWithError("the child could not map or write its block");
      break;
    }
    state.SetIterationTime(seconds);
  }
  SetUnit(state, static_cast<double>(bytes));
}

BENCHMARK(BM_StepSolve)->Arg(41)->Arg(1000)->Arg(3000)->Arg(30000);
BENCHMARK(BM_TimeMarch)->Args({41, 1000})->Args({1000, 200})->Args({3000, 100})->Args({30000, 10});
BENCHMARK(BM_BareThomas)->Arg(41)->Arg(1000)->Arg(3000)->Arg(30000);
BENCHMARK(BM_FirstTouch)->Arg(0)->Arg(1);
BENCHMARK(BM_JetConvection)->Arg(0)->Arg(2);
BENCHMARK(BM_BareFileRead);
BENCHMARK(BM_StepReportHistory);
BENCHMARK(BM_BareAppend);
BENCHMARK(BM_BurnRate);
BENCHMARK(BM_BurnInjury)->Arg(1000)->Arg(29999);
BENCHMARK(BM_BareExp);
BENCHMARK(BM_BurnEveryNode)->Args({2000, 1})->Args({2000, 2})->UseRealTime();
BENCHMARK(BM_LineBuffer);
BENCHMARK(BM_StepReportListing);
BENCHMARK(BM_Fprintf);
BENCHMARK(BM_BareWrite);
BENCHMARK(BM_FloorThomas)->Arg(1000)->Arg(3000);
BENCHMARK(BM_FloorThomasKept)->Arg(1000)->Arg(3000);
BENCHMARK(BM_FloorExp2)->Arg(1000)->Arg(3000);
BENCHMARK(BM_FloorBurnStep)->Arg(1000)->Arg(3000);
BENCHMARK(BM_FloorMarchBurn)->Arg(3000);
// Two idle waits per page kind, whatever --benchmark_repetitions says; the
// time is the child's CPU time, reported as manual time.
BENCHMARK(BM_FirstTouchCold)->Arg(0)->Arg(1)->Iterations(2)->Repetitions(1)->UseManualTime();

// Nanoseconds per unit of every run, by benchmark name.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const auto unit = run.counters.find("unit");
      const double units = unit == run.counters.end() ? 1.0 : unit->second.value;
      // CPU time of the benchmark thread (its system time included): on a
      // shared two-core machine it is far steadier than the wall clock.
      // With repetitions, the best of them: on a shared machine the others
      // carry the neighbours' load.
      // A benchmark timed by hand (a child process's CPU time) reports it
      // as its real time.
      const bool manual = run.benchmark_name().find("/manual_time") != std::string::npos;
      const double seconds = manual ? run.real_accumulated_time : run.cpu_accumulated_time;
      const double per_unit = seconds * 1e9 / static_cast<double>(run.iterations) / units;
      const auto [it, fresh] = ns.emplace(run.benchmark_name(), per_unit);
      if (!fresh && per_unit < it->second) it->second = per_unit;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> ns;
};

struct Pairing {
  const char* what;
  const char* kernel;
  const char* floor;
  const char* unit;
  const char* target;  // the ratio asked for, as text
  bool speedup;        // true: floor / kernel (how many times faster)
  double per_unit = 1.0;  // kernel units in one unit of the row (4 rate calls: one node-step)
};

const Pairing kPairs[] = {
    {"step solve, 41 nodes", "BM_StepSolve/41", "BM_BareThomas/41", "node-step", "<= 2", false},
    {"step solve, 1000 nodes", "BM_StepSolve/1000", "BM_BareThomas/1000", "node-step", "<= 2", false},
    {"step solve, 3000 nodes", "BM_StepSolve/3000", "BM_BareThomas/3000", "node-step", "<= 2", false},
    {"step solve, 30000 nodes", "BM_StepSolve/30000", "BM_BareThomas/30000", "node-step", "<= 2", false},
    {"TimeMarch, 41 nodes", "BM_TimeMarch/41/1000", "BM_BareThomas/41", "node-step", "<= 2", false},
    {"TimeMarch, 1000 nodes", "BM_TimeMarch/1000/200", "BM_BareThomas/1000", "node-step", "<= 2", false},
    {"TimeMarch, 3000 nodes", "BM_TimeMarch/3000/100", "BM_BareThomas/3000", "node-step", "<= 2", false},
    {"TimeMarch, 30000 nodes", "BM_TimeMarch/30000/10", "BM_BareThomas/30000", "node-step", "<= 2", false},
    {"JetConvection on axis", "BM_JetConvection/0", "BM_BareFileRead", "call", "-", false},
    {"JetConvection off axis", "BM_JetConvection/2", "BM_BareFileRead", "call", "-", false},
    {"step append (history line)", "BM_StepReportHistory", "BM_BareAppend", "step", "-", false},
    {"BurnRate, direct call", "BM_BurnRate", "BM_BareExp", "call", "-", false},
    {"BurnInjury, 1000 steps", "BM_BurnInjury/1000", "BM_BareExp", "rate call", "<= 2", false},
    {"BurnInjury, 29999 steps", "BM_BurnInjury/29999", "BM_BareExp", "rate call", "<= 2", false},
    {"LineBuffer lines vs fprintf", "BM_LineBuffer", "BM_Fprintf", "line", ">= 3 faster", true},
    {"StepReport listing vs fprintf", "BM_StepReportListing", "BM_Fprintf", "line", ">= 3 faster", true},
    {"StepReport listing vs bare write", "BM_StepReportListing", "BM_BareWrite", "line", "-", false},
    {"history store, 4 KiB pages", "BM_FirstTouch/0", "BM_FirstTouch/1", "byte", "-", false},
    {"history store cold, huge pages", "BM_FirstTouchCold/1/iterations:2/repeats:1/manual_time", "BM_FirstTouch/1", "byte", "-", false},
    {"history store cold, 4 KiB pages", "BM_FirstTouchCold/0/iterations:2/repeats:1/manual_time", "BM_FirstTouch/0", "byte", "-", false},
    {"step solve vs forced sweep, 1000", "BM_StepSolve/1000", "BM_FloorThomas/1000", "node-step", "-", false},
    {"step solve vs forced sweep, 3000", "BM_StepSolve/3000", "BM_FloorThomas/3000", "node-step", "-", false},
    {"forced sweep, factors kept, 3000", "BM_FloorThomasKept/3000", "BM_FloorThomas/3000", "node-step", "-", false},
    {"BurnInjury vs 2 exp, 29999 steps", "BM_BurnInjury/29999", "BM_FloorExp2/3000", "node-step", "-", false, 4.0},
    {"burn arithmetic vs its 2 exp, 1000", "BM_FloorBurnStep/1000", "BM_FloorExp2/1000", "node-step", "-", false},
    {"burn arithmetic vs its 2 exp, 3000", "BM_FloorBurnStep/3000", "BM_FloorExp2/3000", "node-step", "-", false},
    {"all-nodes burn, 1 thread, forced", "BM_BurnEveryNode/2000/1/real_time", "BM_FloorMarchBurn/3000", "node-step", "-", false},
};

}  // namespace

int main(int argc, char** argv) {
  std::string floors;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--floors=", 9) == 0) {
      floors = argv[i] + 9;
    } else {
      args.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  const auto& ns = collector.ns;
  std::printf("\n== summary (CPU ns per unit; ratio = kernel / floor, or floor / kernel where faster is asked)\n");
  std::printf("%-34s %-10s %12s %12s %8s  %s\n", "kernel", "unit", "kernel ns", "floor ns", "ratio", "target");
  for (const Pairing& p : kPairs) {
    const auto k = ns.find(p.kernel);
    const auto f = ns.find(p.floor);
    if (k == ns.end() || f == ns.end()) continue;
    const double kernel = k->second * p.per_unit;
    const double ratio = p.speedup ? f->second / kernel : kernel / f->second;
    std::printf("%-34s %-10s %12.3f %12.3f %7.2fx  %s\n", p.what, p.unit, kernel, f->second, ratio, p.target);
  }

  if (!floors.empty()) {
    std::ofstream out(floors);
    const auto put = [&](const char* key, const char* name) {
      const auto it = ns.find(name);
      if (it != ns.end()) out << key << ' ' << it->second << '\n';
    };
    put("thomas_ns_per_node_41", "BM_BareThomas/41");
    put("thomas_ns_per_node_1000", "BM_BareThomas/1000");
    put("thomas_ns_per_node_3000", "BM_BareThomas/3000");
    put("thomas_ns_per_node_30000", "BM_BareThomas/30000");
    put("thomas_ns_per_node", "BM_BareThomas/3000");
    put("jet_ns_per_call", "BM_JetConvection/0");
    put("append_ns_per_step", "BM_BareAppend");
    // The better of the two ways of storing the history.
    const auto t0 = ns.find("BM_FirstTouch/0");
    const auto t1 = ns.find("BM_FirstTouch/1");
    if (t0 != ns.end() && t1 != ns.end()) out << "touch_ns_per_byte " << std::min(t0->second, t1->second) << '\n';
    put("line_ns_per_line", "BM_BareWrite");
    put("exp_ns_per_call", "BM_BareExp");
    // The honest floors: what identical results force, per node-step.
    put("exp2_ns_per_node_step_1000", "BM_FloorExp2/1000");
    put("exp2_ns_per_node_step_3000", "BM_FloorExp2/3000");
    put("exp2_ns_per_node_step", "BM_FloorExp2/3000");
    put("burn_forced_ns_per_node_step_1000", "BM_FloorBurnStep/1000");
    put("burn_forced_ns_per_node_step_3000", "BM_FloorBurnStep/3000");
    put("burn_forced_ns_per_node_step", "BM_FloorBurnStep/3000");
    put("thomas_forced_ns_per_node_1000", "BM_FloorThomas/1000");
    put("thomas_forced_ns_per_node_3000", "BM_FloorThomas/3000");
    put("thomas_forced_ns_per_node", "BM_FloorThomas/3000");
    // First touch warm and cold, each the better of the two page sizes.
    const auto better = [&](const char* key, const char* small, const char* large) {
      const auto a = ns.find(small);
      const auto b = ns.find(large);
      if (a != ns.end() && b != ns.end()) out << key << ' ' << std::min(a->second, b->second) << '\n';
    };
    better("touch_warm_ns_per_byte", "BM_FirstTouch/0", "BM_FirstTouch/1");
    better("touch_cold_ns_per_byte", "BM_FirstTouchCold/0/iterations:2/repeats:1/manual_time",
           "BM_FirstTouchCold/1/iterations:2/repeats:1/manual_time");
  }
  return 0;
}
