// plf plan: what the installer would do here, without doing it.
#include <ostream>
#include <string>
#include <vector>

#include "runtime/platform.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/plan_run.h"

namespace plf::tools {

namespace {

constexpr const char kPlanHelp[] =
    "Usage: plf plan [OPTIONS] PACKAGE\n"
    "\n"
    "A dry run of the installer on this machine: its own verification and\n"
    "installation run over a layer that reads the real files but records,\n"
    "instead of making, every change. Nothing on disk is touched. Shows the\n"
    "outcome of [Verify] (and the warning the installer would show), then per\n"
    "[Files] line what would happen - create; back up to a name, then write;\n"
    "replace through a temporary name; or pass over (missing entry, read-only\n"
    "target, entry that cannot be opened) - the size written and the date the\n"
    "file would get, the folders that would be created, and the exit code.\n"
    "Relative targets are relative to the current folder, as for the\n"
    "installer; -C gives the folder the installer would be started in.\n"
    "\n"
    "Options:\n"
    "  -C, --directory DIR  plan the run with DIR as the current folder\n"
    "      --operations     also list every recorded file operation\n"
    "      --json           print the forecast as JSON\n"
    "  -h, --help           show this help\n"
    "\n"
    "The exit code is the one the installer would end with (1 after its error\n"
    "box or for a package without a script), or 2 for a usage error.\n";

bool Writes(LineAction a) {
  return a == LineAction::Create || a == LineAction::BackUpThenWrite || a == LineAction::Replace ||
         (a == LineAction::Fail);
}

std::string ActionText(const LineForecast& l) {
  switch (l.action) {
    case LineAction::Create:
      return "create";
    case LineAction::BackUpThenWrite:
      return "back up to " + Shown(l.backup) + ", then write";
    case LineAction::Replace:
      return "replace through " + Shown(l.temporary) +
             (l.backup.empty() ? std::string(", keeping no backup")
                               : ", keeping the existing backup " + Shown(l.backup));
    case LineAction::PassMissing:
      return "pass over: the package has no such entry";
    case LineAction::PassReadOnly:
      return "pass over: the target is read-only";
    case LineAction::PassUnopenable:
      return "pass over: the entry cannot be opened";
    case LineAction::Fail:
      return "fail: " + l.failure + (l.restored ? " (the old file is put back)" : "");
    case LineAction::NotReached:
      return "not reached";
  }
  return "?";
}

std::string VerifyText(const Forecast& f) {
  if (!f.hasVerify) return "no [Verify] section";
  if (f.outcome != RunOutcome::VerifyFailed) return "passed";
  return "the test of '" + Shown(f.failedTest) + "' fails: the installer shows the warning \"" + f.message +
         "\" and installs nothing";
}

void PrintText(const Forecast& f, bool operations, std::ostream& out) {
  PrintTable({{"Package:", Shown(f.package)}, {"Folder:", Shown(f.folder)}}, {false, false}, out);
  if (f.outcome == RunOutcome::BadFormat) {
    out << "Script:   the package has no entry SCRIPT: the installer shows the warning \"" << f.message
        << "\"\n";
  } else {
    out << "Verify:   " << VerifyText(f) << "\n";
  }
  if (!f.lines.empty()) {
    out << "\n";
    std::vector<std::vector<std::string>> rows{{"Line", "Entry", "Target", "Action", "Size", "Date"}};
    for (const LineForecast& l : f.lines) {
      const bool writes = Writes(l.action) && l.action != LineAction::Fail;
      rows.push_back({l.scriptLine > 0 ? std::to_string(l.scriptLine) : "?", Shown(l.entry), Shown(l.target),
                      ActionText(l), writes ? std::to_string(l.bytes) : "-",
                      l.stamped ? LocalTimeText(l.stampUtc) : writes ? "time of writing" : "-"});
    }
    PrintTable(rows, {true, false, false, false, true, false}, out);
  }
  std::vector<std::vector<std::string>> folders;
  for (const LineForecast& l : f.lines)
    for (const std::string& folder : l.folders)
      folders.push_back({"  " + Shown(folder), "(line " + std::to_string(l.scriptLine) + ")"});
  if (!folders.empty()) {
    out << "\nFolders created:\n";
    PrintTable(folders, {false, false}, out);
  }
  if (operations) {
    out << "\nOperations:\n";
    for (const FileOperation& op : f.operations) out << "  " << Describe(op) << "\n";
  }
  out << "\n";
  if (f.outcome == RunOutcome::Error) out << "Error box: \"" << f.message << "\"\n";
  out << "Exit code: " << f.exitCode << "\n";
}

void PrintJson(const Forecast& f, bool operations, std::ostream& out) {
  JsonWriter j(out);
  j.BeginObject().Field("package", Sys().AnsiToUtf8(f.package)).Field("folder", Sys().AnsiToUtf8(f.folder));
  j.Key("verify").BeginObject().Field("present", f.hasVerify).Field("passed", f.outcome != RunOutcome::VerifyFailed);
  if (f.outcome == RunOutcome::VerifyFailed) j.Field("failed_test", Sys().AnsiToUtf8(f.failedTest));
  j.EndObject();
  j.Key("lines").BeginArray();
  for (const LineForecast& l : f.lines) {
    j.BeginObject().Field("line", l.scriptLine).Field("entry", Sys().AnsiToUtf8(l.entry));
    j.Field("target", Sys().AnsiToUtf8(l.target)).Field("action", ActionName(l.action));
    if (!l.backup.empty()) j.Field("backup", Sys().AnsiToUtf8(l.backup));
    if (!l.temporary.empty()) j.Field("temporary", Sys().AnsiToUtf8(l.temporary));
    if (Writes(l.action)) j.Field("bytes", l.bytes);
    j.Key("date");
    if (l.stamped)
      j.String(LocalTimeText(l.stampUtc));
    else
      j.Null();
    j.Key("folders").BeginArray();
    for (const std::string& folder : l.folders) j.String(Sys().AnsiToUtf8(folder));
    j.EndArray();
    if (l.action == LineAction::Fail) j.Field("failure", l.failure).Field("restored", l.restored);
    j.EndObject();
  }
  j.EndArray().Key("message");
  if (f.message.empty())
    j.Null();
  else
    j.BeginObject().Field("caption", f.caption).Field("text", f.message).EndObject();
  j.Field("exit_code", f.exitCode);
  if (operations) {
    j.Key("operations").BeginArray();
    for (const FileOperation& op : f.operations) j.String(Describe(op));
    j.EndArray();
  }
  j.EndObject();
}

}  // namespace

int PlanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args,
                      {{"-C", "--directory", "a folder"}, {nullptr, "--json", nullptr}, {nullptr, "--operations", nullptr}},
                      &parsed, &problem))
    return UsageError(err, "plan", problem);
  if (parsed.help) {
    out << kPlanHelp;
    return kExitOk;
  }
  if (parsed.positional.size() != 1)
    return UsageError(err, "plan", parsed.positional.empty() ? "no PACKAGE given" : "give one PACKAGE only");
  const std::string& package = parsed.positional[0];
  const std::string whyNot = PackageOpenProblem(package);
  if (!whyNot.empty()) return Failure(err, "plan", Shown(package) + ": " + whyNot);
  const std::string folder = parsed.Value("--directory");
  if (parsed.Has("--directory")) {
    const std::uint32_t attributes = Sys().GetAttributes(folder);
    if (folder.empty() || attributes == kInvalidAttributes || (attributes & kAttrDirectory) == 0)
      return Failure(err, "plan", Shown(folder) + ": no such folder");
  }
  FoundItem item;
  if (!Sys().FindFirst(package, &item) || item.IsDirectory())
    return Failure(err, "plan", Shown(package) + ": no such file");

  const Forecast f = PlanInstall(package, folder);
  if (parsed.Has("--json"))
    PrintJson(f, parsed.Has("--operations"), out);
  else
    PrintText(f, parsed.Has("--operations"), out);
  if (f.outcome == RunOutcome::Error)
    err << "plf plan: " << Shown(package) << ": the installer would stop with the error \"" << f.message << "\"\n";
  return f.exitCode;
}

}  // namespace plf::tools
