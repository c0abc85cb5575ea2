// The driver room: the banner, the command-line options, the run sequence
// of one trial (input, the first jet coefficient, the Fourier numbers and
// interior rows, the pre-run report, the march, the burn evaluation, the
// pauses) and the exit status (0 for a run that reaches its end, 1 for
// every stop after an error, 2 for a usage error). The top room: it may
// use every other.
#pragma once

// One model run from the command line to the burn depth; the exit status.
int Run(int argc, char** argv);

// `run` with an allocation failure anywhere in it (a std::bad_alloc from the
// runtime) reported as a "Memory Error: %s" and the status 1, instead of an
// abort that would lose the console text not yet shown.
int RunGuarded(int (*run)(int argc, char** argv), int argc, char** argv);
