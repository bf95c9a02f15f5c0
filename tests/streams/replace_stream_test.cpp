#include "streams/replace_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "runtime/exceptions.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

// Fails the operations whose names are in `failing`, and makes FindFirst
// miss `hideFrom` once.
struct FileFaults : test::FaultPlatform {
  FileFaults() {
    failWhen = [this](const std::string& name, const std::string& argument) {
      if (name != "findfirst" || hideFrom.empty() || argument != hideFrom) return failing.count(name) > 0;
      hideFrom.clear();
      return true;
    };
  }
  std::set<std::string> failing;
  std::string hideFrom;
  int IndexOf(const std::string& op) const {
    const std::vector<std::string> ops = Ops();
    const auto at = std::find(ops.begin(), ops.end(), op);
    return at == ops.end() ? -1 : static_cast<int>(at - ops.begin());
  }
};

void WriteText(TStream& s, const std::string& text) {
  s.WriteExact(text.data(), static_cast<std::int32_t>(text.size()));
}

TEST(TempName, WindowsNotationTable) {
  test::NotationPlatform windows(true);
  ScopedPlatform scope(windows);
  struct Case {
    const char* target;
    const char* avoid;
    const char* temp;
  } cases[] = {
      {"C:\\dir\\file.txt", "", "C:\\dir\\file.~txt"}, {"C:\\dir\\archive.tar.gz", "", "C:\\dir\\archive.tar.~gz"},
      {"C:\\dir\\README", "", "C:\\dir\\README~"}, {"C:\\my.dir\\file", "", "C:\\my.dir\\file~"},
      {"C:\\dir\\file.", "", "C:\\dir\\file.~"}, {"C:file", "", "C:file~"},
      // The backup takes the plain "~" name: one more "~".
      {"C:\\dir\\app.exe", "C:\\dir\\app.~exe", "C:\\dir\\app.~~exe"},
      {"C:\\dir\\app.exe", "c:\\DIR\\APP.~EXE", "C:\\dir\\app.~~exe"},
      {"C:\\dir\\README", "C:\\dir\\README~", "C:\\dir\\README~~"},
      {"C:\\dir\\README", "C:\\dir\\README~. ", "C:\\dir\\README~~"},
      {"C:\\dir\\app.exe", "C:\\dir\\app_OLD.exe", "C:\\dir\\app.~exe"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeTempName(c.target, c.avoid), c.temp) << c.target << " / " << c.avoid;
}

TEST(SameFileName, FollowsThePlatformsRules) {
  struct Case {
    const char* a;
    const char* b;
    bool windows;
    bool posix;
  } cases[] = {
      {"a.txt", "a.txt", true, true},      {"a.txt", "A.TXT", true, false},  {"a.txt.", "a.txt", true, false},
      {"a.txt ..", "a.txt", true, false},  {"a.txt", "a.tx", false, false}, {"x", "", false, false},
      {"./a.txt", "a.txt", true, true},    {"d/../a.txt", "a.txt", true, true}, {"d//a.txt", "d/a.txt", true, true},
      {"D/A.TXT", "d/a.txt", true, false}, {"d./a.txt", "d/a.txt", true, false}, {"d/a.txt", "a.txt", false, false},
  };
  for (bool windows : {false, true}) {
    test::NotationPlatform notation(windows);
    ScopedPlatform scope(notation);
    for (const Case& c : cases) EXPECT_EQ(SameFileName(c.a, c.b), windows ? c.windows : c.posix) << c.a << " / " << c.b;
  }
  EXPECT_TRUE(SameFileName(Sys().FullPath("a.txt"), "a.txt"));
}

// How each way of ending leaves the target and the temporary name "a.~txt";
// a failing Finish keeps the new data there, and runs only once.
TEST(ReplaceStream, ReleaseTable) {
  enum class End { Commit, Discard, DestroyOnly };
  struct Case {
    const char* what;
    bool targetExists;
    End end;
    const char* fault;   // "rename": the rename fails, and Finish raises; "hide": the
                         // existence test misses the target
    const char* target;  // afterwards; nullptr: absent
    const char* temp;
  } cases[] = {
      {"new, committed", false, End::Commit, "", "new", nullptr},
      {"new, discarded", false, End::Discard, "", nullptr, nullptr},
      {"new, destroyed", false, End::DestroyOnly, "", nullptr, nullptr},
      {"replacing, committed", true, End::Commit, "", "new", nullptr},
      {"replacing, discarded", true, End::Discard, "", "old", nullptr},
      {"replacing, destroyed", true, End::DestroyOnly, "", "old", nullptr},
      {"rename fails", true, End::Commit, "rename", nullptr, "new"},
      {"a target the existence test misses", true, End::Commit, "hide", "new", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string target = dir / "a.txt", temp = dir / "a.~txt";
    if (c.targetExists) WriteFileBytes(target, "old");
    FileFaults faults;
    if (std::string(c.fault) == "hide") faults.hideFrom = target;
    ScopedPlatform scope(faults);
    {
      TReplaceStream s(target);
      EXPECT_EQ(s.TargetExisted(), c.targetExists);
      EXPECT_EQ(s.TempName(), c.targetExists ? temp : target);
      WriteText(s, "new");
      if (c.targetExists) {
        EXPECT_EQ(ReadFileBytes(target), "old");  // untouched while writing
      }
      if (c.end == End::Commit) s.Commit();
      const bool renameFails = std::string(c.fault) == "rename";
      if (renameFails) faults.failing = {"rename"};
      if (c.end != End::DestroyOnly) {
        std::string error;
        try {
          s.Finish();
        } catch (const Exception& e) {
          error = e.Message();
        }
        EXPECT_EQ(error, renameFails ? "Cannot rename " + temp + " to " + target + "!" : "");
        EXPECT_NO_THROW(s.Finish());  // once only
      }
    }
    EXPECT_EQ(PathExists(target), c.target != nullptr);
    if (c.target != nullptr) {
      EXPECT_EQ(ReadFileBytes(target), c.target);
    }
    EXPECT_EQ(PathExists(temp), c.temp != nullptr);
    if (c.temp != nullptr) {
      EXPECT_EQ(ReadFileBytes(temp), c.temp);
      EXPECT_EQ(faults.IndexOf("delete " + temp), -1);
    }
  }
}

TEST(ReplaceStream, AFileUnderTheTildeNameIsReusedUnlessItIsTheBackup) {
  for (bool isBackup : {false, true}) {
    SCOPED_TRACE(isBackup);
    TempDir dir;
    WriteFileBytes(dir / "a.txt", "old");
    WriteFileBytes(dir / "a.~txt", "stale and much longer");
    {
      TReplaceStream s(dir / "a.txt", isBackup ? dir / "a.~txt" : "");
      EXPECT_EQ(s.TempName(), dir / (isBackup ? "a.~~txt" : "a.~txt"));
      EXPECT_EQ(s.Size(), 0);
      WriteText(s, "new");
      s.Commit();
      s.Finish();
    }
    EXPECT_EQ(ReadFileBytes(dir / "a.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dir / "a.~txt"), isBackup ? "stale and much longer" : "");
    EXPECT_EQ(PathExists(dir / "a.~txt"), isBackup);
    EXPECT_FALSE(PathExists(dir / "a.~~txt"));
  }
}

TEST(ReplaceStream, ReadOnlyTargetKeepsNewDataBeside) {
  TempDir dir;
  const std::string target = dir / "a.txt";
  WriteFileBytes(target, "old");
  test::MakeReadOnly(target, true);
  TReplaceStream s(target);
  WriteText(s, "new");
  s.Commit();
  try {
    s.Finish();
    FAIL() << "replaced a read-only file";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "File " + target + " is read-only!");
  }
  EXPECT_EQ(ReadFileBytes(target), "old");
  EXPECT_EQ(ReadFileBytes(dir / "a.~txt"), "new");
}


// Deferring is for a file written straight to its name: one that replaces
// a target is flushed before the target goes.
TEST(ReplaceStream, NewDataIsFlushedBeforeTheTargetIsDeleted) {
  for (bool targetExists : {false, true}) {
    SCOPED_TRACE(targetExists);
    TempDir dir;
    const std::string target = dir / "a.txt";
    if (targetExists) WriteFileBytes(target, "old");
    FileFaults faults;
    ScopedPlatform scope(faults);
    TReplaceStream s(target);
    s.DeferFlush();
    WriteText(s, "new");
    s.Commit();
    s.Finish();
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(s.FlushPending(), !targetExists);
    EXPECT_EQ(faults.IndexOf("flush") >= 0, targetExists);
    if (targetExists) {
      EXPECT_LT(faults.IndexOf("flush"), faults.IndexOf("delete " + target));
    }
  }
}

// A source of `size` bytes that records the size of every read and gives at
// most `limit` bytes per read.
struct RecordingSource : TStream {
  RecordingSource(std::int32_t bytes, std::int32_t most) : size(bytes), limit(most) {}
  std::int32_t Read(void* buffer, std::int32_t count) override {
    asked.push_back(count);
    const std::int32_t n = std::min({count, limit, size - position});
    if (n <= 0) return 0;
    std::memset(buffer, 'x', static_cast<std::size_t>(n));
    position += n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int32_t Seek(std::int32_t offset, std::uint16_t) override { return position = offset; }
  std::int32_t size, limit, position = 0;
  std::vector<std::int32_t> asked;
};

TEST(CopyStream, CopiesInPiecesOfAtMost32768AndCountsWhatItCopied) {
  struct Case {
    std::int32_t sourceSize;
    std::int32_t limit;
    std::int32_t count;
    std::int32_t result;
    std::vector<std::int32_t> asked;
  } cases[] = {
      {3 * 32768 + 100, 1 << 30, 3 * 32768 + 100, 3 * 32768 + 100, {32768, 32768, 32768, 100}},
      {5, 1 << 30, 500, 5, {500, 495}},  // ends at the source's end
      {5, 1 << 30, 0, 0, {}},            // nothing asked, nothing read
      {5, 1 << 30, -7, 0, {}},
      {5000, 1000, 3000, 3000, {3000, 2000, 1000}},  // short reads that are not the end go on
  };
  for (const Case& c : cases) {
    RecordingSource source(c.sourceSize, c.limit);
    source.position = 3;
    TMemoryStream sink;
    EXPECT_EQ(CopyStream(&source, &sink, true, c.count), c.result) << c.count;
    EXPECT_EQ(source.asked, c.asked) << c.count;
    EXPECT_EQ(sink.Size(), c.result);
    if (c.count <= 0) {
      EXPECT_EQ(source.position, 0);  // rewound all the same
    }
  }
}

}  // namespace
}  // namespace plf
