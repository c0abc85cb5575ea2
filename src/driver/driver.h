// Run control: the run driver with its console dialogue, the full
// temperature matrix, and the output report.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

// One model run from the command line to the burn depth; the exit status.
int Run(int argc, char** argv);

// `run` with an allocation failure anywhere in it (a std::bad_alloc from the
// runtime) reported as a "Memory Error: %s" and the status 1, instead of an
// abort that would lose the console text not yet shown.
int RunGuarded(int (*run)(int argc, char** argv), int argc, char** argv);

// Pre-run report: trial header and optional listings, to OUTPUT.TXT or the
// console. 0 when OUTPUT.TXT fails (reported).
int PreRunReport();

// The report of step j with the step's solution u[1..NODES]. 0 when
// OUTPUT.TXT fails (reported); the run must stop.
int StepReport(int j, const double* u);

// Appends `text` to OUTPUT.TXT, opening and closing it around the write so
// that a stop never loses what was written. On failure prints the
// "Main() Error: %s" report and returns false.
bool AppendOutput(std::string_view text);

// --- What was read, and what was computed ---------------------------------

// The facts of what the input stage read (entries, blocks, jet, grid,
// warnings) from the record kept while reading, as one JSON object.
nlohmann::json InputDocument();

// `bytes` as a JSON text field `key`: as it stands when it is valid UTF-8;
// otherwise with each invalid byte shown as U+FFFD and the exact bytes in
// hexadecimal beside it, in `key` + "_hex".
void SetText(nlohmann::json& object, const std::string& key, std::string_view bytes);
bool ValidUtf8(std::string_view text);

// `text` without the runs of line ends that scroll the console before and
// after a message.
std::string Trimmed(const std::string& text);

// The check's report for a person, from its JSON document.
void PrintCheckReport(const nlohmann::json& document);

// The results bundle: after BeginResults the run keeps what it needs, and
// WriteResults (called at every end of the run) writes PREFIX.json and
// PREFIX.npy as one pair. BeginResults leaves the bundle inactive when the
// target cannot be written; otherwise it removes an earlier run's pair and
// the partial files of dead runs under the prefix, and from then on an
// interrupt removes this run's partial files before the run dies.
void BeginResults(const std::string& prefix);
// History row r (the start for r = 0, else the end of step r) of nodes
// u[1..NODES], as the march makes it: on its way to PREFIX.npy at once.
void ResultsRow(int r, const double* u);
// The status to end with: `status`, or 1 when the bundle could not be
// written whole (reported on standard error; nothing is left under PREFIX).
int WriteResults(int status);
bool ResultsActive();
