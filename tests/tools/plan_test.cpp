// plf plan against the real thing: the forecast is made, the tree is proven
// untouched, then the installer runs for real on the same tree through a
// layer that records what it does; both records must agree operation by
// operation, and the tree must end up as the forecast says.

#include <tuple>

#include "driver/entry.h"
#include "tool_harness.h"
#include "tools/plan_platform.h"
#include "tools/plan_run.h"

namespace plf::tools {
namespace {

namespace fs = std::filesystem;
using Kind = FileOperation::Kind;

// A script path as the installer uses it on this host ("/" written).
std::string H(std::string path) {
  for (char& c : path)
    if (c == '/') c = Sys().PathSeparator();
  return path;
}

class PlanAgainstRun : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(target); }

  void Package(const std::string& script, std::vector<test::Entry> entries) {
    entries.insert(entries.begin(), {"SCRIPT", script});
    test::WritePackage(package, entries);
  }

  // Plans, checks that nothing changed, runs the installer for real in the
  // same folder, and compares the two records.
  Forecast PlanThenRun() {
    const test::Tree before = test::Snapshot(dir.Path());
    Forecast f = PlanInstall(package, target);
    EXPECT_TRUE(test::Snapshot(dir.Path()) == before) << "the plan changed the disk";

    fs::create_directories(dir / "run");
    fs::copy_file(package, dir / "run/Install.PLF");
    plf::test::CapturePlatform capture;
    capture.modulePath = dir / "run/plfsetup";
    PlanPlatform recorder(capture, target);
    int realCode = -1;
    {
      ScopedPlatform scope(recorder);
      realCode = InstallerMain();
    }
    std::vector<FileOperation> realOps;
    for (const FileOperation& op : recorder.Operations())
      if (!(op.kind == Kind::Query && op.path == dir / "run/Install.PLF")) realOps.push_back(op);
    EXPECT_TRUE(f.operations == realOps) << f.operations.size() << " operations forecast, " << realOps.size() << " made";
    EXPECT_EQ(f.exitCode, realCode);
    return f;
  }

  std::string At(const std::string& relative) const { return target + "/" + relative; }

  plf::test::TempDir dir;
  const std::string target = dir / "target";
  const std::string package = dir / "p.plf";
};

TEST_F(PlanAgainstRun, EveryKindOfLineForecastsWhatTheInstallerDoes) {
  fs::create_directories(At("App"));
  plf::test::WriteFileBytes(At("App/app.exe"), "old app");
  plf::test::WriteFileBytes(At("App/lib.dll"), "old lib");
  plf::test::WriteFileBytes(At("App/lib_OLD.dll"), "oldest lib");
  plf::test::WriteFileBytes(At("App/ro.txt"), "read-only");
  plf::test::MakeReadOnly(At("App/ro.txt"), true);
  plf::test::WriteFileBytes(At("App/keep.txt"), "kept");
  const PackedDate march = test::Date(2000, 3, 5);
  Package("[Verify]\r\nDir=App\r\nNoExist=App\\*.tmp\r\n[Options]\r\nTimeStamp=12:00\r\n[Files]\r\n"
      "app.exe=App\\app.exe\r\n"          // 7: backed up, then written
      "lib.dll=App\\lib.dll\r\n"          // 8: the backup exists: replaced in place
      "ro.txt=App\\ro.txt\r\n"            // 9: read-only: passed over
      "new.txt=App\\sub\\deep\\new.txt\r\n"  // 10: two folders, then created
      "missing=App\\nothere\\m.txt\r\n"   // 11: no entry, but the folder is made
      "a.txt=App\\twice.txt\r\n"          // 12: created
      "b.txt=App\\twice.txt\r\n"          // 13: the same target again
      "plain=App\\plain.txt\r\n"          // 14: no date: keeps its time of writing
      "broken=App\\keep.txt\r\n",         // 15: cannot be opened: the old file stays
      {{"app.exe", "new app", march}, {"lib.dll", "new lib", march}, {"ro.txt", "new ro", march},
       {"new.txt", std::string(70000, 'n'), march}, {"a.txt", "first", march}, {"b.txt", "second", march},
       {"plain", "plain"}, {"broken", "never", march}});
  // The data of "broken" is moved before the data area.
  std::string bytes = plf::test::ReadFileBytes(package);
  const std::size_t record = bytes.size() - 44;
  StoreLE32(reinterpret_cast<std::uint8_t*>(&bytes[record + 4]), 19);
  plf::test::WriteFileBytes(package, bytes);

  const Forecast f = PlanThenRun();
  EXPECT_EQ(f.outcome, RunOutcome::Installed);
  using Line = std::tuple<int, LineAction, std::int64_t, bool>;  // line, action, bytes, stamped
  std::vector<Line> lines;
  for (const LineForecast& l : f.lines) lines.emplace_back(l.scriptLine, l.action, l.bytes, l.stamped);
  EXPECT_EQ(lines, (std::vector<Line>{{7, LineAction::BackUpThenWrite, 7, true}, {8, LineAction::Replace, 7, true},
                                      {9, LineAction::PassReadOnly, 0, false}, {10, LineAction::Create, 70000, true},
                                      {11, LineAction::PassMissing, 0, false}, {12, LineAction::Create, 5, true},
                                      {13, LineAction::BackUpThenWrite, 6, true}, {14, LineAction::Create, 5, false},
                                      {15, LineAction::PassUnopenable, 0, false}}));
  ASSERT_EQ(f.lines.size(), 9u);
  EXPECT_EQ(f.lines[1].temporary, H("App/lib.~dll"));
  EXPECT_EQ(f.lines[1].backup, H("App/lib_OLD.dll"));
  EXPECT_EQ(f.lines[3].folders, (std::vector<std::string>{H("App/sub"), H("App/sub/deep")}));
}

TEST_F(PlanAgainstRun, RunsThatEndEarly) {
  // The script (empty: a package that has none), the outcome, its message, what each line does.
  const std::tuple<std::string, RunOutcome, std::string, std::vector<LineAction>> cases[] = {
      {"[Verify]\r\nFile=App\\none.exe\r\n[Files]\r\na=x.txt\r\n", RunOutcome::VerifyFailed,
       "Nebyla nalezena předchozí instalace!", {}},
      {"[Options]\r\nTimeStamp=25:00\r\n[Files]\r\na=x.txt\r\n", RunOutcome::Error, "'25:00' is not a valid time",
       {LineAction::NotReached}},
      {"[Files]\r\na=first.txt\r\na=file\\below.txt\r\na=last.txt\r\n", RunOutcome::Error,
       "Nelze vytvořit soubor file/below.txt", {LineAction::Create, LineAction::Fail, LineAction::NotReached}},
      {"", RunOutcome::BadFormat, "Soubor Install.PLF nemá správný formát!", {}},
  };
  for (const auto& [script, outcome, message, actions] : cases) {
    fs::remove_all(dir / "run");
    fs::remove_all(target);
    fs::create_directories(target);
    plf::test::WriteFileBytes(At("file"), "a file, not a folder");
    if (script.empty())
      test::WritePackage(package, {{"a", "data"}});
    else
      Package(script, {{"a", "data"}});
    const Forecast f = PlanThenRun();
    EXPECT_EQ(f.outcome, outcome) << message;
    EXPECT_EQ(f.message, H(message));
    std::vector<LineAction> done;
    for (const LineForecast& l : f.lines) done.push_back(l.action);
    EXPECT_EQ(done, actions) << message;
  }
  EXPECT_FALSE(fs::exists(At("last.txt")));
}

TEST_F(PlanAgainstRun, CommandOutput) {
  fs::create_directories(At("App"));
  plf::test::WriteFileBytes(At("App/app.exe"), "old app");
  Package("[Options]\r\nTimeStamp=12:00\r\n[Files]\r\napp.exe=App\\app.exe\r\nnew=App\\n\\new.txt\r\n",
          {{"app.exe", "new app", test::Date(2000, 3, 5)}, {"new", "n"}});
  const test::Result r = test::Tool({"plan", "-C", target, package});
  EXPECT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> lines = test::Lines(r.out);
  ASSERT_GE(lines.size(), 10u) << r.out;
  EXPECT_EQ(lines[2], "Verify:   no [Verify] section");
  EXPECT_EQ(lines[5],
            H("   4  app.exe  App/app.exe    back up to App/app_OLD.exe, then write     7  2000-03-05 12:00:00"))
      << r.out;
  EXPECT_EQ(lines.back(), "Exit code: 0");

  const std::string json = test::Tool({"plan", "--json", "-C", target, package}).out;
  const std::string separator = Sys().PathSeparator() == '\\' ? "\\\\" : "/";  // escaped in JSON
  EXPECT_NE(json.find("\"action\":\"backup-write\",\"backup\":\"App" + separator +
                      "app_OLD.exe\",\"bytes\":7,\"date\":\"2000-03-05 12:00:00\",\"folders\":[]"),
            std::string::npos)
      << json;

  EXPECT_EQ(test::Tool({"plan"}).code, 2);
  EXPECT_EQ(test::Tool({"plan", "-C", dir / "none", package}).code, 1);
}

}  // namespace
}  // namespace plf::tools
