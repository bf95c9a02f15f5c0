#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/atomic_file.h"
#include "tools/atomic_file_os.h"

namespace plf::tools {

namespace {

void (*gCleanup)() = nullptr;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void OnTerminatingSignal(int sig) {
  const int saved = errno;
  if (gCleanup != nullptr) gCleanup();
  // The default action, raised again, ends the process with the status a
  // shell expects of this signal once the handler returns.
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(sig, &action, nullptr);
  // The signal stays blocked while its handler runs, so raise() returns and
  // the process ends as the handler does.
  (void)raise(sig);
  errno = saved;
}

}  // namespace

std::string LastSystemError() {
  const int code = errno;
  char buffer[256];
  buffer[0] = '\0';
  // The GNU strerror_r returns its text; the POSIX one fills the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  const char* text = strerror_r(code, buffer, sizeof buffer);
#else
  const char* text = strerror_r(code, buffer, sizeof buffer) == 0 ? buffer : "";
#endif
  if (text == nullptr || *text == '\0') return "error " + std::to_string(code);
  return text;
}

namespace atomic_os {

bool RenameOver(const std::string& from, const std::string& to) { return rename(from.c_str(), to.c_str()) == 0; }

void FlushFolderOf(const std::string& path) {
  const std::string::size_type cut = path.find_last_of('/');
  const std::string folder = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

void InstallSignalCleanup(void (*cleanup)()) {
  gCleanup = cleanup;
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  // One handler at a time; the others wait until the default action ends
  // the process.
  for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
  for (int sig : kSignals) {
    struct sigaction old;
    if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

void RemoveFromHandler(const char* path, FileHandle) { unlink(path); }

void PauseInHandler() {
  const struct timespec pause = {0, 100000};
  nanosleep(&pause, nullptr);
}

namespace {
thread_local sigset_t gBeforeHold;
}  // namespace

void HoldSignals() {
  sigset_t held;
  sigemptyset(&held);
  for (int sig : kSignals) sigaddset(&held, sig);
  pthread_sigmask(SIG_BLOCK, &held, &gBeforeHold);
}

void ReleaseSignals() { pthread_sigmask(SIG_SETMASK, &gBeforeHold, nullptr); }

}  // namespace atomic_os

}  // namespace plf::tools
