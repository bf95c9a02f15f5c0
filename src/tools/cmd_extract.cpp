// plf extract: entries written out as files below a folder, with their dates.
#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "streams/dir_helpers.h"
#include "tools/atomic_file.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/package_script.h"
#include "tools/safe_names.h"

namespace plf::tools {

namespace {

constexpr const char kExtractHelp[] =
    "Usage: plf extract [OPTIONS] PACKAGE [NAME...]\n"
    "\n"
    "Writes the entries of PACKAGE as files below a folder (default: the\n"
    "current folder), all of them or those NAMEd (letter case ignored; \"/\" or\n"
    "\"\\\" between folders; \"*\" and \"?\" as wildcards: 'bin/*.dll').\n"
    "\n"
    "An entry name is a path with \"\\\" or \"/\" between its folders. Folders\n"
    "are created as needed; an existing file of the same name is replaced\n"
    "(not a read-only one), each file only once it is complete, so that a\n"
    "damaged entry or an interruption leaves the old file as it was.\n"
    "Nothing is ever written outside the folder: a leading drive or separator\n"
    "is dropped, and a name with a \"..\" part is refused. Characters that\n"
    "Windows does not allow in names become \"_\", the same on every system.\n"
    "Each file gets its entry's date with the time of day of the script's\n"
    "[Options] TimeStamp, as the installer would give it (midnight without).\n"
    "\n"
    "Options:\n"
    "  -C, --directory DIR  write below DIR (created when missing)\n"
    "      --json           print the result as JSON\n"
    "  -h, --help           show this help\n"
    "\n"
    "Exit code 1 when an entry is refused or cannot be written.\n";

constexpr std::int32_t kPiece = 65536;

struct Written {
  int index;
  std::string path;
  std::int64_t size;
  double stamp;
};

struct Refused {
  std::string name;  // ANSI
  std::string reason;
};

bool SetLocalStamp(FileHandle handle, double stamp) {
  DateTimeParts parts;
  std::int64_t local = 0, utc = 0;
  return DecodeDateTime(stamp, &parts) && FileTimeFromParts(parts, &local) && Sys().LocalToUtc(local, &utc) &&
         Sys().SetLastWriteTime(handle, utc);
}

// Copies the entry's recorded size, then reads on to the end so that the
// checksum is verified. The file is written beside its target and renamed
// over it only then: a damaged entry or an interruption leaves an existing
// file as it was.
bool WriteEntry(TPreLoadReader& reader, int index, const std::string& path, double stamp, std::int64_t* size,
                std::string* problem) {
  const std::uint32_t attributes = Sys().GetAttributes(path);
  if (attributes != kInvalidAttributes) {
    if ((attributes & kAttrDirectory) != 0) {
      *problem = "a folder stands at " + Shown(path);
      return false;
    }
    // As the installer passes over them, and as Windows would refuse.
    if ((attributes & kAttrReadOnly) != 0) {
      *problem = Shown(path) + " is read-only";
      return false;
    }
  }
  std::unique_ptr<TStream> entry;
  std::int32_t length = 0;
  if (!reader.OpenEntry(index, &entry, &length)) {
    *problem = "its data lies outside the package's data area";
    return false;
  }
  if (length < 0) {
    *problem = "its record gives a negative size";
    return false;
  }
  std::unique_ptr<AtomicFile> file;
  try {
    file = std::make_unique<AtomicFile>(path);
    std::vector<char> buffer(kPiece);
    std::int32_t left = length;
    while (left > 0) {
      const std::int32_t want = left < kPiece ? left : kPiece;
      entry->ReadExact(buffer.data(), want);
      file->Stream().WriteExact(buffer.data(), want);
      left -= want;
    }
    while (entry->Read(buffer.data(), kPiece) > 0) {
    }
    if (stamp > 0) SetLocalStamp(file->Handle(), stamp);
    file->Commit();
  } catch (const Exception& e) {
    const bool writeFailed = file != nullptr && !file->WriteFailure().empty();
    *problem = writeFailed ? Shown(path) + ": writing failed: " + file->WriteFailure() : e.Message();
    return false;
  }
  *size = length;
  return true;
}

// Another entry already owns this file, or a folder or file in its way.
bool Collides(const std::vector<std::vector<std::string>>& taken, const std::vector<std::string>& parts,
              std::string* problem) {
  for (const auto& other : taken) {
    const std::size_t common = other.size() < parts.size() ? other.size() : parts.size();
    bool samePrefix = true;
    for (std::size_t i = 0; i < common && samePrefix; ++i) samePrefix = SamePart(other[i], parts[i]);
    if (!samePrefix) continue;
    const std::string otherPath = JoinParts(other, '\\');
    if (other.size() == parts.size())
      *problem = "another entry was already written to " + Shown(otherPath);
    else if (other.size() < parts.size())
      *problem = "another entry's file " + Shown(otherPath) + " stands where its folder would be";
    else
      *problem = "another entry needs a folder where its file would be";
    return true;
  }
  return false;
}

}  // namespace

int ExtractCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{"-C", "--directory", "a folder"}, {nullptr, "--json", nullptr}}, &parsed, &problem))
    return UsageError(err, "extract", problem);
  if (parsed.help) {
    out << kExtractHelp;
    return kExitOk;
  }
  if (parsed.positional.empty()) return UsageError(err, "extract", "no PACKAGE given");
  const std::string package = parsed.positional[0];
  const std::string whyNot = PackageOpenProblem(package);
  if (!whyNot.empty()) return Failure(err, "extract", Shown(package) + ": " + whyNot);
  const std::vector<std::string> names(parsed.positional.begin() + 1, parsed.positional.end());
  std::string folder = parsed.Value("--directory", ".");
  if (folder.empty()) return UsageError(err, "extract", "the folder given with -C is empty");
  const bool json = parsed.Has("--json");

  std::vector<Written> written;
  std::vector<Refused> refused;
  try {
    TPreLoadReader reader(package);
    double stampTime = 0;
    const PackageScript script = ReadPackageScript(reader);
    if (script.state == ScriptState::Read && !ScriptStampTime(script.text, &stampTime)) stampTime = 0;

    std::vector<std::string> entryNames;
    entryNames.reserve(static_cast<std::size_t>(reader.EntryCount()));
    for (int i = 0; i < reader.EntryCount(); ++i) entryNames.push_back(reader.EntryName(i));
    std::vector<std::string> unmatched;
    std::vector<int> selected;
    for (std::size_t i : SelectEntries(entryNames, names, &unmatched)) selected.push_back(static_cast<int>(i));
    for (const std::string& name : unmatched) refused.push_back({name, "the package has no entry of this name"});

    if (!selected.empty()) {
      const std::uint32_t attributes = Sys().GetAttributes(folder);
      if (attributes == kInvalidAttributes) {
        MakeDirectoryPath(folder);
        Sys().CreateDirectory(folder);  // a short name that the climb leaves alone
      } else if ((attributes & kAttrDirectory) == 0) {
        return Failure(err, "extract", Shown(folder) + ": is a file, not a folder");
      }
      if (!IsDirectory(folder)) return Failure(err, "extract", Shown(folder) + ": the folder cannot be created");
    }
    const char separator = Sys().PathSeparator();
    const std::string root = folder.back() == separator ? folder : folder + separator;

    std::vector<std::vector<std::string>> taken;
    for (int index : selected) {
      const std::string& name = reader.EntryName(index);
      std::vector<std::string> parts;
      if (!SafeRelativeParts(name, &parts, &problem) || Collides(taken, parts, &problem)) {
        refused.push_back({name, problem});
        continue;
      }
      const std::string path = root + JoinParts(parts, separator);
      std::vector<std::string> folderParts(parts.begin(), parts.end() - 1);
      if (!folderParts.empty()) MakeDirectoryPath(root + JoinParts(folderParts, separator));
      const double date = reader.EntryDate(index);
      const double stamp = date > 0 ? std::trunc(date) + stampTime : 0;
      std::int64_t size = 0;
      if (!WriteEntry(reader, index, path, stamp, &size, &problem)) {
        refused.push_back({name, problem});
        continue;
      }
      taken.push_back(parts);
      written.push_back({index, path, size, stamp});
    }
  } catch (const Exception& e) {
    return Failure(err, "extract", Shown(package) + ": " + PackageReadProblem(e.Message()));
  }

  for (const Refused& r : refused)
    err << "plf extract: " << Shown(package) << ": entry \"" << Shown(r.name) << "\" not written: " << r.reason
        << "\n";
  if (json) {
    JsonWriter j(out);
    j.BeginObject().Field("package", Sys().AnsiToUtf8(package)).Field("folder", Sys().AnsiToUtf8(folder));
    j.Key("files").BeginArray();
    for (const Written& w : written) {
      j.BeginObject().Field("index", w.index).Field("path", Sys().AnsiToUtf8(w.path)).Field("size", w.size);
      j.Field("date", OleDateText(w.stamp)).EndObject();
    }
    j.EndArray().Key("refused").BeginArray();
    for (const Refused& r : refused) j.BeginObject().Field("entry", Sys().AnsiToUtf8(r.name)).Field("reason", r.reason).EndObject();
    j.EndArray().EndObject();
  } else {
    std::vector<std::vector<std::string>> rows{{"#", "File", "Size", "Date"}};
    for (const Written& w : written)
      rows.push_back({std::to_string(w.index), Shown(w.path), std::to_string(w.size), OleDateText(w.stamp)});
    if (!written.empty()) PrintTable(rows, {true, false, true, false}, out);
    out << written.size() << (written.size() == 1 ? " file" : " files") << " written";
    if (!refused.empty()) out << ", " << refused.size() << " refused";
    out << "\n";
  }
  return refused.empty() ? kExitOk : kExitFailure;
}

}  // namespace plf::tools
