// A file that appears under its name complete or not at all. AtomicFile
// writes beside its target under a temporary name and puts it in place with
// one replacing rename when committed; until then the target, if there is
// one, stays exactly as it was. Without Commit, or when Commit fails, the
// temporary file is removed. SIGINT and SIGTERM remove every temporary file
// still listed (TemporaryFiles) before the process ends by that signal; only
// a kill that cannot be caught may leave one, never a partial target.
//
// Failures raise Exception "TARGET: what failed: the system's reason".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "runtime/platform.h"

namespace plf {
class TStream;
}

namespace plf::tools {

class AtomicFile {
 public:
  // Creates a new, empty temporary file in the target's folder, named
  // "<target>.~<process id>[-<n>].tmp", never over an existing file.
  explicit AtomicFile(const std::string& target);
  // Discards the file unless it was committed; never raises.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // The open temporary file. Its Read, Write and Seek keep the stream rule
  // (short counts, no exceptions); the reason of a failed write is kept.
  TStream& Stream();
  FileHandle Handle() const;  // of the open temporary file
  const std::string& Target() const { return target_; }
  const std::string& TemporaryPath() const { return temporary_; }
  // The system's reason for the first write that failed; empty when none did.
  const std::string& WriteFailure() const;

  // Brings the data to stable storage and closes the file; it may then be
  // read under TemporaryPath() before Commit puts it in place. On failure
  // the temporary file is removed and Exception is raised.
  void Close();
  // Closes the file if still open and renames it over the target. On
  // failure the temporary file is removed, the target is left as it was,
  // and Exception is raised.
  void Commit();
  // Closes and removes the temporary file.
  void Discard() noexcept;

 private:
  class FileStream;

  std::string target_;
  std::string temporary_;
  std::unique_ptr<FileStream> stream_;
  int slot_ = -1;
  bool open_ = false;
};

// The process-wide list of temporary files that SIGINT and SIGTERM remove.
// Paths are copied into fixed, preallocated slots, so that the signal
// handler needs neither memory nor locks; the handlers are installed on the
// first Add (a signal the process ignores stays ignored). Thread-safe.
namespace TemporaryFiles {
// The slot that now lists `path`, or -1 when there is none free or the path
// does not fit (the file is then simply not removed on a signal). `handle`
// is the file's open handle where a file cannot be removed while open
// (Windows); the handler closes it first.
int Add(const std::string& path, FileHandle handle = kInvalidHandle);
// Held from before a temporary file is created until it is added, so that
// a signal in between waits for the file to be listed.
class Creation {
 public:
  Creation();
  ~Creation();
  Creation(const Creation&) = delete;
  Creation& operator=(const Creation&) = delete;
};
// The file's handle is being closed by its owner: the handler must not.
void ForgetHandle(int slot);
// Takes the file off the list (after it was renamed or removed).
void Remove(int slot);
}  // namespace TemporaryFiles

// The system's text for the error of the last failed call (errno on POSIX,
// GetLastError on Windows), without a final period.
std::string LastSystemError();

}  // namespace plf::tools
