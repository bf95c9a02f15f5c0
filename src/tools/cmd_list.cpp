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
    "Usage: plf list [OPTIONS] PACKAGE [NAME...]\n"
    "\n"
    "Shows one row per entry of PACKAGE (or per entry NAMEd: letter case\n"
    "ignored, \"/\" or \"\\\" between folders, \"*\" and \"?\" as wildcards), in\n"
    "directory order: index, name,\n"
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
  if (parsed.positional.empty()) return UsageError(err, "list", "no PACKAGE given");
  const std::string& package = parsed.positional[0];
  const std::vector<std::string> patterns(parsed.positional.begin() + 1, parsed.positional.end());
  const std::string whyNot = PackageOpenProblem(package);
  if (!whyNot.empty()) return Failure(err, "list", Shown(package) + ": " + whyNot);

  try {
    TPreLoadReader reader(package);
    std::vector<std::string> names;
    names.reserve(static_cast<std::size_t>(reader.EntryCount()));
    for (int i = 0; i < reader.EntryCount(); ++i) names.push_back(reader.EntryName(i));
    std::vector<std::string> unmatched;
    std::vector<int> shown;
    for (std::size_t i : SelectEntries(names, patterns, &unmatched)) shown.push_back(static_cast<int>(i));
    for (const std::string& p : unmatched)
      err << "plf list: " << Shown(package) << ": no entry matches \"" << Shown(p) << "\"\n";
    const int code = unmatched.empty() ? kExitOk : kExitFailure;
    if (parsed.Has("--json")) {
      JsonWriter j(out);
      j.BeginObject().Field("package", Sys().AnsiToUtf8(package)).Key("entries").BeginArray();
      for (int i : shown) {
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
      return code;
    }
    std::vector<std::vector<std::string>> rows{
        {"#", "Name", "Compressed", "Uncompressed", "Ratio", "Date", "Offset", "Opens"}};
    for (int i : shown) {
      const TPreLoadEntry& e = reader.Entry(i);
      rows.push_back({std::to_string(i), Shown(e.name), std::to_string(e.compressedSize),
                      std::to_string(e.uncompressedSize), RatioText(e.compressedSize, e.uncompressedSize),
                      OleDateText(reader.EntryDate(i)), std::to_string(e.dataOffset),
                      reader.CanOpenEntry(i) ? "yes" : "no"});
    }
    PrintTable(rows, {true, false, true, true, true, false, true, false}, out);
    return code;
  } catch (const Exception& e) {
    return Failure(err, "list", Shown(package) + ": " + PackageReadProblem(e.Message()));
  }
}

}  // namespace plf::tools
