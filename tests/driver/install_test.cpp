#include "driver/install.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/file_stamp.h"
#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "support/fault_platform.h"
#include "support/package_bytes.h"
#include "text/ini_string_list.h"

namespace plf {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Lines = std::vector<std::pair<std::string, std::string>>;
using Files = std::map<std::string, std::string>;

struct Item {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
  std::int32_t emptySize = -1;  // 0 or more: an entry without data, of that recorded size
};

PackedDate Day(int y, int m, int d) {
  PackedDate date;
  EXPECT_TRUE(PackedDate::FromCalendar(y, m, d, &date));
  return date;
}

class Install : public ::testing::Test {
 protected:
  TempDir dir;
  std::string package = dir / "Install.PLF";
  std::vector<TPreLoadEntry> entries;

  std::string At(const std::string& relative) const { return dir / relative; }

  void Pack(const std::vector<Item>& items) {
    TPackageWriter writer(package);
    for (const Item& item : items) {
      if (item.emptySize >= 0)
        writer.AddEmpty(item.name, item.emptySize, item.date);
      else
        writer.AddBuffer(item.name, item.data.data(), item.data.size(), item.date);
    }
    writer.Finish();
    entries = writer.Entries();
  }

  // The message of the E the run raised; other exceptions go on.
  template <class E = Exception>
  std::string ScriptFailure(const std::string& script) {
    try {
      TPreLoadReader reader(package);
      TIniStringList ini;
      ini.LoadText(script);
      InstallFiles(reader, ini);
    } catch (const E& e) {
      return e.Message();
    }
    return "no exception";
  }
  // "[Options]" with the given lines (if any), then "[Files]" with one
  // "entry=target" line per pair, targets relative to the temp folder.
  template <class E = Exception>
  std::string Failure(const Lines& files, const std::vector<std::string>& options = {}) {
    std::string text = options.empty() ? "" : "[Options]\r\n";
    for (const std::string& o : options) text += o + "\r\n";
    text += "[Files]\r\n";
    for (const auto& f : files) text += f.first + "=" + dir / f.second + "\r\n";
    return ScriptFailure<E>(text);
  }

  // Flips a byte in the middle, or the last byte, of an entry's data.
  void Damage(std::size_t index, bool last = false) {
    const TPreLoadEntry& e = entries[index];
    std::string bytes = ReadFileBytes(package);
    bytes[static_cast<std::size_t>(e.dataOffset + (last ? e.compressedSize - 1 : e.compressedSize / 2))] ^= 0x5A;
    WriteFileBytes(package, bytes);
  }
  // Removes what earlier rows of a table left and lays out `files`.
  void Lay(const std::vector<std::string>& gone, const Files& files = {}) {
    for (const std::string& g : gone) fs::remove_all(At(g));
    for (const auto& f : files) {
      fs::create_directories(fs::path(At(f.first)).parent_path());
      WriteFileBytes(At(f.first), f.second);
    }
  }
  // Every file but the package, by its path under the folder. (Windows drops
  // a name's trailing dot: such names are checked one by one.)
  Files Listing() const {
    Files files;
    for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
      const std::string name = fs::relative(e.path(), dir.Path()).generic_string();
      if (e.is_regular_file() && name != "Install.PLF") files[name] = ReadFileBytes(e.path().string());
    }
    return files;
  }
};

// --- What the lines do -------------------------------------------------------

// "?" is a file-name character on POSIX: a target is looked up by its own
// name, never as a pattern that finds a neighbour.
TEST_F(Install, TargetNamesAreLiteral) {
  if (Sys().PathSeparator() != '/') GTEST_SKIP() << "Windows names hold no wildcards";
  Pack({{"a", "new"}});
  Lay({}, {{"sub/ab", "unrelated"}});
  EXPECT_EQ(Failure({{"a", "sub\\a?"}}), "no exception");
  EXPECT_EQ(Listing(), (Files{{"sub/a?", "new"}, {"sub/ab", "unrelated"}}));
}

// The representative install of the fault matrix (tests/reliability) states
// the common lines: new files in new folders, replaces with and without a
// backup taken, a read-only target, a missing entry and a dated one.
TEST_F(Install, LinesOfAScript) {
  Pack({{"APP.EXE", "new"}, {"b", "new"}, {"first", "1"}, {"second", "2"}, {"e", "", PackedDate::None(), 500}});
  Lay({}, {{"app_OLD.exe", "older"}, {"t.txt", "before"}, {"e.txt", "old"}});
  EXPECT_EQ(Failure({{"app.exe", "app.exe"}, {" b", "b.txt"}, {"b", "one\\two\\b2.txt"}, {"first", "t.txt"},
                     {"second", "t.txt"}, {"e", "e.txt"}}),
            "no exception");
  // Entry names are found in any letter case, " b" names none, a backup
  // without its target stays, the second line for a target wins and an
  // entry without data installs an empty file.
  EXPECT_EQ(Listing(), (Files{{"app.exe", "new"}, {"app_OLD.exe", "older"}, {"one/two/b2.txt", "new"},
                              {"t.txt", "2"}, {"t_OLD.txt", "before"}, {"e.txt", ""}, {"e_OLD.txt", "old"}}));
}

// --- Stamps ------------------------------------------------------------------

// An empty TimeStamp is midnight; the DOS time holds 1980 to 2099. Entries
// without a date, or with one outside, keep the time they were written, as
// do all where the zone conversion fails.
TEST_F(Install, StampIsTheEntryDatePlusTimeStamp) {
  Pack({{"min", "x", Day(1980, 1, 1)}, {"max", "x", Day(2099, 12, 31)}, {"none", "x"}, {"late", "x", Day(2100, 1, 1)}});
  const Lines lines = {{"min", "min.txt"}, {"max", "max.txt"}, {"none", "none.txt"}, {"late", "late.txt"}};
  EXPECT_EQ(Failure(lines, {"TimeStamp="}), "no exception");
  const DateTimeParts p = LocalWriteTime(At("min.txt"));
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
            std::vector<int>({1980, 1, 1, 0, 0, 0}));
  EXPECT_EQ(LocalWriteTime(At("max.txt")).year, 2099);
  for (const char* name : {"none.txt", "late.txt"}) EXPECT_GE(LocalWriteTime(At(name)).year, 2020) << name;
  struct NoZone : FaultPlatform {
    bool LocalToUtc(std::int64_t, std::int64_t*) override { return false; }
  } noZone;
  ScopedPlatform scope(noZone);
  EXPECT_EQ(Failure({{"min", "min.txt"}}), "no exception");
  EXPECT_GE(LocalWriteTime(At("min.txt")).year, 2020);
}

// Dating by path, as a tool would: two-second steps of local time; no date,
// a time before 1980 and a missing file leave everything as it was.
TEST(SetFileStamp, DatesByPathOrLeavesTheTime) {
  TempDir dir;
  const std::string path = dir / "f.txt";
  WriteFileBytes(path, "data");
  SetNoonWriteTime(path, 2001, 1, 1);
  double day = 0, early = 0;
  ASSERT_TRUE(EncodeDate(2000, 3, 5, &day) && EncodeDate(1979, 6, 1, &early));
  for (const double stamp : {0.0, -3.0, early}) SetFileStamp(path, stamp);
  EXPECT_EQ(LocalWriteTime(path).year, 2001);
  SetFileStamp(path, day + 0.5 + 1.0 / 86400);
  const DateTimeParts p = LocalWriteTime(path);
  EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
            std::vector<int>({2000, 3, 5, 12, 0, 0}));
  SetFileStamp(dir / "missing", day);
  EXPECT_FALSE(PathExists(dir / "missing"));
}

// --- Failures ----------------------------------------------------------------

// Fails the operations named in `ops` (by name, or "name argument").
struct Faults : FaultPlatform {
  explicit Faults(std::set<std::string> failing = {}) : ops(std::move(failing)) {
    failWhen = [this](const std::string& name, const std::string& argument) {
      return ops.count(name) + ops.count(name + " " + argument) > 0;
    };
  }
  std::set<std::string> ops;
};

// "d=dir" after "a=dir/a.txt" moves the folder, with the file the first
// line left waiting for the end flush, to its backup name. The file is
// flushed where it now is; only a flush that really fails fails the run.
TEST_F(Install, FolderMovedAsideTakesItsWaitingFileAlong) {
  const std::string moved = At("dir_OLD./a.txt");
  // As the platform spells the moved file's new name (Windows drops the dot).
  const std::string flushMoved = "flushname " + Sys().FullPath(At("dir_OLD.")) + Sys().PathSeparator() + "a.txt";
  struct Case {
    const char* what;
    std::set<std::string> failing;
    bool fails;  // the flush of the moved file
  } cases[] = {{"the file systems flushed", {}, false},
               {"file by file", {"syncfs"}, false},
               {"file by file, the moved file failing", {"syncfs", flushMoved}, true}};
  Pack({{"a", "new a"}, {"d", "new d"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lay({"dir", "dir_OLD."});
    Faults faults(c.failing);
    ScopedPlatform scope(faults);
    EXPECT_EQ(Failure<EWriteError>({{"a", "dir/a.txt"}, {"d", "dir"}}),
              c.fails ? "Stream write error" : "no exception");
    EXPECT_EQ(ReadFileBytes(At("dir")), "new d");
    EXPECT_EQ(PathExists(moved), !c.fails);
    EXPECT_EQ(ReadFileBytes(moved), c.fails ? "" : "new a");
    // Windows flushes no file system: its files always go by name.
    EXPECT_EQ(faults.Count("flushname"), c.failing.empty() && Sys().PathSeparator() == '/' ? 0 : 2);
  }
}

// A partly written target that cannot be deleted keeps the old file under
// its backup name; the lines served before go to disk all the same.
TEST_F(Install, UndeletablePartOfAFailedLineKeepsTheBackup) {
  Pack({{"a", "new a"}, {"b", Noise(200000, 1)}});
  Damage(1);
  WriteFileBytes(At("b.txt"), "old b");
  Faults faults({"delete " + At("b.txt")});
  ScopedPlatform scope(faults);
  EXPECT_EQ(Failure({{"a", "a.txt"}, {"b", "b.txt"}}), "Decompression error -3");
  EXPECT_EQ(ReadFileBytes(At("b_OLD.txt")), "old b");
  EXPECT_EQ(faults.Count("syncfs"), 1);
}

// A line that fails, or an entry whose record lies, leaves the target its
// old file and no new backup; a record cut short installs what it records.
// (The fault matrix runs a full disk at every write.)
TEST_F(Install, WhatAFailingLineLeaves) {
  const std::string data = Noise(100000, 3);
  const std::int32_t cut = 1000;
  const std::set<std::string> flushes = {"flush", "syncfs", "flushname"};
  const char* const kWrite = "Stream write error";
  struct Case {
    const char* what;
    std::int32_t size;  // as recorded; 0: as written
    bool damageEnd;     // the last data byte flipped
    std::set<std::string> failing;
    bool backupTaken;  // then the target is replaced through "~" and flushed at once
    const char* message;
    bool installs;
  } cases[] = {
      {"cut at the recorded size", cut, false, {}, false, "no exception", true},
      {"checksum past the cut damaged", cut, true, {}, false, "Decompression error -3", false},
      {"negative recorded size", -1, false, {}, false, "no exception", false},
      {"source shorter than recorded", 100050, false, {}, false, "Stream read error", false},
      {"flush at the end", 0, false, flushes, false, kWrite, false},
      {"flush while open, where no file system can be", 0, false, {"flush", "no syncfs"}, false, kWrite, false},
      {"close", 0, false, {"close"}, false, kWrite, false},
      {"flush before the target is deleted", 0, false, flushes, true, kWrite, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pack({{"a", data}});
    if (c.size != 0) {
      std::string bytes = ReadFileBytes(package);
      test::SetFieldAt(&bytes, test::RecordOffset(bytes, 0) + test::kRecordUncompressedSize, c.size);
      WriteFileBytes(package, bytes);
    }
    if (c.damageEnd) Damage(0, true);
    Lay({"a_OLD.txt"}, {{"a.txt", "old"}});
    if (c.backupTaken) WriteFileBytes(At("a_OLD.txt"), "older");
    Faults faults(c.failing);
    faults.fileSystemFlush = c.failing.count("no syncfs") == 0;
    ScopedPlatform scope(faults);
    EXPECT_EQ(Failure({{"a", "a.txt"}}), c.message);
    Files expected = {{"a.txt", "old"}};
    if (c.backupTaken) expected["a_OLD.txt"] = "older";
    if (c.installs) expected = {{"a.txt", data.substr(0, cut)}, {"a_OLD.txt", "old"}};
    EXPECT_EQ(Listing(), expected);
  }
}

// An existing backup that the temporary name would hit, however the Rename
// pattern spells it, is never truncated: the temporary file takes one more
// "~" instead.
TEST_F(Install, ExistingBackupSurvivesEverySpellingOfItsName) {
  struct Case {
    std::string pattern;
    const char* backup;  // the file that must survive, under the temp folder
    const char* target = "a.txt";  // as the script has it, relative to `folder`
    const char* folder = "";       // the current folder, under the temp folder
  } cases[] = {
      {"*.~*", "a.~txt"},
      {"*~", "README~", "README"},
      {".\\*.~*", "a.~txt"},
      {".\\\\*.~*", "a.~txt"},
      {"..\\D\\*.~*", "D/a.~txt", "a.txt", "D"},
      {dir.Path() + "\\*.~*", "a.~txt"},
      {"D\\..\\*.~*", "a.~txt"},
      // A backup name with wildcards: the file the search finds with it.
      {"*.~t?t", "a.~txt"},
#ifdef _WIN32
      {"*.~TXT", "a.~txt"},
      {"*.~txt.", "a.~txt"},
#endif
  };
  struct BackHome {
    fs::path before = fs::current_path();
    ~BackHome() { fs::current_path(before); }
  } home;
  fs::create_directory(At("D"));
  Pack({{"a", "NEW"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern + " " + c.target);
    const std::string folder = *c.folder ? At(c.folder) : dir.Path();
    const std::string realTarget = folder + "/" + c.target;
    WriteFileBytes(realTarget, "current");
    WriteFileBytes(At(c.backup), "OLDEST BACKUP");
    fs::current_path(folder);
    EXPECT_EQ(ScriptFailure("[Options]\r\nRename=" + c.pattern + "\r\n[Files]\r\na=" + c.target), "no exception");
    fs::current_path(home.before);
    EXPECT_EQ(ReadFileBytes(realTarget), "NEW");
    EXPECT_EQ(ReadFileBytes(At(c.backup)), "OLDEST BACKUP");  // the next row lays both out again
  }
}

// Dated before 1980, the target does not pass the file-exists test that
// guards the rename; a failing line must still not take it for its own
// backup.
TEST_F(Install, PatternNamingTheTargetItselfKeepsNoBackup) {
  Pack({{"good", "new"}, {"bad", Noise(200000, 1)}});
  Damage(1);
  WriteFileBytes(At("a.txt"), "old");
  fs::last_write_time(At("a.txt"), fs::file_time_type::clock::now() - std::chrono::hours(24 * 365 * 60));
  EXPECT_EQ(Failure({{"good", "a.txt"}}, {"Rename=*.*"}), "no exception");
  EXPECT_EQ(Failure({{"bad", "a.txt"}}, {"Rename=*.*"}), "Decompression error -3");
  EXPECT_EQ(Listing(), (Files{{"a.txt", "new"}}));
}

// What a file costs the system, since under Wine (and on Windows) each call
// on a name scans its folder: a new file is one attribute query, one create
// and one close, dated through the handle that wrote it; a replaced one
// adds only what its backup and rename need. The folder the lines share is
// asked for once, and again after a line moved a folder aside.
TEST_F(Install, EachFileCostsOnlyTheCallsItNeeds) {
  Pack({{"a", "A", Day(2001, 2, 3)}, {"b", "B", Day(2001, 2, 3)}, {"c", "C", Day(2001, 2, 3)}, {"d", "D"}});
  Lay({}, {{"sub/c.txt", "old c"}, {"sub/d/inside", "x"}});
  FaultPlatform calls;
  {
    ScopedPlatform scope(calls);
    EXPECT_EQ(Failure({{"a", "sub/a.txt"}, {"b", "sub/b.txt"}, {"c", "sub/c.txt"}, {"d", "sub/d"}, {"a", "sub/e.txt"}}),
              "no exception");
  }
  std::map<std::string, long> counts;
  for (const char* call : {"attributes", "create", "open", "settime", "findfirst", "rename", "flush", "syncfs"})
    counts[call] = calls.Count(call);
  EXPECT_EQ(counts, (std::map<std::string, long>{
                        {"attributes", 1 + 5 + 1},  // the folder twice (after "d" moved one), each target once
                        {"create", 5},              // every file written once, none opened again to be dated
                        {"open", 1},                // the package
                        {"settime", 4},             // "d" has no date
                        {"findfirst", 0},           // a backup name without wildcards is not searched
                        {"rename", 2},              // the two targets moved to their backups
                        {"flush", 0},               // the new files go to disk together at the end
                        {"syncfs", 1},
                    }));
}

// The real disk, as a platform that flushes each file on its own and lets
// helper threads do it; the flush of the one 6-byte file fails.
class BackgroundDisk : public PlatformWrapper {
 public:
  BackgroundDisk() : PlatformWrapper(DefaultPlatform()) {}
  const std::thread::id main = std::this_thread::get_id();
  std::atomic<int> flushes{0}, elsewhere{0};  // all, and those on helper threads

  bool CanFlushInBackground() override { return true; }
  bool CanFlushFileSystem(const std::string&) override { return false; }
  bool FlushFile(FileHandle h) override {
    ++flushes;
    elsewhere += std::this_thread::get_id() != main;
    return Inner().SeekFile(h, 0, 2) != 6 && Inner().FlushFile(h);
  }
};

// Where each file is flushed on its own (Windows), new files are flushed
// and closed on helper threads while the next are written; the run still
// ends only when all are on disk, and one that cannot be flushed is taken
// back as the end flush takes it back: deleted, its backup put back, the
// run failed after every other file was flushed.
TEST_F(Install, FilesFlushedInTheBackgroundAreOnDiskOrTakenBack) {
  Pack({{"a", "new a"}, {"b", "new bb"}, {"c", "new c"}, {"d", "new d"}});
  // c is replaced in place, flushed before the old one goes.
  Lay({}, {{"sub/b.txt", "old b"}, {"sub/c.txt", "old c"}, {"sub/c_OLD.txt", "older c"}});
  BackgroundDisk disk;
  {
    ScopedPlatform scope(disk);
    EXPECT_EQ(Failure<EWriteError>({{"a", "sub/a.txt"}, {"b", "sub/b.txt"}, {"c", "sub/c.txt"}, {"d", "sub/d.txt"}}),
              "Stream write error");
  }
  EXPECT_EQ(disk.flushes, 4);
  EXPECT_GE(disk.elsewhere, 3) << "new files are flushed on helper threads";
  EXPECT_EQ(Listing(), (Files{{"sub/a.txt", "new a"}, {"sub/b.txt", "old b"}, {"sub/c.txt", "new c"},
                              {"sub/c_OLD.txt", "older c"}, {"sub/d.txt", "new d"}}));
}

}  // namespace
}  // namespace plf
