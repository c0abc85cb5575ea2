// The conduction solver: Fourier numbers, the interior and boundary rows of
// the A-matrix, the time loop against the semi-infinite solid, and the
// impinging-jet coefficient.
#include "thermal/thermal.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "model/model.h"
#include "support/support.h"

namespace {

// Nodes of k 0.5, rho 1000, c 4000 at `initial` K, dx apart; with dt 0.01 s
// and dx 0.1 mm, Fo = 0.5 * 0.01 / (1000 * 4000 * 1e-8) = 0.125.
void Tissue(int nodes, double dt = 0.01, double dx = 1e-4, double initial = 310) {
  M.NODES = nodes;
  M.DELTAT = dt;
  M.DELTAX = dx;
  for (int i = 1; i <= nodes; ++i) {
    M.ConductTable[i].y = 0.5;
    M.DensityTable[i].y = 1000;
    M.HeatCapTable[i].y = 4000;
    M.InitTempTable[i].y = initial;
  }
}

TEST(AMatrix, InteriorRows) {
  testing_support::InProcess guard;
  Tissue(8);
  for (int i = 5; i <= 8; ++i) M.ConductTable[i].y = 1.5;  // k steps 1 : 3 between nodes 4 and 5
  M.ALower[1] = M.AUpper[8] = 7;
  ASSERT_EQ(Fourier(), 1);
  InterNodes();
  // Fo is 0.125 to node 4 and 0.375 from node 5 on; harmonic-mean weights
  // 2 * 3 / (1 + 3) = 1.5 east of node 4 and 2 * 1 / (3 + 1) = 0.5 west of node 5.
  const double lower[] = {-0.125, -0.125, -0.125, -0.5 * 0.375, -0.375, -0.375};
  const double upper[] = {-0.125, -0.125, -1.5 * 0.125, -0.375, -0.375, -0.375};
  for (int i = 2; i <= 7; ++i) {
    EXPECT_DOUBLE_EQ(M.ALower[i], lower[i - 2]) << i;
    EXPECT_DOUBLE_EQ(M.AUpper[i], upper[i - 2]) << i;
    EXPECT_DOUBLE_EQ(M.AMiddle[i], 1 - lower[i - 2] - upper[i - 2]) << i;
  }
  EXPECT_EQ(M.ALower[1] + M.AUpper[8], 14);  // the face rows are not touched
}

TEST(AMatrix, FourierRefusesUnusableProperties) {
  for (PairTable Model::*table : {&Model::ConductTable, &Model::DensityTable, &Model::HeatCapTable}) {
    for (double bad : {0.0, -1.0, double{NAN}, double{INFINITY}}) {
      testing_support::InProcess guard;
      Tissue(4);
      (M.*table)[3].y = bad;
      EXPECT_EQ(Fourier(), 0) << bad;
    }
  }
}

class BoundaryRows : public ::testing::Test {
 protected:
  void SetUp() override {
    Tissue(5);
    ASSERT_EQ(Fourier(), 1);
  }
  // Row 1 or row 5: diagonal, coupling to the neighbour, right-hand side.
  static void ExpectRow(int n, double middle, double coupling, double rhs) {
    EXPECT_DOUBLE_EQ(M.AMiddle[n], middle) << n;
    EXPECT_DOUBLE_EQ(n == 1 ? M.AUpper[1] : M.ALower[n], coupling) << n;
    EXPECT_DOUBLE_EQ(M.RHS[n], rhs) << n;
  }
  testing_support::InProcess guard{"\n\n"};
};

TEST_F(BoundaryRows, ConvectionTakesRecordOfTheStep) {
  // beta = (0.01 / 1e-4) * 100 / (1000 * 4000) = 0.0025 on both faces.
  M.LeftBCTable[3].y = M.RightBCTable[3].y = 100;
  M.LeftAmbTable[3].y = 400;
  M.RightAmbTable[3].y = 300;
  M.InitTempTable[5].y = 305;
  Convection('L', 3);
  Convection('R', 3);
  ExpectRow(1, 1.255, -0.25, 0.005 * 400 + 310);
  ExpectRow(5, 1.255, -0.25, 0.005 * 300 + 305);
}

TEST_F(BoundaryRows, JetCoefficientOnlyForExactlyOne) {
  M.HbarTable[2].y = 800;
  for (const auto& [side, jet, value, h] :
       {std::tuple{'L', 1, 1.0, 800.0}, std::tuple{'L', 1, 1.0000001, 1.0000001},
        std::tuple{'L', 1, 0.5, 0.5}, std::tuple{'L', 0, 1.0, 1.0},
        std::tuple{'R', 1, 1.0, 1.0}}) {  // the right face has no jet
    M.JetInUse = jet;
    M.LeftBCTable[2].y = M.RightBCTable[2].y = value;
    Convection(side, 2);
    const double beta = (M.AMiddle[side == 'L' ? 1 : 5] - 1.25) / 2;  // 2.5e-5 h
    EXPECT_NEAR(beta / 2.5e-5, h, 1e-6 * h) << side << ' ' << jet << ' ' << value;
  }
}

TEST_F(BoundaryRows, FluxHeatsLeftAndCoolsRight) {
  M.LeftBCTable[1].y = M.RightBCTable[1].y = 1000;  // 2 q dt / (dx rho c) = 0.05
  M.ConductTable[2].y = M.ConductTable[4].y = 1.5;  // w = 4 * 1.5 / (0.5 + 1.5) = 3
  Flux('L', 1);
  Flux('R', 1);
  ExpectRow(1, 1.375, -0.375, 310.05);
  ExpectRow(5, 1.375, -0.375, 309.95);

  M.AMiddle = M.AUpper = M.ALower = M.RHS = NodeArray{};
  Convection('X', 1);
  Flux('X', 1);
  EXPECT_EQ(guard.out,
            "Convection() Error: Node-0 and Last-Node Convection calculations failed"
            "Flux() Error: Node-0 and Last-Node Flux calculations failed");
  for (int i = 0; i <= 6; ++i) EXPECT_EQ(M.AMiddle[i] + M.AUpper[i] + M.ALower[i] + M.RHS[i], 0.0);
}

// Marches `steps` steps over the tissue; returns the history, row j = step j,
// made by the second march, which must give the first march's rows again to
// the last bit. OUTTIME matches no step, so the report stays silent.
std::vector<std::vector<double>> March(int steps) {
  std::vector<std::vector<double>> history(static_cast<std::size_t>(steps + 2),
                                           std::vector<double>(static_cast<std::size_t>(M.NODES + 2)));
  M.TIMESTEPS = steps;
  M.OUTTIME = -1;
  EXPECT_EQ(Fourier(), 1);
  InterNodes();
  EXPECT_EQ(TimeMarch(), 1);
  const NodeArray first = M.FirstRow;
  const NodeArray last = M.LastRow;
  const NodeArray after = M.StepTemps;
  RestartMarch();
  for (int j = 1; j <= steps; ++j) MarchAgain(j, history[static_cast<std::size_t>(j)].data());
  for (int i = 1; i <= M.NODES && steps > 0; ++i) {
    EXPECT_EQ(history[1][static_cast<std::size_t>(i)], first[i]);
    EXPECT_EQ(history[static_cast<std::size_t>(steps)][static_cast<std::size_t>(i)], last[i]);
    EXPECT_EQ(M.InitTempTable[i].y, after[i]);  // the march ends where the first ended
  }
  return history;
}

TEST(TimeMarch, SlabAtAmbientStaysThere) {
  testing_support::InProcess guard;
  Tissue(11);
  M.LBC = M.RBC = "CONVECTION";
  for (int j = 1; j <= 6; ++j) {
    M.LeftBCTable[j].y = 250.0;
    M.RightBCTable[j].y = 40.0;
    M.LeftAmbTable[j].y = M.RightAmbTable[j].y = 310.0;
  }
  const auto history = March(5);
  for (int j = 1; j <= 5; ++j)
    for (int i = 1; i <= 11; ++i) EXPECT_NEAR(history[j][i], 310.0, 1e-9) << j << ' ' << i;
  EXPECT_EQ(guard.out, "");
}

// Largest error at 2 s over a slab `depth` thick whose face is held at 400 K
// from the first step on (record 1, time 0, has the initial 300 K), against
// 300 + 100 erfc(x / (2 sqrt(alpha t))); the heat reaches about 1 mm.
double SurfaceJumpError(double dt, double dx, double depth) {
  testing_support::InProcess guard;
  const int steps = static_cast<int>(std::lround(2 / dt));
  Tissue(static_cast<int>(std::lround(depth / dx)) + 1, dt, dx, 300);
  M.LBC = M.RBC = "TEMPERATURE";
  for (int j = 1; j <= steps + 1; ++j) {
    M.LeftBCTable[j].y = j == 1 ? 300.0 : 400.0;
    M.RightBCTable[j].y = 300.0;
  }
  const auto history = March(steps);
  EXPECT_EQ(history[1][1], 400.0);
  const double alpha = 0.5 / (1000.0 * 4000.0);
  double worst = 0;
  for (int i = 1; i <= M.NODES; ++i) {
    const double exact = 300.0 + 100.0 * std::erfc((i - 1) * dx / (2 * std::sqrt(alpha * 2)));
    worst = std::fmax(worst, std::fabs(history[steps][i] - exact));
  }
  return worst;
}

TEST(TimeMarch, FirstOrderInTimeSecondOrderInSpace) {
  const double in_time[] = {SurfaceJumpError(0.04, 1e-5, 3e-3), SurfaceJumpError(0.02, 1e-5, 3e-3),
                            SurfaceJumpError(0.01, 1e-5, 3e-3)};
  EXPECT_LT(in_time[0], 0.5);
  EXPECT_NEAR(in_time[0] / in_time[1], 2.0, 0.2);
  EXPECT_NEAR(in_time[1] / in_time[2], 2.0, 0.2);
  const double in_space[] = {SurfaceJumpError(1e-4, 1e-4, 4e-3), SurfaceJumpError(1e-4, 5e-5, 4e-3)};
  EXPECT_LT(in_space[0], 0.1);
  EXPECT_NEAR(in_space[0] / in_space[1], 4.0, 0.4);
}

// Largest error of the settled profile of a perfused slab 10 mm deep, its
// face held at 320 K and its inner face insulated, the blood at 310 K,
// against T_a + (T_s - T_a) cosh(m (L - x)) / cosh(m L), m^2 = w rho_b c_b / k.
// The flux face's half cell and the interior rows take the blood alike.
double PerfusedSlabError(double dx, FaceKind* inner = nullptr) {
  testing_support::InProcess guard;
  const double depth = 0.01;
  const int steps = 3000;  // 1 s steps: 30 relaxation times rho c / (w rho_b c_b) = 100 s
  Tissue(static_cast<int>(std::lround(depth / dx)) + 1, 1.0, dx, 310);
  M.Perfusion = true;
  M.ArterialTemp = 310;
  M.BloodDensity = 1000;
  M.BloodHeatCap = 4000;
  for (int i = 1; i <= M.NODES; ++i) M.PerfusionTable[i].y = 0.01;
  M.LBC = "TEMPERATURE";
  M.RBC = "FLUX";
  for (int j = 1; j <= steps + 1; ++j) {
    M.LeftBCTable[j].y = 320.0;
    M.RightBCTable[j].y = 0.0;
  }
  if (inner) *inner = FaceKindOf('R');
  const auto history = March(steps);
  const double m = std::sqrt(0.01 * 1000 * 4000 / 0.5);
  double worst = 0;
  for (int i = 1; i <= M.NODES; ++i) {
    const double x = (i - 1) * dx;
    const double exact = 310.0 + 10.0 * std::cosh(m * (depth - x)) / std::cosh(m * depth);
    worst = std::fmax(worst, std::fabs(history[steps][i] - exact));
  }
  return worst;
}

TEST(TimeMarch, PerfusedSlabSettlesOnTheClosedFormToSecondOrder) {
  FaceKind inner = FaceKind::kNone;
  const double coarse = PerfusedSlabError(2e-4, &inner);
  const double fine = PerfusedSlabError(1e-4);
  EXPECT_EQ(inner, FaceKind::kFlux);
  EXPECT_LT(coarse, 2e-3);  // of a 10 K rise
  EXPECT_NEAR(coarse / fine, 4.0, 0.4);
}

TEST(TimeMarch, WithoutPerfusionTheRateTableIsNotRead) {
  testing_support::InProcess guard;
  Tissue(5);
  for (int i = 1; i <= 5; ++i) M.PerfusionTable[i].y = 1.0;  // left over: --perfusion was not given
  M.ArterialTemp = M.BloodDensity = M.BloodHeatCap = 1000;
  ASSERT_EQ(Fourier(), 1);
  InterNodes();
  EXPECT_EQ(M.AMiddle[3], 1 + 2 * 0.125);
  EXPECT_EQ(PerfusionGain(3), 0.0);
}

// GASPROP.DAT for the jet coefficient: `rows` rows at 300, 400, ... K with
// viscosity 1e-8 T m^2/s, conductivity k0 + k1 T and Prandtl number 0.7.
std::string GasProp(double k0, double k1 = 0, int rows = 18) {
  std::string text = "# gas properties for the jet correlation\n# T nu k Pr\nHeading line\n";
  for (int r = 0; r < rows; ++r) {
    char line[96];
    const double T = 300 + 100 * r;
    std::snprintf(line, sizeof line, "%.0f %.6e %.6f 0.7\r\n", T, 1e-8 * T, k0 + k1 * T);
    text += line;
  }
  return text;
}

class Jet : public ::testing::Test {
 protected:
  void SetUp() override {
    M.DataDir = dir.path();
    dir.Write("GASPROP.DAT", GasProp(0.05));
    M.JETREYNOLDS = 20000;
    M.NOZZLEDIAM = 0.01;
    M.STANDOFFRATIO = 4;
    M.OFFAXISRATIO = 2;
  }
  // The coefficient, or 0 after a failure (which must also be reported).
  double Hbar(int j = 0, double surface = 1000) {
    double hbar = -1;
    const std::size_t before = guard.out.size();
    const int ok = JetConvection(j, surface, 1000, hbar);
    EXPECT_EQ(ok == 0, guard.out.size() > before) << "a failure, and only a failure, is reported";
    if (!ok) {
      EXPECT_EQ(hbar, 0.0);
    }
    return hbar;
  }
  testing_support::InProcess guard{"\n\n\n"};
  testing_support::TempDir dir;
};

TEST_F(Jet, CoefficientByStandOff) {
  EXPECT_NEAR(Hbar(), 71.72, 0.005);  // averaged out to R = 2
  M.OFFAXISRATIO = 0;
  const double axis = Hbar();  // C(4) = 0.94
  EXPECT_NEAR(axis, 692.04, 0.005);
  for (const auto& [H, option, C] :
       {std::array{4.4, 1.0, 0.968}, std::array{4.4, 0.0, 0.928}, std::array{4.4, 1.0000001, 0.928},
        std::array{5.5, 0.0, 0.895}, std::array{6.0, 1.0, 0.8334}, std::array{10.0, 0.0, 0.327},
        std::array{20.0, 0.0, 0.0555}}) {
    M.STANDOFFRATIO = H;
    M.JETOPTION = option;
    EXPECT_NEAR(Hbar() / axis, C / 0.94, 1e-12) << H << ' ' << option;
  }
  EXPECT_EQ(guard.out, "");
  for (double H : {0.0, 20.5}) {
    guard.out.clear();
    M.STANDOFFRATIO = H;
    EXPECT_EQ(Hbar(), 0.0) << H;
    EXPECT_EQ(guard.out,
              "\r\n\r\nError JetConvection():  On-axis Nusselt number could not be calculated.\r\n");
  }
}

TEST_F(Jet, GasTableReadAtEveryCall) {
  const double before = Hbar();
  dir.Write("GASPROP.DAT", GasProp(0.10));
  EXPECT_DOUBLE_EQ(Hbar(), 2 * before);
  struct Case {
    std::string contents;  // empty: no file at all
    std::string message;   // the whole output, or its start
  };
  for (const Case& c : {Case{"", "JetConvection() Error: \r\n GASPROP.DAT could not be found... \r\n"},
                        Case{"# gas properties\n# and no heading or rows\n", "JetConvection() Error: "},
                        Case{GasProp(0.05, 0, 17), "JetConvection() Error: "}}) {
    std::remove((dir.path() + "GASPROP.DAT").c_str());
    if (!c.contents.empty()) dir.Write("GASPROP.DAT", c.contents);
    guard.out.clear();
    EXPECT_EQ(Hbar(), 0.0);
    EXPECT_EQ(c.contents.empty() ? guard.out : guard.out.substr(0, c.message.size()), c.message);
  }
}

TEST_F(Jet, ReynoldsFromGasVelocity) {
  // Conductivity at the film temperature (300 + 1000) / 2 = 650 K: 0.0325.
  dir.Write("GASPROP.DAT", GasProp(0, 5e-5));
  const double given = Hbar(5, 300);
  EXPECT_NEAR(given, 71.7195 * 0.65, 1e-3);
  // V(5 * 0.1 s) = 20 m/s and the viscosity at the gas temperature 1e-5 m^2/s:
  // Re = 20 * 0.01 / 1e-5 = 20000 again.
  M.JETREYNOLDS = 0;
  M.DELTAT = 0.1;
  M.GasVelocityTable[1] = {0.0, 10.0};
  M.GasVelocityTable[2] = {1.0, 30.0};
  M.GasVelocityPairs = 2;
  EXPECT_NEAR(Hbar(5, 300), given, 1e-9 * given);
  // Times the velocities cover, to their ends; beyond either end no velocity
  // is known and the coefficient fails.
  EXPECT_GT(Hbar(0, 300), 0);
  EXPECT_GT(Hbar(10, 300), 0);
  M.GasVelocityTable[1].x = 0.05;
  guard.out.clear();
  EXPECT_EQ(Hbar(0, 300), 0.0);
  EXPECT_EQ(guard.out, "JetConvection() Error: \r\n LEFTIMP.DAT gas velocities do not cover the time 0 s... \r\n");
  M.GasVelocityTable[1].x = 0.0;
  guard.out.clear();
  EXPECT_EQ(Hbar(11, 300), 0.0);
  EXPECT_EQ(guard.out, "JetConvection() Error: \r\n LEFTIMP.DAT gas velocities do not cover the time 1.1 s... \r\n");
  M.GasVelocityPairs = 1;  // one pair covers no interval
  EXPECT_EQ(Hbar(0, 300), 0.0);
}

}  // namespace
