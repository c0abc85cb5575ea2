// The results room: the bundle a run leaves for tools, PREFIX.json and
// PREFIX.npy, published as one pair or not at all: the history streamed to
// the .npy (with its CRC) row by row as the march hands it on, and the
// results document written at every end of the run. The driver hands the
// march its row sink (ResultsRow); the room reads the model state, the facts
// of what was read and the line formatter of the report room.
#pragma once

#include <string>

// After BeginResults the run keeps what it needs, and WriteResults (called
// at every end of the run) writes PREFIX.json and PREFIX.npy as one pair.
// BeginResults leaves the bundle inactive when the target cannot be
// written; otherwise it removes an earlier run's pair and the partial files
// of dead runs under the prefix, and from then on an interrupt removes this
// run's partial files before the run dies. A brief bundle's document
// (--results-brief) leaves out what a caller can form from the history: the
// arrays by node and by step, and every laid table but the conductivities.
void BeginResults(const std::string& prefix, bool brief = false);
// History row r (the start for r = 0, else the end of step r) of nodes
// u[1..NODES], as the march makes it: on its way to PREFIX.npy at once.
void ResultsRow(int r, const double* u);
// The status to end with: `status`, or 1 when the bundle could not be
// written whole (reported on standard error; nothing is left under PREFIX).
int WriteResults(int status);
bool ResultsActive();
