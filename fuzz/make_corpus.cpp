// Writes the package seeds of the fuzz targets into fuzz/corpus/package/: the
// example package, the install shape the tests exercise, and the edge cases
// of the package format, patched in after writing. The seeds of the text
// targets (script, time_rule, backup_name) are plain files beside them,
// written by hand. Run through scripts/fuzz.sh --seed; the files are kept in
// the repository, so this runs only when the seeds are to change.
//
//   fuzz_make_corpus SOURCE_DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_targets.h"
#include "package/package_writer.h"
#include "package/records.h"

namespace fs = std::filesystem;

namespace {

using plf::PackedDate;

fs::path gOut;

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string& name, const std::string& bytes) {
  std::ofstream(gOut / name, std::ios::binary | std::ios::trunc) << bytes;
}

PackedDate Day(int y, int m, int d) {
  PackedDate date;
  PackedDate::FromCalendar(y, m, d, &date);
  return date;
}

struct Entry {
  std::string name;
  std::string data;
  PackedDate date = PackedDate::None();
  std::int32_t emptySize = -1;  // 0 or more: an entry without data of that size
};

// Writes the package under `name` and returns its bytes.
std::string Pack(const std::string& name, const std::vector<Entry>& entries) {
  plf::TPackageWriter writer((gOut / name).string(), 9);
  for (const Entry& e : entries) {
    if (e.emptySize >= 0)
      writer.AddEmpty(e.name, e.emptySize, e.date);
    else
      writer.AddBuffer(e.name, e.data.data(), e.data.size(), e.date);
  }
  writer.Finish();
  return ReadAll(gOut / name);
}

std::uint32_t Load32(const std::string& b, std::size_t at) {
  return plf::LoadLE32(reinterpret_cast<const std::uint8_t*>(b.data() + at));
}

std::string Patched(std::string b, std::size_t at, std::uint32_t v) {
  plf::StoreLE32(reinterpret_cast<std::uint8_t*>(&b[at]), v);
  return b;
}

// Offsets of the records (their length fields) of a package's directory.
std::vector<std::size_t> Records(const std::string& b) {
  std::vector<std::size_t> at;
  std::size_t p = Load32(b, 12) + 20;
  for (std::uint32_t i = 0; i < Load32(b, Load32(b, 12) + 12) && p + 4 <= b.size(); ++i, p += 4 + Load32(b, p))
    at.push_back(p);
  return at;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus SOURCE_DIR\n");
    return 2;
  }
  const fs::path examples = fs::path(argv[1]) / "examples";
  gOut = fs::path(argv[1]) / "fuzz" / "corpus" / "package";
  fs::create_directories(gOut);
  const PackedDate march = Day(2024, 3, 1);
  Pack("example.plf", {{"SCRIPT", ReadAll(examples / "script.ini")},
                       {"readme.txt", ReadAll(examples / "files/readme.txt"), march},
                       {"settings.ini", ReadAll(examples / "files/settings.ini"), march},
                       {"hello.txt", ReadAll(examples / "files/hello.txt"), march}});
  const std::string base =
      Pack("scenario.plf", {{"SCRIPT", ReadAll(gOut / "../script/scenario.ini")}, {"a", "alpha"},
                            {"b", plf::fuzz::Noise(3000, 2)}, {"empty", "", PackedDate::None(), 500},
                            {"dated", "dated", Day(2001, 5, 6)}, {"A", "capital a"}});
  Pack("no_script.plf", {{"a", "alpha"}, {"b", "beta"}});
  Pack("no_entries.plf", {});
  Pack("long_name.plf", {{"SCRIPT", "[Files]\r\n"}, {std::string(255, 'n'), "x"}});

  // Dates: valid, the 1899 zero day, leap days, the ends of the year byte,
  // and bytes that name no day at all: 29 February 2001, month 13, day 32.
  const std::string dates = Pack(
      "dates.plf", {{"SCRIPT", "[Options]\r\nTimeStamp=23:59:59\r\n[Files]\r\nd1=a\r\nd2=b\r\nd3=c\r\n"},
                    {"d1", "1", Day(2000, 7, 15)}, {"d2", "2", Day(2000, 2, 29)}, {"d3", "3", Day(1899, 12, 30)},
                    {"d4", "4", Day(2127, 12, 31)}, {"d5", "5", Day(1980, 1, 1)}, {"d6", "6", Day(2100, 1, 1)},
                    {"d7", "7", Day(2000, 1, 1)}});
  const std::vector<std::size_t> d = Records(dates);
  Write("dates.plf", Patched(Patched(dates, d[6] + 20, 0x001D0201u), d[7] + 20, 0x00200D00u));

  // The file ends right after the last record's length field, or in it.
  const std::vector<std::size_t> at = Records(base);
  Write("cut_after_length.plf", base.substr(0, at.back() + 4));
  Write("cut_in_record.plf", base.substr(0, at.back() + 20));
  std::string damaged = base;
  damaged[Load32(base, at[2] + 4) + 20] ^= 0x55;
  Write("damaged_entry.plf", damaged);
  // Data before the data area, and past its end.
  Write("data_outside.plf", Patched(Patched(base, at[1] + 4, 19), at[2] + 8, Load32(base, 12)));
  // One length or count field set to a value that does not fit.
  Write("script_size_too_large.plf", Patched(base, at[0] + 12, Load32(base, at[0] + 12) + 100));
  Write("script_size_too_small.plf", Patched(base, at[0] + 12, 20));
  Write("bad_version.plf", Patched(base, 8, 0x173FE514u));
  Write("huge_count.plf", Patched(base, Load32(base, 12) + 12, 0x7FFFFFFFu));
  Write("record_too_long.plf", Patched(base, at[3], 16384));
  return 0;
}
