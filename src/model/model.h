// The program-wide model state: every run parameter, table and array that
// the stages hand to one another. One instance, `M`, lives for the process;
// `ResetModel` returns it to the state before `GetData` (all zero, all text
// empty) so that tests can run stage after stage in one process. The model
// room uses nothing but the standard library (and the system's calls that
// tell the reset which pages of the tables were written); every room above
// reads and writes this state.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

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

// --- What the input stage read, where it stood, kept when asked for ---------

// One word of an input file: its text and where it stands.
struct WordAt {
  std::string text;
  std::string file;        // "DATA.DAT", "LEFTIMP.DAT", ...
  std::size_t offset = 0;  // bytes from the start of the file
  std::size_t length = 0;  // bytes
  int line = 0;            // 1-based line of the file
};

// One run-parameter entry of DATA.DAT.
struct EntryRead {
  int number = 0;               // 1..20
  WordAt value;                 // the word the value came from
  std::vector<WordAt> before;   // label words skipped before it
  std::vector<WordAt> after;    // and after it
  bool defaulted = false;       // a zero replaced by the standard constant
  bool absent = false;          // entry 12 left out (entry 11 was 0)
};

// Where the two words of one pair stand.
struct PairWords {
  std::size_t x_offset = 0, x_length = 0;
  std::size_t y_offset = 0, y_length = 0;
};

// A warning about a list of pairs, found while reading it.
struct ListNote {
  std::string code;  // "signed-pair-value"
  std::string text;
};

// One distribution block of DATA.DAT.
struct BlockRead {
  int place = 0;               // 1..8
  WordAt name;                 // as written
  char letter = 0;             // table selected: I C H D L O R A; 0 = skipped
  WordAt count;                // the count word
  WordAt file_count;           // the count word of its separate data file
  int count_code = 0;          // -1 jet, 0 file, n pairs
  std::string source;          // "DATA.DAT", the data file or "LEFTIMP.DAT"
  std::vector<Pair> pairs;     // as read
  std::vector<PairWords> words;
  char laid = 0;               // table Interp laid (by the name's letter); 0 = none
  std::vector<double> laid_values;  // entries 1..n as laid
  std::vector<ListNote> notes;
  WordAt ended_by;             // the word that ended the pair list, when one did
};

// The jet file's values and where they stand.
struct JetRead {
  bool present = false;
  WordAt option, reynolds, nozzle, offaxis, standoff;
  WordAt boundary_count, velocity_count;  // the count words of the two lists
  std::vector<Pair> velocities;
  std::vector<PairWords> velocity_words;
  std::vector<ListNote> notes;
};

struct InputRecord {
  bool on = false;  // record while reading (check mode and results bundle)
  std::vector<EntryRead> entries;
  std::vector<BlockRead> blocks;
  JetRead jet;
  // Scratch of the reader: the words around the value last taken, and the
  // word locations and notes of the list last read.
  std::vector<WordAt> skipped_before, skipped_after;
  WordAt taken;
  std::vector<PairWords> list_words;
  std::vector<ListNote> list_notes;
  WordAt list_end;  // the word that ended the list last read
};

// What one face did in the step just made: the coefficient and the ambient
// temperature its boundary row used (NaN for a face type without them), the
// face node's temperature at the end of the step, and the heat flux that
// entered the skin through the face during the step.
struct FaceStep {
  double h = 0;        // W/(m^2 K)
  double ambient = 0;  // K
  double surface = 0;  // K
  double flux = 0;     // W/m^2, positive into the skin
};

// One pair of neighbouring nodes whose Omega brackets 1.
struct Crossing {
  int node = 0;          // the shallower node i of (i, i + 1)
  bool falling = false;  // Omega above 1 at i, below at i + 1
  double depth = 0;         // m, at the nodes' depths (node i at (i - 1) DELTAX)
  double report_depth = 0;  // m, as the report gives it (node i at i DELTAX)
};

// How far a run got, for the results bundle.
enum class Phase { kInput, kStart, kMarch, kBurn, kEnd };
enum class Outcome { kNone, kBurnDepth, kOmegaAtNode, kAllAbove, kAllBelow, kMarchOnly };

// How the march steps through time: backward Euler (first order, the
// program's own), or the second-order backward difference (BDF2) after one
// backward Euler step, chosen with --time-scheme bdf2.
enum class TimeScheme { kBackwardEuler, kBdf2 };

// The tables of the model: every array of kTableSize entries, about 8.6 MB
// in all. All zero when fresh, and nothing but numbers, so that a reset can
// clear them as bytes (and only the pages a run wrote, see ResetModel).
struct ModelTables {
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

  // The A-matrix system of one step, indexed by node.
  NodeArray ALower{};         // coefficient of T(i-1) in row i
  NodeArray AMiddle{};        // diagonal
  NodeArray AUpper{};         // coefficient of T(i+1) in row i
  NodeArray RHS{};            // right-hand side
  NodeArray FourierNumber{};  // k dt / (rho c dx^2) per node

  // What the march keeps of the temperature history: the solution of the
  // step being made, and the rows of steps 1 and TIMESTEPS, which fix every
  // node's reference temperature of the burn integral. The burn of every
  // node is integrated during a second march, which forms the same rows
  // again one at a time, so the history is never held whole.
  NodeArray StepTemps{};  // K, solution of the current step, node i
  NodeArray FirstRow{};   // K, end of step 1
  NodeArray LastRow{};    // K, end of step TIMESTEPS

  // BDF2: node temperatures one step before InitTempTable's (K).
  NodeArray PrevTemps{};

  // Blood perfusion: depth, 1/s; the pairs of PERFUSE.DAT, then one rate
  // per node.
  PairTable PerfusionTable{};

  // The burn in all-nodes mode: Omega of node i, and the same before
  // values below 1e-6 become 0.
  NodeArray OmegaByNode{};
  NodeArray OmegaUnflooredByNode{};
};

// Everything else: the run parameters, the faces, the jet, the scheme, the
// burn's results and the record of what was read.
struct ModelState {
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

  // Jet impingement description.
  int JetInUse = 0;            // 1 once the left block called in LEFTIMP.DAT
  int GasVelocityPairs = 0;    // pairs read into GasVelocityTable
  double JETOPTION = 0;        // exactly 1.0 adds the near-field term
  double JETREYNOLDS = 0;      // given jet Reynolds number; 0 = from velocity
  double NOZZLEDIAM = 0;       // m, nozzle diameter
  double OFFAXISRATIO = 0;     // half the off-axis spacing over NOZZLEDIAM
  double STANDOFFRATIO = 0;    // nozzle-to-skin distance over NOZZLEDIAM
  double HBARDURATION = 0;     // s, time of pair 2 of the left ambient list

  // What the march did at the faces in the step being made (its rows are
  // among the tables above).
  FaceStep LeftStep{};    // the exposed face (node 1) in the current step
  FaceStep RightStep{};   // the inner face (node NODES) in the current step
  int Threads = 1;        // threads the burn of every node may use
  bool MarchOnly = false;  // --march-only given: the march and its history, no burn evaluated

  // The time scheme. A BDF2 step is solved as a backward Euler step over
  // 2 DELTAT / 3 from (4 T(n) - T(n-1)) / 3, so the rows keep their form and
  // SolveFraction scales DELTAT in them (exactly 1 for backward Euler).
  TimeScheme Scheme = TimeScheme::kBackwardEuler;
  double SolveFraction = 1.0;  // the implicit solve's step over DELTAT

  // Blood perfusion (the Pennes term rate x rho_b x c_b x (T_a - T) per unit
  // volume), read from PERFUSE.DAT with --perfusion; none without it.
  bool Perfusion = false;       // --perfusion given
  double ArterialTemp = 0;      // K, T_a
  double BloodDensity = 0;      // kg/m^3, rho_b
  double BloodHeatCap = 0;      // J/(kg K), c_b
  std::vector<Pair> PerfusionPairs;  // (depth m, rate 1/s) as read
  bool PerfusionLaid = false;   // the rates were laid onto the nodes

  // Burn integral.
  double BurnRefTemp = 0;      // K, reference temperature of the integrand
  double EOverR = 0;           // K, ACTENERGY / GASCONST
  double BurnRefExponent = 0;  // EOverR / BurnRefTemp
  double Omega = 0;            // damage of the last node evaluated
  double OmegaUnfloored = 0;   // the same before values below 1e-6 become 0
  std::vector<Crossing> Crossings;  // all-nodes mode, in depth order
  double* RkTimes = nullptr;   // path times, 1..nstep+1
  double** RkPath = nullptr;   // path states, [1..nvar][1..nstep+1]

  // Progress and the record of what was read.
  Phase Reached = Phase::kInput;
  int StepsDone = 0;           // steps of the march completed
  // Every stage before the march succeeded and both face words name a face:
  // what a check of the same directory calls a run that would start.
  bool StagesPassed = false;
  Outcome Result = Outcome::kNone;
  InputRecord Record;
};

struct Model : ModelTables, ModelState {};

extern Model M;

// --- Rules of the state that every room reads the same way -------------------

// What a face word (LBC, RBC) names, by its first letter; kNone for any
// other word, or none.
enum class FaceKind { kNone, kConvection, kFlux, kTemperature };

FaceKind FaceKindOf(const std::string& word);
// The left ('L') or the right face as read.
FaceKind FaceKindOf(char side);
// The face's name in the results ("convection", "flux", "temperature";
// "none").
const char* FaceKindName(FaceKind kind);
// The unit of a face table's value column: h, q or T ("" for none).
const char* FaceValueUnit(FaceKind kind);

// The jet. Once the left block has called in LEFTIMP.DAT, a jet coefficient
// is formed after every step (whatever the faces); the one of step 1 is
// formed before the march only when the left face is a CONVECTION face; and
// a step's left row takes it where that face's boundary value is exactly
// 1.0.
bool JetCalledIn();
bool JetFormedBeforeMarch();
bool JetDrives(double left_value);

// The burn mode: Omega of every node and the burn depth, unless an output
// node is named with BURNDEPTH 0 (then Omega of that node alone).
// `output_node` defaults to OUTNODE as read.
bool BurnsEveryNode();
bool BurnsEveryNode(int output_node);

// The perfusion gain of node i in the step being solved: dt x rate x rho_b
// x c_b / (rho_i c_i), dt the implicit solve's step; 0 without --perfusion.
// A node's row gains it on the diagonal and gain x T_a on the right.
double PerfusionGain(int i);

// Back to the state before GetData.
void ResetModel();

// From now on, ResetModel clears only the pages of the tables that a run
// wrote, as the system's map of the process's pages tells them (a page the
// process never wrote is still the program image's blank page). For a
// long-lived process whose runs touch a few pages of the tables each. False
// (and every reset clears every table) where the system keeps no such map.
bool ResetOnlyWrittenTables();
