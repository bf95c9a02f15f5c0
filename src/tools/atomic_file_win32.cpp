#include <windows.h>

#include <signal.h>

#include "tools/atomic_file.h"
#include "tools/atomic_file_os.h"

namespace plf::tools {

namespace {

void (*gCleanup)() = nullptr;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};

// The C runtime calls this on the thread that the console's Ctrl-C or
// Ctrl-Break created, while the program's own threads go on.
extern "C" void OnTerminatingSignal(int sig) {
  if (gCleanup != nullptr) gCleanup();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

std::string LastSystemError() {
  const DWORD code = GetLastError();
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  if (n == 0)
    n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                       sizeof buffer, nullptr);
  while (n > 0 && (buffer[n - 1] == '\r' || buffer[n - 1] == '\n' || buffer[n - 1] == ' ' || buffer[n - 1] == '.'))
    --n;
  if (n == 0) return "error " + std::to_string(code);
  return std::string(buffer, n);
}

namespace atomic_os {

bool RenameOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void FlushFolderOf(const std::string&) {}  // MOVEFILE_WRITE_THROUGH did it

unsigned long ProcessId() { return GetCurrentProcessId(); }

void InstallSignalCleanup(void (*cleanup)()) {
  gCleanup = cleanup;
  for (int sig : kSignals) {
    const auto old = signal(sig, OnTerminatingSignal);
    if (old == SIG_IGN) signal(sig, SIG_IGN);
  }
}

// An open file cannot be deleted here: its handle is closed first, which
// the writing thread then sees as a failed write.
void RemoveFromHandler(const char* path, FileHandle handle) {
  if (handle != kInvalidHandle) CloseHandle(reinterpret_cast<HANDLE>(handle));
  DeleteFileA(path);
}

void PauseInHandler() { Sleep(0); }

// The console's handler runs on a thread of its own, which waits for a
// file being created to be listed: nothing to hold here.
void HoldSignals() {}
void ReleaseSignals() {}

}  // namespace atomic_os

}  // namespace plf::tools
