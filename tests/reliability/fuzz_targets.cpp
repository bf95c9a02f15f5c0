#include "fuzz_targets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include <zlib.h>

#include "driver/backup_name.h"
#include "driver/entry.h"
#include "driver/time_rule.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/exceptions.h"
#include "runtime/stream.h"
#include "runtime/string_list.h"
#include "streams/replace_stream.h"
#include "text/ini_string_list.h"
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
  Check(platform.boxes.size() <= 1, "more than one message box");
  Check(code == 0 || platform.boxes.size() == 1, "exit code 1 without a message box");
  Check(platform.OpenHandleCount() == 0, "file handles left open after the run");
}

// Reads the stream up to `size` bytes in pieces of `piece`; false when a
// read raised. A stream that raised once must raise again: a damaged entry
// never reads on as if it had merely ended.
bool ReadEntry(TStream& stream, std::int32_t size, std::int32_t piece, std::int64_t* budget, std::string* out) {
  std::vector<char> buffer(static_cast<std::size_t>(piece));
  try {
    while (static_cast<std::int64_t>(out->size()) < size && *budget > 0) {
      const std::int64_t left = static_cast<std::int64_t>(size) - static_cast<std::int64_t>(out->size());
      const std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(piece, left));
      const std::int32_t n = stream.Read(buffer.data(), want);
      Check(n >= 0 && n <= want, "an entry stream returned more than it was asked for");
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
  const int count = reader.EntryCount();
  Check(count >= 0, "negative entry count");
  const int limit = std::min(count, kMaxEntries);
  std::int64_t budget = kReadBudget;
  std::vector<std::string> contents(static_cast<std::size_t>(limit));
  std::vector<bool> whole(static_cast<std::size_t>(limit), false);
  for (int i = 0; i < limit; ++i) {
    const std::string name = reader.EntryName(i);
    const int found = reader.FindEntry(name);
    Check(found >= 0 && found <= i, "FindEntry does not find an entry by its own name");
    const double date = reader.EntryDate(i);
    Check(std::isfinite(date) && date == std::trunc(date), "an entry date with a time of day");

    std::unique_ptr<TStream> stream;
    std::int32_t size = -1;
    const bool opened = reader.OpenEntry(i, &stream, &size);
    Check(opened == reader.CanOpenEntry(i), "OpenEntry and CanOpenEntry disagree");
    Check(opened == (stream != nullptr), "OpenEntry's result and its stream disagree");
    Check(opened || size == 0, "an entry that does not open reports a size");
    if (!opened) continue;
    const std::int32_t piece = 1 + (i * 977) % 40000;
    whole[static_cast<std::size_t>(i)] =
        ReadEntry(*stream, size, piece, &budget, &contents[static_cast<std::size_t>(i)]);
  }
  std::unique_ptr<TStream> none;
  std::int32_t size = 7;
  Check(!reader.OpenEntry(-1, &none, &size) && !none && size == 0, "OpenEntry(-1) opened something");
  Check(!reader.OpenEntry(count, &none, &size) && !none && size == 0, "OpenEntry(count) opened something");
  bool raised = false;
  try {
    reader.EntryDate(count);
  } catch (const EStringListError&) {
    raised = true;
  }
  Check(raised, "EntryDate(count) did not raise the list's error");

  // Two entry streams share the package file: read in turns, each must see
  // exactly what it saw alone.
  std::vector<int> pair;
  for (int i = 0; i < limit && pair.size() < 2; ++i)
    if (whole[static_cast<std::size_t>(i)] && !contents[static_cast<std::size_t>(i)].empty()) pair.push_back(i);
  if (pair.size() < 2) return;
  std::unique_ptr<TStream> a, b;
  std::int32_t sizeA = 0, sizeB = 0;
  reader.OpenEntry(pair[0], &a, &sizeA);
  reader.OpenEntry(pair[1], &b, &sizeB);
  const std::string& wantA = contents[static_cast<std::size_t>(pair[0])];
  const std::string& wantB = contents[static_cast<std::size_t>(pair[1])];
  std::string gotA, gotB;
  char buffer[777];
  try {
    while (gotA.size() < wantA.size() || gotB.size() < wantB.size()) {
      const std::size_t before = gotA.size() + gotB.size();
      for (auto [stream, want, got] : {std::make_tuple(a.get(), &wantA, &gotA), std::make_tuple(b.get(), &wantB, &gotB)}) {
        const std::size_t left = want->size() - got->size();
        if (left == 0) continue;
        const std::int32_t n = stream->Read(buffer, static_cast<std::int32_t>(std::min(left, sizeof buffer)));
        if (n > 0) got->append(buffer, static_cast<std::size_t>(n));
      }
      if (gotA.size() + gotB.size() == before) break;
    }
  } catch (const Exception& e) {
    Check(false, std::string("interleaved entry reads raised: ") + e.what());
  }
  Check(gotA == wantA && gotB == wantB, "interleaved entry reads differ from reads alone");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : text) {
    if (c == '\0') break;
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  lines.push_back(line);
  return lines;
}

void ExerciseScriptLookups(const std::string& text) {
  MemoryPlatform platform(MemoryPlatform::Notation::Posix);
  ScopedPlatform use(platform);
  TIniStringList script;
  script.LoadText(text);
  std::vector<std::string> sections = {"Verify", "Options", "Files"};
  std::vector<std::string> keys = {"Rename", "TimeStamp", "Message", "NoMessage"};
  for (const std::string& line : Lines(text)) {
    if (!line.empty() && line[0] == '[' && sections.size() < 12) sections.push_back(line.substr(1, line.find(']') - 1));
    const std::string::size_type eq = line.find('=');
    if (eq != std::string::npos && keys.size() < 12) keys.push_back(line.substr(0, eq));
  }
  for (const std::string& section : sections) {
    const int at = script.FindSection(section);
    Check(at >= -1 && at < script.Count(), "FindSection out of the list");
    std::string body;
    script.ReadSection(section, &body);
    Check(at != -1 || body.empty(), "a section that is not found has a body");
    for (const std::string& key : keys) {
      std::string value;
      script.ReadString(section, key, &value);
      Check(value.find_first_of("\r\n") == std::string::npos, "a key's value runs past its line");
      Check(at != -1 || value.empty(), "a key of a missing section has a value");
    }
  }
}

std::string Compress(const std::string& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  std::string out(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uLong>(data.size()), 1);
  out.resize(size);
  return out;
}

struct PackedEntry {
  std::string name;
  std::string compressed;
  std::int32_t uncompressedSize;
  PackedDate date;
};

// A package that holds the script and a few fixed entries. Assembled from
// the records directly: only the script is compressed per input.
std::string PackageWithScript(const std::string& script) {
  static const std::vector<PackedEntry> fixed = [] {
    PackedDate day;
    PackedDate::FromCalendar(2001, 5, 6, &day);
    // "b" is just over one copy piece; "empty" has no data but records 10.
    const std::string big = Noise(33000, 9);
    return std::vector<PackedEntry>{{"a", Compress("alpha"), 5, PackedDate::None()},
                                    {"b", Compress(big), static_cast<std::int32_t>(big.size()), PackedDate::None()},
                                    {"empty", std::string(), 10, PackedDate::None()},
                                    {"dated", Compress("dated"), 5, day}};
  }();
  std::vector<PackedEntry> entries = fixed;
  entries.insert(entries.begin(), {"SCRIPT", Compress(script), static_cast<std::int32_t>(script.size()), {}});

  std::string data;
  std::string records;
  for (const PackedEntry& e : entries) {
    TPreLoadEntry record;
    record.length = TPreLoadEntry::LengthFor(e.name.size());
    record.dataOffset = kFileHeaderSize + static_cast<std::int32_t>(data.size());
    record.compressedSize = static_cast<std::int32_t>(e.compressed.size());
    record.uncompressedSize = e.uncompressedSize;
    record.date = e.date;
    record.name = e.name;
    records += record.Encode();
    data += e.compressed;
  }
  TPreLoadFileHeader fileHeader;
  fileHeader.directoryOffset = kFileHeaderSize + static_cast<std::int32_t>(data.size());
  TPreLoadDirHeader dirHeader;
  dirHeader.count = static_cast<std::int32_t>(entries.size());
  std::uint8_t head[kFileHeaderSize];
  std::uint8_t dirHead[kDirHeaderSize];
  fileHeader.Encode(head);
  dirHeader.Encode(dirHead);
  return std::string(reinterpret_cast<const char*>(head), sizeof head) + data +
         std::string(reinterpret_cast<const char*>(dirHead), sizeof dirHead) + records;
}

// A target folder with something of every kind the installation meets, and
// the package beside the executable.
void LayOut(MemoryPlatform& platform, const std::string& script) {
  platform.AddFolder(platform.At("setup"));
  platform.AddFolder(platform.At("app/dir"));
  platform.AddFile(platform.At("app/old.txt"), "old");
  platform.AddFile(platform.At("app/old_OLD.txt"), "older");
  platform.AddFile(platform.At("app/keep.txt"), "keep");
  platform.AddFile(platform.At("app/ro.txt"), "read-only", kAttrNormal | kAttrReadOnly);
  platform.AddFile(platform.At("setup/Install.PLF"), PackageWithScript(script));
}

std::string Upper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A full path in the form in which two names of one file compare equal.
std::string Comparable(MemoryPlatform& platform, const std::string& path) {
  const std::string full = platform.FullPath(path);
  return platform.GetNotation() == MemoryPlatform::Notation::Windows ? Upper(full) : full;
}

// The targets of the script's [Files] lines, read the way the installation
// reads them.
std::vector<std::string> FullTargets(MemoryPlatform& platform, const std::string& text) {
  ScopedPlatform use(platform);
  TIniStringList script;
  script.LoadText(text);
  std::string body;
  script.ReadSection("Files", &body);
  TStringList lines;
  lines.SetText(Trim(body));
  std::vector<std::string> targets;
  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines.Strings(i);
    std::string entry;
    SplitOff(&line, '=', &entry);
    targets.push_back(Comparable(platform, platform.ScriptPath(line)));
  }
  return targets;
}

struct Locale {
  const char* am;
  const char* pm;
  const char* decimal;
};

// Designators and separators a Windows locale may have, and some that
// collide with the rule's own characters. None begins with a blank.
const Locale kLocales[] = {
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
  ExerciseScriptLookups(text);
  // Each notation once; then the first again with one of its operations
  // failing, chosen by the script's bytes.
  std::uint32_t hash = 2166136261u;
  for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  long operations = 0;
  const std::pair<MemoryPlatform::Notation, bool> runs[] = {{MemoryPlatform::Notation::Posix, false},
                                                            {MemoryPlatform::Notation::Windows, false},
                                                            {MemoryPlatform::Notation::Posix, true}};
  for (const auto& [notation, withFault] : runs) {
    MemoryPlatform platform(notation, kDiskCapacity);
    LayOut(platform, text);
    const long before = platform.operations;
    if (withFault) platform.failAt = before + 1 + static_cast<long>(hash % static_cast<std::uint32_t>(operations));
    const std::vector<std::pair<std::string, std::string>> files = {
        {"app/old.txt", "old"}, {"app/old_OLD.txt", "older"}, {"app/keep.txt", "keep"}, {"app/ro.txt", "read-only"}};
    RunInstaller(platform);
    if (!withFault) operations = std::max(1L, platform.operations - before);
    Check(platform.FileData(platform.At("app/ro.txt")).value_or("read-only") == "read-only",
          "a read-only file was changed");

    // A file that no line names as its target keeps its content somewhere:
    // under its name, or moved along with its folder. Backups are never
    // overwritten, temporary names never fall on it.
    const std::vector<std::string> targets = FullTargets(platform, text);
    std::vector<std::string> contents;
    for (const std::string& path : platform.FilePaths()) contents.push_back(*platform.FileData(path));
    for (const auto& file : files) {
      if (std::find(targets.begin(), targets.end(), Comparable(platform, platform.At(file.first))) != targets.end())
        continue;
      Check(std::find(contents.begin(), contents.end(), file.second) != contents.end(),
            "the content of " + file.first + " was lost, and no line names it");
    }
  }
}

void FuzzTimeRule(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return;
  const Locale& l = kLocales[data[0] % (sizeof kLocales / sizeof kLocales[0])];
  const LocaleTimeFormat locale{l.am, l.pm, l.decimal};
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  double fraction = -1;
  const bool parsed = ParseTimeOfDay(text, locale, &fraction);
  if (parsed) {
    Check(fraction >= 0 && fraction < 1, "a time of day outside the day");
    const double ms = fraction * 86400000.0;
    Check(std::fabs(ms - std::round(ms)) < 1e-3, "a time of day that is no whole millisecond");
  }
  // Blanks around the value never change its meaning.
  double padded = -1;
  const bool paddedParsed = ParseTimeOfDay("  " + text + " ", locale, &padded);
  Check(paddedParsed == parsed && (!parsed || padded == fraction), "blanks around a time changed its meaning");
  // Markers ignore letter case (ASCII designators only: the fold of other
  // bytes is the locale's business). A decimal separator is matched as it
  // is, so it must hold no letter for this to hold.
  const std::string upper = Upper(text);
  const bool letterFree = Upper(l.decimal) == l.decimal && Lower(l.decimal) == l.decimal;
  if (upper != text && Upper(l.am) == l.am && Upper(l.pm) == l.pm && letterFree) {
    double folded = -1;
    const bool foldedParsed = ParseTimeOfDay(upper, locale, &folded);
    Check(foldedParsed == parsed && (!parsed || folded == fraction), "letter case changed a time's meaning");
  }

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
    const bool windows = notation == MemoryPlatform::Notation::Windows;
    std::vector<std::string> levels;
    for (std::size_t i = 0; i <= target.size(); ++i)
      if (i == target.size() || std::strchr(platform.PathDelimiters(), target[i]) != nullptr)
        levels.push_back(windows ? Upper(platform.FullPath(target.substr(0, i))) : platform.FullPath(target.substr(0, i)));
    for (const std::string& folder : platform.CreatedFolders()) {
      const std::string made = windows ? Upper(folder) : folder;
      Check(std::find(levels.begin(), levels.end(), made) != levels.end(),
            "a folder was made off the target's path: " + folder);
    }
  }
}

bool RunTarget(const std::string& name, const std::string& input) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(input.data());
  if (name == "package")
    FuzzPackage(data, input.size());
  else if (name == "script")
    FuzzScript(data, input.size());
  else if (name == "time_rule")
    FuzzTimeRule(data, input.size());
  else if (name == "backup_name")
    FuzzBackupName(data, input.size());
  else
    return false;
  return true;
}

}  // namespace plf::fuzz
