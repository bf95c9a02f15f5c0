// A platform layer for trying out an installation on this machine. It reads
// the real file system, but in Simulate mode it performs no change: every
// change is recorded and its effect kept in an overlay (a rename makes the
// source absent and the destination present, a created file or folder is
// present, a written file has the bytes it was given, a stamped file its
// time), so that each later question gets the answer the real run would
// get. Real files are only ever opened for reading. In Record mode every
// operation is performed as well as recorded, which lets a forecast be
// compared with a real run operation by operation.
//
// Paths that are not absolute are taken relative to the given current
// folder, as the installer takes them relative to its process's.
//
// Limits of the simulation: a search pattern with wildcards sees the real
// folder plus what the simulation added, but still matches real items that
// the simulation removed; sharing conflicts with other programs and full
// disks are not foreseen. Message boxes are recorded, never shown.
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
  enum class Mode { Simulate, Record };

  // `currentFolder` empty: relative paths stay as they are (the process's
  // own current folder).
  PlanPlatform(Platform& inner, Mode mode, std::string currentFolder = std::string());
  ~PlanPlatform() override;
  PlanPlatform(const PlanPlatform&) = delete;
  PlanPlatform& operator=(const PlanPlatform&) = delete;

  const std::vector<FileOperation>& Operations() const { return operations_; }
  // The path as the inner platform is asked about it.
  std::string Rooted(const std::string& path) const;
  // What stands at a path (no wildcards) in the view, without recording.
  bool Peek(const std::string& path, FoundItem* item) const;

  FileHandle OpenFile(const std::string& path, Access access, Share share, Disposition disposition) override;
  std::int32_t ReadFile(FileHandle h, void* buffer, std::int32_t count) override;
  std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) override;
  std::int64_t SeekFile(FileHandle h, std::int64_t offset, int origin) override;
  bool SetEndOfFile(FileHandle h) override;
  bool FlushFile(FileHandle h) override;
  // Flushing changes nothing one could see, so it is not recorded; the
  // simulation has nothing to flush and reports success.
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
  enum class NodeKind { Absent, File, Folder };
  struct Node {
    NodeKind kind = NodeKind::Absent;
    std::uint32_t attributes = 0;
    std::int64_t lastWriteTime = 0;
    std::string full;    // the full path as first named
    std::string origin;  // the real item whose content this is; empty: made by the simulation
  };
  // What stands at a path in the simulated view.
  struct View {
    NodeKind kind = NodeKind::Absent;
    std::uint32_t attributes = 0;
    std::int64_t lastWriteTime = 0;
    std::string real;  // the real item behind it; empty when there is none
  };
  struct OpenHandle {
    std::string path;  // as the caller gave it
    std::string key;
    bool forWrite = false;
    bool fake = false;
    std::int64_t position = 0;
    std::int64_t size = 0;
    std::int64_t written = 0;
  };

  std::string Key(const std::string& full) const;
  std::string Full(const std::string& path) const;
  View Look(const std::string& path) const;
  bool ParentIsFolder(const std::string& full) const;
  void Put(const std::string& full, Node node);
  void Record(FileOperation::Kind kind, const std::string& path, const std::string& path2, bool ok,
              std::int64_t value = 0);
  FileHandle SimulatedOpen(const std::string& path, Access access, Disposition disposition);
  bool SimulatedFindFirst(const std::string& pattern, FoundItem* first);

  Mode mode_;
  std::string folder_;
  std::map<std::string, Node> overlay_;
  std::map<FileHandle, OpenHandle> handles_;
  FileHandle nextFake_;
  std::vector<FileOperation> operations_;
};

}  // namespace plf::tools
