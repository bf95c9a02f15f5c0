#include "fuzz_targets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "driver/backup_name.h"
#include "driver/entry.h"
#include "driver/time_rule.h"
#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "streams/replace_stream.h"
#include "text/textutil.h"
#include "tools/memory_platform.h"

namespace plf::fuzz {

namespace {

using tools::MemoryPlatform;

void AbortOnViolation(const std::string& what) {
  std::fprintf(stderr, "invariant broken: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

ViolationHandler gHandler = AbortOnViolation;

void Check(bool holds, const std::string& what) {
  if (!holds) gHandler(what);
}

// Enough to pass every stage; more only slows the search down.
constexpr std::int64_t kReadBudget = 8 << 20;
constexpr std::size_t kDiskCapacity = 8u << 20;
constexpr int kMaxEntries = 32;

// Runs the whole program; what must hold for any package and any script.
void RunInstaller(MemoryPlatform& platform) {
  int code;
  {
    ScopedPlatform use(platform);
    code = InstallerMain();
  }
  Check(code == 0 || code == 1, "exit code " + std::to_string(code));
  Check(platform.boxes.size() <= 1 && (code == 0 || platform.boxes.size() == 1),
        "more than one message box, or exit code 1 without one");
  Check(platform.OpenHandleCount() == 0, "file handles left open after the run");
}

// Reads the stream up to `size` bytes in pieces of `piece`; false when a
// read raised. A stream that raised once must raise again: a damaged entry
// never reads on as if it had merely ended.
bool ReadEntry(TStream& stream, std::int32_t size, std::int32_t piece, std::int64_t* budget, std::string* out) {
  std::vector<char> buffer(static_cast<std::size_t>(piece));
  try {
    while (static_cast<std::int64_t>(out->size()) < size && *budget > 0) {
      const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(piece, size - std::int64_t(out->size())));
      const std::int32_t n = stream.Read(buffer.data(), want);
      Check(n <= want, "an entry stream returned more than it was asked for");
      if (n <= 0) break;
      out->append(buffer.data(), static_cast<std::size_t>(n));
      *budget -= n;
    }
    return true;
  } catch (const Exception&) {
    bool raisedAgain = false;
    try {
      stream.Read(buffer.data(), piece);
    } catch (const Exception&) {
      raisedAgain = true;
    }
    Check(raisedAgain, "a damaged entry read on after its error");
    return false;
  }
}

void ExerciseReader(TPreLoadReader& reader) {
  const int limit = std::min(reader.EntryCount(), kMaxEntries);
  std::int64_t budget = kReadBudget;
  std::vector<std::string> contents;
  std::vector<int> whole;  // entries read to their end without an error
  for (int i = 0; i < limit; ++i) {
    const int found = reader.FindEntry(reader.EntryName(i));
    Check(found >= 0 && found <= i, "FindEntry does not find an entry by its own name");
    const double date = reader.EntryDate(i);
    Check(std::isfinite(date) && date == std::trunc(date), "an entry date with a time of day");

    std::unique_ptr<TStream> stream;
    std::int32_t size = -1;
    const bool opened = reader.OpenEntry(i, &stream, &size);
    Check(opened == reader.CanOpenEntry(i), "OpenEntry and CanOpenEntry disagree");
    Check(opened == (stream != nullptr) && (opened || size == 0), "OpenEntry's result, stream and size disagree");
    contents.emplace_back();
    if (opened && ReadEntry(*stream, size, 1 + (i * 977) % 40000, &budget, &contents.back()) &&
        !contents.back().empty())
      whole.push_back(i);
  }

  // Two entry streams share the package file: read in turns, each must see
  // exactly what it saw alone.
  if (whole.size() < 2) return;
  std::unique_ptr<TStream> streams[2];
  std::string got[2];
  std::int32_t size = 0;
  for (int k = 0; k < 2; ++k) reader.OpenEntry(whole[k], &streams[k], &size);
  for (std::size_t before = 1, now = 0; now != before;) {
    before = got[0].size() + got[1].size();
    for (int k = 0; k < 2; ++k) {
      std::int64_t turn = 777;
      const auto want = static_cast<std::int32_t>(contents[whole[k]].size());
      Check(ReadEntry(*streams[k], want, 777, &turn, &got[k]), "interleaved entry reads raised");
    }
    now = got[0].size() + got[1].size();
  }
  Check(got[0] == contents[whole[0]] && got[1] == contents[whole[1]],
        "interleaved entry reads differ from reads alone");
}

// A target folder with something of every kind the installation meets, and
// beside the executable a package of the script and a few fixed entries.
void LayOut(MemoryPlatform& platform, const std::string& script) {
  platform.AddFolder(platform.At("setup"));
  platform.AddFolder(platform.At("app/dir"));
  platform.AddFile(platform.At("app/old.txt"), "old");
  platform.AddFile(platform.At("app/old_OLD.txt"), "older");
  platform.AddFile(platform.At("app/keep.txt"), "keep");
  platform.AddFile(platform.At("app/ro.txt"), "read-only", kAttrNormal | kAttrReadOnly);
  static const std::string big = Noise(33000, 9);  // just over one copy piece
  PackedDate day;
  PackedDate::FromCalendar(2001, 5, 6, &day);
  ScopedPlatform use(platform);
  TPackageWriter writer(platform.At("setup/Install.PLF"), 1);
  writer.AddBuffer("SCRIPT", script.data(), script.size());
  writer.AddBuffer("a", "alpha", 5);
  writer.AddBuffer("b", big.data(), big.size());
  writer.AddEmpty("empty", 10);  // no data, but a size
  writer.AddBuffer("dated", "dated", 5, day);
  writer.Finish();
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// A full path in the form in which two names of one file compare equal.
std::string Comparable(MemoryPlatform& platform, const std::string& path) {
  const std::string full = platform.FullPath(path);
  return platform.GetNotation() == MemoryPlatform::Notation::Windows ? Upper(full) : full;
}

// Designators and separators a Windows locale may have, and some that
// collide with the rule's own characters. None begins with a blank.
const LocaleTimeFormat kLocales[] = {
    {"AM", "PM", "."},  {"", "", "."},       {"dop.", "odp.", ","}, {"a", "p", ":"},   {"PM", "AM", "."},
    {"A", "AM", "."},   {"12", "PM", "."},   {"AM", "PM", ""},      {"\xE1m", "pm", ","}, {"午前", "午後", "."},
    {"AM", "PM", "AM"}, {".", ":", "."},
};

class LocalePlatform : public PlatformWrapper {
 public:
  LocalePlatform(Platform& inner, const LocaleTimeFormat& format) : PlatformWrapper(inner), format_(format) {}
  LocaleTimeFormat TimeFormat() override { return format_; }

 private:
  LocaleTimeFormat format_;
};

}  // namespace

std::string Noise(std::size_t size, std::uint32_t seed) {
  std::string s(size, ' ');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>('a' + ((seed >> 16) % 26));
  }
  return s;
}

ViolationHandler SetViolationHandler(ViolationHandler handler) {
  const ViolationHandler previous = gHandler;
  gHandler = handler != nullptr ? handler : AbortOnViolation;
  return previous;
}

void Initialize() { BuildCaseTables(); }

void FuzzPackage(const std::uint8_t* data, std::size_t size) {
  MemoryPlatform platform(MemoryPlatform::Notation::Posix, kDiskCapacity);
  platform.AddFolder(platform.At("setup"));
  platform.AddFolder(platform.At("app"));
  platform.AddFile(platform.At("app/old.txt"), "old");
  const std::string package = platform.At("setup/Install.PLF");
  platform.AddFile(package, std::string(reinterpret_cast<const char*>(data), size));
  {
    ScopedPlatform use(platform);
    try {
      TPreLoadReader reader(package);
      ExerciseReader(reader);
    } catch (const Exception&) {
    }
  }
  Check(platform.OpenHandleCount() == 0, "the reader left the package open");
  RunInstaller(platform);
}

void FuzzScript(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // Each notation once; then the first again with one of its operations
  // failing, chosen by the script's bytes.
  std::uint32_t hash = 2166136261u;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  long operations = 0;
  for (int run = 0; run < 3; ++run) {
    MemoryPlatform platform(run == 1 ? MemoryPlatform::Notation::Windows : MemoryPlatform::Notation::Posix,
                            kDiskCapacity);
    LayOut(platform, text);
    const long before = platform.operations;
    if (run == 2) platform.failAt = before + 1 + static_cast<long>(hash % static_cast<std::uint32_t>(operations));
    RunInstaller(platform);
    if (run < 2) operations = std::max(1L, platform.operations - before);
    Check(platform.FileData(platform.At("app/ro.txt")).value_or("read-only") == "read-only",
          "a read-only file was changed");

    // A file whose name the script does not spell (in any case) keeps its
    // content somewhere: under its name, or moved along with its folder.
    // Backups are never overwritten, temporary names never fall on it.
    std::vector<std::string> contents;
    for (const std::string& path : platform.FilePaths()) contents.push_back(*platform.FileData(path));
    for (const auto& [name, content] : {std::pair<const char*, const char*>{"old.txt", "old"},
                                        {"old_OLD.txt", "older"}, {"keep.txt", "keep"}, {"ro.txt", "read-only"}}) {
      if (Upper(text).find(Upper(name)) == std::string::npos)
        Check(std::find(contents.begin(), contents.end(), content) != contents.end(),
              std::string("the content of ") + name + " was lost, and the script does not name it");
    }
  }
}

void FuzzTimeRule(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const LocaleTimeFormat& locale = kLocales[data[0] % (sizeof kLocales / sizeof kLocales[0])];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  double fraction = -1;
  const bool parsed = ParseTimeOfDay(text, locale, &fraction);
  const double ms = fraction * 86400000.0;
  Check(!parsed || (fraction >= 0 && fraction < 1 && std::fabs(ms - std::round(ms)) < 1e-3),
        "a time of day outside the day or no whole millisecond");
  // Blanks around the value never change its meaning.
  double padded = -1;
  const bool paddedParsed = ParseTimeOfDay("  " + text + " ", locale, &padded);
  Check(paddedParsed == parsed && (!parsed || padded == fraction), "blanks around a time changed its meaning");

  LocalePlatform platform(DefaultPlatform(), locale);
  ScopedPlatform use(platform);
  try {
    const double value = StrToTimeOfDay(text);
    Check(parsed && value == fraction, "StrToTimeOfDay accepts what ParseTimeOfDay refuses");
  } catch (const EConvertError& e) {
    Check(!parsed, "StrToTimeOfDay refuses what ParseTimeOfDay accepts");
    Check(e.Message() == "'" + Sys().AnsiToUtf8(text) + "' is not a valid time", "the error names another value");
  }
}

void FuzzBackupName(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string::size_type cut = input.find('\n');
  const std::string target = input.substr(0, cut);
  const std::string pattern = cut == std::string::npos ? std::string("*_OLD.*") : input.substr(cut + 1);
  for (auto notation : {MemoryPlatform::Notation::Posix, MemoryPlatform::Notation::Windows}) {
    MemoryPlatform platform(notation);
    ScopedPlatform use(platform);
    std::string backup;
    MakeBackupName(target, pattern, &backup);
    if (pattern.find('*') == std::string::npos) Check(backup == pattern, "a pattern without \"*\" was changed");
    Check(backup.size() <= pattern.size() + target.size(), "a backup name longer than target and pattern");
    const std::string temp = MakeTempName(target, backup);
    Check(temp.size() > target.size() && temp.find('~') != std::string::npos, "a temporary name without \"~\"");
    Check(!SameFileName(temp, target), "the temporary name is the target's");
    Check(backup.empty() || !SameFileName(temp, backup), "the temporary name is the backup's");

    // Folders are made only along the target's own path: each is some
    // leading part of the target, cut at a delimiter.
    if (target.find('\0') != std::string::npos) continue;
    EnsureTargetFolder(target);
    std::vector<std::string> levels;
    for (std::size_t i = 0; i <= target.size(); ++i)
      if (i == target.size() || std::strchr(platform.PathDelimiters(), target[i]) != nullptr)
        levels.push_back(Comparable(platform, target.substr(0, i)));
    for (const std::string& folder : platform.CreatedFolders())
      Check(std::find(levels.begin(), levels.end(), Comparable(platform, folder)) != levels.end(),
            "a folder was made off the target's path: " + folder);
  }
}

bool RunTarget(const std::string& name, const std::string& input) {
  const std::pair<const char*, void (*)(const std::uint8_t*, std::size_t)> targets[] = {
      {"package", FuzzPackage}, {"script", FuzzScript}, {"time_rule", FuzzTimeRule}, {"backup_name", FuzzBackupName}};
  for (const auto& [targetName, run] : targets) {
    if (name != targetName) continue;
    run(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    return true;
  }
  return false;
}

}  // namespace plf::fuzz
