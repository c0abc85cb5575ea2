// The console layer over standard output, standard error and standard input.
#include "console/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace console {
namespace {

std::string* captured_out = nullptr;  // non-null while a test captures
std::string* captured_err = nullptr;
std::string captured_in;
std::size_t captured_in_pos = 0;
std::vector<std::size_t> flush_points;  // while capturing
bool keeping = false;
std::string since_mark;
bool waits_return = false;
bool silent = false;
std::string* quiet_sink = nullptr;  // a Quiet's text
int out_error = 0;                  // errno of the first failed write to standard output

void Keep(std::string_view text) {
  constexpr std::size_t kKept = std::size_t{64} << 10;
  since_mark.append(text);
  if (since_mark.size() > 2 * kKept) since_mark.erase(0, since_mark.size() - kKept);
}

}  // namespace

void Print(std::string_view text) {
  if (quiet_sink) {
    quiet_sink->append(text);
    return;
  }
  if (keeping) Keep(text);
  if (silent) return;
  if (captured_out) {
    captured_out->append(text);
    return;
  }
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && out_error == 0) {
    out_error = errno != 0 ? errno : EIO;
  }
}

void Printf(const char* format, ...) {
  char local[512];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(local, sizeof local, format, args);
  va_end(args);
  if (length < 0) {
    va_end(again);
    return;
  }
  if (static_cast<std::size_t>(length) < sizeof local) {
    Print(std::string_view(local, static_cast<std::size_t>(length)));
  } else {
    std::string big(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), format, again);
    big.pop_back();
    Print(big);
  }
  va_end(again);
}

void Blank(int count) {
  for (int i = 0; i < count; ++i) Print("\r\n");
}

void ErrorPrint(std::string_view text) {
  if (quiet_sink) {
    quiet_sink->append(text);
    return;
  }
  if (keeping) Keep(text);
  if (silent) return;
  if (captured_err) {
    captured_err->append(text);
    return;
  }
  std::fflush(stdout);  // keep the order the user sees on a shared terminal
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void Flush() {
  if (captured_out) {
    flush_points.push_back(captured_out->size());
    return;
  }
  std::fflush(stdout);
}

bool FlushOk() {
  if (captured_out) return true;
  if (std::fflush(stdout) != 0 && out_error == 0) out_error = errno != 0 ? errno : EIO;
  if (out_error == 0 && std::ferror(stdout)) out_error = EIO;
  errno = out_error;
  return out_error == 0;
}

void Wait() {
  Flush();  // the prompt must be visible before we block
  if (waits_return) return;
  if (captured_out) {
    if (captured_in_pos < captured_in.size()) ++captured_in_pos;
    return;
  }
  (void)std::getchar();
}

LineRead ReadLine(std::string& line, std::size_t limit) {
  line.clear();
  bool any = false;
  bool too_long = false;
  const auto next = [] {
    if (!captured_out) return std::getchar();
    return captured_in_pos < captured_in.size() ? static_cast<unsigned char>(captured_in[captured_in_pos++]) : EOF;
  };
  for (int c; (c = next()) != EOF;) {
    any = true;
    if (c == '\n') break;
    if (line.size() < limit) {
      line.push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
  }
  if (!any) return LineRead::kEnd;
  return too_long ? LineRead::kTooLong : LineRead::kLine;
}

void Stop(int status) { throw Stopped{status}; }

void Capture(std::string* out, std::string* err, std::string_view input) {
  captured_out = out;
  captured_err = err;
  captured_in.assign(input);
  captured_in_pos = 0;
  flush_points.clear();
}

void Restore() {
  captured_out = nullptr;
  captured_err = nullptr;
  captured_in.clear();
  captured_in_pos = 0;
  keeping = false;
  since_mark.clear();
  waits_return = false;
  silent = false;
}

const std::vector<std::size_t>& FlushPoints() { return flush_points; }

void KeepSinceMark(bool on) {
  keeping = on;
  since_mark.clear();
}

void Mark() { since_mark.clear(); }

const std::string& SinceMark() { return since_mark; }

void SetWaitsReturn(bool on) { waits_return = on; }

void SetSilent(bool on) { silent = on; }

Quiet::Quiet() : outer_(quiet_sink) { quiet_sink = &said; }

Quiet::~Quiet() { quiet_sink = outer_; }

}  // namespace console
