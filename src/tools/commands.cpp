#include "tools/commands.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "package/preload_reader.h"
#include "package/records.h"
#include "runtime/calendar.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "tools/file_date.h"

namespace plf::tools {

namespace {

constexpr const char kToolHelp[] =
    "Usage: plf COMMAND [OPTIONS] ARGUMENTS...\n"
    "\n"
    "Builds and inspects installer packages (Install.PLF).\n"
    "\n"
    "Commands:\n"
    "  pack   build a package from an install script and files\n"
    "  list   show the entries of a package\n"
    "\n"
    "Run \"plf COMMAND --help\" for the options of a command.\n";

constexpr const char kPackHelp[] =
    "Usage: plf pack [OPTIONS] OUTPUT SCRIPT [ENTRY...]\n"
    "\n"
    "Builds the package OUTPUT. The file SCRIPT becomes the entry \"SCRIPT\";\n"
    "each ENTRY adds one file:\n"
    "  NAME=PATH   the file PATH under the entry name NAME\n"
    "  PATH        the file PATH under its own file name\n"
    "(a PATH that contains \"=\" must be given as NAME=PATH).\n"
    "\n"
    "Options:\n"
    "  -l, --level N        zlib compression level, 0 to 9 (default 6)\n"
    "      --date YYYY-MM-DD  store this date for every entry\n"
    "      --no-date        store no date\n"
    "  -h, --help           show this help\n"
    "  --                   end of options\n"
    "\n"
    "Without --date or --no-date each entry carries the local date of its\n"
    "file's last modification. Entry names are at most 255 bytes and must\n"
    "differ from each other (case ignored).\n";

constexpr const char kListHelp[] =
    "Usage: plf list PACKAGE\n"
    "\n"
    "Shows one row per entry of PACKAGE, in directory order: index, name,\n"
    "compressed and uncompressed size in bytes, ratio, date (\"-\" for none),\n"
    "offset of the entry's data, and whether the installer can open it.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n";

int UsageError(std::ostream& err, const std::string& command, const std::string& problem) {
  const std::string prefix = command.empty() ? "plf" : "plf " + command;
  err << prefix << ": " << problem << "\nTry \"" << prefix << " --help\".\n";
  return kExitUsage;
}

int Failure(std::ostream& err, const std::string& command, const std::string& problem) {
  err << "plf " << command << ": " << problem << "\n";
  return kExitFailure;
}

bool IsHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

bool ParseDigits(const std::string& text, int* value) {
  if (text.empty() || text.size() > 4) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

// YYYY-MM-DD, a day the package can store.
bool ParseDate(const std::string& text, PackedDate* date, std::string* problem) {
  int year = 0, month = 0, day = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !ParseDigits(text.substr(0, 4), &year) ||
      !ParseDigits(text.substr(5, 2), &month) || !ParseDigits(text.substr(8, 2), &day)) {
    *problem = "\"" + text + "\" is not a date of the form YYYY-MM-DD";
    return false;
  }
  if (!IsValidDate(year, month, day)) {
    *problem = "\"" + text + "\" is not a calendar day";
    return false;
  }
  if (!PackedDate::FromCalendar(year, month, day, date)) {
    *problem = "the date " + text + " cannot be stored (years 1872 to 2127)";
    return false;
  }
  return true;
}

std::string FileNamePart(const std::string& path) {
  const std::string::size_type cut = path.find_last_of(Sys().PathDelimiters());
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string TwoDigits(int v) { return (v < 10 ? "0" : "") + std::to_string(v); }

std::string DateText(int year, int month, int day) {
  std::string y = std::to_string(year);
  while (y.size() < 4) y.insert(0, "0");
  return y + "-" + TwoDigits(month) + "-" + TwoDigits(day);
}

struct PackInput {
  std::string name;
  std::string path;
};

// --- pack ----------------------------------------------------------------------

struct PackOptions {
  int level = TPackageWriter::kDefaultLevel;
  enum class Dates { FromFiles, Fixed, None } dates = Dates::FromFiles;
  PackedDate fixedDate;
  std::vector<std::string> positional;
};

// 0 and the options filled; otherwise the exit code to end with.
int ParsePackArguments(const std::vector<std::string>& args, PackOptions* o, std::ostream& out,
                       std::ostream& err, bool* helped) {
  bool optionsEnded = false;
  bool dateGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      o->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
    } else if (IsHelp(arg)) {
      out << kPackHelp;
      *helped = true;
      return kExitOk;
    } else if (arg == "-l" || arg == "--level" || arg.rfind("--level=", 0) == 0 || arg.rfind("-l", 0) == 0) {
      std::string value;
      if (arg == "-l" || arg == "--level") {
        if (i + 1 >= args.size()) return UsageError(err, "pack", arg + " needs a level");
        value = args[++i];
      } else {
        value = arg.substr(arg[1] == '-' ? 8 : 2);
      }
      if (value.size() != 1 || value[0] < '0' || value[0] > '9')
        return UsageError(err, "pack", "the level \"" + value + "\" is not one of 0 to 9");
      o->level = value[0] - '0';
    } else if (arg == "--date" || arg.rfind("--date=", 0) == 0) {
      std::string value;
      if (arg == "--date") {
        if (i + 1 >= args.size()) return UsageError(err, "pack", "--date needs a date");
        value = args[++i];
      } else {
        value = arg.substr(7);
      }
      std::string problem;
      if (!ParseDate(value, &o->fixedDate, &problem)) return UsageError(err, "pack", problem);
      if (dateGiven && o->dates != PackOptions::Dates::Fixed)
        return UsageError(err, "pack", "--date and --no-date exclude each other");
      o->dates = PackOptions::Dates::Fixed;
      dateGiven = true;
    } else if (arg == "--no-date") {
      if (dateGiven && o->dates != PackOptions::Dates::None)
        return UsageError(err, "pack", "--date and --no-date exclude each other");
      o->dates = PackOptions::Dates::None;
      dateGiven = true;
    } else {
      return UsageError(err, "pack", "unknown option \"" + arg + "\"");
    }
  }
  return kExitOk;
}

int Pack(const PackOptions& o, std::ostream& out, std::ostream& err) {
  const std::string& output = o.positional[0];
  std::vector<PackInput> inputs{{"SCRIPT", o.positional[1]}};
  for (std::size_t i = 2; i < o.positional.size(); ++i) {
    const std::string& arg = o.positional[i];
    const std::string::size_type eq = arg.find('=');
    PackInput input = eq == std::string::npos ? PackInput{FileNamePart(arg), arg}
                                              : PackInput{arg.substr(0, eq), arg.substr(eq + 1)};
    if (input.path.empty()) return UsageError(err, "pack", "\"" + arg + "\" names no file");
    if (input.name.empty()) return UsageError(err, "pack", "\"" + arg + "\" gives no entry name");
    inputs.push_back(input);
  }
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].name.size() > kMaxEntryNameLength)
      return UsageError(err, "pack", "the entry name \"" + inputs[i].name + "\" is longer than 255 bytes");
    for (std::size_t j = 0; j < i; ++j)
      if (Sys().CompareTextLocale(inputs[i].name, inputs[j].name) == 0)
        return UsageError(err, "pack", "the entry name \"" + inputs[i].name + "\" is given twice (" +
                                           inputs[j].path + ", " + inputs[i].path + ")");
  }

  // Creating the package truncates it: it must not be one of the inputs.
  const std::string outputPath = Sys().FullPath(output);
  std::vector<PackedDate> dates;
  for (const PackInput& input : inputs) {
    const std::uint32_t attributes = Sys().GetAttributes(input.path);
    if (attributes == kInvalidAttributes) return Failure(err, "pack", input.path + ": no such file");
    if ((attributes & kAttrDirectory) != 0) return Failure(err, "pack", input.path + ": is a folder, not a file");
    if (Sys().CompareTextLocale(Sys().FullPath(input.path), outputPath) == 0)
      return Failure(err, "pack", input.path + ": is also the output package");

    PackedDate date;
    if (o.dates == PackOptions::Dates::Fixed) {
      date = o.fixedDate;
    } else if (o.dates == PackOptions::Dates::FromFiles) {
      CalendarDate d;
      if (!FileLocalDate(input.path, &d))
        return Failure(err, "pack", input.path + ": its modification date cannot be read");
      if (!PackedDate::FromCalendar(d.year, d.month, d.day, &date))
        return Failure(err, "pack", input.path + ": its modification date " + DateText(d.year, d.month, d.day) +
                                        " cannot be stored (years 1872 to 2127); use --date or --no-date");
    }
    dates.push_back(date);
  }

  try {
    TPackageWriter writer(output, o.level);
    for (std::size_t i = 0; i < inputs.size(); ++i) writer.AddFile(inputs[i].name, inputs[i].path, dates[i]);
    writer.Finish();
    out << output << ": " << inputs.size() << (inputs.size() == 1 ? " entry\n" : " entries\n");
  } catch (const Exception& e) {
    return Failure(err, "pack", e.Message());
  } catch (const std::exception& e) {
    return Failure(err, "pack", output + ": " + e.what());
  }
  return kExitOk;
}

// --- list ----------------------------------------------------------------------

// Control characters in a hostile name would garble the table.
std::string Printable(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (char c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      s += "\\x";
      s += kHex[u >> 4];
      s += kHex[u & 15];
    } else {
      s += c;
    }
  }
  return s;
}

std::string RatioText(std::int32_t compressed, std::int32_t uncompressed) {
  if (compressed < 0 || uncompressed <= 0) return "-";
  const std::int64_t tenths = (static_cast<std::int64_t>(compressed) * 1000 + uncompressed / 2) / uncompressed;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
}

std::string EntryDateText(double oleDate) {
  if (oleDate == 0) return "-";
  constexpr std::int64_t kOleDayOf1970 = 25569;
  int year = 0, month = 0, day = 0;
  CivilFromDays(static_cast<std::int64_t>(oleDate) - kOleDayOf1970, &year, &month, &day);
  return DateText(year, month, day);
}

void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& rightAligned,
                std::ostream& out) {
  std::vector<std::size_t> widths(rightAligned.size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c)
      if (row[c].size() > widths[c]) widths[c] = row[c].size();
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      if (c != 0) line += "  ";
      line += rightAligned[c] ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
    }
    out << line << "\n";
  }
}

}  // namespace

int PackCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  PackOptions options;
  bool helped = false;
  const int code = ParsePackArguments(args, &options, out, err, &helped);
  if (code != kExitOk || helped) return code;
  if (options.positional.size() < 2)
    return UsageError(err, "pack", options.positional.empty() ? "no OUTPUT package and SCRIPT file given"
                                                              : "no SCRIPT file given");
  return Pack(options, out, err);
}

int ListCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && IsHelp(arg)) {
      out << kListHelp;
      return kExitOk;
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return UsageError(err, "list", "unknown option \"" + arg + "\"");
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1)
    return UsageError(err, "list", positional.empty() ? "no PACKAGE given" : "give one PACKAGE only");
  const std::string& package = positional[0];

  try {
    TPreLoadReader reader(package);
    std::vector<std::vector<std::string>> rows{
        {"#", "Name", "Compressed", "Uncompressed", "Ratio", "Date", "Offset", "Opens"}};
    for (int i = 0; i < reader.EntryCount(); ++i) {
      const TPreLoadEntry& e = reader.Entry(i);
      rows.push_back({std::to_string(i), Printable(e.name), std::to_string(e.compressedSize),
                      std::to_string(e.uncompressedSize), RatioText(e.compressedSize, e.uncompressedSize),
                      EntryDateText(reader.EntryDate(i)), std::to_string(e.dataOffset),
                      reader.CanOpenEntry(i) ? "yes" : "no"});
    }
    PrintTable(rows, {true, false, true, true, true, false, true, false}, out);
  } catch (const Exception& e) {
    return Failure(err, "list", package + ": " + e.Message());
  } catch (const std::exception& e) {
    return Failure(err, "list", package + ": " + e.what());
  }
  return kExitOk;
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return UsageError(err, "", "no COMMAND given");
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (IsHelp(command) || command == "help") {
    out << kToolHelp;
    return kExitOk;
  }
  if (command == "pack") return PackCommand(rest, out, err);
  if (command == "list") return ListCommand(rest, out, err);
  return UsageError(err, "", "unknown command \"" + command + "\"");
}

}  // namespace plf::tools
