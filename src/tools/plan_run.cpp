#include "tools/plan_run.h"

#include <memory>

#include "driver/backup_name.h"
#include "driver/entry.h"
#include "driver/install.h"
#include "driver/verify.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "runtime/string_list.h"
#include "text/ini_string_list.h"
#include "text/message_box.h"
#include "text/textutil.h"
#include "tools/memory_platform.h"
#include "tools/script_lint.h"

namespace plf::tools {

namespace {

// A line of [Files] that the installation serves as a line like any other
// and that changes nothing: no "=" (so no target, no folder), and a name
// longer than any entry can have (so never found). Two of them around the
// real line keep the trimming of the section body away from its blanks.
const std::string& InertLine() {
  static const std::string line(300, '0');
  return line;
}

std::string OneLineScript(const std::string& rename, const std::string& stamp, const std::string* line) {
  std::string script = "[Options]\r\nRename=" + rename + "\r\nTimeStamp=" + stamp + "\r\n[Files]\r\n";
  if (line != nullptr) script += InertLine() + "\r\n" + *line + "\r\n" + InertLine() + "\r\n";
  return script;
}

void Install(TPreLoadReader& reader, const std::string& scriptText, std::string* folderMade = nullptr) {
  TIniStringList script;
  script.LoadText(scriptText);
  InstallFiles(reader, script, folderMade);
}

bool IsCreate(std::int64_t disposition) {
  return disposition == static_cast<std::int64_t>(Disposition::CreateAlways) ||
         disposition == static_cast<std::int64_t>(Disposition::CreateNew);
}

struct LineContext {
  TPreLoadReader& reader;
  PlanPlatform& platform;
  std::string pattern;  // the Rename pattern in the host's notation
};

// What the recorded operations of one line say happened.
void ReadOperations(const std::vector<FileOperation>& ops, const LineContext& c, bool targetPresent,
                    bool targetReadOnly, LineForecast* lf) {
  std::string written;
  bool movedAway = false;
  for (std::size_t i = lf->firstOperation; i < lf->endOperation; ++i) {
    const FileOperation& op = ops[i];
    if (!op.succeeded) continue;
    switch (op.kind) {
      case FileOperation::Kind::CreateFolder:
        lf->folders.push_back(op.path);
        break;
      case FileOperation::Kind::Move:
        if (written.empty() && op.path == lf->target) {
          movedAway = true;
          lf->backup = op.path2;
        } else if (!lf->backup.empty() && op.path == lf->backup && op.path2 == lf->target) {
          lf->restored = true;
        }
        break;
      case FileOperation::Kind::OpenForWrite:
        if (written.empty() && IsCreate(op.value)) written = op.path;
        break;
      case FileOperation::Kind::Written:
        if (op.path == written) lf->bytes += op.value;
        break;
      case FileOperation::Kind::Stamp:
        // Dated through the handle that wrote it, under the temporary name
        // when the file replaces a target.
        if (op.path == lf->target || (!written.empty() && op.path == written)) {
          lf->stamped = true;
          lf->stampUtc = op.value;
        }
        break;
      default:
        break;
    }
  }
  if (lf->action == LineAction::Fail) return;
  if (written.empty()) {
    const int index = c.reader.FindEntry(lf->entry);
    lf->action = index < 0 ? LineAction::PassMissing
                 : targetReadOnly ? LineAction::PassReadOnly
                                  : LineAction::PassUnopenable;
    return;
  }
  if (written == lf->target) {
    lf->action = movedAway ? LineAction::BackUpThenWrite : LineAction::Create;
    return;
  }
  lf->action = LineAction::Replace;
  lf->temporary = written;
  std::string backup;
  MakeBackupName(lf->target, c.pattern, &backup);
  FoundItem item;
  if (targetPresent && c.platform.Peek(backup, &item) && !item.IsDirectory()) lf->backup = backup;
}

// The run's steps after the package is open, as the install run takes them.
void RunPlanned(TPreLoadReader& reader, PlanPlatform& platform, Forecast* f) {
  const int index = reader.FindEntry("SCRIPT");
  if (index < 0) ExitBadFormat();
  std::unique_ptr<TStream> stream;
  std::int32_t size = 0;
  reader.OpenEntry(index, &stream, &size);
  std::string text;
  ReadStreamToString(stream.get(), size, &text);
  stream.reset();
  TIniStringList script;
  script.LoadText(text);

  if (script.FindSection("Verify") != -1) {
    f->hasVerify = true;
    if (!VerifyScript(script)) {
      f->outcome = RunOutcome::VerifyFailed;
      for (const FileOperation& op : platform.Operations())
        if (op.kind == FileOperation::Kind::Query) f->failedTest = op.path;
      return;
    }
  }

  std::string rename, stamp, body;
  script.ReadString("Options", "Rename", &rename);
  script.ReadString("Options", "TimeStamp", &stamp);
  script.ReadSection("Files", &body);
  TStringList lines;
  lines.SetText(Trim(body));
  const std::vector<ScriptLine> numbered = TrimmedSectionLines(text, "Files");

  LineContext context{reader, platform, Sys().ScriptPath(rename.empty() ? kDefaultRenamePattern : rename)};
  for (int i = 0; i < lines.Count(); ++i) {
    LineForecast lf;
    lf.scriptLine = static_cast<std::size_t>(i) < numbered.size() ? numbered[static_cast<std::size_t>(i)].line : 0;
    std::string target = lines.Strings(i);
    SplitOff(&target, '=', &lf.entry);
    lf.target = Sys().ScriptPath(target);
    f->lines.push_back(lf);
  }

  // The settings are read, and a bad TimeStamp refused, before any line.
  Install(reader, OneLineScript(rename, stamp, nullptr));
  std::string folderMade;  // as one run carries it from line to line
  for (int i = 0; i < lines.Count(); ++i) {
    LineForecast& lf = f->lines[static_cast<std::size_t>(i)];
    FoundItem item;
    const bool present = !lf.target.empty() && platform.Peek(lf.target, &item);
    const bool readOnly = present && (item.attributes & kAttrReadOnly) != 0;
    lf.firstOperation = platform.Operations().size();
    const std::string& line = lines.Strings(i);
    try {
      Install(reader, OneLineScript(rename, stamp, &line), &folderMade);
    } catch (const Exception& e) {
      lf.action = LineAction::Fail;
      lf.failure = e.Message();
      lf.endOperation = platform.Operations().size();
      ReadOperations(platform.Operations(), context, present, readOnly, &lf);
      throw;
    }
    lf.endOperation = platform.Operations().size();
    ReadOperations(platform.Operations(), context, present, readOnly, &lf);
  }
}

}  // namespace

const char* ActionName(LineAction action) {
  switch (action) {
    case LineAction::Create:
      return "create";
    case LineAction::BackUpThenWrite:
      return "backup-write";
    case LineAction::Replace:
      return "replace";
    case LineAction::PassMissing:
      return "pass-missing-entry";
    case LineAction::PassReadOnly:
      return "pass-read-only";
    case LineAction::PassUnopenable:
      return "pass-cannot-open";
    case LineAction::Fail:
      return "fail";
    case LineAction::NotReached:
      return "not-reached";
  }
  return "?";
}

Forecast PlanInstall(const std::string& package, const std::string& folder) {
  Forecast f;
  f.package = Sys().FullPath(package);
  f.folder = Sys().FullPath(folder.empty() ? std::string(".") : folder);
  MemoryPlatform view(Sys(), f.folder);  // takes relative paths from the folder itself
  PlanPlatform platform(view);
  std::unique_ptr<TPreLoadReader> reader;
  {
    ScopedPlatform scope(platform);
    try {
      reader = std::make_unique<TPreLoadReader>(f.package);
      RunPlanned(*reader, platform, &f);
    } catch (const ProcessExit& e) {
      f.outcome = RunOutcome::BadFormat;
      f.exitCode = e.code;
    } catch (const Exception& e) {
      f.outcome = RunOutcome::Error;
      f.exitCode = 1;
      ShowError(e.Message());
    }
    reader.reset();
  }
  f.operations = platform.Operations();
  for (const FileOperation& op : f.operations) {
    if (op.kind != FileOperation::Kind::Message) continue;
    f.message = op.path;
    f.caption = op.path2;
  }
  return f;
}

}  // namespace plf::tools
