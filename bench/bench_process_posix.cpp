#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "bench_process.h"

namespace plf::bench {

long PeakResidentKiB() {
  struct rusage usage;
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_maxrss;  // KiB on Linux
}

long CurrentResidentKiB() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return -1;
  long size = 0, resident = -1;
  const bool read = std::fscanf(f, "%ld %ld", &size, &resident) == 2;
  std::fclose(f);
  if (!read || resident < 0) return -1;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

bool RunInChildProcess(bool (*work)(void*), void* arg) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const bool ok = work(arg);
    std::fflush(nullptr);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace plf::bench
