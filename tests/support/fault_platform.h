// A platform wrapper that counts the operations that change or inspect the
// file system and makes the k-th of them (or those a predicate picks) fail
// the way the operating system fails them, or runs a hook just before each
// (a crash test ends the process there). Counting runs are made with
// failAt = 0.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "support/test_support.h"

namespace plf::test {

class FaultPlatform : public CapturePlatform {
  using Base = CapturePlatform;

 public:
  // 1-based index of the operation to fail; 0 fails none.
  long failAt = 0;
  // Called with the operation's number and name before it runs.
  std::function<void(long, const char*)> beforeOperation;
  // Also fails the operations for which this answers true, given the
  // operation's name and argument as the log writes them.
  std::function<bool(const std::string&, const std::string&)> failWhen;
  long count = 0;
  std::vector<std::string> log;  // "n name argument" of each counted operation
  std::string failed;            // the operation that was failed, if any
  std::set<FileHandle> openHandles;  // opened and not yet closed

  // The log without the numbers: "name argument", or "name" alone.
  std::vector<std::string> Ops() const {
    std::vector<std::string> ops;
    for (const std::string& line : log) {
      std::string op = line.substr(line.find(' ') + 1);
      if (op.back() == ' ') op.pop_back();
      ops.push_back(op);
    }
    return ops;
  }
  // How many operations of that name were made.
  long Count(const std::string& name) const {
    long n = 0;
    for (const std::string& line : log) n += line.compare(line.find(' ') + 1, name.size() + 1, name + " ") == 0;
    return n;
  }

  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    if (Fail(d == Disposition::OpenExisting ? "open" : "create", path)) return kInvalidHandle;
    const FileHandle h = Base::OpenFile(path, a, s, d);
    if (h != kInvalidHandle) openHandles.insert(h);
    return h;
  }
  std::int32_t ReadFile(FileHandle h, void* b, std::int32_t n) override {
    return Fail("read", "") ? -1 : Base::ReadFile(h, b, n);
  }
  std::int32_t WriteFile(FileHandle h, const void* b, std::int32_t n) override {
    if (Fail("write", "")) {
      // A full disk takes part of the data.
      const std::int32_t part = n / 2;
      return part > 0 ? Base::WriteFile(h, b, part) : -1;
    }
    return Base::WriteFile(h, b, n);
  }
  std::int64_t SeekFile(FileHandle h, std::int64_t o, int origin) override {
    return Fail("seek", "") ? -1 : Base::SeekFile(h, o, origin);
  }
  bool SetEndOfFile(FileHandle h) override { return !Fail("truncate", "") && Base::SetEndOfFile(h); }
  bool FlushFile(FileHandle h) override { return !Fail("flush", "") && Base::FlushFile(h); }
  // Whether the platform claims to flush whole file systems; false, as on
  // Windows, has each file flushed while it is open.
  bool fileSystemFlush = true;
  bool CanFlushFileSystem(const std::string&) override { return fileSystemFlush; }
  bool FlushFileSystems(const std::vector<std::string>& f) override {
    std::string folders;  // separated by blanks
    for (const std::string& folder : f) folders += (folders.empty() ? "" : " ") + folder;
    return !Fail("syncfs", folders) && Base::FlushFileSystems(f);
  }
  bool FlushNamedFile(const std::string& p) override { return !Fail("flushname", p) && Base::FlushNamedFile(p); }
  bool CloseFile(FileHandle h) override {
    // A failed close still releases the handle, as on every system.
    const bool failNow = Fail("close", "");
    openHandles.erase(h);
    return Base::CloseFile(h) && !failNow;
  }
  bool SetLastWriteTime(FileHandle h, std::int64_t t) override {
    return !Fail("settime", "") && Base::SetLastWriteTime(h, t);
  }
  bool FindFirst(const std::string& p, FoundItem* f) override { return !Fail("findfirst", p) && Base::FindFirst(p, f); }
  // Access denied looks like nothing at the path.
  std::uint32_t GetAttributes(const std::string& p) override {
    return Fail("attributes", p) ? kInvalidAttributes : Base::GetAttributes(p);
  }
  bool MoveFile(const std::string& from, const std::string& to) override {
    return !Fail("rename", from + " -> " + to) && Base::MoveFile(from, to);
  }
  bool DeleteFile(const std::string& p) override { return !Fail("delete", p) && Base::DeleteFile(p); }
  bool CreateDirectory(const std::string& p) override { return !Fail("mkdir", p) && Base::CreateDirectory(p); }

 private:
  bool Fail(const char* name, const std::string& argument) {
    ++count;
    if (beforeOperation) beforeOperation(count, name);
    log.push_back(std::to_string(count) + " " + name + " " + argument);
    if (count != failAt && !(failWhen && failWhen(name, argument))) return false;
    failed = log.back();
    return true;
  }
};

}  // namespace plf::test
