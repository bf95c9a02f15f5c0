// The in-memory file system that the fuzzers and the plan run on must answer
// as the real platform layer does, or the fuzzers would explore a system
// that does not exist and the plan would forecast another run. The same
// steps run on both; every answer must agree.
#include "tools/memory_platform.h"

#include <gtest/gtest.h>

#include <cctype>
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
  bool Mkdir(const std::string& rel) { return p_.CreateDirectory(Path(rel)); }
  bool Move(const std::string& from, const std::string& to) { return p_.MoveFile(Path(from), Path(to)); }

  Platform& p_;
  std::string base_;
};

TEST(MemoryPlatform, AnswersAsTheRealPlatformDoes) {
  const std::vector<std::pair<const char*, std::function<std::string(Driver&)>>> steps = {
      {"make a folder, and again", [](Driver& d) { return d.All({d.Bool(d.Mkdir("a")), d.Bool(d.Mkdir("a"))}); }},
      {"make through a missing folder", [](Driver& d) { return d.Bool(d.Mkdir("x/../c")); }},
      {"make a folder's \".\"", [](Driver& d) { return d.Bool(d.Mkdir("a/.")); }},
      {"make through \"..\"", [](Driver& d) { return d.All({d.Bool(d.Mkdir("a/../c")), d.Attributes("c")}); }},
      {"create new", [](Driver& d) { return d.Create("a/f.txt", Disposition::CreateNew, "hello"); }},
      {"create new over a file", [](Driver& d) { return d.Create("a/f.txt", Disposition::CreateNew, "x"); }},
      {"create in a missing folder", [](Driver& d) { return d.Create("q/f.txt", Disposition::CreateAlways, "x"); }},
      {"open a folder", [](Driver& d) { return d.Open("a", Access::Read); }},
      {"read through a write handle", [](Driver& d) { return d.Open("a/f.txt", Access::Write); }},
      {"rename", [](Driver& d) { return d.All({d.Bool(d.Move("a/f.txt", "a/g.txt")), d.Attributes("a/f.txt")}); }},
      {"rename onto a file",
       [](Driver& d) {
         return d.All({d.Create("a/h.txt", Disposition::CreateAlways, "h"), d.Bool(d.Move("a/g.txt", "a/h.txt")),
                       d.Open("a/g.txt", Access::Read), d.Open("a/h.txt", Access::Read)});
       }},
      {"delete a folder", [](Driver& d) { return d.Bool(d.p_.DeleteFile(d.Path("a"))); }},
      {"a read-only file is read, not deleted or written",
       [](Driver& d) {
         return d.All({d.Attributes("ro"), d.Bool(d.p_.DeleteFile(d.Path("ro"))), d.Open("ro", Access::ReadWrite),
                       d.Create("ro", Disposition::CreateAlways, "x"), d.Open("ro", Access::Read)});
       }},
      {"attributes", [](Driver& d) { return d.All({d.Attributes("a"), d.Attributes("x"), d.Attributes("a/g.txt/")}); }},
      {"find", [](Driver& d) { return d.All({d.Find("a/g.txt"), d.Find("a"), d.Find("a/"), d.Find("a/g.txt/")}); }},
      {"find by wildcard",
       [](Driver& d) { return d.All({d.Find("a/g.*"), d.Find("a/?.txt"), d.Find("a/*.dat"), d.Find("m/*")}); }},
      {"rename a folder",
       [](Driver& d) { return d.All({d.Bool(d.Move("a", "b")), d.Open("b/g.txt", Access::Read), d.Attributes("a")}); }},
      {"rename a folder into itself", [](Driver& d) { return d.Bool(d.Move("b", "b/c")); }},
      {"recreate truncates",
       [](Driver& d) {
         return d.All({d.Create("b/g.txt", Disposition::CreateAlways, "new"), d.Open("b/g.txt", Access::Read)});
       }},
      {"seek past the end, write, cut",
       [](Driver& d) {
         const FileHandle h = d.p_.OpenFile(d.Path("b/s"), Access::ReadWrite, Share::None, Disposition::CreateAlways);
         const std::string r = d.All({std::to_string(d.p_.SeekFile(h, 3, 0)), std::to_string(d.p_.WriteFile(h, "x", 1)),
                                      std::to_string(d.p_.SeekFile(h, -10, 1)), std::to_string(d.p_.SeekFile(h, 2, 0)),
                                      d.Bool(d.p_.SetEndOfFile(h)), std::to_string(d.p_.SeekFile(h, 0, 2))});
         d.p_.CloseFile(h);
         return r + d.Open("b/s", Access::Read);
       }},
  };

  TempDir real;
  MemoryPlatform memory(MemoryPlatform::Notation::Posix);
  Driver onDisk(DefaultPlatform(), real.Path());
  Driver inMemory(memory, memory.CurrentFolder());
  WriteFileBytes(real / "ro", "read-only");
  MakeReadOnly(real / "ro", true);
  memory.AddFile(memory.At("ro"), "read-only", kAttrNormal | kAttrReadOnly);
  for (const auto& [what, run] : steps) EXPECT_EQ(run(inMemory), run(onDisk)) << what;
  EXPECT_EQ(memory.OpenHandleCount(), 0u);
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

TEST(MemoryPlatform, SharingFullDiskOpenFilesAndTheFailingOperation) {
  MemoryPlatform m(MemoryPlatform::Notation::Posix, 10);
  const FileHandle writer = m.OpenFile("/mem/cwd/p", Access::ReadWrite, Share::Read, Disposition::CreateNew);
  EXPECT_EQ(m.OpenFile("/mem/cwd/p", Access::Read, Share::Read, Disposition::OpenExisting), kInvalidHandle)
      << "a reader must share the writing of the first opener";
  const FileHandle reader = m.OpenFile("/mem/cwd/p", Access::Read, Share::ReadWrite, Disposition::OpenExisting);
  EXPECT_TRUE(m.CloseFile(reader));
  EXPECT_FALSE(m.DeleteFile("/mem/cwd/p"));
  EXPECT_FALSE(m.MoveFile("/mem/cwd", "/mem/other"));  // holds an open file
  EXPECT_EQ(m.WriteFile(writer, "0123456789abc", 13), 10);
  EXPECT_EQ(m.WriteFile(writer, "d", 1), -1);
  m.failAt = m.operations + 1;
  EXPECT_FALSE(m.CloseFile(writer));
  EXPECT_EQ(m.OpenHandleCount(), 0u) << "a failed close still releases the handle";
  EXPECT_TRUE(m.DeleteFile("/mem/cwd/p"));
  EXPECT_EQ(m.BytesHeld(), 0u);

  m.failAt = m.operations + 2;  // the write
  const FileHandle h = m.OpenFile("/mem/cwd/f", Access::ReadWrite, Share::None, Disposition::CreateNew);
  EXPECT_EQ(m.WriteFile(h, "abcd", 4), 2);  // half, as a full disk takes it
  EXPECT_EQ(m.WriteFile(h, "ef", 2), 2);
  EXPECT_TRUE(m.CloseFile(h));
  EXPECT_EQ(m.FileData("/mem/cwd/f"), "abef");
}

// A Windows disk with one share, \\SRV\SHARE, holding APP\A.TXT; names
// are compared as Windows compares them, and nothing on it ever changes.
class ShareDisk : public NotationPlatform {
 public:
  ShareDisk() : NotationPlatform(true) {}
  std::uint32_t GetAttributes(const std::string& path) override {
    std::string p = path;
    for (char& c : p) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (p == "\\\\SRV\\SHARE\\" || p == "\\\\SRV\\SHARE\\APP") return kAttrDirectory;
    return p == "\\\\SRV\\SHARE\\APP\\A.TXT" ? kAttrNormal : kInvalidAttributes;
  }
  bool FindFirst(const std::string& pattern, FoundItem* item) override {
    item->attributes = GetAttributes(pattern);
    return item->attributes != kInvalidAttributes;
  }
  bool CreateDirectory(const std::string&) override { return changed = true; }
  bool MoveFile(const std::string&, const std::string&) override { return changed = true; }
  bool changed = false;
};

// A plan of a run in a network folder sees the share as the run would.
TEST(MemoryPlatform, ANetworkShareStandsWhereADriveWould) {
  ShareDisk disk;
  MemoryPlatform m(disk, "\\\\srv\\share\\app");
  const std::pair<const char*, std::uint32_t> rows[] = {
      {"a.txt", kAttrNormal},                        // relative to the share's folder
      {"\\\\Srv\\Share\\App\\A.txt", kAttrNormal},  // absolute, in other case
      {"\\app", kAttrDirectory},                     // rooted at the current share
      {"\\b.txt", kInvalidAttributes},
      {"\\\\srv", kInvalidAttributes},  // a server without a share
      {"\\\\srv\\\\share", kInvalidAttributes},
  };
  for (const auto& [path, attributes] : rows) EXPECT_EQ(m.GetAttributes(path), attributes) << path;
  EXPECT_TRUE(m.CreateDirectory("\\\\srv\\share\\new"));
  EXPECT_TRUE(m.MoveFile("a.txt", "\\new\\a.txt"));
  EXPECT_EQ(m.GetAttributes("\\\\SRV\\SHARE\\NEW\\A.TXT"), kAttrNormal);
  EXPECT_EQ(m.GetAttributes("a.txt"), kInvalidAttributes);
  EXPECT_FALSE(disk.changed) << "the disk is only read";
}

}  // namespace
}  // namespace plf::test
