// plf pack: a package built from an install script and files or folders.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/calendar.h"
#include "runtime/code_page.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "tools/atomic_file.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/delta.h"
#include "tools/file_date.h"
#include "tools/folder_walk.h"
#include "tools/parallel_pack.h"
#include "tools/script_lint.h"

namespace plf::tools {

namespace {

constexpr const char kPackHelp[] =
    "Usage: plf pack [OPTIONS] OUTPUT SCRIPT [ENTRY...]\n"
    "\n"
    "Builds the package OUTPUT. The file SCRIPT becomes the entry \"SCRIPT\";\n"
    "each ENTRY adds files:\n"
    "  PATH        the file PATH under its own file name, or every file below\n"
    "              the folder PATH under its name relative to it (\"sub\\a.txt\")\n"
    "  NAME=PATH   the file PATH under the entry name NAME, or every file\n"
    "              below the folder PATH under \"NAME\\sub\\a.txt\"\n"
    "(a PATH that contains \"=\" must be given as NAME=PATH).\n"
    "\n"
    "Entries follow in the order given, the files of a folder sorted by name.\n"
    "The same inputs with the same dates give the same package, byte for\n"
    "byte, whatever the number of threads.\n"
    "\n"
    "Options:\n"
    "  -j, --jobs N           compress on N threads (default: one per core)\n"
    "  -l, --level N          zlib compression level, 0 to 9 (default 6)\n"
    "      --date YYYY-MM-DD  store this date for every entry\n"
    "      --no-date          store no date\n"
    "      --json             print the result as JSON\n"
    "      --progress         show a progress line even when not on a terminal\n"
    "      --no-progress      never show a progress line\n"
    "      --force            replace OUTPUT even when it is not a package\n"
    "      --skip-special     leave out, and name, what a package cannot hold\n"
    "      --no-check         pack even when \"plf check\" finds errors\n"
    "      --code-page N      the package's code page (default 1250)\n"
    "      --delta-from OLD   an update for machines that have the package OLD\n"
    "  -h, --help             show this help\n"
    "  --                     end of options\n"
    "\n"
    "Without --date or --no-date each entry carries the local date of its\n"
    "file's last modification. Entry names are at most 255 bytes and must\n"
    "differ from each other (case ignored).\n"
    "\n"
    "OUTPUT is written under a temporary name beside it and renamed over the\n"
    "old file only when complete: a failed or interrupted pack leaves the old\n"
    "package as it was. An existing OUTPUT that is not a package is refused\n"
    "unless --force is given, and so is a SCRIPT that is a package or holds\n"
    "NUL bytes (exit code 2).\n"
    "\n"
    "File names, and a SCRIPT in UTF-8, are turned into the code page (a\n"
    "SCRIPT that is no UTF-8 is taken as written in it; a byte order mark is\n"
    "left out); a character it has none for is refused with its file, line\n"
    "and column. Pipes, sockets, devices, dangling links, links to folders\n"
    "found in a folder and empty folders are refused, all named, unless\n"
    "--skip-special is given. The script is checked as \"plf check\" checks\n"
    "it against the new package; errors leave the old package in place.\n"
    "\n"
    "With --delta-from OLD only the entries whose content differs from OLD's\n"
    "entry of the same name, or that OLD lacks, are packed, and the script\n"
    "keeps [Verify] and [Options] as given but only the [Files] lines of the\n"
    "entries packed. A line whose entry is unchanged but which OLD does not\n"
    "install to the same target, or whose target another line writes too,\n"
    "cannot be left out: then nothing is packed and the line is named.\n";

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

enum class Dates { FromFiles, Fixed, None };

bool ParseDigits(const std::string& text, int* value) {
  long v = 0;
  if (!ParseCount(text, 0, 9999, &v)) return false;
  *value = static_cast<int>(v);
  return true;
}

// YYYY-MM-DD, a day the package can store.
bool ParseDate(const std::string& text, PackedDate* date, std::string* problem) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ParseDigits(text.substr(0, 4), &year) ||
      !ParseDigits(text.substr(5, 2), &month) || !ParseDigits(text.substr(8, 2), &day)) {
    *problem = "\"" + text + "\" is not a date of the form YYYY-MM-DD";
    return false;
  }
  if (!IsValidDate(year, month, day)) {
    *problem = "\"" + text + "\" is not a calendar day";
    return false;
  }
  if (!PackedDate::FromCalendar(year, month, day, date)) {
    *problem = "the date " + text + " cannot be stored (years 1872 to 2127)";
    return false;
  }
  return true;
}

std::string FileNamePart(const std::string& path) {
  const std::string::size_type cut = path.find_last_of(Sys().PathDelimiters());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Mebibytes(std::int64_t bytes) {
  const std::int64_t tenths = (bytes * 10 + (1 << 19)) >> 20;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB";
}

// Draws "\r..." lines on a terminal, at most ten times a second, and only
// once the pack has run for a while; Clear() takes the line away.
class ProgressLine {
 public:
  ProgressLine(std::ostream& err, bool enabled, int delayMs)
      : err_(err), enabled_(enabled), delay_(delayMs), start_(std::chrono::steady_clock::now()) {}

  void Show(const PackProgress& p) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < delay_ || (shown_ && now - last_ < kProgressInterval)) return;
    last_ = now;
    std::string line = "plf pack: " + std::to_string(p.entriesDone) + "/" + std::to_string(p.entriesTotal) +
                       " entries, " + Mebibytes(p.bytesDone);
    if (line.size() < width_) line += std::string(width_ - line.size(), ' ');
    width_ = line.size();
    err_ << '\r' << line << std::flush;
    shown_ = true;
  }

  void Clear() {
    if (shown_) err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    shown_ = false;
  }

 private:
  std::ostream& err_;
  bool enabled_;
  std::chrono::milliseconds delay_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
  bool shown_ = false;
  std::size_t width_ = 0;
};

struct PackRequest {
  int level = TPackageWriter::kDefaultLevel;
  unsigned jobs = 1;
  Dates dates = Dates::FromFiles;
  PackedDate fixedDate;
  bool json = false;
  bool progress = false;
  bool force = false;
  bool skipSpecial = false;
  bool noCheck = false;
  std::string deltaFrom;  // the release the update is for; empty: a full package
  int progressDelayMs = 0;
  std::string output;
  std::vector<std::string> inputs;  // SCRIPT, then the ENTRY arguments
};

// 0 with the request filled; otherwise the exit code to end with.
int ReadRequest(const ParsedArguments& parsed, const ToolEnvironment& env, PackRequest* r, std::ostream& err) {
  long count = 0;
  if (parsed.Has("--level")) {
    const std::string value = parsed.Value("--level");
    if (!ParseCount(value, 0, 9, &count))
      return UsageError(err, "pack", "the level \"" + value + "\" is not one of 0 to 9");
    r->level = static_cast<int>(count);
  }
  unsigned cores = env.cores != 0 ? env.cores : std::thread::hardware_concurrency();
  r->jobs = cores == 0 ? 1 : cores;
  if (parsed.Has("--jobs")) {
    const std::string value = parsed.Value("--jobs");
    if (!ParseCount(value, 1, 256, &count))
      return UsageError(err, "pack", "the thread count \"" + value + "\" is not one of 1 to 256");
    r->jobs = static_cast<unsigned>(count);
  }
  if (parsed.Has("--date") && parsed.Has("--no-date"))
    return UsageError(err, "pack", "--date and --no-date exclude each other");
  if (parsed.Has("--date")) {
    std::string problem;
    if (!ParseDate(parsed.Value("--date"), &r->fixedDate, &problem)) return UsageError(err, "pack", problem);
    r->dates = Dates::Fixed;
  } else if (parsed.Has("--no-date")) {
    r->dates = Dates::None;
  }
  r->json = parsed.Has("--json");
  r->force = parsed.Has("--force");
  r->skipSpecial = parsed.Has("--skip-special");
  r->noCheck = parsed.Has("--no-check");
  r->deltaFrom = parsed.Value("--delta-from");
  if (parsed.Has("--delta-from") && r->deltaFrom.empty()) return UsageError(err, "pack", "--delta-from names no package");
  r->progressDelayMs = env.progressDelayMs;
  r->progress = parsed.Has("--progress") || (env.errIsTerminal && !parsed.Has("--no-progress"));
  if (parsed.Has("--progress") && parsed.Has("--no-progress"))
    return UsageError(err, "pack", "--progress and --no-progress exclude each other");
  if (parsed.positional.size() < 2)
    return UsageError(err, "pack",
                      parsed.positional.empty() ? "no OUTPUT package and SCRIPT file given" : "no SCRIPT file given");
  r->output = parsed.positional[0];
  r->inputs.assign(parsed.positional.begin() + 1, parsed.positional.end());
  return kExitOk;
}

// The relative name ("\" between folders) of `file` below `folder`, or
// empty when it does not lie below it.
std::string NameBelow(const std::string& folder, const std::string& file) {
  std::string prefix = Sys().FullPath(folder);
  const char separator = Sys().PathSeparator();
  if (prefix.empty() || prefix.back() != separator) prefix += separator;
  const std::string full = Sys().FullPath(file);
  if (full.size() <= prefix.size() || Sys().CompareTextLocale(full.substr(0, prefix.size()), prefix) != 0)
    return std::string();
  std::string name = full.substr(prefix.size());
  for (char& c : name)
    if (c == separator) c = '\\';
  return name;
}

// What a package cannot hold is refused, all of it named at once, or with
// --skip-special left out and named; a name the code page cannot spell is
// always refused, since the entry would install under another name.
int ReportUnstorable(const PackRequest& r, const std::vector<Unstorable>& items, std::ostream& err) {
  if (items.empty()) return kExitOk;
  bool refused = false;
  for (const Unstorable& u : items) {
    const bool skipped = r.skipSpecial && !u.nameUnspellable;
    refused = refused || !skipped;
    err << "plf pack: " << u.shown << ": " << (skipped ? "left out: " : "") << "is " << u.kind
        << (skipped ? "" : ", which a package cannot hold") << "\n";
  }
  if (!refused) return kExitOk;
  err << "plf pack: nothing written; " << (r.skipSpecial ? "rename or remove what is named above" : "give --skip-special to pack the rest") << "\n";
  return kExitFailure;
}

// The entries the arguments ask for, folders expanded; 0 or an exit code.
// `walked` tells which came from a folder walk, which saw them as files.
int CollectItems(const PackRequest& r, std::vector<PackItem>* items, std::vector<bool>* walked, std::ostream& err) {
  std::vector<Unstorable> unstorable;
  items->push_back({"SCRIPT", r.inputs[0], PackedDate()});
  walked->push_back(false);
  for (std::size_t i = 1; i < r.inputs.size(); ++i) {
    const std::string& arg = r.inputs[i];
    const std::string::size_type eq = arg.find('=');
    const bool named = eq != std::string::npos;
    const std::string name = named ? arg.substr(0, eq) : FileNamePart(arg);
    const std::string path = named ? arg.substr(eq + 1) : arg;
    if (path.empty()) return UsageError(err, "pack", "\"" + arg + "\" names no file");
    if (named && name.empty()) return UsageError(err, "pack", "\"" + arg + "\" gives no entry name");

    const std::uint32_t attributes = Sys().GetAttributes(path);
    if (attributes == kInvalidAttributes) return Failure(err, "pack", Shown(path) + ": no such file");
    const std::string kind = UnstorableKind(path);
    if (!kind.empty() && (attributes & kAttrDirectory) == 0) {  // a link to a folder named here is walked
      unstorable.push_back({Shown(path), kind, false});
      continue;
    }
    if ((attributes & kAttrDirectory) == 0) {
      if (name.empty()) return UsageError(err, "pack", "\"" + arg + "\" gives no entry name");
      items->push_back({name, path, PackedDate()});
      walked->push_back(false);
      continue;
    }
    std::vector<FolderFile> files;
    std::string problem;
    if (!ListFilesBelow(path, &files, &unstorable, &problem)) return Failure(err, "pack", Shown(path) + ": " + problem);
    // A package made earlier into the same folder is being replaced, not packed.
    const std::string output = NameBelow(path, r.output);
    for (const FolderFile& f : files) {
      if (!output.empty() && Sys().CompareTextLocale(f.relativeName, output) == 0) continue;
      items->push_back({named ? name + "\\" + f.relativeName : f.relativeName, f.path, PackedDate()});
      walked->push_back(true);
    }
  }
  return ReportUnstorable(r, unstorable, err);
}

// Names over 255 bytes, and names given twice (case ignored), are refused
// before anything is written.
int CheckNames(const std::vector<PackItem>& items, std::ostream& err) {
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    order[i] = i;
    if (items[i].name.size() > kMaxEntryNameLength)
      return UsageError(err, "pack", "the entry name \"" + Shown(items[i].name) + "\" is longer than 255 bytes");
  }
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return Sys().CompareTextLocale(items[a].name, items[b].name) < 0;
  });
  // Every twin at once: a tree from a case-sensitive file system may hold many.
  std::string twins;
  for (std::size_t k = 1; k < order.size(); ++k) {
    const PackItem& a = items[std::min(order[k - 1], order[k])];
    const PackItem& b = items[std::max(order[k - 1], order[k])];
    if (Sys().CompareTextLocale(a.name, b.name) != 0) continue;
    if (!twins.empty()) err << "plf pack: " << twins << "\n";
    twins = "the entry name \"" + Shown(b.name) + "\" is given twice (" + Shown(a.path) + ", " + Shown(b.path) + ")";
  }
  return twins.empty() ? kExitOk : UsageError(err, "pack", twins);
}

// What the bytes of a file tell about it: a package starts with the magic
// and the version word; an install script is text.
struct FileLook {
  bool read = false;  // false: *reason says why not
  std::string reason;
  std::int64_t size = 0;
  bool packageHeader = false;
  bool nul = false;
};

FileLook Look(const std::string& path, bool wholeFile) {
  FileLook look;
  const FileHandle h = Sys().OpenFile(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting);
  if (h == kInvalidHandle) {
    look.reason = LastSystemError();
    return look;
  }
  std::uint8_t start[12];
  std::vector<char> piece(65536);
  std::int32_t n;
  while ((n = Sys().ReadFile(h, piece.data(), static_cast<std::int32_t>(piece.size()))) > 0) {
    if (look.size < static_cast<std::int64_t>(sizeof start)) {
      const std::size_t at = static_cast<std::size_t>(look.size);
      std::memcpy(start + at, piece.data(), std::min(sizeof start - at, static_cast<std::size_t>(n)));
    }
    look.nul = look.nul || std::memchr(piece.data(), 0, static_cast<std::size_t>(n)) != nullptr;
    look.size += n;
    if (!wholeFile && look.size >= static_cast<std::int64_t>(sizeof start)) break;
  }
  if (n < 0) {
    look.reason = LastSystemError();
    Sys().CloseFile(h);
    return look;
  }
  Sys().CloseFile(h);
  look.read = true;
  look.packageHeader = look.size >= static_cast<std::int64_t>(sizeof start) &&
                       std::memcmp(start, TPreLoadFileHeader().magic, 8) == 0 && LoadLE32(start + 8) == kPreLoadVersion;
  return look;
}

// One sentence, exit code 2: the command line asks for something that
// would destroy a file.
int Refusal(std::ostream& err, const std::string& problem) {
  err << "plf pack: " << problem << "\n";
  return kExitUsage;
}

// OUTPUT is replaced only when it is a package (or empty, or --force), and
// SCRIPT must be text that is not a package: the two swapped, or a source
// file given as OUTPUT, would otherwise be lost.
int CheckOutputAndScript(const PackRequest& r, std::ostream& err) {
  const std::uint32_t outputAttributes = Sys().GetAttributes(r.output);
  const std::string outputKind = UnstorableKind(r.output);
  if (!outputKind.empty()) return Refusal(err, Shown(r.output) + ": is " + outputKind + ", not a package");
  if (outputAttributes != kInvalidAttributes) {
    if ((outputAttributes & kAttrDirectory) != 0) return Refusal(err, Shown(r.output) + ": is a folder, not a package");
    if (!r.force) {
      const FileLook look = Look(r.output, false);
      if (!look.read)
        return Failure(err, "pack", Shown(r.output) + ": cannot be read to see whether it is a package: " + look.reason);
      if (look.size > 0 && !look.packageHeader)
        return Refusal(err, Shown(r.output) + ": exists and is not a package; give --force to replace it");
    }
  }
  const std::string& script = r.inputs[0];
  const std::string scriptKind = UnstorableKind(script);
  if (!scriptKind.empty()) return Refusal(err, Shown(script) + ": is " + scriptKind + ", not an install script");
  const std::uint32_t scriptAttributes = Sys().GetAttributes(script);
  if (scriptAttributes == kInvalidAttributes || (scriptAttributes & kAttrDirectory) != 0) return kExitOk;
  const FileLook look = Look(script, true);
  if (!look.read) return Failure(err, "pack", Shown(script) + ": cannot be read: " + look.reason);
  if (look.packageHeader) return Refusal(err, Shown(script) + ": is a package, not an install script");
  if (look.nul) return Refusal(err, Shown(script) + ": holds NUL bytes, so it is not an install script");
  return kExitOk;
}

// The script as the installer will read it: in the code page, without a
// byte order mark (which would hide its first section header). A script
// that is no UTF-8 is taken as written in the code page already.
int ScriptText(const std::string& path, std::string* text, std::ostream& err) {
  const FileHandle h = Sys().OpenFile(path, Access::Read, Share::ReadWrite, Disposition::OpenExisting);
  if (h == kInvalidHandle) return Failure(err, "pack", Shown(path) + ": cannot be opened: " + LastSystemError());
  std::string bytes;
  std::vector<char> piece(65536);
  std::int32_t n;
  while ((n = Sys().ReadFile(h, piece.data(), static_cast<std::int32_t>(piece.size()))) > 0)
    bytes.append(piece.data(), static_cast<std::size_t>(n));
  const std::string reason = n < 0 ? LastSystemError() : std::string();
  Sys().CloseFile(h);
  if (n < 0) return Failure(err, "pack", Shown(path) + ": cannot be read: " + reason);
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    bytes.erase(0, 3);
    err << "plf pack: " << Shown(path) << ": note: its UTF-8 byte order mark is left out\n";
  }
  const int codePage = Sys().AnsiCodePage();
  std::size_t bad = 0;
  if (!IsValidUtf8(bytes) || FromUtf8(codePage, bytes, text, &bad)) {
    if (!IsValidUtf8(bytes)) *text = bytes;
    return kExitOk;
  }
  std::size_t end = bad + 1;
  while (end < bytes.size() && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80) ++end;
  const std::size_t lineStart = bytes.rfind('\n', bad) == std::string::npos ? 0 : bytes.rfind('\n', bad) + 1;
  const auto line = 1 + std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bad), '\n');
  return Failure(err, "pack", Shown(path) + ": line " + std::to_string(line) + ", column " +
                                  std::to_string(bad - lineStart + 1) + ": \"" + bytes.substr(bad, end - bad) +
                                  "\" has no character in code page " + std::to_string(codePage) +
                                  " (see --code-page)");
}

// The checks of "plf check", run on the package as written, before it
// replaces anything: a script with errors would install less than it says.
// Errors and warnings are shown; only errors stop the pack.
bool ScriptPassesCheck(const std::string& packagePath, const PackItem& script, std::ostream& err) {
  LintInput input;
  input.scriptText = script.text;
  std::vector<Finding> findings;
  {
    const TPreLoadReader reader(packagePath);  // closed before the rename
    input.package = &reader;
    input.scriptIndex = reader.FindEntry("SCRIPT");
    findings = LintScript(input);
  }
  // A tree of thousands of files no line installs would bury the errors.
  constexpr std::size_t kMostShown = 10;
  std::stable_partition(findings.begin(), findings.end(), [](const Finding& f) { return f.severity == Severity::Error; });
  bool errors = false;
  std::size_t shown = 0, more = 0;
  for (const Finding& f : findings) {
    if (f.severity == Severity::Note) continue;
    errors = errors || f.severity == Severity::Error;
    if (shown == kMostShown) {
      ++more;
      continue;
    }
    ++shown;
    err << "plf pack: " << Shown(script.path);
    if (f.line > 0) err << ":" << f.line;
    err << ": " << SeverityName(f.severity) << ": " << f.message << "\n";
  }
  if (more > 0) err << "plf pack: and " << more << " more (plf check lists them all)\n";
  if (errors) err << "plf pack: nothing written: the script has errors (--no-check packs it all the same)\n";
  return !errors;
}

// An update package: the entries unchanged since --delta-from's package go,
// with the [Files] lines that install them.
int LeaveOutUnchanged(const PackRequest& r, std::vector<PackItem>* items, std::vector<std::string>* leftOut,
                      std::size_t* linesLeftOut, std::ostream& err) {
  const std::string whyNot = PackageOpenProblem(r.deltaFrom);
  if (!whyNot.empty()) return Failure(err, "pack", Shown(r.deltaFrom) + ": " + whyNot);
  if (!(*items)[0].inMemory) return Failure(err, "pack", Shown((*items)[0].path) + ": no such file");
  DeltaPlan plan;
  try {
    TPreLoadReader old(r.deltaFrom);  // closed before anything is renamed
    plan = PlanDelta(old, *items);
  } catch (const Exception& e) {
    return Failure(err, "pack", Shown(r.deltaFrom) + ": " + PackageReadProblem(e.Message()));
  }
  if (!plan.refusal.empty())
    return Failure(err, "pack", Shown((*items)[0].path) + ": " + plan.refusal + "; nothing written");
  std::vector<PackItem> kept;
  for (std::size_t i = 0; i < items->size(); ++i) {
    if (plan.leftOut[i])
      leftOut->push_back((*items)[i].name);
    else
      kept.push_back((*items)[i]);
  }
  kept[0].text = plan.script;
  *items = std::move(kept);
  *linesLeftOut = plan.linesLeftOut;
  return kExitOk;
}

int Pack(const PackRequest& r, std::ostream& out, std::ostream& err) {
  std::vector<PackItem> items;
  std::vector<bool> walked;
  int code = CheckOutputAndScript(r, err);
  if (code != kExitOk) return code;
  code = CollectItems(r, &items, &walked, err);
  if (code == kExitOk) code = CheckNames(items, err);
  const std::uint32_t scriptAttributes = code == kExitOk ? Sys().GetAttributes(items[0].path) : kInvalidAttributes;
  if (scriptAttributes != kInvalidAttributes && (scriptAttributes & kAttrDirectory) == 0) {
    code = ScriptText(items[0].path, &items[0].text, err);
    items[0].inMemory = true;
  }
  if (code != kExitOk) return code;

  // Packing the old package into the new one is never meant.
  const std::string outputPath = Sys().FullPath(r.output);
  for (std::size_t i = 0; i < items.size(); ++i) {
    PackItem& item = items[i];
    if (!walked[i]) {
      const std::uint32_t attributes = Sys().GetAttributes(item.path);
      if (attributes == kInvalidAttributes) return Failure(err, "pack", Shown(item.path) + ": no such file");
      if ((attributes & kAttrDirectory) != 0)
        return Failure(err, "pack", Shown(item.path) + ": is a folder, not a file");
      if (Sys().CompareTextLocale(Sys().FullPath(item.path), outputPath) == 0)
        return Failure(err, "pack", Shown(item.path) + ": is also the output package");
    }
    if (r.dates == Dates::Fixed) {
      item.date = r.fixedDate;
    } else if (r.dates == Dates::FromFiles) {
      CalendarDate d;
      if (!FileLocalDate(item.path, &d))
        return Failure(err, "pack", Shown(item.path) + ": its modification date cannot be read");
      if (!PackedDate::FromCalendar(d.year, d.month, d.day, &item.date))
        return Failure(err, "pack", Shown(item.path) + ": its modification date " + DateText(d.year, d.month, d.day) +
                                        " cannot be stored (years 1872 to 2127); use --date or --no-date");
    }
  }

  std::vector<std::string> leftOut;
  std::size_t linesLeftOut = 0;
  if (!r.deltaFrom.empty()) {
    code = LeaveOutUnchanged(r, &items, &leftOut, &linesLeftOut, err);
    if (code != kExitOk) return code;
  }

  ProgressLine progress(err, r.progress, r.progressDelayMs);
  std::int64_t inputBytes = 0;
  std::int64_t packageBytes = 0;
  std::unique_ptr<AtomicFile> file;
  try {
    file = std::make_unique<AtomicFile>(r.output);
    TPackageWriter writer(file->Stream(), r.output, r.level);
    PackOptions options;
    options.jobs = r.jobs;
    options.progress = [&](const PackProgress& p) {
      inputBytes = p.bytesDone;
      progress.Show(p);
    };
    PackFiles(writer, items, options);
    writer.Finish();
    file->Close();
    if (!r.noCheck && !ScriptPassesCheck(file->TemporaryPath(), items[0], err)) {
      progress.Clear();
      return kExitFailure;  // the temporary package goes with `file`
    }
    file->Commit();
    packageBytes = kFileHeaderSize + kDirHeaderSize;
    for (const TPreLoadEntry& e : writer.Entries()) packageBytes += std::int64_t{e.compressedSize} + 4 + e.length;
    progress.Clear();
  } catch (const Exception& e) {
    progress.Clear();
    // A write that failed is told by the system's reason, not the writer's.
    const bool writeFailed = file != nullptr && !file->WriteFailure().empty();
    return Failure(err, "pack", writeFailed ? Shown(r.output) + ": writing failed: " + file->WriteFailure() : e.Message());
  } catch (const std::exception& e) {
    progress.Clear();
    return Failure(err, "pack", Shown(r.output) + ": " + e.what());
  }

  if (r.json) {
    JsonWriter j(out);
    j.BeginObject().Field("package", Sys().AnsiToUtf8(r.output)).Field("entries", static_cast<std::int64_t>(items.size()));
    j.Field("input_bytes", inputBytes).Field("package_bytes", packageBytes).Field("jobs", static_cast<std::int64_t>(r.jobs));
    if (!r.deltaFrom.empty()) {
      j.Key("delta").BeginObject().Field("from", Sys().AnsiToUtf8(r.deltaFrom)).Key("left_out").BeginArray();
      for (const std::string& name : leftOut) j.String(Sys().AnsiToUtf8(name));
      j.EndArray().Field("files_lines_left_out", static_cast<std::int64_t>(linesLeftOut)).EndObject();
    }
    j.EndObject();
  } else {
    out << Shown(r.output) << ": " << items.size() << (items.size() == 1 ? " entry, " : " entries, ") << packageBytes
        << " bytes from " << inputBytes << "\n";
    if (!r.deltaFrom.empty()) {
      // Names are listed up to a screenful; --json lists them all.
      constexpr std::size_t kMostListed = 10;
      out << "update for " << Shown(r.deltaFrom) << ": " << leftOut.size() << " unchanged "
          << (leftOut.size() == 1 ? "entry" : "entries") << " and " << linesLeftOut << " [Files] "
          << (linesLeftOut == 1 ? "line" : "lines") << " left out\n";
      for (std::size_t i = 0; i < leftOut.size() && i < kMostListed; ++i) out << "  left out  " << Shown(leftOut[i]) << "\n";
      if (leftOut.size() > kMostListed) out << "  and " << leftOut.size() - kMostListed << " more\n";
    }
  }
  return kExitOk;
}

}  // namespace

int PackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const ToolEnvironment& env) {
  ParsedArguments parsed;
  std::string problem;
  const std::vector<OptionSpec> specs{{"-j", "--jobs", "a count"},   {"-l", "--level", "a level"},
                                      {nullptr, "--date", "a date"}, {nullptr, "--no-date", nullptr},
                                      {nullptr, "--json", nullptr},  {nullptr, "--progress", nullptr},
                                      {nullptr, "--no-progress", nullptr}, {nullptr, "--force", nullptr},
                                      {nullptr, "--skip-special", nullptr}, {nullptr, "--no-check", nullptr},
                                      {nullptr, "--delta-from", "a package"}};
  if (!ParseArguments(args, specs, &parsed, &problem)) return UsageError(err, "pack", problem);
  if (parsed.help) {
    out << kPackHelp;
    return kExitOk;
  }
  PackRequest request;
  const int code = ReadRequest(parsed, env, &request, err);
  if (code != kExitOk) return code;
  return Pack(request, out, err);
}

}  // namespace plf::tools
