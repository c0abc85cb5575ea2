// Run control: the run driver with its console dialogue, the full
// temperature matrix, and the output report.
#pragma once

#include <string_view>

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
