// The program-wide model state: every run parameter, table and array that
// the stages hand to one another. One instance, `M`, lives for the process;
// `ResetModel` returns it to the state before `GetData` (all zero, all text
// empty) so that tests can run stage after stage in one process.
#pragma once

#include <array>
#include <string>

inline constexpr int kTableSize = 30001;    // pairs 1..30000; index 0 unused
inline constexpr int kMaxPairs = 30000;     // pairs a table can hold
inline constexpr int kMaxNodes = 30000;     // nodes through the depth
inline constexpr int kMaxTimeSteps = 29999; // so that record TIMESTEPS+1 fits
inline constexpr int kDataDirMax = 63;      // characters of the data directory
inline constexpr int kNameMax = 23;         // characters of a block name
inline constexpr int kWordMax = 79;         // characters of one input word

// One (abscissa, value) pair: depth or time, then the distribution's value.
struct Pair {
  double x;  // m or s
  double y;  // K, W/(m K), kg/m^3, J/(kg K), W/(m^2 K), W/m^2, m/s
};

using PairTable = std::array<Pair, kTableSize>;
using NodeArray = std::array<double, kTableSize>;

struct Model {
  std::string DataDir;  // prefix of every file name, used verbatim

  // Run parameters, in the order DATA.DAT gives them.
  double OUTTIME = 0;       // s, time of the single profile report; 0 = none
  int OUTNODE = 0;          // node of the history and of Omega; 0 = all nodes
  int VERBOSE = 0;          // 1 = report to OUTPUT.TXT, 0 = to the console
  int PRINTAMATRIX = 0;     // 1 = list the A-matrix diagonals before the run
  int PRINTINITTEMP = 0;    // 1 = list the initial temperatures before the run
  int BURNDEPTH = 0;        // 1 = Omega at every node and the burn depth
  int BATCH = 0;            // 1 = unattended: no start and end pauses
  int TRIAL = 0;            // trial number of the report header
  std::string EXECDATE;     // date word of the report header
  std::string EXECBY;       // operator word of the report header
  double FREQFACTOR = 0;    // 1/s, mantissa of the frequency factor
  int FREQEXP = 0;          // power of ten of the frequency factor
  double ACTENERGY = 0;     // J/mol, activation energy
  double GASCONST = 0;      // J/(mol K), universal gas constant
  std::string LBC;          // left (exposed) face: CONVECTION, FLUX, TEMPERATURE
  std::string RBC;          // right face, same words
  int TIMESTEPS = 0;        // number of time steps
  double DELTAT = 0;        // s, length of one time step
  double DELTAX = 0;        // m, node spacing
  int NODES = 0;            // nodes through the depth

  // Distribution tables: raw pairs after GetData, grid values after Interp.
  PairTable InitTempTable{};     // depth, K; value column = current node temperature
  PairTable ConductTable{};      // depth, W/(m K)
  PairTable HeatCapTable{};      // depth, J/(kg K)
  PairTable DensityTable{};      // depth, kg/m^3
  PairTable LeftBCTable{};       // time, left face value (h, q or T)
  PairTable LeftAmbTable{};      // time, left ambient (gas) temperature K
  PairTable RightBCTable{};      // time, right face value
  PairTable RightAmbTable{};     // time, right ambient temperature K
  PairTable GasVelocityTable{};  // time, jet gas velocity m/s (raw pairs only)
  PairTable HbarTable{};         // record k: jet coefficient W/(m^2 K) of step k
  PairTable NodeHistory{};       // record s: (time, temperature) of the burn node

  // Node temperatures at the start of the time march, kept for the burn
  // integral after the march has overwritten InitTempTable's value column.
  NodeArray InitialTemps{};

  // Jet impingement description.
  int JetInUse = 0;            // 1 once the left block called in LEFTIMP.DAT
  int GasVelocityPairs = 0;    // pairs read into GasVelocityTable
  double JETOPTION = 0;        // exactly 1.0 adds the near-field term
  double JETREYNOLDS = 0;      // given jet Reynolds number; 0 = from velocity
  double NOZZLEDIAM = 0;       // m, nozzle diameter
  double OFFAXISRATIO = 0;     // half the off-axis spacing over NOZZLEDIAM
  double STANDOFFRATIO = 0;    // nozzle-to-skin distance over NOZZLEDIAM
  double HBARDURATION = 0;     // s, time of pair 2 of the left ambient list

  // The A-matrix system of one step, indexed by node.
  NodeArray ALower{};         // coefficient of T(i-1) in row i
  NodeArray AMiddle{};        // diagonal
  NodeArray AUpper{};         // coefficient of T(i+1) in row i
  NodeArray RHS{};            // right-hand side
  NodeArray FourierNumber{};  // k dt / (rho c dx^2) per node

  // Full temperature history: row j = end of step j, column i = node i.
  double* TempMatrix = nullptr;   // one block of (TIMESTEPS+2)(NODES+2) doubles
  double** TempRows = nullptr;    // TIMESTEPS+2 row pointers into the block

  // Burn integral.
  double BurnRefTemp = 0;      // K, reference temperature of the integrand
  double EOverR = 0;           // K, ACTENERGY / GASCONST
  double BurnRefExponent = 0;  // EOverR / BurnRefTemp
  double Omega = 0;            // damage of the last node evaluated
  NodeArray OmegaByNode{};     // all-nodes mode: Omega of node i
  double* RkTimes = nullptr;   // path times, 1..nstep+1
  double** RkPath = nullptr;   // path states, [1..nvar][1..nstep+1]
};

extern Model M;

// Back to the state before GetData; frees the temperature matrix if held.
void ResetModel();
