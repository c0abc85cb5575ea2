// The report room: what the run shows of itself on the console and keeps in
// OUTPUT.TXT, below the stages that call it: the trial header, the optional
// listings, each step's temperatures in one of three layouts, the lines the
// burn evaluation appends, a failed stage's line, and the line formatter
// they are built with. It may use the console and the model state.
#pragma once

#include <string>
#include <string_view>

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
