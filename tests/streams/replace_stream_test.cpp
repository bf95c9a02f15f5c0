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
      {"C:\\dir\\file.txt", "", "C:\\dir\\file.~txt"},
      {"C:\\dir\\archive.tar.gz", "", "C:\\dir\\archive.tar.~gz"},
      {"C:\\dir\\README", "", "C:\\dir\\README~"},
      {"C:\\my.dir\\file", "", "C:\\my.dir\\file~"},
      {"C:\\dir\\file.", "", "C:\\dir\\file.~"},
      {"C:file", "", "C:file~"},
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

TEST(ReplaceStream, ReleaseTable) {
  enum class End { Commit, Discard, DestroyOnly };
  struct Case {
    bool targetExists;
    End end;
    const char* target;  // afterwards; nullptr: absent
  } cases[] = {
      {false, End::Commit, "new"}, {false, End::Discard, nullptr}, {false, End::DestroyOnly, nullptr},
      {true, End::Commit, "new"},  {true, End::Discard, "old"},    {true, End::DestroyOnly, "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.targetExists) + "/" + std::to_string(static_cast<int>(c.end)));
    TempDir dir;
    const std::string target = dir / "a.txt";
    if (c.targetExists) WriteFileBytes(target, "old");
    {
      TReplaceStream s(target);
      EXPECT_EQ(s.TargetExisted(), c.targetExists);
      EXPECT_EQ(s.TempName(), c.targetExists ? dir / "a.~txt" : target);
      WriteText(s, "new");
      if (c.targetExists) {
        EXPECT_EQ(ReadFileBytes(target), "old");  // untouched while writing
      }
      if (c.end == End::Commit) s.Commit();
      if (c.end != End::DestroyOnly) s.Finish();
    }
    EXPECT_EQ(PathExists(target), c.target != nullptr);
    if (c.target != nullptr) {
      EXPECT_EQ(ReadFileBytes(target), c.target);
    }
    EXPECT_FALSE(PathExists(dir / "a.~txt"));
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


TEST(ReplaceStream, FailedRenameLeavesNewDataUnderTemporaryName) {
  TempDir dir;
  const std::string target = dir / "a.txt";
  WriteFileBytes(target, "old");
  FileFaults faults;
  ScopedPlatform scope(faults);
  {
    TReplaceStream s(target);
    WriteText(s, "new");
    s.Commit();
    faults.failing = {"rename"};
    try {
      s.Finish();
      FAIL() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Cannot rename " + (dir / "a.~txt") + " to " + target + "!");
    }
    s.Finish();  // finished once: nothing more happens
  }
  // The destructor of a finished stream deletes nothing.
  EXPECT_FALSE(PathExists(target));
  EXPECT_EQ(ReadFileBytes(dir / "a.~txt"), "new");
  EXPECT_EQ(faults.IndexOf("delete " + dir / "a.~txt"), -1);
}

TEST(ReplaceStream, NewDataIsFlushedBeforeTheTargetIsDeleted) {
  struct Case {
    bool targetExists;
    bool defer;
    bool flushedNow;
  } cases[] = {
      {true, false, true},
      {true, true, true},  // the old file goes: deferring is not allowed
      {false, false, true},
      {false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.targetExists) + "/" + std::to_string(c.defer));
    TempDir dir;
    const std::string target = dir / "a.txt";
    if (c.targetExists) WriteFileBytes(target, "old");
    FileFaults faults;
    ScopedPlatform scope(faults);
    TReplaceStream s(target);
    if (c.defer) s.DeferFlush();
    WriteText(s, "new");
    s.Commit();
    s.Finish();
    EXPECT_EQ(ReadFileBytes(target), "new");
    EXPECT_EQ(s.FlushPending(), !c.flushedNow);
    const int flush = faults.IndexOf("flush");
    EXPECT_EQ(flush >= 0, c.flushedNow);
    if (c.targetExists) {
      EXPECT_LT(flush, faults.IndexOf("delete " + target));
    }
  }
}

TEST(ReplaceStream, DelayedWriteErrorIsAFailure) {
  for (bool targetExists : {false, true}) {
    for (bool failFlush : {true, false}) {
      SCOPED_TRACE(std::to_string(targetExists) + "/" + std::to_string(failFlush));
      TempDir dir;
      const std::string target = dir / "a.txt";
      if (targetExists) WriteFileBytes(target, "old");
      FileFaults faults;
      ScopedPlatform scope(faults);
      {
        TReplaceStream s(target);
        WriteText(s, "new");
        s.Commit();
        faults.failing = {failFlush ? "flush" : "close"};
        EXPECT_THROW(s.Finish(), EWriteError);
      }
      EXPECT_EQ(PathExists(target), targetExists);
      if (targetExists) {
        EXPECT_EQ(ReadFileBytes(target), "old");
      }
      EXPECT_FALSE(PathExists(dir / "a.~txt"));
    }
  }
}

TEST(ReplaceStream, FileAppearingAtTheTargetIsNotTruncated) {
  TempDir dir;
  const std::string target = dir / "a.txt";
  WriteFileBytes(target, "old");
  FileFaults faults;
  faults.hideFrom = target;  // the existence test misses it
  ScopedPlatform scope(faults);
  TReplaceStream s(target);
  EXPECT_TRUE(s.TargetExisted());
  EXPECT_EQ(s.TempName(), dir / "a.~txt");
  EXPECT_EQ(ReadFileBytes(target), "old");
  WriteText(s, "new");
  s.Commit();
  s.Finish();
  EXPECT_EQ(ReadFileBytes(target), "new");
}

// A source that records the size of every read and gives at most `limit`
// bytes per read.
class RecordingSource : public TStream {
  PLF_DECLARE_CLASS(RecordingSource, TStream)

 public:
  explicit RecordingSource(std::int32_t size, std::int32_t limit = 1 << 30) : size_(size), limit_(limit) {}
  std::vector<std::int32_t> asked;
  std::int32_t position = 0;

  std::int32_t Read(void* buffer, std::int32_t count) override {
    asked.push_back(count);
    std::int32_t n = count < limit_ ? count : limit_;
    if (n > size_ - position) n = size_ - position;
    if (n <= 0) return 0;
    std::memset(buffer, 'x', static_cast<std::size_t>(n));
    position += n;
    return n;
  }
  std::int32_t Write(const void*, std::int32_t) override { return 0; }
  std::int32_t Seek(std::int32_t offset, std::uint16_t) override { return position = offset; }

 private:
  std::int32_t size_;
  std::int32_t limit_;
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
