#include "driver/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
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
using test::Noise;
using test::LocalWriteTime;
using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

struct Item {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
  bool withoutData = false;  // compressed size 0
  std::int32_t recordedSize = 0;  // for an entry without data
};

PackedDate Day(int y, int m, int d) {
  PackedDate date;
  EXPECT_TRUE(PackedDate::FromCalendar(y, m, d, &date));
  return date;
}

// Bytes that compress, but not to nothing.
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

  // "[Options]" with the given lines (if any), then "[Files]" with one
  // "entry=target" line per pair, targets relative to the temp folder.
  static std::string Script(const std::vector<std::string>& options,
                            const std::vector<std::pair<std::string, std::string>>& files, const TempDir& d) {
    std::string text;
    if (!options.empty()) {
      text += "[Options]\r\n";
      for (const std::string& o : options) text += o + "\r\n";
    }
    text += "[Files]\r\n";
    for (const auto& f : files) text += f.first + "=" + d / f.second + "\r\n";
    return text;
  }

  void RunScript(const std::string& script) {
    TPreLoadReader reader(package);
    TIniStringList ini;
    ini.LoadText(script);
    InstallFiles(reader, ini);
  }

  void Run(const std::vector<std::pair<std::string, std::string>>& files,
           const std::vector<std::string>& options = {}) {
    RunScript(Script(options, files, dir));
  }

  // Changes the package file in place.
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
  std::int64_t DataEnd(std::size_t index) const {
    return static_cast<std::int64_t>(entries[index].dataOffset) + entries[index].compressedSize;
  }
};

// --- The states of one line ---------------------------------------------------

TEST_F(Install, StateTableOfOneLine) {
  struct Case {
    bool target;
    bool backup;
    const char* backupAfter;
  } cases[] = {
      {false, false, nullptr},
      {true, false, "old"},
      {true, true, "older"},
      {false, true, "older"},
  };
  Pack({{"app.exe", "new"}});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.target) + "/" + std::to_string(c.backup));
    std::filesystem::remove(At("app.exe"));
    std::filesystem::remove(At("app_OLD.exe"));
    if (c.target) WriteFileBytes(At("app.exe"), "old");
    if (c.backup) WriteFileBytes(At("app_OLD.exe"), "older");
    Run({{"app.exe", "app.exe"}});
    EXPECT_EQ(ReadFileBytes(At("app.exe")), "new");
    EXPECT_EQ(PathExists(At("app_OLD.exe")), c.backupAfter != nullptr);
    if (c.backupAfter != nullptr) {
      EXPECT_EQ(ReadFileBytes(At("app_OLD.exe")), c.backupAfter);
    }
    EXPECT_FALSE(PathExists(At("app.~exe")));
  }
}

TEST_F(Install, SecondRunKeepsTheOldestBackup) {
  Pack({{"APP.EXE", "new"}});
  WriteFileBytes(At("app.exe"), "old");
  Run({{"app.exe", "app.exe"}});
  WriteFileBytes(At("app.exe"), "changed by the user");
  Run({{"app.exe", "app.exe"}});
  EXPECT_EQ(ReadFileBytes(At("app.exe")), "new");
  EXPECT_EQ(ReadFileBytes(At("app_OLD.exe")), "old");
}

TEST_F(Install, FolderAtTheTargetIsMovedToTheBackupName) {
  Pack({{"a", "new"}});
  std::filesystem::create_directory(At("app.exe"));
  WriteFileBytes(At("app.exe/inside"), "x");
  Run({{"a", "app.exe"}});
  EXPECT_EQ(ReadFileBytes(At("app.exe")), "new");
  EXPECT_EQ(ReadFileBytes(At("app_OLD.exe/inside")), "x");
}

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

TEST_F(Install, LinesPassedOverSilently) {
  Pack({{"a", "new"}, {"b", "new"}});
  WriteFileBytes(At("ro.txt"), "read-only");
  test::MakeReadOnly(At("ro.txt"), true);
  Run({{"missing", "sub/dir/x.txt"}, {"a", "ro.txt"}, {" b", "b.txt"}, {"b", "b2.txt"}});
  EXPECT_TRUE(std::filesystem::is_directory(At("sub/dir")));  // made before the lookup
  EXPECT_FALSE(PathExists(At("sub/dir/x.txt")));
  EXPECT_EQ(ReadFileBytes(At("ro.txt")), "read-only");
  EXPECT_FALSE(PathExists(At("ro_OLD.txt")));
  EXPECT_FALSE(PathExists(At("b.txt")));
  EXPECT_EQ(ReadFileBytes(At("b2.txt")), "new");
}

TEST_F(Install, NestedFoldersFromBackslashPaths) {
  Pack({{"a", "data"}});
  RunScript("[Files]\r\na=" + dir.Path() + "\\one\\two\\a.txt\r\n");
  EXPECT_EQ(ReadFileBytes(At("one/two/a.txt")), "data");
}

TEST_F(Install, EmptyOrAbsentFilesSectionInstallsNothing) {
  Pack({{"a", "data"}});
  for (const char* script : {"", "[Files]\r\n", "[Files]\r\n   \r\n\r\n", "[Options]\r\nTimeStamp=12:00\r\n"})
    EXPECT_NO_THROW(RunScript(script)) << script;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);  // the package only
}

TEST_F(Install, TwoLinesForOneTargetTheSecondWins) {
  Pack({{"first", "1"}, {"second", "2"}});
  WriteFileBytes(At("t.txt"), "before");
  Run({{"first", "t.txt"}, {"second", "t.txt"}});
  EXPECT_EQ(ReadFileBytes(At("t.txt")), "2");
  EXPECT_EQ(ReadFileBytes(At("t_OLD.txt")), "before");
}

TEST_F(Install, EntryWithoutDataInstallsAnEmptyFile) {
  Item empty{"e", ""};
  empty.withoutData = true;
  empty.recordedSize = 500;
  Pack({empty});
  WriteFileBytes(At("e.txt"), "old");
  Run({{"e", "e.txt"}});
  EXPECT_TRUE(PathExists(At("e.txt")));
  EXPECT_EQ(ReadFileBytes(At("e.txt")), "");
  EXPECT_EQ(ReadFileBytes(At("e_OLD.txt")), "old");
}

TEST_F(Install, LineWithoutEqualsSign) {
  Pack({{"a", "data"}, {"whole line", "x"}});
  EXPECT_NO_THROW(RunScript("[Files]\r\nnot an entry\r\n"));
  try {
    RunScript("[Files]\r\nwhole line\r\n");
    FAIL() << "no exception";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message(), "Nelze vytvořit soubor ");
  }
}

TEST_F(Install, LargeEntryIsCopiedWhole) {
  const std::string data = Noise(3 * 32768 + 123, 7);
  Pack({{"big", data}});
  Run({{"big", "big.bin"}});
  EXPECT_EQ(ReadFileBytes(At("big.bin")), data);
}

TEST_F(Install, DataIsCutAtTheRecordedSize) {
  // Also when the entry's data ends before its end marker: nothing more is
  // checked then.
  for (bool cutChecksum : {false, true}) {
    const std::string data = Noise(100000, 3);
    Pack({{"a", data}});
    PatchRecord(0, test::kRecordUncompressedSize, 1000);
    if (cutChecksum) PatchRecord(0, test::kRecordCompressedSize, entries[0].compressedSize - 4);
    Run({{"a", "a.txt"}});
    EXPECT_EQ(ReadFileBytes(At("a.txt")), data.substr(0, 1000)) << cutChecksum;
  }
}

// --- Stamps ----------------------------------------------------------------------

TEST_F(Install, StampIsTheEntryDatePlusTimeStamp) {
  struct Case {
    const char* option;  // nullptr: no TimeStamp key
    int hour, minute, second;
  } cases[] = {
      {"TimeStamp=12:00", 12, 0, 0},
      {"TimeStamp=12:00:01", 12, 0, 0},
      {"TimeStamp=  12:00  ", 12, 0, 0},
      {"TimeStamp=11:30:59 PM", 23, 30, 58},
      {"TimeStamp=", 0, 0, 0},
      {nullptr, 0, 0, 0},
  };
  Pack({{"a", "x", Day(2000, 3, 5)}, {"dec", "x", Day(1999, 12, 31)}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option == nullptr ? "none" : c.option);
    std::vector<std::string> options;
    if (c.option != nullptr) options.push_back(c.option);
    Run({{"a", "a.txt"}, {"dec", "dec.txt"}}, options);
    const DateTimeParts p = LocalWriteTime(At("a.txt"));
    EXPECT_EQ(p.year, 2000);
    EXPECT_EQ(p.month, 3);
    EXPECT_EQ(p.day, 5);
    EXPECT_EQ(p.hour, c.hour);
    EXPECT_EQ(p.minute, c.minute);
    EXPECT_EQ(p.second, c.second);
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
  try {
    Run({{"a", "sub/a.txt"}}, {"TimeStamp=25:00"});
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'25:00' is not a valid time");
  }
  EXPECT_FALSE(PathExists(At("sub")));
}

// --- Failures ------------------------------------------------------------------

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
  } cases[] = {
      {"the file systems flushed", {}, false},
      {"file by file", {"syncfs"}, false},
      {"file by file, the moved file failing", {"syncfs"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(At("dir"));
    std::filesystem::remove_all(At("dir_OLD."));
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
    if (c.fails)
      EXPECT_THROW(Run({{"a", "dir/a.txt"}, {"d", "dir"}}), EWriteError);
    else
      Run({{"a", "dir/a.txt"}, {"d", "dir"}});
    EXPECT_EQ(ReadFileBytes(At("dir")), "new d");
    EXPECT_EQ(PathExists(moved), !c.fails);
    if (!c.fails) {
      EXPECT_EQ(ReadFileBytes(moved), "new a");
    }
    if (!c.failing.empty()) {
      EXPECT_EQ(faults.Count("flushname"), 2);
    }
  }
}

TEST_F(Install, CorruptEntryInTheMiddle) {
  Pack({{"a", "first"}, {"b", Noise(200000, 1)}, {"c", "third"}});
  FlipByte(entries[1].dataOffset + entries[1].compressedSize / 2);
  WriteFileBytes(At("b.txt"), "old b");
  try {
    Run({{"a", "a.txt"}, {"b", "b.txt"}, {"c", "c.txt"}});
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Decompression error -3");
  }
  EXPECT_EQ(ReadFileBytes(At("a.txt")), "first");    // earlier lines stay
  EXPECT_EQ(ReadFileBytes(At("b.txt")), "old b");    // moved back from its backup
  EXPECT_FALSE(PathExists(At("b_OLD.txt")));
  EXPECT_FALSE(PathExists(At("c.txt")));             // later lines are not served
}

TEST_F(Install, EntriesThatCannotBeOpenedLeaveTheTarget) {
  // Data outside the data area, and a negative recorded size.
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    Pack({{"a", "new data"}});
    if (variant == 0)
      PatchRecord(0, test::kRecordCompressedSize, 1 << 20);
    else
      PatchRecord(0, test::kRecordUncompressedSize, -1);
    WriteFileBytes(At("a.txt"), "old");
    Run({{"a", "a.txt"}});
    EXPECT_EQ(ReadFileBytes(At("a.txt")), "old");
    EXPECT_FALSE(PathExists(At("a_OLD.txt")));
  }
}

TEST_F(Install, ShortCopiesFailTheLine) {
  struct Case {
    const char* what;
    bool shortSource;
    int shortWriteAt;
    const char* message;
  } cases[] = {
      {"source shorter than recorded", true, 0, "Stream read error"},
      {"disk full on the first write", false, 1, "Stream write error"},
      {"disk full on the third write", false, 3, "Stream write error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string data = Noise(100000, 5);
    Pack({{"a", data}});
    if (c.shortSource) PatchRecord(0, test::kRecordUncompressedSize, 100050);
    WriteFileBytes(At("a.txt"), "old");
    std::filesystem::remove(At("a_OLD.txt"));
    Faults faults({}, c.shortWriteAt);
    ScopedPlatform scope(faults);
    try {
      Run({{"a", "a.txt"}});
      FAIL() << "no exception";
    } catch (const EFilerError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
    EXPECT_EQ(ReadFileBytes(At("a.txt")), "old");
    EXPECT_FALSE(PathExists(At("a_OLD.txt")));
  }
}

TEST_F(Install, ChecksumIsVerifiedPastTheRecordedSize) {
  const std::string data = Noise(100000, 9);
  Pack({{"a", data}});
  PatchRecord(0, test::kRecordUncompressedSize, 1000);
  FlipByte(DataEnd(0) - 1);  // the checksum
  WriteFileBytes(At("a.txt"), "old");
  try {
    Run({{"a", "a.txt"}});
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Decompression error -3");
  }
  EXPECT_EQ(ReadFileBytes(At("a.txt")), "old");
}

TEST_F(Install, DelayedWriteErrorPutsTheOldFileBack) {
  struct Case {
    const char* what;
    bool failFlush;
    bool backupTaken;  // then the target is replaced through "~" and flushed at once
  } cases[] = {
      {"flush at the end", true, false},
      {"close", false, false},
      {"flush before the target is deleted", true, true},
      {"close before the target is deleted", false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Pack({{"a", "new"}, {"b", "b new"}});
    WriteFileBytes(At("a.txt"), "old");
    std::filesystem::remove(At("a_OLD.txt"));
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
  FlipByte(entries[2].dataOffset + entries[2].compressedSize / 2);
  const std::vector<std::string> together = {"syncfs " + At("sub/"), "flushname " + At("sub/a.txt"),
                                             "flushname " + At("sub/b.txt")};
  struct Case {
    const char* what;
    bool fileSystems;
    bool laterLineFails;
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
    std::filesystem::remove_all(At("sub"));
    if (c.backupsTaken) {
      std::filesystem::create_directory(At("sub"));
      for (const char* name : {"sub/a.txt", "sub/a_OLD.txt", "sub/b.txt", "sub/b_OLD.txt"})
        WriteFileBytes(At(name), "old");
    }
    Faults faults({"syncfs"});
    faults.fileSystemFlush = c.fileSystems;
    ScopedPlatform scope(faults);
    std::vector<std::pair<std::string, std::string>> files = {{"a", "sub/a.txt"}, {"b", "sub/b.txt"}};
    if (c.laterLineFails) files.push_back({"bad", "sub/c.txt"});
    if (c.laterLineFails)
      EXPECT_THROW(Run(files), Exception);
    else
      Run(files);
    std::vector<std::string> flushes;
    for (const std::string& op : faults.Ops())
      if (op.rfind("flush", 0) == 0 || op.rfind("syncfs", 0) == 0) flushes.push_back(op);
    EXPECT_EQ(flushes, c.flushes);
  }
}

TEST_F(Install, FailedRenameOfTheTemporaryFileKeepsTheNewData) {
  Pack({{"a", "new"}});
  WriteFileBytes(At("a.txt"), "old");
  WriteFileBytes(At("a_OLD.txt"), "older");  // taken: replaced through "~"
  Faults faults({"rename " + At("a.~txt") + " -> " + At("a.txt")});
  ScopedPlatform scope(faults);
  try {
    Run({{"a", "a.txt"}});
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Cannot rename " + At("a.~txt") + " to " + At("a.txt") + "!");
  }
  EXPECT_FALSE(PathExists(At("a.txt")));
  EXPECT_EQ(ReadFileBytes(At("a.~txt")), "new");
  EXPECT_EQ(ReadFileBytes(At("a_OLD.txt")), "older");
}

TEST_F(Install, NoMoveBackOverAFileThatStandsAtTheTarget) {
  // The partly written target cannot be deleted: the backup stays where it is.
  Pack({{"b", Noise(200000, 1)}});
  FlipByte(entries[0].dataOffset + entries[0].compressedSize / 2);
  WriteFileBytes(At("b.txt"), "old b");
  Faults faults({"delete " + At("b.txt")});
  ScopedPlatform scope(faults);
  EXPECT_THROW(Run({{"b", "b.txt"}}), Exception);
  EXPECT_EQ(ReadFileBytes(At("b_OLD.txt")), "old b");
  EXPECT_TRUE(PathExists(At("b.txt")));
}

// An existing backup that the temporary name would hit, however the Rename
// pattern spells it, is never truncated: the temporary file takes one more
// "~" instead.
TEST_F(Install, ExistingBackupSurvivesEverySpellingOfItsName) {
  const bool windows = Sys().PathSeparator() == '\\';
  struct Case {
    std::string pattern;
    const char* target;  // as the script has it, relative to `folder`
    const char* folder;  // the current folder, under the temp folder
    const char* backup;  // the file that must survive, under the temp folder
    bool windowsOnly;
  } cases[] = {
      {"*.~*", "a.txt", "", "a.~txt", false},
      {"*~", "README", "", "README~", false},
      {".\\*.~*", "a.txt", "", "a.~txt", false},
      {".\\\\*.~*", "a.txt", "", "a.~txt", false},
      {"..\\D\\*.~*", "a.txt", "D", "D/a.~txt", false},
      {dir.Path() + "\\*.~*", "a.txt", "", "a.~txt", false},
      {"D\\..\\*.~*", "a.txt", "", "a.~txt", false},
      // A backup name with wildcards: the file the search finds with it.
      {"*.~t?t", "a.txt", "", "a.~txt", false},
      {"*.~TXT", "a.txt", "", "a.~txt", true},
      {"*.~txt.", "a.txt", "", "a.~txt", true},
  };
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::create_directory(At("D"));
  for (const Case& c : cases) {
    if (c.windowsOnly && !windows) continue;
    SCOPED_TRACE(c.pattern + " " + c.target);
    Pack({{"a", "NEW"}});
    const std::string folder = *c.folder ? At(c.folder) : dir.Path();
    const std::string realTarget = std::string(c.target) == "README" ? folder + "/README" : folder + "/a.txt";
    WriteFileBytes(realTarget, "current");
    WriteFileBytes(At(c.backup), "OLDEST BACKUP");
    std::filesystem::current_path(folder);
    try {
      RunScript("[Options]\r\nRename=" + c.pattern + "\r\n[Files]\r\na=" + c.target + "\r\n");
    } catch (...) {
      std::filesystem::current_path(before);
      throw;
    }
    std::filesystem::current_path(before);
    EXPECT_EQ(ReadFileBytes(realTarget), "NEW");
    EXPECT_EQ(ReadFileBytes(At(c.backup)), "OLDEST BACKUP");
    std::filesystem::remove(realTarget);
    std::filesystem::remove(At(c.backup));
  }
}

TEST_F(Install, PatternNamingTheTargetItselfKeepsNoBackup) {
  Pack({{"good", "new"}, {"bad", Noise(200000, 1)}});
  FlipByte(entries[1].dataOffset + entries[1].compressedSize / 2);
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

}  // namespace
}  // namespace plf

namespace plf {
namespace {

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
  for (const char* dated : {"sub/a.txt", "sub/c.txt"}) {
    const DateTimeParts p = LocalWriteTime(At(dated));
    EXPECT_EQ(p.year * 10000 + p.month * 100 + p.day, 20010203) << dated;
  }
}

}  // namespace
}  // namespace plf

namespace plf {
namespace {

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
    const std::string& name = names_[h];
    flushed.push_back(name.substr(name.find_last_of("/\\") + 1));
    return name.size() >= failing.size() && name.compare(name.size() - failing.size(), failing.size(), failing) == 0
               ? false
               : Inner().FlushFile(h);
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
  for (const char* failing : {"", "b.txt"}) {
    SCOPED_TRACE(failing);
    std::filesystem::remove_all(At("sub"));
    std::filesystem::create_directory(At("sub"));
    WriteFileBytes(At("sub/b.txt"), "old b");
    WriteFileBytes(At("sub/c.txt"), "old c");
    WriteFileBytes(At("sub/c_OLD.txt"), "older c");  // c is replaced in place, flushed before the old one goes
    BackgroundDisk disk;
    disk.failing = *failing == '\0' ? "none" : failing;
    {
      ScopedPlatform scope(disk);
      const std::vector<std::pair<std::string, std::string>> files = {
          {"a", "sub/a.txt"}, {"b", "sub/b.txt"}, {"c", "sub/c.txt"}, {"d", "sub/d.txt"}};
      if (*failing == '\0')
        Run(files);
      else
        EXPECT_THROW(Run(files), EWriteError);
    }
    std::sort(disk.flushed.begin(), disk.flushed.end());
    EXPECT_EQ(disk.flushed, (std::vector<std::string>{"a.txt", "b.txt", "c.~txt", "d.txt"}));
    EXPECT_GE(disk.flushedOn.size(), 2u) << "new files are flushed on helper threads";
    EXPECT_EQ(ReadFileBytes(At("sub/a.txt")), "new a");
    EXPECT_EQ(ReadFileBytes(At("sub/b.txt")), *failing == '\0' ? "new b" : "old b");
    EXPECT_EQ(PathExists(At("sub/b_OLD.txt")), *failing == '\0');
    EXPECT_EQ(ReadFileBytes(At("sub/c.txt")), "new c");
    EXPECT_EQ(ReadFileBytes(At("sub/d.txt")), "new d");
  }
}

}  // namespace
}  // namespace plf
