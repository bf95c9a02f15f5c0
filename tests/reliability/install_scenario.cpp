#include "install_scenario.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <system_error>

#include "package/package_writer.h"
#include "runtime/calendar.h"
#include "runtime/platform.h"

namespace fs = std::filesystem;

namespace plf::test {

namespace {

std::optional<std::string> Content(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return std::nullopt;
  return ReadFileBytes(path);
}

std::string Describe(const std::optional<std::string>& content, const ScenarioTarget& t) {
  if (!content) return "nothing";
  if (content == t.newContent) return "the new content";
  if (content == t.oldContent) return "the old content";
  if (content == t.oldBackup) return "the earlier backup";
  return std::to_string(content->size()) + " bytes that are neither old nor new";
}

void ClearReadOnly(const std::string& folder) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
}

std::string Normal(const std::string& path) { return fs::path(path).lexically_normal().string(); }

bool DatedAsExpected(const std::string& path) {
  FoundItem item;
  std::int64_t local = 0;
  DateTimeParts p;
  if (!Sys().FindFirst(path, &item) || !Sys().UtcToLocal(item.lastWriteTime, &local) ||
      !PartsFromFileTime(local, &p))
    return false;
  return p.year == 2001 && p.month == 5 && p.day == 6 && p.hour == 12 && p.minute == 0 && p.second == 0;
}

}  // namespace

InstallScenario::InstallScenario(const TempDir& root)
    : appDir_(Normal(root / "app")), modulePath_(Normal(root / "setup/plfsetup.exe")),
      missingFolder_(Normal(root / "app/missing")) {
  const auto add = [this](const char* label, const std::string& name, const std::string& ext,
                          std::string newContent, std::optional<std::string> old = {},
                          std::optional<std::string> oldBackup = {}) {
    targets_.push_back({label, Normal(appDir_ + "/" + name + "." + ext), Normal(appDir_ + "/" + name + "_OLD." + ext),
                        Normal(appDir_ + "/" + name + ".~" + ext), old, oldBackup, newContent});
  };
  // Sizes above 32768 take several pieces, so a cut or a short write can
  // fall in the middle of a file.
  add("new file in new folders", "sub/deeper/new", "dat", Noise(100000, 1));
  add("replace with backup", "keep", "txt", Noise(70000, 2), Noise(5000, 12));
  add("replace with the backup taken", "both", "txt", Noise(50000, 3), Noise(6000, 13), Noise(7000, 23));
  add("read-only target", "ro", "txt", Noise(3000, 4), Noise(2000, 14));
  targets_.back().installs = false;
  add("dated entry", "dated", "txt", Noise(40000, 5));
  targets_.back().dated = true;

  std::string script = "[Verify]\r\nDir=" + appDir_ + "\r\nNoExist=" + Normal(appDir_ + "/*.lock") +
                       "\r\n[Options]\r\nTimeStamp=12:00\r\n[Files]\r\n";
  fs::create_directories(root / "setup");
  TPackageWriter writer(root / "setup/Install.PLF");
  PackedDate day;
  PackedDate::FromCalendar(2001, 5, 6, &day);
  for (const ScenarioTarget& t : targets_) {
    const std::string entry = fs::path(t.path).filename().string();
    if (t.dated) script += "missing.bin=" + Normal(missingFolder_ + "/x.bin") + "\r\n";
    script += entry + "=" + t.path + "\r\n";
    writer.AddBuffer(entry, t.newContent.data(), t.newContent.size(), t.dated ? day : PackedDate::None());
  }
  writer.AddBuffer("SCRIPT", script.data(), script.size());
  writer.Finish();
  Reset();
}

void InstallScenario::Reset() const {
  ClearReadOnly(appDir_);
  std::error_code ec;
  fs::remove_all(appDir_, ec);
  fs::create_directories(appDir_);
  for (const ScenarioTarget& t : targets_) {
    if (t.oldContent) WriteFileBytes(t.path, *t.oldContent);
    if (t.oldBackup) WriteFileBytes(t.backup, *t.oldBackup);
    if (!t.installs) MakeReadOnly(t.path, true);
  }
}

std::string InstallScenario::Judge(Moment when, int code, const std::vector<ShownBox>& boxes) const {
  std::string v;
  const auto add = [&v](const std::string& line) { v += "\n  " + line; };
  const bool fault = when == Moment::AfterFault;
  const bool complete = when == Moment::Complete || when == Moment::CompleteAfterCut;
  const std::string shown = boxes.empty() ? std::string() : boxes[0].text;
  // Exit code 1 comes with one error box; 0 with at most a warning.
  if (fault && (code == 1 ? boxes.size() != 1 || boxes[0].caption != "Nastala chyba:"
                          : code != 0 || boxes.size() > 1 || (!boxes.empty() && boxes[0].caption != "Upozornění")))
    add("exit code " + std::to_string(code) + " with " + std::to_string(boxes.size()) + " boxes");

  for (const ScenarioTarget& t : targets_) {
    const auto target = Content(t.path);
    const auto backup = Content(t.backup);
    const auto temp = Content(t.temp);
    const std::string state = t.label + ": the target holds " + Describe(target, t) + ", the backup " +
                              Describe(backup, t) + ", the \"~\" file " + Describe(temp, t);
    // A read-only target taken for writable (its attributes could not be
    // read) is written beside and then refused: the new data stays there.
    bool tempOk = !temp || (fault && code == 1 && temp == t.newContent);
    if (!t.installs) {
      if (target != t.oldContent || backup || !tempOk) add(state + " (read-only)");
      continue;
    }
    if (when == Moment::AfterCrash || (when == Moment::CompleteAfterCut && temp == t.newContent)) tempOk = true;
    bool targetOk = target == t.newContent;
    if (fault) {
      const bool renameFailed = code == 1 && shown == "Cannot rename " + t.temp + " to " + t.path + "!";
      // A fault that is swallowed may cost a backup or a date, never a file.
      const bool silent = code == 0 && boxes.empty();
      targetOk = target == t.newContent ||
                 (!silent && (target == t.oldContent || (renameFailed && !target && temp == t.newContent)));
    } else if (when == Moment::AfterCrash) {
      const bool oldIntact = !t.oldContent || target == t.oldContent || backup == t.oldContent;
      // Partial data under the target name only where the target was gone
      // before the line wrote it: new, or moved to its backup.
      const bool partial = target && target != t.oldContent && target != t.newContent;
      targetOk = (oldIntact || target == t.newContent || temp == t.newContent) &&
                 !(partial && t.oldContent && backup != t.oldContent);
    }
    // A backup is either the one that was there or the old target, whole.
    bool backupOk = backup == t.oldBackup || (!t.oldBackup && backup == t.oldContent);
    if (complete) {
      // A file that had no old version and was cut off while being written
      // (or before its date) is what the next run finds and backs up: a
      // prefix of the new data.
      const bool cutCopy = backup && t.newContent.compare(0, backup->size(), *backup) == 0;
      backupOk = backup == (t.oldBackup ? t.oldBackup : t.oldContent) ||
                 (when == Moment::CompleteAfterCut && !t.oldContent && cutCopy);
    }
    if (!targetOk || !backupOk || !tempOk) add(state);
    if (complete && t.dated && !DatedAsExpected(t.path)) add(t.label + ": not stamped 6 May 2001 12:00:00");
  }
  std::error_code ec;
  if (complete && !fs::is_directory(missingFolder_, ec)) add("the folder of the missing entry's line was not made");
  std::set<std::string> known;
  for (const ScenarioTarget& t : targets_) known.insert({t.path, t.backup, t.temp});
  for (auto it = fs::recursive_directory_iterator(appDir_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    if (!it->is_directory() && known.count(Normal(it->path().string())) == 0) add("stray file " + it->path().string());
  return v;
}

}  // namespace plf::test
