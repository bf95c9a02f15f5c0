// The in-memory file system that the fuzzers and the plan run on must answer
// as the real platform layer does, or the fuzzers would explore a system
// that does not exist and the plan would forecast another run. The same
// steps run on both; every answer must agree.
#include "tools/memory_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace plf::test {
namespace {

using tools::MemoryPlatform;

// Runs steps against one platform whose files live under `base`.
class Driver {
 public:
  Driver(Platform& p, std::string base) : p_(p), base_(std::move(base)) {}
  std::string Path(const std::string& rel) const { return base_ + "/" + rel; }

  std::string Create(const std::string& rel, Disposition d, const std::string& data) {
    const FileHandle h = p_.OpenFile(Path(rel), Access::ReadWrite, Share::None, d);
    if (h == kInvalidHandle) return "refused";
    const std::int32_t n = p_.WriteFile(h, data.data(), static_cast<std::int32_t>(data.size()));
    p_.CloseFile(h);
    return "wrote " + std::to_string(n);
  }
  std::string Open(const std::string& rel, Access a) {
    const FileHandle h = p_.OpenFile(Path(rel), a, Share::Read, Disposition::OpenExisting);
    if (h == kInvalidHandle) return "refused";
    char buffer[64];
    const std::int32_t n = p_.ReadFile(h, buffer, sizeof buffer);
    p_.CloseFile(h);
    return n < 0 ? "read failed" : "read " + std::string(buffer, static_cast<std::size_t>(n));
  }
  std::string Attributes(const std::string& rel) {
    const std::uint32_t a = p_.GetAttributes(Path(rel));
    if (a == kInvalidAttributes) return "nothing";
    return std::string((a & kAttrDirectory) ? "folder" : "file") + ((a & kAttrReadOnly) ? " read-only" : "");
  }
  std::string Find(const std::string& rel) {
    FoundItem item;
    if (!p_.FindFirst(Path(rel), &item)) return "not found";
    return item.IsDirectory() ? "folder" : "file";
  }
  std::string Bool(bool b) { return b ? "yes" : "no"; }
  // The answers of several steps, taken in their order (which the operands
  // of "+" are not).
  static std::string All(std::initializer_list<std::string> answers) {
    std::string all;
    for (const std::string& a : answers) all += a + ";";
    return all;
  }

  Platform& p_;
  std::string base_;
  std::function<void(const std::string&)> makeReadOnly;
};

struct Step {
  const char* what;
  std::function<std::string(Driver&)> run;
};

TEST(MemoryPlatform, AnswersAsTheRealPlatformDoes) {
  const std::vector<Step> steps = {
      {"make a folder", [](Driver& d) { return d.Bool(d.p_.CreateDirectory(d.Path("a"))); }},
      {"make it again", [](Driver& d) { return d.Bool(d.p_.CreateDirectory(d.Path("a"))); }},
      {"make below a missing folder", [](Driver& d) { return d.Bool(d.p_.CreateDirectory(d.Path("x/y"))); }},
      {"make through a missing folder", [](Driver& d) { return d.Bool(d.p_.CreateDirectory(d.Path("x/../c"))); }},
      {"make a folder's \".\"", [](Driver& d) { return d.Bool(d.p_.CreateDirectory(d.Path("a/."))); }},
      {"make through \"..\"", [](Driver& d) { return d.All({d.Bool(d.p_.CreateDirectory(d.Path("a/../c"))), d.Attributes("c")}); }},
      {"create new", [](Driver& d) { return d.Create("a/f.txt", Disposition::CreateNew, "hello"); }},
      {"create new over a file", [](Driver& d) { return d.Create("a/f.txt", Disposition::CreateNew, "x"); }},
      {"create in a missing folder", [](Driver& d) { return d.Create("q/f.txt", Disposition::CreateAlways, "x"); }},
      {"open a missing file", [](Driver& d) { return d.Open("a/missing", Access::Read); }},
      {"open a folder", [](Driver& d) { return d.Open("a", Access::Read); }},
      {"read a file", [](Driver& d) { return d.Open("a/f.txt", Access::Read); }},
      {"read through a write handle", [](Driver& d) { return d.Open("a/f.txt", Access::Write); }},
      {"rename", [](Driver& d) { return d.Bool(d.p_.MoveFile(d.Path("a/f.txt"), d.Path("a/g.txt"))); }},
      {"the old name is gone", [](Driver& d) { return d.Attributes("a/f.txt"); }},
      {"second file", [](Driver& d) { return d.Create("a/h.txt", Disposition::CreateAlways, "h"); }},
      {"rename onto a file", [](Driver& d) { return d.Bool(d.p_.MoveFile(d.Path("a/g.txt"), d.Path("a/h.txt"))); }},
      {"both unchanged", [](Driver& d) { return d.Open("a/g.txt", Access::Read) + d.Open("a/h.txt", Access::Read); }},
      {"rename a missing file", [](Driver& d) { return d.Bool(d.p_.MoveFile(d.Path("a/z"), d.Path("a/y"))); }},
      {"delete a folder", [](Driver& d) { return d.Bool(d.p_.DeleteFile(d.Path("a"))); }},
      {"delete a missing file", [](Driver& d) { return d.Bool(d.p_.DeleteFile(d.Path("a/z"))); }},
      {"make read-only",
       [](Driver& d) {
         d.makeReadOnly(d.Path("a/h.txt"));
         return d.Attributes("a/h.txt");
       }},
      {"delete a read-only file", [](Driver& d) { return d.Bool(d.p_.DeleteFile(d.Path("a/h.txt"))); }},
      {"write a read-only file", [](Driver& d) { return d.Open("a/h.txt", Access::ReadWrite); }},
      {"recreate a read-only file", [](Driver& d) { return d.Create("a/h.txt", Disposition::CreateAlways, "x"); }},
      {"read a read-only file", [](Driver& d) { return d.Open("a/h.txt", Access::Read); }},
      {"attributes of a folder", [](Driver& d) { return d.Attributes("a"); }},
      {"attributes of nothing", [](Driver& d) { return d.Attributes("nothing"); }},
      {"file with a separator after it", [](Driver& d) { return d.Attributes("a/g.txt/"); }},
      {"find a file", [](Driver& d) { return d.Find("a/g.txt"); }},
      {"find a folder", [](Driver& d) { return d.Find("a"); }},
      {"find a folder with a separator", [](Driver& d) { return d.Find("a/"); }},
      {"find a file with a separator", [](Driver& d) { return d.Find("a/g.txt/"); }},
      {"find by wildcard", [](Driver& d) { return d.Find("a/g.*") + " " + d.Find("a/?.txt") + " " + d.Find("a/*.dat"); }},
      {"find in a missing folder", [](Driver& d) { return d.Find("m/*"); }},
      {"rename a folder", [](Driver& d) { return d.Bool(d.p_.MoveFile(d.Path("a"), d.Path("b"))); }},
      {"its files moved along", [](Driver& d) { return d.Open("b/g.txt", Access::Read) + " " + d.Attributes("a"); }},
      {"rename a folder into itself", [](Driver& d) { return d.Bool(d.p_.MoveFile(d.Path("b"), d.Path("b/c"))); }},
      {"recreate truncates",
       [](Driver& d) { return d.All({d.Create("b/g.txt", Disposition::CreateAlways, "new"), d.Open("b/g.txt", Access::Read)}); }},
      {"seek past the end, write, cut",
       [](Driver& d) {
         const FileHandle h = d.p_.OpenFile(d.Path("b/s"), Access::ReadWrite, Share::None, Disposition::CreateAlways);
         std::string r = std::to_string(d.p_.SeekFile(h, 3, 0));
         r += " " + std::to_string(d.p_.WriteFile(h, "x", 1));
         r += " " + std::to_string(d.p_.SeekFile(h, 0, 2));
         r += " " + std::to_string(d.p_.SeekFile(h, -10, 1));
         r += " " + std::to_string(d.p_.SeekFile(h, 2, 0));
         r += " " + d.Bool(d.p_.SetEndOfFile(h));
         r += " " + std::to_string(d.p_.SeekFile(h, 0, 2));
         d.p_.CloseFile(h);
         return r + " " + std::to_string(d.Open("b/s", Access::Read).size());
       }},
  };

  TempDir real;
  MemoryPlatform memory(MemoryPlatform::Notation::Posix);
  Driver onDisk(DefaultPlatform(), real.Path());
  Driver inMemory(memory, memory.CurrentFolder());
  onDisk.makeReadOnly = [](const std::string& path) { MakeReadOnly(path, true); };
  inMemory.makeReadOnly = [&memory](const std::string& path) {
    const std::string data = *memory.FileData(path);
    memory.DeleteFile(path);
    memory.AddFile(path, data, kAttrNormal | kAttrReadOnly);
  };
  for (const Step& step : steps) EXPECT_EQ(step.run(inMemory), step.run(onDisk)) << step.what;
  EXPECT_EQ(memory.OpenHandleCount(), 0u);

  // Over the tree the steps left ("b" with g.txt, read-only h.txt and s; an
  // empty "c"), first in memory, which must leave the disk as it is, then
  // on the disk itself.
  const std::vector<Step> changes = {
      {"read a file", [](Driver& d) { return d.All({d.Find("b/*.txt"), d.Open("b/g.txt", Access::Read)}); }},
      {"rename a folder with files",
       [](Driver& d) {
         return d.All({d.Bool(d.p_.MoveFile(d.Path("b"), d.Path("d"))), d.Open("d/g.txt", Access::Read),
                       d.Attributes("b"), d.Attributes("b/h.txt"), d.Find("b/*")});
       }},
      {"delete a file, make it anew",
       [](Driver& d) {
         return d.All({d.Bool(d.p_.DeleteFile(d.Path("d/g.txt"))), d.Find("d/g.txt"),
                       d.Create("d/g.txt", Disposition::CreateNew, "z"), d.Open("d/g.txt", Access::Read)});
       }},
      {"rewrite a file",
       [](Driver& d) { return d.All({d.Create("d/s", Disposition::CreateAlways, "abc"), d.Open("d/s", Access::Read)}); }},
      {"a folder back to its old name",
       [](Driver& d) {
         return d.All({d.Bool(d.p_.MoveFile(d.Path("d"), d.Path("b"))), d.Open("b/s", Access::Read),
                       d.Attributes("b/h.txt"), d.Attributes("d")});
       }},
      {"a search in a made folder",
       [](Driver& d) {
         return d.All({d.Bool(d.p_.CreateDirectory(d.Path("b/n"))), d.Find("b/n/*.txt"),
                       d.Create("b/n/x.txt", Disposition::CreateNew, "x"), d.Find("b/n/*.txt"), d.Find("c/*.txt")});
       }},
  };
  const auto listing = [&real] {
    std::vector<std::string> items;
    for (const auto& e : std::filesystem::recursive_directory_iterator(real.Path()))
      items.push_back(e.path().string() + (e.is_directory() ? "/" : " " + ReadFileBytes(e.path().string())));
    std::sort(items.begin(), items.end());
    return items;
  };
  const std::vector<std::string> before = listing();
  MemoryPlatform overlay(DefaultPlatform(), real.Path(), true);
  Driver overDisk(overlay, ".");
  std::vector<std::string> answers;
  for (const Step& step : changes) answers.push_back(step.run(overDisk));
  EXPECT_EQ(listing(), before) << "the memory changed its backing";
  for (std::size_t i = 0; i < changes.size(); ++i) EXPECT_EQ(answers[i], changes[i].run(onDisk)) << changes[i].what;
  EXPECT_EQ(overlay.OpenHandleCount(), 0u);
}

TEST(MemoryPlatform, WindowsNamesIgnoreCaseAndTrailingDots) {
  MemoryPlatform m(MemoryPlatform::Notation::Windows);
  ASSERT_TRUE(m.AddFolder("C:\\App\\Sub"));
  ASSERT_TRUE(m.AddFile("c:\\app\\sub\\README_OLD.", "x"));
  EXPECT_EQ(m.FileData("C:\\APP\\SUB\\readme_old"), "x");
  EXPECT_EQ(m.FullPath("c:\\app\\sub\\..\\x.txt"), "C:\\app\\x.txt");
  EXPECT_EQ(m.FullPath("rel.txt"), "C:\\mem\\cwd\\rel.txt");
  FoundItem item;
  EXPECT_TRUE(m.FindFirst("C:\\app\\sub\\*_old", &item));
  EXPECT_FALSE(m.MoveFile("C:\\app\\sub\\readme_old", "C:\\APP\\SUB\\README_OLD"));
  EXPECT_TRUE(m.MoveFile("C:\\app\\sub\\readme_old", "C:\\app\\sub\\readme_old"));  // case only
  EXPECT_EQ(m.FilePaths(), std::vector<std::string>{"C:\\App\\Sub\\readme_old"});
  EXPECT_FALSE(m.CreateDirectory("D:\\x"));
  EXPECT_FALSE(m.CreateDirectory("C:\\app\\a:b"));
  EXPECT_EQ(m.OpenFile("C:\\app\\a?b", Access::ReadWrite, Share::None, Disposition::CreateAlways), kInvalidHandle);
}

TEST(MemoryPlatform, SharingFullDiskAndOpenFiles) {
  MemoryPlatform m(MemoryPlatform::Notation::Posix, 10);
  const FileHandle reader = m.OpenFile("/mem/cwd/p", Access::ReadWrite, Share::Read, Disposition::CreateNew);
  ASSERT_NE(reader, kInvalidHandle);
  EXPECT_EQ(m.OpenFile("/mem/cwd/p", Access::Read, Share::Read, Disposition::OpenExisting), kInvalidHandle)
      << "a reader must share the writing of the first opener";
  const FileHandle second = m.OpenFile("/mem/cwd/p", Access::Read, Share::ReadWrite, Disposition::OpenExisting);
  EXPECT_NE(second, kInvalidHandle);
  EXPECT_TRUE(m.CloseFile(second));
  EXPECT_FALSE(m.CloseFile(second));
  EXPECT_FALSE(m.DeleteFile("/mem/cwd/p"));
  EXPECT_FALSE(m.MoveFile("/mem/cwd", "/mem/other"));  // holds an open file
  EXPECT_EQ(m.WriteFile(reader, "0123456789abc", 13), 10);
  EXPECT_EQ(m.WriteFile(reader, "d", 1), -1);
  EXPECT_TRUE(m.CloseFile(reader));
  EXPECT_TRUE(m.DeleteFile("/mem/cwd/p"));
  EXPECT_EQ(m.BytesHeld(), 0u);
}

// A Windows disk with one share, \\SRV\SHARE, holding APP\A.TXT; names
// are compared as Windows compares them, and nothing on it ever changes.
class ShareDisk : public NotationPlatform {
 public:
  ShareDisk() : NotationPlatform(true) {}
  std::uint32_t GetAttributes(const std::string& path) override {
    const std::string p = Upper(path);
    if (p == "\\\\SRV\\SHARE\\" || p == "\\\\SRV\\SHARE\\APP") return kAttrDirectory;
    return p == "\\\\SRV\\SHARE\\APP\\A.TXT" ? kAttrNormal : kInvalidAttributes;
  }
  bool FindFirst(const std::string& pattern, FoundItem* item) override {
    const std::uint32_t a = GetAttributes(pattern);
    if (a == kInvalidAttributes) return false;
    item->attributes = a;
    return true;
  }
  bool CreateDirectory(const std::string&) override { return changed = true; }
  bool MoveFile(const std::string&, const std::string&) override { return changed = true; }
  bool changed = false;

 private:
  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
};

// A plan of a run in a network folder sees the share as the run would.
TEST(MemoryPlatform, ANetworkShareStandsWhereADriveWould) {
  ShareDisk disk;
  MemoryPlatform m(disk, "\\\\srv\\share\\app");
  const struct {
    const char* path;
    std::uint32_t attributes;
  } rows[] = {
      {"a.txt", kAttrNormal},                        // relative to the share's folder
      {"\\\\Srv\\Share\\App\\A.txt", kAttrNormal},  // absolute, in other case
      {"\\app", kAttrDirectory},                     // rooted at the current share
      {"\\b.txt", kInvalidAttributes},
      {"\\\\srv", kInvalidAttributes},  // a server without a share
      {"\\\\srv\\\\share", kInvalidAttributes},
  };
  for (const auto& row : rows) EXPECT_EQ(m.GetAttributes(row.path), row.attributes) << row.path;
  EXPECT_TRUE(m.CreateDirectory("\\\\srv\\share\\new"));
  EXPECT_TRUE(m.MoveFile("a.txt", "\\new\\a.txt"));
  EXPECT_EQ(m.GetAttributes("\\\\SRV\\SHARE\\NEW\\A.TXT"), kAttrNormal);
  EXPECT_EQ(m.GetAttributes("a.txt"), kInvalidAttributes);
  EXPECT_FALSE(disk.changed) << "the disk is only read";
}

TEST(MemoryPlatform, TheChosenOperationFailsOnce) {
  MemoryPlatform m(MemoryPlatform::Notation::Posix);
  m.failAt = m.operations + 2;  // the write
  const FileHandle h = m.OpenFile("/mem/cwd/f", Access::ReadWrite, Share::None, Disposition::CreateNew);
  EXPECT_EQ(m.WriteFile(h, "abcd", 4), 2);  // half, as a full disk takes it
  EXPECT_EQ(m.WriteFile(h, "ef", 2), 2);
  m.failAt = m.operations + 1;
  EXPECT_FALSE(m.CloseFile(h));
  EXPECT_EQ(m.OpenHandleCount(), 0u) << "a failed close still releases the handle";
  EXPECT_EQ(m.FileData("/mem/cwd/f"), "abef");
}

}  // namespace
}  // namespace plf::test
