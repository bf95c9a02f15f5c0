// plf diff: what changed between two releases of a package.
#include <ostream>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/package_diff.h"
#include "tools/package_script.h"

namespace plf::tools {

namespace {

constexpr const char kDiffHelp[] =
    "Usage: plf diff [OPTIONS] OLD NEW\n"
    "\n"
    "Compares two packages as the installer sees them: the entries added,\n"
    "removed and changed (by content, not by date; letter case of names\n"
    "ignored) and how many are unchanged; then the install scripts section\n"
    "by section: [Verify] lines added and removed, [Options] keys whose value\n"
    "differs, [Files] lines added, removed, or installing an entry elsewhere.\n"
    "\n"
    "Options:\n"
    "      --json   print the differences as JSON\n"
    "  -h, --help   show this help\n"
    "\n"
    "Exit code 0 when the packages are equal, 1 when they differ, 2 when\n"
    "they cannot be compared (as diff and cmp have it).\n";

int Trouble(std::ostream& err, const std::string& problem) {
  err << "plf diff: " << problem << "\n";
  return kExitUsage;
}

void JsonLines(JsonWriter& j, const std::vector<FilesLine>& lines) {
  j.BeginArray();
  for (const FilesLine& f : lines)
    j.BeginObject()
        .Field("line", f.line)
        .Field("entry", Sys().AnsiToUtf8(f.entry))
        .Field("target", Sys().AnsiToUtf8(f.target))
        .EndObject();
  j.EndArray();
}

void JsonNames(JsonWriter& j, const std::vector<std::string>& names) {
  j.BeginArray();
  for (const std::string& n : names) j.String(Sys().AnsiToUtf8(n));
  j.EndArray();
}

void PrintJson(const std::string& oldPath, const std::string& newPath, const EntryDiff& e, const ScriptDiff& s,
               std::ostream& out) {
  JsonWriter j(out);
  j.BeginObject().Field("old", Sys().AnsiToUtf8(oldPath)).Field("new", Sys().AnsiToUtf8(newPath));
  j.Field("equal", e.added.empty() && e.removed.empty() && e.changed.empty() && s.Empty());
  j.Key("entries").BeginObject().Key("added");
  JsonNames(j, e.added);
  j.Key("removed");
  JsonNames(j, e.removed);
  j.Key("changed");
  JsonNames(j, e.changed);
  j.Field("unchanged", static_cast<std::int64_t>(e.unchanged)).EndObject();
  j.Key("script").BeginObject().Key("verify").BeginObject().Key("added");
  JsonNames(j, s.verifyAdded);
  j.Key("removed");
  JsonNames(j, s.verifyRemoved);
  j.EndObject().Key("options").BeginArray();
  for (const ScriptDiff::Option& o : s.options)
    j.BeginObject()
        .Field("key", o.key)
        .Field("old", Sys().AnsiToUtf8(o.oldValue))
        .Field("new", Sys().AnsiToUtf8(o.newValue))
        .EndObject();
  j.EndArray().Key("files").BeginObject().Key("added");
  JsonLines(j, s.filesAdded);
  j.Key("removed");
  JsonLines(j, s.filesRemoved);
  j.Key("moved").BeginArray();
  for (const ScriptDiff::Moved& m : s.filesMoved) {
    j.BeginObject().Field("entry", Sys().AnsiToUtf8(m.entry)).Key("old_targets");
    JsonNames(j, m.oldTargets);
    j.Key("new_targets");
    JsonNames(j, m.newTargets);
    j.EndObject();
  }
  j.EndArray().EndObject().EndObject().EndObject();
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& i : items) text += (text.empty() ? "" : ", ") + Shown(i);
  return text;
}

void PrintText(const EntryDiff& e, const ScriptDiff& s, std::ostream& out) {
  out << "Entries: " << e.added.size() << " added, " << e.removed.size() << " removed, " << e.changed.size()
      << " changed, " << e.unchanged << " unchanged\n";
  for (const std::string& n : e.added) out << "  added    " << Shown(n) << "\n";
  for (const std::string& n : e.removed) out << "  removed  " << Shown(n) << "\n";
  for (const std::string& n : e.changed) out << "  changed  " << Shown(n) << "\n";
  if (!s.verifyAdded.empty() || !s.verifyRemoved.empty()) {
    out << "[Verify]\n";
    for (const std::string& l : s.verifyAdded) out << "  + " << Shown(l) << "\n";
    for (const std::string& l : s.verifyRemoved) out << "  - " << Shown(l) << "\n";
  }
  if (!s.options.empty()) {
    out << "[Options]\n";
    for (const ScriptDiff::Option& o : s.options)
      out << "  " << o.key << ": \"" << Shown(o.oldValue) << "\" -> \"" << Shown(o.newValue) << "\"\n";
  }
  if (!s.filesAdded.empty() || !s.filesRemoved.empty() || !s.filesMoved.empty()) {
    out << "[Files]\n";
    for (const FilesLine& f : s.filesAdded) out << "  + " << Shown(f.entry) << "=" << Shown(f.target) << "\n";
    for (const FilesLine& f : s.filesRemoved) out << "  - " << Shown(f.entry) << "=" << Shown(f.target) << "\n";
    for (const ScriptDiff::Moved& m : s.filesMoved)
      out << "  ~ " << Shown(m.entry) << ": " << Joined(m.oldTargets) << " -> " << Joined(m.newTargets) << "\n";
  }
}

}  // namespace

int DiffCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{nullptr, "--json", nullptr}}, &parsed, &problem)) return UsageError(err, "diff", problem);
  if (parsed.help) {
    out << kDiffHelp;
    return kExitOk;
  }
  if (parsed.positional.size() != 2)
    return UsageError(err, "diff", parsed.positional.size() < 2 ? "give the OLD and the NEW package" : "give two packages only");
  const std::string& oldPath = parsed.positional[0];
  const std::string& newPath = parsed.positional[1];
  for (const std::string& path : {oldPath, newPath}) {
    const std::string whyNot = PackageOpenProblem(path);
    if (!whyNot.empty()) return Trouble(err, Shown(path) + ": " + whyNot);
  }
  std::string current = oldPath;
  try {
    TPreLoadReader oldPackage(oldPath);
    current = newPath;
    TPreLoadReader newPackage(newPath);
    current.clear();
    const EntryDiff entries = DiffEntries(oldPackage, newPackage);
    const ScriptDiff script = DiffScripts(ReadPackageScript(oldPackage).text, ReadPackageScript(newPackage).text);
    const bool equal = entries.added.empty() && entries.removed.empty() && entries.changed.empty() && script.Empty();
    if (parsed.Has("--json")) {
      PrintJson(oldPath, newPath, entries, script, out);
    } else if (equal) {
      out << Shown(oldPath) << " and " << Shown(newPath) << " are equal: " << entries.unchanged
          << (entries.unchanged == 1 ? " entry" : " entries") << " of the same content, the same script\n";
    } else {
      PrintText(entries, script, out);
    }
    return equal ? kExitOk : kExitFailure;
  } catch (const Exception& e) {
    return Trouble(err, current.empty() ? e.Message() : Shown(current) + ": " + PackageReadProblem(e.Message()));
  }
}

}  // namespace plf::tools
