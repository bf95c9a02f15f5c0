// Runs a program and reports its wall time and peak resident memory.
//
// Usage: bench_spawn PROGRAM [ARGUMENTS...]
// Prints "SECONDS PEAK_KIB EXIT_CODE" on standard output; the program's own
// standard output goes to /dev/null, its standard error is passed through.
//
// The kernel counts a child's peak from the memory of the process that
// forked it, so a large parent (a Python runner) would show as the peak of
// every program it starts; this small one does not.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_spawn PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 1);
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return 1;
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double seconds =
      static_cast<double>(end.tv_sec - start.tv_sec) + static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
  return 0;
}
