// A file stream that writes a file which may already exist without touching
// the existing one until the new data is complete, and the chunked stream
// copy that fills it.
//
// When the target exists, the data goes to a temporary name beside it (a "~"
// after the extension's dot, or appended). Commit() declares the data
// complete; Finish() then puts it in place (flush, delete the target, rename)
// or, uncommitted, deletes what was written. Finish() is the one step that may
// raise. The destructor never raises: it closes the handle and, when neither
// committed nor finished, deletes what was written. After Finish() has run
// (also when it raised) the destructor only closes.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/stream.h"

namespace plf {

inline constexpr const char kSReplaceReadOnly[] = "File %s is read-only!";
inline constexpr const char kSReplaceRename[] = "Cannot rename %s to %s!";

class TReplaceStream : public TFileStream {
  PLF_DECLARE_CLASS(TReplaceStream, TFileStream)

 public:
  // Creates the file to write, held open read/write without sharing. `avoid`
  // names a file the temporary name must not take (the caller's backup of
  // the target); empty for none. Raises EFCreateError naming the file that
  // could not be created.
  // `present` is the caller's answer, a moment old, to whether a file (not
  // a folder) stands at the name, which spares asking again.
  enum class Presence { Unknown, Absent, Present };
  explicit TReplaceStream(const std::string& fileName, const std::string& avoid = std::string(),
                          Presence present = Presence::Unknown);
  ~TReplaceStream() override;

  void Commit() { committed_ = true; }
  // Lets Finish() leave the flush of a file written straight to its target
  // to the caller, who may flush many files at once; FlushPending() then
  // says so. A file that replaces a target is still flushed before the
  // target is deleted.
  void DeferFlush() { deferFlush_ = true; }
  bool FlushPending() const { return flushPending_; }
  // Finish() leaves a file written straight to its target open and
  // unflushed; TakeHandle() then hands it to the caller, who must flush and
  // close it (on another thread, say). A file that replaces a target is
  // still flushed and closed before the target is deleted.
  void HandOverFlush() { handOver_ = true; }
  // The open handle Finish() left, once; kInvalidHandle when it left none.
  FileHandle TakeHandle() {
    const FileHandle h = handedOver_;
    handedOver_ = kInvalidHandle;
    return h;
  }
  // Finish() gives the file this last-write time (UTC) through its own
  // handle, before the flush: the rename over the target keeps it, and no
  // second open is needed to date the file.
  void SetLastWriteTimeOnFinish(std::int64_t utc) {
    stampSet_ = true;
    stampUtc_ = utc;
  }
  // Runs once; later calls do nothing. Committed: flushes and closes the
  // file (EWriteError "Stream write error" and the file deleted when either
  // fails), then, when the target existed, deletes it and renames the
  // temporary file to it ("File %s is read-only!", "Cannot rename %s to %s!";
  // the new data then stays under the temporary name). Uncommitted: closes
  // and deletes what was written.
  void Finish();

  const std::string& TargetName() const { return targetName_; }
  const std::string& TempName() const { return tempName_; }
  bool Committed() const { return committed_; }
  bool TargetExisted() const { return targetExisted_; }

 private:
  struct Opened {
    std::string tempName;
    FileHandle handle = kInvalidHandle;
    bool targetExisted = false;
  };
  static Opened OpenTarget(const std::string& fileName, const std::string& avoid, Presence present);
  TReplaceStream(const Opened& opened, const std::string& fileName);

  std::string targetName_;
  std::string tempName_;
  bool committed_ = false;
  bool targetExisted_ = false;
  bool finished_ = false;
  bool deferFlush_ = false;
  bool handOver_ = false;
  FileHandle handedOver_ = kInvalidHandle;
  bool stampSet_ = false;
  std::int64_t stampUtc_ = 0;
  bool flushPending_ = false;
};

// The temporary name for an existing target: "~" inserted after the dot of
// the extension (the last of ".", and the platform's path delimiters, when it
// is a dot), or appended when there is no extension. When that names the same
// file as `avoid` (or, for an `avoid` with wildcards, an existing file in its
// folder that it matches), one more "~" is inserted, as often as needed.
std::string MakeTempName(const std::string& target, const std::string& avoid = std::string());

// True when the two names denote the same file by the platform's rules,
// however they are spelt: both are made full paths (".", ".." and doubled
// separators resolved against the current folder); on Windows letter case,
// "/" for "\\" and trailing dots and blanks of each part do not count.
bool SameFileName(const std::string& a, const std::string& b);
// One spelling per file, for looking names up: the full path as
// SameFileName compares it, letter case folded where the platform ignores it.
std::string FileKey(const std::string& name);

// Copies up to count bytes from the source's position (after a rewind to 0
// when asked) to the destination in pieces of at most 32768 bytes, stopping
// early when a read gives nothing. Returns the bytes read and handed on; what
// the destination accepted is not looked at. Either stream may be null.
std::int32_t CopyStream(TStream* source, TStream* destination, bool rewind, std::int32_t count);

}  // namespace plf
