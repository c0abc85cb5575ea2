// skinburn: heating of skin by the hot gas of an inflating airbag, and the
// burn that results. One invocation is one trial on one data directory.
#include <cstdio>

#include "driver/driver.h"
#include "model/console.h"

int main(int argc, char** argv) {
  static char buffer[1 << 16];  // listings are large; waits flush it
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  const int status = Run(argc, argv);
  std::fflush(stdout);
  return status;
}
