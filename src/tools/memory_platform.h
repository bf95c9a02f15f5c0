// A file system held in memory behind the platform layer: nothing reaches a
// disk. Alone, it is a whole file system, on which a fuzzer runs installs at
// any speed and with any paths. Over a backing platform (the real one) it
// starts as the backing's file system, read only when asked: an item the
// memory does not know yet is looked up there and entered as it is, its
// content left there until it changes. That is how `plf plan` tries out an
// installation: every answer is the one a real run would get, and the disk
// is only ever read.
//
// Paths follow one of two notations (over a backing, the backing's). POSIX:
// "/" separates, names are bytes. Windows: "\" (and "/") separate, a drive
// "C:" or a share "\\server\share" starts an absolute path, letter case does
// not count, trailing dots and blanks of a name are dropped. Windows rules
// hold in both: a rename never replaces, a read-only or open file is not
// deleted, sharing modes are enforced, a folder is not opened. The data held
// is capped (alone); a write beyond it is short, as on a full disk. One
// chosen operation can be made to fail.
//
// Limits over a backing: a wildcard search looks at the memory's items, then
// at the backing folder's, where it also finds those the memory removed;
// other programs and full disks are not foreseen. Written bytes are counted
// but not kept (they read back as zeros) unless the memory is told to keep them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runtime/platform.h"

namespace plf::tools {

class MemoryPlatform : public PlatformWrapper {
 public:
  enum class Notation { Posix, Windows };

  explicit MemoryPlatform(Notation notation, std::size_t capacity = 32u << 20);
  // Over `backing`; relative paths start from `currentFolder` (empty: the
  // backing's current folder).
  MemoryPlatform(Platform& backing, const std::string& currentFolder, bool keepsData = false);

  Notation GetNotation() const { return notation_; }
  // The folder relative paths start from; alone "/mem/cwd" or "C:\mem\cwd".
  const std::string& CurrentFolder() const { return folder_; }
  // `relative` ("a/b") under the current folder, in the notation's form.
  std::string At(const std::string& relative) const;

  // Setup and inspection; false or nothing when the path is no valid name
  // or its folder is missing.
  bool AddFolder(const std::string& path);  // with every missing parent
  bool AddFile(const std::string& path, const std::string& data, std::uint32_t attributes = kAttrNormal);
  std::optional<std::string> FileData(const std::string& path);
  std::vector<std::string> FilePaths() const;  // every file the memory holds, full path
  std::size_t OpenHandleCount() const { return handles_.size(); }
  std::size_t BytesHeld() const { return bytesHeld_; }
  // Folders created through CreateDirectory, in order.
  const std::vector<std::string>& CreatedFolders() const { return createdFolders_; }

  struct Box {
    std::string text;
    std::string caption;
  };
  std::vector<Box> boxes;
  long operations = 0;  // file-system operations made
  // 1-based number of the operation that fails the way the operating
  // system fails it (a write takes half); 0 fails none.
  long failAt = 0;

  FileHandle OpenFile(const std::string& path, Access access, Share share, Disposition disposition) override;
  std::int32_t ReadFile(FileHandle h, void* buffer, std::int32_t count) override;
  std::int32_t WriteFile(FileHandle h, const void* buffer, std::int32_t count) override;
  std::int64_t SeekFile(FileHandle h, std::int64_t offset, int origin) override;
  bool SetEndOfFile(FileHandle h) override;
  bool FlushFile(FileHandle h) override;
  // Alone, like Windows: no whole file system is flushed, files go one by
  // one. Over a backing the backing's answer holds, so that the run takes
  // the way the real one takes; there is nothing to flush.
  bool FlushFileSystems(const std::vector<std::string>&) override { return backing_ != nullptr; }
  bool CanFlushFileSystem(const std::string& folder) override;
  bool FlushNamedFile(const std::string& path) override;
  void StartFlushFileSystem(const std::string&) override {}
  bool CloseFile(FileHandle h) override;
  bool SetLastWriteTime(FileHandle h, std::int64_t utcFileTime) override;
  bool FindFirst(const std::string& pattern, FoundItem* first) override;
  std::uint32_t GetAttributes(const std::string& path) override;
  bool MoveFile(const std::string& from, const std::string& to) override;
  bool DeleteFile(const std::string& path) override;
  bool CreateDirectory(const std::string& path) override;
  std::string FullPath(const std::string& name) override;
  std::string ModulePath() override;  // alone: "<current folder>/setup/plfsetup"
  std::string ScriptPath(const std::string& path) override;
  const char* PathDelimiters() override;
  char PathSeparator() override;
  void InitMessageQueue() override {}
  std::uintptr_t GetActiveWindow() override { return 0; }
  void SetActiveWindow(std::uintptr_t) override {}
  int MessageBox(std::uintptr_t owner, const std::string& text, const std::string& caption,
                 std::uint32_t style) override;

 private:
  struct Node {
    bool folder = false;
    bool gone = false;  // over a backing: nothing here, whatever the backing holds
    std::string name;   // the last part as it was given
    std::string data;
    std::int64_t size = 0;  // data.size() where data is kept
    std::uint32_t attributes = kAttrNormal;
    std::int64_t lastWriteTime = 0;
    // The backing's item: a folder's unlisted items, a file's content.
    std::string origin;
  };
  struct Open {
    std::string key;
    std::int64_t position = 0;
    Access access = Access::Read;
    Share share = Share::None;
    FileHandle backing = kInvalidHandle;  // reads the origin of an unchanged file
  };
  // A path resolved against the current folder: its key (the levels'
  // keys joined with "/"), its parent's key, and the last part as given.
  struct Resolved {
    bool valid = false;
    std::string key;
    std::string parentKey;  // empty for a root
    std::string name;
    std::string display;  // the full path, names as given
    bool trailingSeparator = false;
    bool dotted = false;  // POSIX: ends in "." or "..", which name no new item
  };

  Resolved Resolve(const std::string& given);
  std::string Fold(const std::string& part);
  bool ValidName(const std::string& name) const;
  bool IsSeparator(char c) const;
  std::size_t RootLength(const std::string& path) const;
  Node* Find(const std::string& key, const std::string& name = std::string());
  Node Load(const std::string& key);
  Node* Lookup(const std::string& path, Resolved* r);
  Node* Make(const Resolved& r, bool folder);
  bool TakeContent(Node* n);
  void Remove(const std::string& key);
  bool IsOpen(const std::string& key) const;
  bool SharingAllows(const std::string& key, Access access, Share share) const;
  std::string DisplayPath(const std::string& key) const;
  Open* Handle(FileHandle h);
  bool Failing() { return ++operations == failAt; }

  Notation notation_;
  Platform* backing_ = nullptr;
  bool keepsData_ = true;
  std::size_t capacity_;
  std::string folder_;
  std::size_t bytesHeld_ = 0;
  std::map<std::string, Node> nodes_;  // by key: the parts joined with "/"
  std::map<FileHandle, Open> handles_;
  FileHandle nextHandle_ = 100;
  std::vector<std::string> createdFolders_;
};

}  // namespace plf::tools
