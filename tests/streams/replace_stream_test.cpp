#include "streams/replace_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/exceptions.h"
#include "streams/dir_helpers.h"
#include "support/fault_platform.h"

namespace plf {
namespace {

using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

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
      {"C:\\my.dir\\README", "", "C:\\my.dir\\README~"},
      // The backup takes the plain "~" name: one more "~".
      {"C:\\dir\\app.exe", "C:\\dir\\app.~exe", "C:\\dir\\app.~~exe"},
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
      {"a.txt", "A.TXT", true, false},     {"a.txt ..", "a.txt", true, false}, {"a.txt", "a.tx", false, false},
      {"./a.txt", "a.txt", true, true},    {"d/../a.txt", "a.txt", true, true}, {"d//a.txt", "d/a.txt", true, true},
      {"d./a.txt", "d/a.txt", true, false},
  };
  for (bool windows : {false, true}) {
    test::NotationPlatform notation(windows);
    ScopedPlatform scope(notation);
    for (const Case& c : cases) EXPECT_EQ(SameFileName(c.a, c.b), windows ? c.windows : c.posix) << c.a << " / " << c.b;
  }
}

// How each way of ending leaves the target "a.txt" and the temporary name
// "a.~txt"; a failing Finish keeps the new data there, and runs only once.
TEST(ReplaceStream, ReleaseTable) {
  struct Case {
    const char* what;  // "discarded": never committed; "rename": the rename fails, and Finish raises;
                       // "attributes": the existence test misses the target; "stale": "a.~txt" is there
    const char* target;  // afterwards; nullptr: absent
    const char* temp;
  } cases[] = {
      {"committed", "new", nullptr}, {"discarded", "old", nullptr}, {"rename", nullptr, "new"},
      {"attributes", "new", nullptr}, {"stale", "new", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string what = c.what;
    TempDir dir;
    const std::string target = dir / "a.txt", temp = dir / "a.~txt";
    WriteFileBytes(target, "old");
    if (what == "stale") WriteFileBytes(temp, "stale and much longer");
    test::FaultPlatform faults;
    std::string fault = what;
    faults.failWhen = [&fault](const std::string& name, const std::string&) {
      if (name != fault) return false;
      if (fault == "attributes") fault.clear();  // once
      return true;
    };
    ScopedPlatform scope(faults);
    {
      TReplaceStream s(target);
      EXPECT_EQ(s.TempName(), temp);
      WriteText(s, "new");
      if (what != "discarded") s.Commit();
      std::string error;
      try {
        s.Finish();
      } catch (const Exception& e) {
        error = e.Message();
      }
      EXPECT_EQ(error, what == "rename" ? "Cannot rename " + temp + " to " + target + "!" : "");
      EXPECT_NO_THROW(s.Finish());  // once only
    }
    EXPECT_EQ(PathExists(target) ? ReadFileBytes(target) : "(absent)", c.target ? c.target : "(absent)");
    EXPECT_EQ(PathExists(temp) ? ReadFileBytes(temp) : "(absent)", c.temp ? c.temp : "(absent)");
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
    std::int32_t sourceSize, limit, count, result;
    std::vector<std::int32_t> asked;
  } cases[] = {
      {3 * 32768 + 100, 1 << 30, 3 * 32768 + 100, 3 * 32768 + 100, {32768, 32768, 32768, 100}},
      {5, 1 << 30, 500, 5, {500, 495}},              // ends at the source's end
      {5, 1 << 30, 0, 0, {}},                        // nothing asked, nothing read, rewound all the same
      {5000, 1000, 3000, 3000, {3000, 2000, 1000}},  // short reads that are not the end go on
  };
  for (const Case& c : cases) {
    RecordingSource source(c.sourceSize, c.limit);
    source.position = 3;
    TMemoryStream sink;
    EXPECT_EQ(CopyStream(&source, &sink, true, c.count), c.result) << c.count;
    EXPECT_EQ(source.asked, c.asked) << c.count;
    EXPECT_EQ(sink.Size(), c.result);
    EXPECT_EQ(source.position, c.result);  // from the start
  }
}

// Windows notation over a simulated disk with one folder and one file:
// records each attribute query and each creation, in order.
class WindowsDisk : public test::NotationPlatform {
 public:
  WindowsDisk(std::string dir, std::string plain)
      : NotationPlatform(true), folder(std::move(dir)), file(std::move(plain)) {}
  std::uint32_t GetAttributes(const std::string& path) override {
    calls.push_back("attr " + path);
    if (path == folder) return kAttrDirectory;
    return path == file ? kAttrNormal : kInvalidAttributes;
  }
  bool CreateDirectory(const std::string& path) override {
    calls.push_back("mkdir " + path);
    return true;
  }
  std::string folder, file;
  std::vector<std::string> calls;
};

TEST(MakeDirectoryPath, WindowsNotationCallsInOrder) {
  struct Case {
    const char* dir;
    const char* folder;  // there already
    const char* file;    // a file in the way
    std::vector<std::string> calls;
  } cases[] = {
      // One trailing separator is dropped; a second one stays.
      {"C:\\a\\b\\", "", "", {"attr C:\\a\\b", "attr C:\\a", "mkdir C:\\a", "mkdir C:\\a\\b"}},
      {"C:\\a\\b\\\\", "", "", {"attr C:\\a\\b\\"}},
      // Levels shorter than three characters are never made.
      {"ab\\cd", "", "", {"attr ab\\cd", "mkdir ab\\cd"}},
      {"abc\\de", "", "", {"attr abc\\de", "attr abc", "mkdir abc", "mkdir abc\\de"}},
      {"abc:", "", "", {"attr abc:"}},
      {"C:\\a\\b", "C:\\a", "", {"attr C:\\a\\b", "attr C:\\a", "mkdir C:\\a\\b"}},
      {"C:\\x\\y", "", "C:\\x", {"attr C:\\x\\y", "attr C:\\x", "mkdir C:\\x", "mkdir C:\\x\\y"}},
  };
  for (const Case& c : cases) {
    WindowsDisk disk(c.folder, c.file);
    {
      ScopedPlatform scope(disk);
      MakeDirectoryPath(c.dir);
    }
    EXPECT_EQ(disk.calls, c.calls) << c.dir;
  }
}

}  // namespace
}  // namespace plf
