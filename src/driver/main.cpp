// skinburn: heating of skin by the hot gas of an inflating airbag, and the
// burn that results. One invocation is one trial on one data directory.
#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "console/console.h"
#include "driver/driver.h"

int main(int argc, char** argv) {
  // At a terminal every line is shown as it is written. Into a file or a
  // pipe the listings go through a large buffer, handed on before every
  // phase that takes time, every wait and every stop.
  // Past a file size limit (ulimit -f) a write fails with EFBIG, as on a
  // full disk, and the run says so, instead of dying with a cut file.
  ::signal(SIGXFSZ, SIG_IGN);
  static char buffer[1 << 16];
  if (isatty(fileno(stdout))) {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  } else {
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  }
  return RunGuarded(Run, argc, argv);
}
