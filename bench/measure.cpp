// Runs one command and reports its wall time, CPU time and peak resident
// memory:
//   skinburn_measure REPORT COMMAND [ARGS...]
// writes "wall_seconds cpu_seconds peak_rss_kib exit_status" to the file
// REPORT, the CPU time being the command's user plus system time. Standard
// input, output and error pass through to the command unchanged.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s REPORT COMMAND [ARGS...]\n", argv[0]);
    return 2;
  }
  const double start = Now();
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "exec %s: %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("wait4");
      return 2;
    }
  }
  const double wall = Now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) {
    std::perror(argv[1]);
    return 2;
  }
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
  };
  const double cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  // ru_maxrss is in KiB on Linux.
  std::fprintf(report, "%.3f %.3f %ld %d\n", wall, cpu, usage.ru_maxrss, code);
  std::fclose(report);
  return 0;
}
