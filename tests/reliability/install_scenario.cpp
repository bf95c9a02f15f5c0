#include "install_scenario.h"

#include <algorithm>
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

constexpr const char kErrorCaption[] = "Nastala chyba:";
constexpr const char kWarningCaption[] = "Upozornění";

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
    : appDir_(root / "app"), modulePath_(root / "setup/plfsetup.exe"), missingFolder_(root / "app/missing") {
  auto add = [this](const std::string& label, const std::string& name, const std::string& ext, std::size_t newSize,
                    std::uint32_t seed) {
    ScenarioTarget t;
    t.label = label;
    t.path = appDir_ + "/" + name + "." + ext;
    t.backup = appDir_ + "/" + name + "_OLD." + ext;
    t.temp = appDir_ + "/" + name + ".~" + ext;
    t.newContent = Noise(newSize, seed);
    targets_.push_back(t);
    return &targets_.back();
  };
  // Reserved up front: add() hands out pointers into the vector.
  targets_.reserve(5);
  // Sizes above 32768 take several pieces, so a cut or a short write can
  // fall in the middle of a file.
  ScenarioTarget* fresh = add("new file in new folders", "sub/deeper/new", "dat", 100000, 1);
  ScenarioTarget* keep = add("replace with backup", "keep", "txt", 70000, 2);
  keep->oldContent = Noise(5000, 12);
  ScenarioTarget* both = add("replace with the backup taken", "both", "txt", 50000, 3);
  both->oldContent = Noise(6000, 13);
  both->oldBackup = Noise(7000, 23);
  ScenarioTarget* readOnly = add("read-only target", "ro", "txt", 3000, 4);
  readOnly->oldContent = Noise(2000, 14);
  readOnly->installs = false;
  ScenarioTarget* dated = add("dated entry", "dated", "txt", 40000, 5);
  dated->dated = true;
  for (ScenarioTarget& t : targets_)
    for (std::string* p : {&t.path, &t.backup, &t.temp}) *p = Normal(*p);
  missingFolder_ = Normal(missingFolder_);
  appDir_ = Normal(appDir_);
  modulePath_ = Normal(modulePath_);

  std::string script = "[Verify]\r\nDir=" + appDir_ + "\r\nNoExist=" + Normal(appDir_ + "/*.lock") +
                       "\r\n[Options]\r\nTimeStamp=12:00\r\n[Files]\r\n";
  auto line = [&script](const std::string& entry, const std::string& target) {
    script += entry + "=" + target + "\r\n";
  };
  line("new.dat", fresh->path);
  line("keep.txt", keep->path);
  line("both.txt", both->path);
  line("ro.txt", readOnly->path);
  line("missing.bin", Normal(missingFolder_ + "/x.bin"));
  line("dated.txt", dated->path);

  fs::create_directories(root / "setup");
  TPackageWriter writer(root / "setup/Install.PLF");
  writer.AddBuffer("SCRIPT", script.data(), script.size());
  PackedDate day;
  PackedDate::FromCalendar(2001, 5, 6, &day);
  const char* entryNames[] = {"new.dat", "keep.txt", "both.txt", "ro.txt", "dated.txt"};
  for (std::size_t i = 0; i < targets_.size(); ++i)
    writer.AddBuffer(entryNames[i], targets_[i].newContent.data(), targets_[i].newContent.size(),
                     targets_[i].dated ? day : PackedDate::None());
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

std::vector<std::string> InstallScenario::StrayFiles() const {
  std::set<std::string> known;
  for (const ScenarioTarget& t : targets_) known.insert({t.path, t.backup, t.temp});
  std::vector<std::string> stray;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(appDir_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_directory()) continue;
    const std::string p = Normal(it->path().string());
    if (known.count(p) == 0) stray.push_back(p);
  }
  return stray;
}

std::vector<std::string> InstallScenario::CheckAfterFault(int code, const std::vector<ShownBox>& boxes) const {
  std::vector<std::string> v;
  if (code == 1) {
    if (boxes.size() != 1 || boxes[0].caption != kErrorCaption)
      v.push_back("exit code 1 without exactly one error box (" + std::to_string(boxes.size()) + " boxes)");
  } else if (code == 0) {
    if (boxes.size() > 1 || (boxes.size() == 1 && boxes[0].caption != kWarningCaption))
      v.push_back("exit code 0 with an error box or several boxes");
  } else {
    v.push_back("exit code " + std::to_string(code));
  }
  const std::string shown = boxes.empty() ? std::string() : boxes[0].text;

  for (const ScenarioTarget& t : targets_) {
    const auto target = Content(t.path);
    const auto backup = Content(t.backup);
    const auto temp = Content(t.temp);
    const std::string at = t.label + ": ";
    // A read-only target taken for writable (its attributes could not be
    // read) is written beside and then refused: the new data stays there.
    if (temp && (code != 1 || temp != t.newContent))
      v.push_back(at + "the \"~\" file holds " + Describe(temp, t) + " after exit code " + std::to_string(code));
    if (!t.installs) {
      if (target != t.oldContent) v.push_back(at + "the read-only target holds " + Describe(target, t));
      if (backup) v.push_back(at + "the read-only target was backed up");
      continue;
    }
    const bool renameFailed = code == 1 && shown == "Cannot rename " + t.temp + " to " + t.path + "!";
    const bool targetOk = target == t.oldContent || target == t.newContent ||
                          (renameFailed && !target && temp == t.newContent);
    if (!targetOk) v.push_back(at + "the target holds " + Describe(target, t));
    // A backup is either the one that was there or the old target, whole.
    const bool backupOk = backup == t.oldBackup || (!t.oldBackup && backup == t.oldContent);
    if (!backupOk) v.push_back(at + "the backup holds " + Describe(backup, t));
  }
  for (const std::string& s : StrayFiles()) v.push_back("stray file " + s);
  return v;
}

std::vector<std::string> InstallScenario::CheckAfterCrash() const {
  std::vector<std::string> v;
  for (const ScenarioTarget& t : targets_) {
    const auto target = Content(t.path);
    const auto backup = Content(t.backup);
    const auto temp = Content(t.temp);
    const std::string at = t.label + ": ";
    if (!t.installs) {
      if (target != t.oldContent) v.push_back(at + "the read-only target holds " + Describe(target, t));
      if (backup || temp) v.push_back(at + "a copy of the read-only target was made");
      continue;
    }
    const bool oldIntact = !t.oldContent || target == t.oldContent || backup == t.oldContent;
    const bool newStands = target == t.newContent || temp == t.newContent;
    if (!oldIntact && !newStands)
      v.push_back(at + "neither the old content survives nor the new one stands (target: " +
                  Describe(target, t) + ", backup: " + Describe(backup, t) + ", \"~\": " + Describe(temp, t) + ")");
    // Partial data under the target name only where the target was gone
    // before the line wrote it: new, or moved to its backup.
    if (target && target != t.oldContent && target != t.newContent && t.oldContent && backup != t.oldContent)
      v.push_back(at + "a partial target while the old content is not under the backup name");
    const bool backupOk = backup == t.oldBackup || (!t.oldBackup && backup == t.oldContent);
    if (!backupOk) v.push_back(at + "the backup holds " + Describe(backup, t));
  }
  for (const std::string& s : StrayFiles()) v.push_back("stray file " + s);
  return v;
}

std::vector<std::string> InstallScenario::CheckComplete(bool strictBackups) const {
  std::vector<std::string> v;
  for (const ScenarioTarget& t : targets_) {
    const auto target = Content(t.path);
    const auto backup = Content(t.backup);
    const auto temp = Content(t.temp);
    const std::string at = t.label + ": ";
    const auto& expected = t.installs ? std::optional<std::string>(t.newContent) : t.oldContent;
    if (target != expected) v.push_back(at + "the target holds " + Describe(target, t));
    if (!t.installs) {
      if (backup || temp) v.push_back(at + "a copy of the read-only target was made");
      continue;
    }
    const auto& wanted = t.oldBackup ? t.oldBackup : t.oldContent;
    // A file that had no old version and was cut off while being written
    // (or before its date) is what the next run finds and backs up: a
    // prefix of the new data.
    const bool cutCopy = backup && t.newContent.compare(0, backup->size(), *backup) == 0;
    const bool backupOk = backup == wanted || (!strictBackups && !t.oldContent && cutCopy);
    if (!backupOk) v.push_back(at + "the backup holds " + Describe(backup, t));
    if (temp && (strictBackups || temp != t.newContent)) v.push_back(at + "the \"~\" file holds " + Describe(temp, t));
    if (t.dated && !DatedAsExpected(t.path)) v.push_back(at + "not stamped 6 May 2001 12:00:00");
  }
  std::error_code ec;
  if (!fs::is_directory(missingFolder_, ec)) v.push_back("the folder of the missing entry's line was not made");
  for (const std::string& s : StrayFiles()) v.push_back("stray file " + s);
  return v;
}

}  // namespace plf::test
