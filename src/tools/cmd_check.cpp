// plf check: the install script's traps, against its package.
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "driver/entry.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/package_script.h"
#include "tools/script_lint.h"

namespace plf::tools {

namespace {

constexpr const char kCheckHelp[] =
    "Usage: plf check [OPTIONS] PACKAGE\n"
    "       plf check [OPTIONS] --script SCRIPT [PACKAGE]\n"
    "\n"
    "Reads the install script of PACKAGE (or the file SCRIPT) with the\n"
    "installer's own rules and reports every line that will not do what it\n"
    "seems to: [Files] lines whose entry is missing or differs only in blanks\n"
    "or slashes, entries no line installs, lines without \"=\", key lines the\n"
    "lookup never finds (indented, blank before \"=\"), indented [Verify]\n"
    "tests, unknown sections and keys, section headers no lookup matches, a\n"
    "TimeStamp that does not parse, a Rename pattern without \"*\", two lines\n"
    "for one target, entries dated outside what the installer can stamp,\n"
    "text and entry names in UTF-8 (the installer reads code page 1250), a\n"
    "target holding a character Windows refuses (< > \" | ? * : or a control\n"
    "character) or a name ending in a dot or blank.\n"
    "Without a package the entries are not checked.\n"
    "\n"
    "Each finding: line, severity (error, warning, note), one sentence.\n"
    "\n"
    "Options:\n"
    "      --script SCRIPT  check this script file instead of the package's\n"
    "      --json           print the findings as JSON\n"
    "      --strict         count warnings as errors for the exit code\n"
    "  -h, --help           show this help\n"
    "\n"
    "Exit code 0 when there are only warnings and notes, or no findings; 1 when\n"
    "there is an error (with --strict, a warning too) or the package or script\n"
    "cannot be read; 2 for a usage error.\n";

constexpr std::uint16_t kReadShared = 0x20;

std::string ReadWholeFile(const std::string& path) {
  TFileStream file(path, kReadShared);
  std::string text;
  ReadStreamToString(&file, -1, &text);
  return text;
}

void Print(const std::string& subject, const std::vector<Finding>& findings, bool json, const std::string& script,
           const std::string& package, std::ostream& out) {
  int counts[3] = {0, 0, 0};
  for (const Finding& f : findings) ++counts[static_cast<int>(f.severity)];
  if (json) {
    JsonWriter j(out);
    j.BeginObject().Key("script");
    if (script.empty())
      j.Null();
    else
      j.String(Sys().AnsiToUtf8(script));
    j.Key("package");
    if (package.empty())
      j.Null();
    else
      j.String(Sys().AnsiToUtf8(package));
    j.Key("findings").BeginArray();
    for (const Finding& f : findings) {
      j.BeginObject().Key("line");
      if (f.line == 0)
        j.Null();
      else
        j.Int(f.line);
      j.Field("severity", SeverityName(f.severity)).Field("code", f.code).Field("message", f.message).EndObject();
    }
    j.EndArray().Field("errors", counts[0]).Field("warnings", counts[1]).Field("notes", counts[2]).EndObject();
    return;
  }
  if (!findings.empty()) {
    std::vector<std::vector<std::string>> rows{{"Line", "Severity", "Finding"}};
    for (const Finding& f : findings)
      rows.push_back({f.line == 0 ? "-" : std::to_string(f.line), SeverityName(f.severity), f.message + "."});
    PrintTable(rows, {true, false, false}, out);
  }
  out << subject << ": ";
  if (findings.empty()) {
    out << "no findings\n";
    return;
  }
  out << counts[0] << (counts[0] == 1 ? " error, " : " errors, ") << counts[1]
      << (counts[1] == 1 ? " warning, " : " warnings, ") << counts[2] << (counts[2] == 1 ? " note\n" : " notes\n");
}

}  // namespace

int CheckCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{nullptr, "--script", "a script file"}, {nullptr, "--json", nullptr}, {nullptr, "--strict", nullptr}}, &parsed,
                      &problem))
    return UsageError(err, "check", problem);
  if (parsed.help) {
    out << kCheckHelp;
    return kExitOk;
  }
  const std::string scriptFile = parsed.Value("--script");
  if (parsed.positional.size() > 1) return UsageError(err, "check", "give one PACKAGE only");
  if (scriptFile.empty() && parsed.positional.empty())
    return UsageError(err, "check", parsed.Has("--script") ? "the SCRIPT given is empty" : "no PACKAGE given");
  const std::string package = parsed.positional.empty() ? std::string() : parsed.positional[0];

  if (!package.empty()) {
    const std::string whyNot = PackageOpenProblem(package);
    if (!whyNot.empty()) return Failure(err, "check", Shown(package) + ": " + whyNot);
  }
  std::unique_ptr<TPreLoadReader> reader;
  LintInput input;
  try {
    if (!package.empty()) reader = std::make_unique<TPreLoadReader>(package);
  } catch (const Exception& e) {
    return Failure(err, "check", Shown(package) + ": " + PackageReadProblem(e.Message()));
  }
  input.package = reader.get();

  std::vector<Finding> findings;
  std::string subject;
  bool lint = true;
  if (!scriptFile.empty()) {
    subject = Shown(scriptFile);
    const std::string scriptProblem = FileOpenProblem(scriptFile);
    if (!scriptProblem.empty()) return Failure(err, "check", Shown(scriptFile) + ": " + scriptProblem);
    try {
      input.scriptText = ReadWholeFile(scriptFile);
    } catch (const Exception& e) {
      return Failure(err, "check", Shown(scriptFile) + ": " + e.Message());
    }
    if (reader != nullptr) input.scriptIndex = reader->FindEntry("SCRIPT");
  } else {
    subject = Shown(package) + " (SCRIPT)";
    const PackageScript script = ReadPackageScript(*reader);
    input.scriptIndex = script.index;
    input.scriptText = script.text;
    lint = script.state == ScriptState::Read;
    if (script.state == ScriptState::Missing)
      findings.push_back({0, Severity::Error, "no-script",
                          "the package has no entry 'SCRIPT', so the installer shows 'Soubor Install.PLF nemá "
                          "správný formát!' and ends with exit code 1"});
    else if (script.state == ScriptState::Unopenable)
      findings.push_back({0, Severity::Error, "script-unopenable",
                          "the entry 'SCRIPT' cannot be opened, so the installer reads an empty script and installs "
                          "nothing"});
    else if (script.state == ScriptState::Unreadable)
      findings.push_back({0, Severity::Error, "script-unreadable",
                          "the entry 'SCRIPT' cannot be read ('" + script.problem +
                              "'), so the installer stops with that error"});
  }
  if (lint) {
    const std::vector<Finding> more = LintScript(input);
    findings.insert(findings.end(), more.begin(), more.end());
  }

  Print(subject, findings, parsed.Has("--json"), scriptFile, package, out);
  int errors = 0, warnings = 0;
  for (const Finding& f : findings) {
    errors += f.severity == Severity::Error ? 1 : 0;
    warnings += f.severity == Severity::Warning ? 1 : 0;
  }
  const bool strict = parsed.Has("--strict") && warnings > 0;
  if (errors == 0 && !strict) return kExitOk;
  err << "plf check: " << subject << ": " << errors << (errors == 1 ? " error" : " errors");
  if (strict) err << ", " << warnings << (warnings == 1 ? " warning" : " warnings") << " (--strict)";
  err << "\n";
  return kExitFailure;
}

}  // namespace plf::tools
