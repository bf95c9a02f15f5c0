// Records what the installer does to files through a platform layer, for
// `plf plan`: over a MemoryPlatform that has the real file system behind it,
// the record is a forecast, made while the disk is only ever read; over the
// real platform, it is what a real run did. The two can be compared
// operation by operation. Flushes change nothing one could see and are not
// recorded. Message boxes are recorded, never shown.
//
// Paths that are not absolute are taken relative to the given current
// folder, as the installer takes them relative to its process's.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "runtime/platform.h"

namespace plf::tools {

struct FileOperation {
  enum class Kind {
    Query,         // FindFirst (value: 1 found) or GetAttributes (value: the attributes)
    OpenForWrite,  // value: the disposition (0 open existing, 1 create always, 2 create new)
    Written,       // a handle opened for writing closed; value: bytes written through it
    Stamp,         // last-write time set; value: the universal file time
    Move,          // path -> path2
    Delete,
    CreateFolder,
    Message,       // path: the text, path2: the caption
  };
  Kind kind;
  std::string path;  // as the caller gave it
  std::string path2;
  bool succeeded = true;
  std::int64_t value = 0;

  bool operator==(const FileOperation& o) const;
  bool operator!=(const FileOperation& o) const { return !(*this == o); }
};

// One line of text for an operation, e.g. "move a.txt -> a_OLD.txt: ok".
std::string Describe(const FileOperation& op);

class PlanPlatform : public PlatformWrapper {
 public:
  // `currentFolder` empty: relative paths stay as they are (the process's
  // own current folder).
  explicit PlanPlatform(Platform& inner, std::string currentFolder = std::string());

  const std::vector<FileOperation>& Operations() const { return operations_; }
  // The path as the inner platform is asked about it.
  std::string Rooted(const std::string& path) const;
  // What stands at a path (no wildcards), without recording.
  bool Peek(const std::string& path, FoundItem* item);

  FileHandle OpenFile(const std::string& path, Access access, Share share, Disposition disposition) override;
  std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) override;
  bool FlushFileSystems(const std::vector<std::string>& folders) override;
  bool FlushNamedFile(const std::string& path) override;
  void StartFlushFileSystem(const std::string& folder) override;
  bool CloseFile(FileHandle h) override;
  bool SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) override;
  bool FindFirst(const std::string& pattern, FoundItem* first) override;
  std::uint32_t GetAttributes(const std::string& path) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  std::string FullPath(const std::string& name) override;
  int MessageBox(std::uintptr_t owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override;

 private:
  struct Writing {
    std::string path;  // as the caller gave it
    std::int64_t written = 0;
  };
  bool Record(FileOperation::Kind kind, const std::string& path, const std::string& path2, bool ok,
              std::int64_t value = 0);

  std::string folder_;
  char separator_;
  std::map<FileHandle, Writing> writing_;
  std::vector<FileOperation> operations_;
};

}  // namespace plf::tools
