#include "driver/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "support/fault_platform.h"
#include "support/package_bytes.h"
#include "text/ini_string_list.h"

namespace plf {
namespace {

using test::FaultPlatform;
using test::LocalWriteTime;
using test::Noise;
using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Lines = std::vector<std::pair<std::string, std::string>>;

struct Item {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
  bool withoutData = false;       // compressed size 0
  std::int32_t recordedSize = 0;  // for an entry without data
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
      if (item.withoutData)
        writer.AddEmpty(item.name, item.recordedSize, item.date);
      else
        writer.AddBuffer(item.name, item.data.data(), item.data.size(), item.date);
    }
    writer.Finish();
    entries = writer.Entries();
  }

  void RunScript(const std::string& script) {
    TPreLoadReader reader(package);
    TIniStringList ini;
    ini.LoadText(script);
    InstallFiles(reader, ini);
  }
  // The message of the E the run raised; other exceptions go on.
  template <class E = Exception>
  std::string ScriptFailure(const std::string& script) {
    try {
      RunScript(script);
    } catch (const E& e) {
      return e.Message();
    }
    return "no exception";
  }

  // "[Options]" with the given lines (if any), then "[Files]" with one
  // "entry=target" line per pair, targets relative to the temp folder.
  static std::string Script(const Lines& files, const std::vector<std::string>& options, const TempDir& d) {
    std::string text = options.empty() ? "" : "[Options]\r\n";
    for (const std::string& o : options) text += o + "\r\n";
    text += "[Files]\r\n";
    for (const auto& f : files) text += f.first + "=" + d / f.second + "\r\n";
    return text;
  }
  void Run(const Lines& files, const std::vector<std::string>& options = {}) { RunScript(Script(files, options, dir)); }
  template <class E = Exception>
  std::string Failure(const Lines& files, const std::vector<std::string>& options = {}) {
    return ScriptFailure<E>(Script(files, options, dir));
  }

  void PatchRecord(int index, test::RecordField field, std::int32_t value) {
    std::string bytes = ReadFileBytes(package);
    test::SetFieldAt(&bytes, test::RecordOffset(bytes, index) + field, value);
    WriteFileBytes(package, bytes);
  }
  void FlipByte(std::int64_t at) {
    std::string bytes = ReadFileBytes(package);
    bytes[static_cast<std::size_t>(at)] = static_cast<char>(bytes[static_cast<std::size_t>(at)] ^ 0x5A);
    WriteFileBytes(package, bytes);
  }
  void DamageMiddleOf(std::size_t index) { FlipByte(entries[index].dataOffset + entries[index].compressedSize / 2); }
  // Removes what earlier rows of a table left and lays out `files`.
  void Lay(const std::vector<std::string>& gone, const Lines& files = {}) {
    for (const std::string& g : gone) std::filesystem::remove_all(At(g));
    for (const auto& f : files) WriteFileBytes(At(f.first), f.second);
  }
};

// --- What the lines do -------------------------------------------------------

// "?" and "*" are file-name characters on POSIX: a target is looked up by
// its own name, never as a pattern that finds a neighbour.
TEST_F(Install, TargetNamesAreLiteral) {
  if (Sys().PathSeparator() != '/') GTEST_SKIP() << "Windows names hold no wildcards";
  Pack({{"a", "new"}});
  std::filesystem::create_directory(At("sub"));
  WriteFileBytes(At("sub/ab"), "unrelated");
  Run({{"a", "sub\\a?"}, {"a", "sub\\*"}});
  EXPECT_EQ(ReadFileBytes(At("sub/a?")), "new");
  EXPECT_EQ(ReadFileBytes(At("sub/*")), "new");
  EXPECT_EQ(ReadFileBytes(At("sub/ab")), "unrelated");
  EXPECT_FALSE(PathExists(At("sub/a?~")));
}

// The representative install of the fault matrix (tests/reliability) states
// the common lines: new files in new folders, replaces with and without a
// backup taken, a read-only target, a missing entry and a dated one.
TEST_F(Install, LinesOfAScript) {
  Item empty{"e", ""};
  empty.withoutData = true;
  empty.recordedSize = 500;
  Pack({{"APP.EXE", "new"}, {"b", "new"}, {"first", "1"}, {"second", "2"}, empty});
  Lay({}, {{"app_OLD.exe", "older"}, {"t.txt", "before"}, {"e.txt", "old"}});
  Run({{"app.exe", "app.exe"}, {" b", "b.txt"}, {"b", "one\\two\\b2.txt"}, {"first", "t.txt"},
       {"second", "t.txt"}, {"e", "e.txt"}});
  EXPECT_EQ(ReadFileBytes(At("app.exe")), "new");  // entry names are found in any letter case
  EXPECT_EQ(ReadFileBytes(At("app_OLD.exe")), "older");  // a backup without its target stays
  EXPECT_FALSE(PathExists(At("app.~exe")));
  EXPECT_FALSE(PathExists(At("b.txt")));
  EXPECT_EQ(ReadFileBytes(At("one/two/b2.txt")), "new");
  EXPECT_EQ(ReadFileBytes(At("t.txt")), "2");  // the second line for a target wins
  EXPECT_EQ(ReadFileBytes(At("t_OLD.txt")), "before");
  EXPECT_TRUE(PathExists(At("e.txt")));  // an entry without data installs an empty file
  EXPECT_EQ(ReadFileBytes(At("e.txt")), "");
  EXPECT_EQ(ReadFileBytes(At("e_OLD.txt")), "old");
}

TEST_F(Install, EmptyOrAbsentFilesSectionInstallsNothing) {
  Pack({{"a", "data"}});
  for (const char* script : {"", "[Files]\r\n", "[Files]\r\n   \r\n\r\n", "[Options]\r\nTimeStamp=12:00\r\n"})
    EXPECT_EQ(ScriptFailure(script), "no exception") << script;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // the package only
}

TEST_F(Install, LineWithoutEqualsSign) {
  Pack({{"a", "data"}, {"whole line", "x"}});
  EXPECT_EQ(ScriptFailure("[Files]\r\nnot an entry\r\n"), "no exception");
  EXPECT_EQ(ScriptFailure<EFCreateError>("[Files]\r\nwhole line\r\n"), "Nelze vytvořit soubor ");
}

// --- Stamps ------------------------------------------------------------------

TEST_F(Install, StampIsTheEntryDatePlusTimeStamp) {
  struct Case {
    const char* option;  // nullptr: no TimeStamp key
    int hour, minute, second;
  } cases[] = {
      {"TimeStamp=  12:00  ", 12, 0, 0}, {"TimeStamp=11:30:59 PM", 23, 30, 58}, {"TimeStamp=", 0, 0, 0},
      {nullptr, 0, 0, 0},
  };
  Pack({{"a", "x", Day(2000, 3, 5)}, {"dec", "x", Day(1999, 12, 31)}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option == nullptr ? "none" : c.option);
    std::vector<std::string> options;
    if (c.option != nullptr) options.push_back(c.option);
    Run({{"a", "a.txt"}, {"dec", "dec.txt"}}, options);
    const DateTimeParts p = LocalWriteTime(At("a.txt"));
    EXPECT_EQ(std::vector<int>({p.year, p.month, p.day, p.hour, p.minute, p.second}),
              std::vector<int>({2000, 3, 5, c.hour, c.minute, c.second}));
    EXPECT_EQ(LocalWriteTime(At("dec.txt")).year, 1999);
  }
}

TEST_F(Install, EntriesWithoutUsableDateKeepTheirWriteTime) {
  Pack({{"none", "x"}, {"late", "x", Day(2100, 1, 1)}, {"early", "x", Day(1979, 12, 31)}});
  for (const char* option : {"TimeStamp=12:00", "Rename=*_OLD.*"}) {
    Run({{"none", "none.txt"}, {"late", "late.txt"}, {"early", "early.txt"}}, {option});
    for (const char* name : {"none.txt", "late.txt", "early.txt"}) EXPECT_GE(LocalWriteTime(At(name)).year, 2020) << name;
  }
}

TEST_F(Install, InvalidTimeStampStopsBeforeAnything) {
  Pack({{"a", "x"}});
  EXPECT_EQ(Failure<EConvertError>({{"a", "sub/a.txt"}}, {"TimeStamp=25:00"}), "'25:00' is not a valid time");
  EXPECT_FALSE(PathExists(At("sub")));
}

// --- Failures ----------------------------------------------------------------

// Fails the operations named in `ops` (by name, or "name argument"); the
// `writeAt`-th write takes only half, as a full disk does.
struct Faults : FaultPlatform {
  explicit Faults(std::set<std::string> failing = {}, int writeAt = 0) : ops(std::move(failing)) {
    failWhen = [this, writeAt](const std::string& name, const std::string& argument) {
      if (name == "write") return ++writes == writeAt;
      return ops.count(name) + ops.count(name + " " + argument) > 0;
    };
  }
  std::set<std::string> ops;
  int writes = 0;
};

// "d=dir" after "a=dir/a.txt" moves the folder, with the file the first
// line left waiting for the end flush, to its backup name. The file is
// flushed where it now is; only a flush that really fails fails the run.
TEST_F(Install, FolderMovedAsideTakesItsWaitingFileAlong) {
  const std::string moved = At("dir_OLD./a.txt");
  struct Case {
    const char* what;
    std::set<std::string> failing;
    bool fails;  // the flush of the moved file
  } cases[] = {{"the file systems flushed", {}, false},
               {"file by file", {"syncfs"}, false},
               {"file by file, the moved file failing", {"syncfs"}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lay({"dir", "dir_OLD."});
    Pack({{"a", "new a"}, {"d", "new d"}});
    Faults faults(c.failing);
    if (c.fails) {
      const auto failing = faults.failWhen;
      // Wherever the platform spells the moved file's new name.
      faults.failWhen = [failing](const std::string& name, const std::string& argument) {
        return (name == "flushname" && argument.find("a.txt") != std::string::npos) || failing(name, argument);
      };
    }
    ScopedPlatform scope(faults);
    EXPECT_EQ(Failure<EWriteError>({{"a", "dir/a.txt"}, {"d", "dir"}}),
              c.fails ? "Stream write error" : "no exception");
    EXPECT_EQ(ReadFileBytes(At("dir")), "new d");
    EXPECT_EQ(PathExists(moved), !c.fails);
    EXPECT_EQ(ReadFileBytes(moved), c.fails ? "" : "new a");
    if (!c.failing.empty()) {
      EXPECT_EQ(faults.Count("flushname"), 2);
    }
  }
}

// A partly written target that cannot be deleted keeps the old file where
// it went.
TEST_F(Install, CorruptEntryInTheMiddle) {
  Pack({{"a", "first"}, {"b", Noise(200000, 1)}, {"c", "third"}});
  DamageMiddleOf(1);
  for (bool deleteFails : {false, true}) {
    SCOPED_TRACE(deleteFails);
    Lay({"a.txt", "b_OLD.txt"}, {{"b.txt", "old b"}});
    Faults faults({deleteFails ? "delete " + At("b.txt") : "none"});
    ScopedPlatform scope(faults);
    EXPECT_EQ(Failure({{"a", "a.txt"}, {"b", "b.txt"}, {"c", "c.txt"}}), "Decompression error -3");
    EXPECT_EQ(ReadFileBytes(At("a.txt")), "first");  // earlier lines stay
    EXPECT_EQ(ReadFileBytes(At(deleteFails ? "b_OLD.txt" : "b.txt")), "old b");  // moved back from its backup
    EXPECT_EQ(PathExists(At("b_OLD.txt")), deleteFails);
    EXPECT_TRUE(PathExists(At("b.txt")));
    EXPECT_FALSE(PathExists(At("c.txt")));  // later lines are not served
  }
}

// An entry whose record lies, or a copy the disk cuts short: the target
// keeps its old file and takes no backup unless the line installs.
TEST_F(Install, WhatTheEntryRecordsAndWhatTheDiskTakes) {
  const std::string data = Noise(100000, 3);
  const std::int32_t cut = 1000;
  struct Case {
    const char* what;
    std::vector<std::pair<test::RecordField, std::int32_t>> patches;
    int damageFromEnd;  // a byte flipped this far before the data's end; 0: none
    int shortWriteAt;   // the fault matrix runs a full disk at every write of a smaller install
    const char* message;  // nullptr: no failure
    bool installs;
  } cases[] = {
      {"cut at the recorded size", {{test::kRecordUncompressedSize, cut}}, 0, 0, nullptr, true},
      // Data that ends before its end marker: nothing more is checked.
      {"cut before the end marker", {{test::kRecordUncompressedSize, cut}, {test::kRecordCompressedSize, -4}}, 0,
       0, nullptr, true},
      {"checksum past the cut damaged", {{test::kRecordUncompressedSize, cut}}, 1, 0, "Decompression error -3",
       false},
      {"data outside the data area", {{test::kRecordCompressedSize, 1 << 20}}, 0, 0, nullptr, false},
      {"negative recorded size", {{test::kRecordUncompressedSize, -1}}, 0, 0, nullptr, false},
      {"source shorter than recorded", {{test::kRecordUncompressedSize, 100050}}, 0, 0, "Stream read error", false},
      {"disk full on the third write", {}, 0, 3, "Stream write error", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pack({{"a", data}});
    for (const auto& [field, value] : c.patches)  // a negative compressed size: that much less
      PatchRecord(0, field, field == test::kRecordCompressedSize && value < 0 ? entries[0].compressedSize + value : value);
    if (c.damageFromEnd != 0) FlipByte(entries[0].dataOffset + entries[0].compressedSize - c.damageFromEnd);
    Lay({"a_OLD.txt"}, {{"a.txt", "old"}});
    Faults faults({}, c.shortWriteAt);
    ScopedPlatform scope(faults);
    EXPECT_EQ(Failure({{"a", "a.txt"}}), c.message == nullptr ? "no exception" : c.message);
    EXPECT_EQ(ReadFileBytes(At("a.txt")), c.installs ? data.substr(0, cut) : "old");
    EXPECT_EQ(ReadFileBytes(At("a_OLD.txt")), c.installs ? "old" : "");
    EXPECT_EQ(PathExists(At("a_OLD.txt")), c.installs);
  }
}

TEST_F(Install, DelayedWriteErrorPutsTheOldFileBack) {
  struct Case {
    const char* what;
    bool failFlush;
    bool backupTaken;  // then the target is replaced through "~" and flushed at once
  } cases[] = {{"flush at the end", true, false}, {"close", false, false},
               {"flush before the target is deleted", true, true}, {"close before the target is deleted", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pack({{"a", "new"}, {"b", "b new"}});
    Lay({"a_OLD.txt"}, {{"a.txt", "old"}});
    if (c.backupTaken) WriteFileBytes(At("a_OLD.txt"), "older");
    Faults faults(c.failFlush ? std::set<std::string>{"flush", "syncfs", "flushname"} : std::set<std::string>{"close"});
    ScopedPlatform scope(faults);
    EXPECT_THROW(Run({{"a", "a.txt"}}), EWriteError);
    faults.ops.clear();
    EXPECT_EQ(ReadFileBytes(At("a.txt")), "old");
    EXPECT_EQ(PathExists(At("a_OLD.txt")), c.backupTaken);
    EXPECT_FALSE(PathExists(At("a.~txt")));
  }
}

TEST_F(Install, FilesAreOnDiskBeforeTheRunEnds) {
  Pack({{"a", "new a"}, {"b", "new b"}, {"bad", Noise(200000, 1)}});
  DamageMiddleOf(2);
  const std::vector<std::string> together = {"syncfs " + At("sub/"), "flushname " + At("sub/a.txt"),
                                             "flushname " + At("sub/b.txt")};
  struct Case {
    const char* what;
    bool fileSystems, laterLineFails;
    bool backupsTaken;  // then each target is replaced in place, through "~"
    std::vector<std::string> flushes;
  } cases[] = {
      // The file-system flush is failed, so that the flushes by name show
      // which files it had to cover.
      {"together at the end", true, false, false, together},
      {"together, also when a later line fails", true, true, false, together},
      {"each while open, where no file system can be flushed", false, false, false, {"flush", "flush"}},
      // Each flushed before its old file goes; the renames go to disk with
      // the file systems at the end.
      {"in place", true, false, true, {"flush", "flush", "syncfs " + At("sub/")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lay({"sub"});
    if (c.backupsTaken) {
      std::filesystem::create_directory(At("sub"));
      Lay({}, {{"sub/a.txt", "old"}, {"sub/a_OLD.txt", "old"}, {"sub/b.txt", "old"}, {"sub/b_OLD.txt", "old"}});
    }
    Faults faults({"syncfs"});
    faults.fileSystemFlush = c.fileSystems;
    ScopedPlatform scope(faults);
    Lines files = {{"a", "sub/a.txt"}, {"b", "sub/b.txt"}};
    if (c.laterLineFails) files.push_back({"bad", "sub/c.txt"});
    EXPECT_EQ(Failure(files) == "no exception", !c.laterLineFails);
    std::vector<std::string> flushes;
    for (const std::string& op : faults.Ops())
      if (op.rfind("flush", 0) == 0 || op.rfind("syncfs", 0) == 0) flushes.push_back(op);
    EXPECT_EQ(flushes, c.flushes);
  }
}

// An existing backup that the temporary name would hit, however the Rename
// pattern spells it, is never truncated: the temporary file takes one more
// "~" instead.
TEST_F(Install, ExistingBackupSurvivesEverySpellingOfItsName) {
  const bool windows = Sys().PathSeparator() == '\\';
  struct Case {
    std::string pattern;
    const char* backup;  // the file that must survive, under the temp folder
    const char* target = "a.txt";  // as the script has it, relative to `folder`
    const char* folder = "";       // the current folder, under the temp folder
    bool windowsOnly = false;
  } cases[] = {
      {"*.~*", "a.~txt"}, {"*~", "README~", "README"}, {".\\*.~*", "a.~txt"}, {".\\\\*.~*", "a.~txt"},
      {"..\\D\\*.~*", "D/a.~txt", "a.txt", "D"}, {dir.Path() + "\\*.~*", "a.~txt"}, {"D\\..\\*.~*", "a.~txt"},
      // A backup name with wildcards: the file the search finds with it.
      {"*.~t?t", "a.~txt"}, {"*.~TXT", "a.~txt", "a.txt", "", true}, {"*.~txt.", "a.~txt", "a.txt", "", true},
  };
  struct BackHome {
    std::filesystem::path before = std::filesystem::current_path();
    ~BackHome() { std::filesystem::current_path(before); }
  } home;
  std::filesystem::create_directory(At("D"));
  for (const Case& c : cases) {
    if (c.windowsOnly && !windows) continue;
    SCOPED_TRACE(c.pattern + " " + c.target);
    Pack({{"a", "NEW"}});
    const std::string folder = *c.folder ? At(c.folder) : dir.Path();
    const std::string realTarget = folder + "/" + c.target;
    WriteFileBytes(realTarget, "current");
    WriteFileBytes(At(c.backup), "OLDEST BACKUP");
    std::filesystem::current_path(folder);
    RunScript("[Options]\r\nRename=" + c.pattern + "\r\n[Files]\r\na=" + c.target + "\r\n");
    std::filesystem::current_path(home.before);
    EXPECT_EQ(ReadFileBytes(realTarget), "NEW");
    EXPECT_EQ(ReadFileBytes(At(c.backup)), "OLDEST BACKUP");
    std::filesystem::remove(realTarget);
    std::filesystem::remove(At(c.backup));
  }
}

TEST_F(Install, PatternNamingTheTargetItselfKeepsNoBackup) {
  Pack({{"good", "new"}, {"bad", Noise(200000, 1)}});
  DamageMiddleOf(1);
  WriteFileBytes(At("a.txt"), "old");
  // Dated before 1980, the target does not pass the file-exists test that
  // guards the rename.
  std::filesystem::last_write_time(At("a.txt"), std::filesystem::file_time_type::clock::now() -
                                                    std::chrono::hours(24 * 365 * 60));
  Faults faults;
  ScopedPlatform scope(faults);
  Run({{"good", "a.txt"}}, {"Rename=*.*"});
  EXPECT_EQ(ReadFileBytes(At("a.txt")), "new");
  // A failing line must not take the target for its own backup.
  EXPECT_THROW(Run({{"bad", "a.txt"}}, {"Rename=*.*"}), Exception);
  EXPECT_EQ(ReadFileBytes(At("a.txt")), "new");
  EXPECT_FALSE(PathExists(At("a.~txt")));
  for (const std::string& op : faults.Ops()) EXPECT_NE(op.rfind("rename " + At("a.txt") + " ", 0), 0u) << op;
}

// What a file costs the system, since under Wine (and on Windows) each call
// on a name scans its folder: a new file is one attribute query, one create
// and one close, dated through the handle that wrote it; a replaced one
// adds only what its backup and rename need. The folder the lines share is
// asked for once, and again after a line moved a folder aside.
TEST_F(Install, EachFileCostsOnlyTheCallsItNeeds) {
  Pack({{"a", "A", Day(2001, 2, 3)}, {"b", "B", Day(2001, 2, 3)}, {"c", "C", Day(2001, 2, 3)}, {"d", "D"}});
  std::filesystem::create_directory(At("sub"));
  WriteFileBytes(At("sub/c.txt"), "old c");
  std::filesystem::create_directory(At("sub/d"));
  WriteFileBytes(At("sub/d/inside"), "x");
  FaultPlatform calls;
  {
    ScopedPlatform scope(calls);
    Run({{"a", "sub/a.txt"}, {"b", "sub/b.txt"}, {"c", "sub/c.txt"}, {"d", "sub/d"}, {"a", "sub/e.txt"}});
  }
  const struct {
    const char* call;
    long count;
  } expected[] = {
      {"attributes", 1 + 5 + 1},  // the folder twice (after "d" moved one), each target once
      {"create", 5},              // every file written once, none opened again to be dated
      {"open", 1},                // the package
      {"settime", 4},             // "d" has no date
      {"findfirst", 0},           // a backup name without wildcards is not searched
      {"rename", 2},              // the two targets moved to their backups
  };
  for (const auto& e : expected) EXPECT_EQ(calls.Count(e.call), e.count) << e.call;
  EXPECT_EQ(ReadFileBytes(At("sub/c.txt")), "C");
  EXPECT_EQ(ReadFileBytes(At("sub/c_OLD.txt")), "old c");
  EXPECT_EQ(ReadFileBytes(At("sub/d")), "D");
  EXPECT_EQ(ReadFileBytes(At("sub/d_OLD./inside")), "x");  // a folder at the target goes to the backup name
  for (const char* dated : {"sub/a.txt", "sub/c.txt"}) {
    const DateTimeParts p = LocalWriteTime(At(dated));
    EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 20010203) << dated;
  }
}

// The real disk, as a platform that flushes each file on its own and lets
// helper threads do it; the flush of one named file fails.
class BackgroundDisk : public PlatformWrapper {
 public:
  BackgroundDisk() : PlatformWrapper(DefaultPlatform()) {}
  std::string failing;  // the file name whose flush fails
  std::set<std::thread::id> flushedOn;
  std::vector<std::string> flushed;

  bool CanFlushInBackground() override { return true; }
  bool CanFlushFileSystem(const std::string&) override { return false; }
  FileHandle OpenFile(const std::string& path, Access a, Share s, Disposition d) override {
    const FileHandle h = Inner().OpenFile(path, a, s, d);
    const std::lock_guard<std::mutex> lock(mutex_);
    names_[h] = path;
    return h;
  }
  bool FlushFile(FileHandle h) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    flushedOn.insert(std::this_thread::get_id());
    const std::string name = names_[h].substr(names_[h].find_last_of("/\\") + 1);
    flushed.push_back(name);
    return name != failing && Inner().FlushFile(h);
  }

 private:
  std::mutex mutex_;
  std::map<FileHandle, std::string> names_;
};

// Where each file is flushed on its own (Windows), new files are flushed
// and closed on helper threads while the next are written; the run still
// ends only when all are on disk, and one that cannot be flushed is taken
// back as the end flush takes it back: deleted, its backup put back, the
// run failed after every other file was flushed.
TEST_F(Install, FilesFlushedInTheBackgroundAreOnDiskOrTakenBack) {
  Pack({{"a", "new a"}, {"b", "new b"}, {"c", "new c"}, {"d", "new d"}});
  for (const std::string failing : {"", "b.txt"}) {
    SCOPED_TRACE(failing);
    Lay({"sub"});
    std::filesystem::create_directory(At("sub"));
    // c is replaced in place, flushed before the old one goes.
    Lay({}, {{"sub/b.txt", "old b"}, {"sub/c.txt", "old c"}, {"sub/c_OLD.txt", "older c"}});
    BackgroundDisk disk;
    disk.failing = failing;
    {
      ScopedPlatform scope(disk);
      EXPECT_EQ(Failure<EWriteError>({{"a", "sub/a.txt"}, {"b", "sub/b.txt"}, {"c", "sub/c.txt"}, {"d", "sub/d.txt"}}),
                failing.empty() ? "no exception" : "Stream write error");
    }
    std::sort(disk.flushed.begin(), disk.flushed.end());
    EXPECT_EQ(disk.flushed, (std::vector<std::string>{"a.txt", "b.txt", "c.~txt", "d.txt"}));
    EXPECT_GE(disk.flushedOn.size(), 2u) << "new files are flushed on helper threads";
    EXPECT_EQ(ReadFileBytes(At("sub/a.txt")), "new a");
    EXPECT_EQ(ReadFileBytes(At("sub/b.txt")), failing.empty() ? "new b" : "old b");
    EXPECT_EQ(PathExists(At("sub/b_OLD.txt")), failing.empty());
    EXPECT_EQ(ReadFileBytes(At("sub/c.txt")), "new c");
    EXPECT_EQ(ReadFileBytes(At("sub/d.txt")), "new d");
  }
}

}  // namespace
}  // namespace plf
