// The input room: the parameter file DATA.DAT with its distribution blocks
// and data files, the jet impingement file LEFTIMP.DAT, the gas property
// table GASPROP.DAT, the laying of every distribution onto the nodes and
// time records, and the lenient number reading they share. It fills the
// model state and its record of what was read; it may use the console and
// the model state, nothing above them.
#pragma once

#include <array>
#include <string_view>

#include "model/model.h"

// Reads DATA.DAT and every file it calls in into the model state. Returns 1
// when all of it was read and handed on, 0 after a failure it has reported.
// A few failures end the process themselves (after a wait), with status 1.
int GetData();

// Rewrites the table chosen by the first letter of `name` (I C H D L O R A;
// "P" the perfusion rates) in place as one value per node or per time
// record, from its first `n` pairs. Data that do not reach the model's
// depth or time end the run.
void Interp(std::string_view name, int n);

// The value at x on the straight line through (x1, y1) and (x2, y2). In the
// header so that the burn integral's history reads, millions of them, can
// have it in line.
inline double LinearInterp(double x1, double x, double x2, double y1, double y2) {
  return y1 - (x1 - x) * (y1 - y2) / (x1 - x2);
}

// --- Numbers as the input files give them ---------------------------------

// The longest leading decimal number of `word`: optional sign, digits with
// an optional decimal point (at least one digit), optional exponent with at
// least one digit. Anything else, "inf", "nan" and "0x10" included, gives 0.
double ParseReal(std::string_view word);

// The length of that leading number, 0 when there is none. A word is
// wholly a number when this is its whole length.
std::size_t NumberLength(std::string_view word);

// An optional sign and the leading digits, saturating at the int limits;
// no digits gives 0.
int ParseInt(std::string_view word);

// A pair list goes on while its words begin with a digit or a full stop.
bool StartsNumber(std::string_view word);

// --- The twenty run-parameter entries --------------------------------------

enum class EntryKind { kReal, kInteger, kText };

// All that is said of one entry of DATA.DAT, in one place: its number (its
// place in the file), name, unit and kind, the member of the model it
// fills (the one of its kind), and the free words around its value word:
// labels before it, unit words after it. FREQEXP (12) is an integer read
// from the word after its "10^".
struct EntryTable {
  int number;
  const char* name;
  const char* unit;
  EntryKind kind;
  double Model::*real;
  int Model::*integer;
  std::string Model::*text;
  int before;
  int after;
};

inline constexpr int kEntryCount = 20;

// Entry `number`, 1..20.
const EntryTable& EntryOf(int number);
// "real", "integer", "text".
const char* EntryKindName(EntryKind kind);

// --- The eight distribution blocks ----------------------------------------

// All that is said of one distribution block, in one place: the letter that
// selects it, the table its pairs are read into and laid on the grid, its
// separate data file and the wording of its failures, its grid (a value per
// node, or per time record) and what its values are in the grid's messages,
// and its name and unit in the facts of what was read ("" for a face table,
// whose unit follows the face's kind).
struct BlockTable {
  char letter;                  // I C H D L O R A
  PairTable Model::*table;
  const char* file;
  const char* missing_format;   // when the file cannot be opened
  const char* missing_text;
  const char* rows_format;      // rows of data after an external file call
  const char* compare_format;   // pairs read differ from the count
  bool depth;                   // depth grid (per node), else time grid (per record)
  const char* subject;          // "Node conductivities", ...
  const char* name;             // "conductivity", ...
  const char* unit;             // of the values
};

inline constexpr int kBlockCount = 8;
// In the order DATA.DAT names them.
extern const BlockTable kBlockTables[kBlockCount];

// The block a letter selects; nullptr for none.
const BlockTable* BlockOf(char letter);

// --- Blood perfusion ------------------------------------------------------

// PERFUSE.DAT, read with --perfusion after DATA.DAT: the arterial blood
// temperature, the blood's density and heat capacity, and the perfusion
// rate (1/s) through the depth, laid onto the nodes as a depth table
// (Interp("P", n), with this table's wording). Returns false after a
// failure it has reported.
inline constexpr const char* kPerfusionFile = "PERFUSE.DAT";
extern const BlockTable kPerfusionBlock;
bool ReadPerfusion();

// --- The gas of the jet ------------------------------------------------------

inline constexpr int kGasRows = 18;

// One row of GASPROP.DAT.
struct GasRow {
  double T;   // K
  double nu;  // m^2/s, kinematic viscosity
  double k;   // W/(m K), conductivity
  double Pr;  // Prandtl number
};
using GasTable = std::array<GasRow, kGasRows + 1>;  // rows 1..18

// Reads GASPROP.DAT; false after a failure it has reported (as the jet
// coefficient's, "JetConvection() Error: %s").
bool ReadGasTable(GasTable& gas);

// The property `field` of the gas at temperature x (K), as the jet
// coefficient reads it: held at the first and last rows beyond the table,
// linear between two rows; NaN for an x that is not a number. `rows`, when
// given, receives the two rows (1-based) the value came from: the same row
// twice beyond the table, 0 and 0 for NaN.
double GasProperty(const GasTable& gas, double GasRow::*field, double x, int* rows = nullptr);

// The gas velocity of LEFTIMP.DAT at time t (s), m/s; false when no pair
// interval covers t (nothing is printed).
bool GasVelocityAt(double t, double& velocity);

// What the jet's Reynolds number reads at time t (s) and gas temperature
// (K): the one LEFTIMP.DAT gives or, where it gives 0, velocity x
// NOZZLEDIAM / nu, nu read from `gas` at the gas temperature (with the rows
// it came from). The jet coefficient and the facts both form it here.
struct JetFlow {
  double velocity = 0;   // m/s (a Reynolds number given: 0)
  double nu = 0;         // m^2/s (a Reynolds number given: 0)
  int rows[2] = {0, 0};  // the GASPROP.DAT rows (1-based) nu came from
  double reynolds = 0;
};
// False, with nothing printed, where the Reynolds number is formed from a
// velocity and no velocity pair covers t.
bool JetFlowAt(const GasTable& gas, double t, double gas_temperature, JetFlow& flow);
