// What AtomicFile needs of the operating system beyond the platform layer,
// whose MoveFile never replaces. Only atomic_file*.cpp include this.
#pragma once

#include <string>

#include "runtime/platform.h"

namespace plf::tools::atomic_os {

// Renames `from` over `to`, replacing it in one step; false with the
// system's error set when that failed.
bool RenameOver(const std::string& from, const std::string& to);
// Brings the rename of a file in this folder to stable storage, where the
// system needs that asked separately; failures are ignored.
void FlushFolderOf(const std::string& path);
unsigned long ProcessId();

// Installs `cleanup` for SIGINT and SIGTERM (and their kin on the system),
// leaving ignored signals ignored. After `cleanup` the signal is raised
// again with its default action, so the process ends as it would have.
void InstallSignalCleanup(void (*cleanup)());
// Removes a listed file from inside a signal handler: async-signal-safe
// calls only.
void RemoveFromHandler(const char* path, FileHandle handle);
// Waits a moment (about 100 microseconds), from inside a signal handler.
void PauseInHandler();
// Holds the signals the cleanup handles off this thread until
// ReleaseSignals, which lets one that came meanwhile in. Not nested.
void HoldSignals();
void ReleaseSignals();

}  // namespace plf::tools::atomic_os
