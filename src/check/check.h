// The check room: `--check` and `--check=json`. It runs the input stage as
// a run would (with the first jet coefficient, the Fourier numbers and the
// interior rows), silently, without waits and without OUTPUT.TXT, then
// reports what was read for a person or as one JSON document. It may use
// the console, the model state and the input, report and thermal rooms.
#pragma once

// Reads the data directory M.DataDir as a run would, up to the march, and
// reports it (as JSON when `as_json`). The status: 0 when the run would
// start, 1 when not or when the report could not be written whole.
int CheckInput(bool as_json);
