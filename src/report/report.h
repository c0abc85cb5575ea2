// The report room: everything the run shows and keeps of itself, below the
// stages that call it.
// - The console report and OUTPUT.TXT: the trial header, the optional
//   listings, each step's temperatures in one of three layouts, the lines
//   the burn evaluation appends, a failed stage's line, and the line
//   formatter they are built with.
// - The facts of what the input stage read (entries, blocks, jet, grid,
//   warnings) as one JSON document, for `--check=json`, the results bundle
//   and the check's text report.
// - The results bundle for tools: PREFIX.json and PREFIX.npy.
// It may use the console, the model state and the input room (the record
// of what was read, the gas table, the number reading); never the thermal,
// burn, check or driver rooms.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// --- Lines --------------------------------------------------------------------

// Report lines built without the C library's printf machinery: the report
// of every node at every step is the largest output the program makes. Each
// append produces the same bytes as the printf conversion it names.
class LineBuffer {
 public:
  void Text(std::string_view text) { out_.append(text); }
  void Int(int value, int width);                        // "%<width>d"
  void Fixed(double value, int width, int precision);    // "%<width>.<precision>f"
  void Str(std::string_view text, int width);            // "%<width>s"

  const std::string& str() const { return out_; }
  void clear() { out_.clear(); }
  bool empty() const { return out_.empty(); }

 private:
  void Pad(std::size_t length, int width);
  std::string out_;
};

// --- The console report and OUTPUT.TXT -------------------------------------

// Pre-run report: trial header and optional listings, to OUTPUT.TXT or the
// console. 0 when OUTPUT.TXT fails (reported).
int PreRunReport();

// The report of step j with the step's solution u[1..NODES]. 0 when
// OUTPUT.TXT fails (reported); the run must stop.
int StepReport(int j, const double* u);

// The line of a stage that failed: `format` with `text`, then a line end;
// the status 1 to end with.
int StageError(const char* format, const char* text);

// Appends `text` to OUTPUT.TXT, opening and closing it around the write so
// that a stop never loses what was written. On failure prints the
// "Main() Error: %s" report and returns false.
bool AppendOutput(std::string_view text);

// --- What was read ------------------------------------------------------------

// The facts of what the input stage read (entries, blocks, jet, grid,
// warnings) from the record kept while reading, as one JSON object.
nlohmann::json InputDocument();

// `bytes` as a JSON text field `key`: as it stands when it is valid UTF-8;
// otherwise with each invalid byte shown as U+FFFD and the exact bytes in
// hexadecimal beside it, in `key` + "_hex".
void SetText(nlohmann::json& object, const std::string& key, std::string_view bytes);
bool ValidUtf8(std::string_view text);

// A number as the facts and the check's report show it ("%.10g").
std::string Shown(double value);

// `text` without the runs of line ends that scroll the console before and
// after a message.
std::string Trimmed(const std::string& text);

// --- The results bundle ---------------------------------------------------------

// After BeginResults the run keeps what it needs, and WriteResults (called
// at every end of the run) writes PREFIX.json and PREFIX.npy as one pair.
// BeginResults leaves the bundle inactive when the target cannot be
// written; otherwise it removes an earlier run's pair and the partial files
// of dead runs under the prefix, and from then on an interrupt removes this
// run's partial files before the run dies.
void BeginResults(const std::string& prefix);
// History row r (the start for r = 0, else the end of step r) of nodes
// u[1..NODES], as the march makes it: on its way to PREFIX.npy at once.
void ResultsRow(int r, const double* u);
// The status to end with: `status`, or 1 when the bundle could not be
// written whole (reported on standard error; nothing is left under PREFIX).
int WriteResults(int status);
bool ResultsActive();
