// plf list: the directory of a package.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "tools/cli.h"
#include "tools/commands.h"

namespace plf::tools {

namespace {

constexpr const char kListHelp[] =
    "Usage: plf list [OPTIONS] PACKAGE\n"
    "\n"
    "Shows one row per entry of PACKAGE, in directory order: index, name,\n"
    "compressed and uncompressed size in bytes, ratio, date (\"-\" for none),\n"
    "offset of the entry's data, and whether the installer can open it.\n"
    "\n"
    "Options:\n"
    "      --json   print the directory as JSON\n"
    "  -h, --help   show this help\n";

std::string RatioText(std::int32_t compressed, std::int32_t uncompressed) {
  if (compressed < 0 || uncompressed <= 0) return "-";
  const std::int64_t tenths = (static_cast<std::int64_t>(compressed) * 1000 + uncompressed / 2) / uncompressed;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

}  // namespace

int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(args, {{nullptr, "--json", nullptr}}, &parsed, &problem)) return UsageError(err, "list", problem);
  if (parsed.help) {
    out << kListHelp;
    return kExitOk;
  }
  if (parsed.positional.size() != 1)
    return UsageError(err, "list", parsed.positional.empty() ? "no PACKAGE given" : "give one PACKAGE only");
  const std::string& package = parsed.positional[0];
  const std::string whyNot = PackageOpenProblem(package);
  if (!whyNot.empty()) return Failure(err, "list", Shown(package) + ": " + whyNot);

  try {
    TPreLoadReader reader(package);
    if (parsed.Has("--json")) {
      JsonWriter j(out);
      j.BeginObject().Field("package", Sys().AnsiToUtf8(package)).Key("entries").BeginArray();
      for (int i = 0; i < reader.EntryCount(); ++i) {
        const TPreLoadEntry& e = reader.Entry(i);
        j.BeginObject().Field("index", i).Field("name", Sys().AnsiToUtf8(e.name));
        j.Field("compressed", std::int64_t{e.compressedSize}).Field("uncompressed", std::int64_t{e.uncompressedSize});
        const double date = reader.EntryDate(i);
        j.Key("date");
        if (date == 0)
          j.Null();
        else
          j.String(OleDateText(date));
        j.Field("offset", std::int64_t{e.dataOffset}).Field("opens", reader.CanOpenEntry(i)).EndObject();
      }
      j.EndArray().EndObject();
      return kExitOk;
    }
    std::vector<std::vector<std::string>> rows{
        {"#", "Name", "Compressed", "Uncompressed", "Ratio", "Date", "Offset", "Opens"}};
    for (int i = 0; i < reader.EntryCount(); ++i) {
      const TPreLoadEntry& e = reader.Entry(i);
      rows.push_back({std::to_string(i), Shown(e.name), std::to_string(e.compressedSize),
                      std::to_string(e.uncompressedSize), RatioText(e.compressedSize, e.uncompressedSize),
                      OleDateText(reader.EntryDate(i)), std::to_string(e.dataOffset),
                      reader.CanOpenEntry(i) ? "yes" : "no"});
    }
    PrintTable(rows, {true, false, true, true, true, false, true, false}, out);
  } catch (const Exception& e) {
    return Failure(err, "list", Shown(package) + ": " + PackageReadProblem(e.Message()));
  }
  return kExitOk;
}

}  // namespace plf::tools
