// Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/:
// the example package and script, the install shapes the tests exercise,
// and the edge cases of the package format, the time rule and the backup
// names. Run through scripts/fuzz.sh --seed; the files are kept in the
// repository, so this runs only when the seeds are to change.
//
//   fuzz_make_corpus SOURCE_DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "package/package_writer.h"
#include "package/records.h"
#include "fuzz_targets.h"

namespace fs = std::filesystem;

namespace {

using plf::PackedDate;
using plf::fuzz::Noise;
using plf::TPackageWriter;

fs::path gOut;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path folder = gOut / target;
  fs::create_directories(folder);
  std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

PackedDate Day(int y, int m, int d) {
  PackedDate date;
  PackedDate::FromCalendar(y, m, d, &date);
  return date;
}

std::uint32_t Load32(const std::string& b, std::size_t at) {
  return plf::LoadLE32(reinterpret_cast<const std::uint8_t*>(b.data() + at));
}

void Store32(std::string* b, std::size_t at, std::uint32_t v) {
  plf::StoreLE32(reinterpret_cast<std::uint8_t*>(&(*b)[at]), v);
}

// Offsets of the records (their length fields) of a package's directory.
std::vector<std::size_t> Records(const std::string& b) {
  std::vector<std::size_t> at;
  std::size_t p = Load32(b, 12) + 20;
  const std::uint32_t count = Load32(b, Load32(b, 12) + 12);
  for (std::uint32_t i = 0; i < count && p + 4 <= b.size(); ++i) {
    at.push_back(p);
    p += 4 + Load32(b, p);
  }
  return at;
}

struct Entry {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
  bool empty = false;
  std::int32_t emptySize = 0;
};

std::string Pack(const std::vector<Entry>& entries) {
  const fs::path scratch = gOut / "scratch.plf";
  {
    TPackageWriter writer(scratch.string(), 9);
    for (const Entry& e : entries) {
      if (e.empty)
        writer.AddEmpty(e.name, e.emptySize, e.date);
      else
        writer.AddBuffer(e.name, e.data.data(), e.data.size(), e.date);
    }
    writer.Finish();
  }
  std::string bytes = ReadAll(scratch);
  fs::remove(scratch);
  return bytes;
}

const char kScenarioScript[] =
    "[Verify]\r\nDir=app\r\nNoExist=app\\*.lock\r\n"
    "[Options]\r\nRename=*_OLD.*\r\nTimeStamp=12:00\r\n"
    "[Files]\r\n"
    "a=app\\old.txt\r\nb=app\\new\\deep\\b.bin\r\nempty=app\\empty.txt\r\ndated=app\\dated.txt\r\n"
    "missing=app\\m\\x.bin\r\na=app\\ro.txt\r\nb=app\\keep.txt\r\n";

void Packages(const fs::path& source) {
  const fs::path examples = source / "examples";
  Write("package", "example.plf",
        Pack({{"SCRIPT", ReadAll(examples / "script.ini")},
              {"readme.txt", ReadAll(examples / "files/readme.txt"), Day(2024, 3, 1)},
              {"settings.ini", ReadAll(examples / "files/settings.ini"), Day(2024, 3, 1)},
              {"hello.txt", ReadAll(examples / "files/hello.txt"), Day(2024, 3, 1)}}));

  const std::vector<Entry> scenario = {{"SCRIPT", kScenarioScript}, {"a", "alpha"}, {"b", Noise(3000, 2)},
                                       {"empty", "", PackedDate::None(), true, 500},
                                       {"dated", "dated", Day(2001, 5, 6)}, {"A", "capital a"}};
  const std::string base = Pack(scenario);
  Write("package", "scenario.plf", base);
  Write("package", "no_script.plf", Pack({{"a", "alpha"}, {"b", "beta"}}));
  Write("package", "no_entries.plf", Pack({}));
  Write("package", "long_name.plf", Pack({{"SCRIPT", "[Files]\r\n"}, {std::string(255, 'n'), "x"}}));

  // Dates: valid, the 1899 zero day, leap days, the ends of the year byte,
  // and bytes that name no day at all (patched in after writing).
  std::string dates = Pack({{"SCRIPT", "[Options]\r\nTimeStamp=23:59:59\r\n[Files]\r\nd1=a\r\nd2=b\r\nd3=c\r\n"},
                            {"d1", "1", Day(2000, 7, 15)}, {"d2", "2", Day(2000, 2, 29)},
                            {"d3", "3", Day(1899, 12, 30)}, {"d4", "4", Day(2127, 12, 31)},
                            {"d5", "5", Day(1980, 1, 1)}, {"d6", "6", Day(2100, 1, 1)}, {"d7", "7", Day(2000, 1, 1)}});
  const std::vector<std::size_t> records = Records(dates);
  Store32(&dates, records[6] + 20, 0x001D0201u);  // 29 February 2001
  Store32(&dates, records[7] + 20, 0x00200D00u);  // month 13, day 32
  Write("package", "dates.plf", dates);

  // The file ends right after the last record's length field.
  const std::vector<std::size_t> at = Records(base);
  Write("package", "cut_after_length.plf", base.substr(0, at.back() + 4));
  Write("package", "cut_in_record.plf", base.substr(0, at.back() + 20));

  std::string damaged = base;
  const std::size_t dataB = Load32(base, at[2] + 4);
  damaged[dataB + 20] = static_cast<char>(damaged[dataB + 20] ^ 0x55);
  Write("package", "damaged_entry.plf", damaged);

  std::string outside = base;  // data before the data area, and past its end
  Store32(&outside, at[1] + 4, 19);
  Store32(&outside, at[2] + 8, Load32(base, 12));
  Write("package", "data_outside.plf", outside);

  // One length or count field set to a value that does not fit.
  const struct {
    const char* name;
    std::size_t at;
    std::uint32_t value;
  } patches[] = {{"script_size_too_large.plf", at[0] + 12, Load32(base, at[0] + 12) + 100},  // more than it holds
                 {"script_size_too_small.plf", at[0] + 12, 20},
                 {"bad_version.plf", 8, 0x173FE514u},
                 {"huge_count.plf", Load32(base, 12) + 12, 0x7FFFFFFFu},
                 {"record_too_long.plf", at[3], 16384}};
  for (const auto& patch : patches) {
    std::string bytes = base;
    Store32(&bytes, patch.at, patch.value);
    Write("package", patch.name, bytes);
  }
}

// A NUL ends the text for every scanner of the script.
const char kNulInside[] = "[Files]\r\na=app\\x.txt\0b=app\\y.txt\r\n";

void Scripts(const fs::path& source) {
  const std::vector<std::pair<const char*, std::string>> scripts = {
      {"example.ini", ReadAll(source / "examples/script.ini")},
      {"scenario.ini", kScenarioScript},
      {"empty.ini", ""},
      {"verify_passes.ini",
       "[Verify]\r\nFile=app\\old.txt\r\nDir=app\\dir\r\nNoExist=app\\*.tmp\r\n"
       "Message=Chyb\xED p\xF8" "edchoz\xED instalace\r\nNoMessage=Ne\r\n[Files]\r\na=app\\x.txt\r\n"},
      {"verify_file_fails.ini", "[Verify]\r\nFile=app\\nothing.txt\r\n[Files]\r\na=app\\x.txt\r\n"},
      {"verify_noexist_fails.ini", "[Verify]\r\nNoExist=app\\*\r\nNoMessage=Nalezeno\r\n[Files]\r\na=app\\x.txt\r\n"},
      {"verify_empty.ini", "[Verify]\r\n\r\n[Files]\r\na=app\\x.txt\r\n"},
      {"rename_patterns.ini",
       "[Options]\r\nRename=*.bak\r\n[Files]\r\na=app\\old.txt\r\nb=app\\keep.txt\r\n"},
      {"rename_blank.ini", "[Options]\r\nRename=   \r\n[Files]\r\na=app\\old.txt\r\n"},
      {"rename_tilde.ini", "[Options]\r\nRename=*.*~\r\n[Files]\r\na=app\\keep.txt\r\ndated=app\\keep.txt\r\n"},
      {"rename_prefix.ini", "[Options]\r\nRename=old_*.*\r\n[Files]\r\na=app\\keep.txt\r\n"},
      {"rename_self.ini", "[Options]\r\nRename=*.*\r\n[Files]\r\na=app\\keep.txt\r\n"},
      {"timestamp_pm.ini", "[Options]\r\nTimeStamp=  11:30 PM  \r\n[Files]\r\ndated=app\\d.txt\r\n"},
      {"timestamp_bad.ini", "[Options]\r\nTimeStamp=25:00\r\n[Files]\r\na=app\\x.txt\r\n"},
      {"files_edges.ini",
       "[Files]\r\nnot an entry\r\n  a=app\\blank.txt\r\na=app\\twice.txt\r\nb=app\\twice.txt\r\n"
       "a=app\\dir\r\nb=app\r\nempty=app\\README\r\nmissing=app\\m1\\m2\\x\r\n"},
      {"files_paths.ini",
       "[Files]\r\na=C:\\mem\\cwd\\app\\abs.txt\r\na=..\\..\\up.txt\r\na=/mem/cwd/app/slash.txt\r\n"
       "a=app\\.\\dot\\..\\x.txt\r\na=setup\\Install.PLF\r\na=\\\\server\\share\\x\r\na=app\\ro.txt\r\n"},
      {"sections_odd.ini",
       "; comment\r\n[files]\r\na=app\\lower.txt\r\n[Files\r\n[Options]x\r\nTimeStamp=1\r\n[Files]\r\n"
       "b=app\\b.txt\r\n[Files]\r\na=app\\second.txt\r\n"},
      {"nul_inside.ini", std::string(kNulInside, sizeof kNulInside - 1)},
  };
  for (const auto& s : scripts) Write("script", s.first, s.second);
}

void TimeRules() {
  // The first byte picks the locale (0: AM/PM/".", 2: Czech "dop."/"odp."/",").
  const std::vector<std::pair<char, const char*>> values = {
      {0, "12"},        {0, "12:30"},     {0, "9:05:07"},      {0, "0:00:00"},  {0, "11:30 PM"},  {0, "PM 11:30"},
      {0, "24:00"},     {0, "12:60"},     {0, "13:00 PM"},     {0, "0 AM"},     {0, "12:"},       {0, "12.30"},
      {0, "noon"},      {0, "12:00:00.5"}, {0, "0012"},        {0, "1000"},     {0, " 1 : 2 : 3 . 4 am "},
      {2, "11:30 odp."}, {2, "12,5"},     {3, "11:30:20:5 p"}, {1, "23:59:59.999"},
  };
  int n = 0;
  for (const auto& v : values) Write("time_rule", "value" + std::to_string(n++), std::string(1, v.first) + v.second);
}

void BackupNames() {
  const char* rows[] = {
      "C:\\App\\app.exe\n*_OLD.*", "C:\\App\\app.exe\n*.bak",    "C:\\App\\app.exe\n*.*~",
      "C:\\App\\app.exe\n*",       "C:\\App\\README\n*_OLD.*",   "C:\\App.d\\README\n*_OLD.*",
      "C:\\App\\app.exe\nold_*.*", "C:\\App\\app.exe\nbackup.old", "C:\\App\\a.tar.gz\n*_OLD.*",
      "C:\\App\\app.exe\n*_*.*",   "/app/sub.d/README\n*_OLD.*", "app/x.txt\n*.*",
      "C:x.dll\n*_OLD.*",          "\\x.dll\n*.~*",              "a\\b\\c\\\n*_OLD.*",
  };
  int n = 0;
  for (const char* row : rows) Write("backup_name", "row" + std::to_string(n++), row);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus SOURCE_DIR\n");
    return 2;
  }
  const fs::path source = argv[1];
  gOut = source / "fuzz" / "corpus";
  fs::create_directories(gOut);
  Packages(source);
  Scripts(source);
  TimeRules();
  BackupNames();
  return 0;
}
