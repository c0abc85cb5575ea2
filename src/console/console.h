// The console room, the lowest: every byte the program shows or reads goes
// through here, so that a test can run any stage in process, feed its waits
// and read what it printed. Standard output carries messages and listings,
// standard error the fatal numerical errors, standard input only the waits.
// It uses nothing but the C and C++ libraries.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace console {

void Print(std::string_view text);  // to standard output
void Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Blank(int count);              // `count` times "\r\n", to scroll a phase away
void ErrorPrint(std::string_view text);  // to standard error

// Reads and discards one character (Enter at an interactive console).
// At the end of the input it returns at once, so an unattended run never hangs.
void Wait();

// Reads one line of standard input (without its newline) into `line`, for
// a program that takes its requests there rather than waits (while
// captured, from the captured input). kTooLong when
// the line held more than `limit` bytes (the rest of it is read and
// dropped); kEnd at the end of the input with nothing read.
enum class LineRead { kLine, kTooLong, kEnd };
LineRead ReadLine(std::string& line, std::size_t limit);

// Hands what was printed so far to the screen, file or pipe. Called before
// every phase that takes time, so that its announcement is seen while it runs.
void Flush();

// Hands on what was printed and tells whether everything written to
// standard output so far reached it whole: a full disk or /dev/full shows
// only when buffered text is handed on. When not, errno holds the reason of
// the first failure.
bool FlushOk();

// A stage that cannot go on, after it has printed (and waited on) its
// message: thrown by Stop, it unwinds to the driver, which alone ends the
// process, with `status` (the results bundle written first). A check
// catches it as the stop of the run it stands for, a test as what the
// stage did.
struct Stopped {
  int status;
};
[[noreturn]] void Stop(int status);

// While kept, the text printed (to either stream) since the last Mark, so
// that the message a run stopped with can be recorded. Only the last 64 KiB
// are kept.
void KeepSinceMark(bool on);
void Mark();
const std::string& SinceMark();

// While silent, nothing reaches standard output or standard error (the text
// is still kept since the mark when keeping is on).
void SetSilent(bool on);

// For its lifetime everything printed goes into `said` and nowhere else:
// for a file read again only to describe it, whose failure messages belong
// to no one.
class Quiet {
 public:
  Quiet();
  ~Quiet();
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;
  std::string said;

 private:
  std::string* outer_;
};

// Suspends a run's waits: each returns at once without reading (a check of
// the input never reads standard input).
void SetWaitsReturn(bool on);

// Route output into strings and take waits from `input` (a test's seam,
// and each run a resident program serves). `Restore` returns to the real
// streams.
void Capture(std::string* out, std::string* err, std::string_view input);
void Restore();
// Test seam: while capturing, the length of the captured standard output at
// every flush (explicit, before a wait, at the end of the process).
const std::vector<std::size_t>& FlushPoints();

}  // namespace console
