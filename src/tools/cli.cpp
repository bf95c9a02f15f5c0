#include "tools/cli.h"

#include <ostream>

#include "package/preload_reader.h"
#include "runtime/calendar.h"
#include "runtime/code_page.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "runtime/wildcard.h"
#include "tools/atomic_file.h"

namespace plf::tools {

namespace {

constexpr std::int64_t kOleDayOf1970 = 25569;

const OptionSpec* FindSpec(const std::vector<OptionSpec>& specs, const std::string& name, bool isLong) {
  for (const OptionSpec& spec : specs) {
    const char* candidate = isLong ? spec.longName : spec.shortName;
    if (candidate != nullptr && name == candidate) return &spec;
  }
  return nullptr;
}

std::string CanonicalName(const OptionSpec& spec) {
  return spec.longName != nullptr ? spec.longName : spec.shortName;
}

std::string Padded(int value, std::size_t width) {
  std::string s = std::to_string(value);
  while (s.size() < width) s.insert(0, "0");
  return s;
}

// Characters, not bytes: a continuation byte of UTF-8 adds no width.
std::size_t DisplayWidth(const std::string& s) {
  std::size_t width = 0;
  for (char c : s)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  return width;
}

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  std::size_t length;
  std::uint32_t min;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  std::uint32_t code = lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i + k]);
    if ((c & 0xC0) != 0x80) return 0;
    code = code << 6 | (c & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendHexEscape(std::string* out, const char* prefix, unsigned value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += prefix;
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out += kHex[(value >> shift) & 15];
}

}  // namespace

int UsageError(std::ostream& err, const std::string& command, const std::string& problem) {
  const std::string prefix = command.empty() ? "plf" : "plf " + command;
  err << prefix << ": " << problem << "\nTry \"" << prefix << " --help\".\n";
  return kExitUsage;
}

namespace {

std::string OpenProblem(const std::string& path, const char* folderProblem) {
  const std::uint32_t attributes = Sys().GetAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & kAttrDirectory) != 0) return folderProblem;
  const FileHandle h = Sys().OpenFile(path, Access::Read, Share::Read, Disposition::OpenExisting);
  if (h == kInvalidHandle) return "cannot be opened: " + LastSystemError();
  Sys().CloseFile(h);
  return std::string();
}

}  // namespace

std::string PackageOpenProblem(const std::string& path) { return OpenProblem(path, "is a folder, not a package"); }

std::string FileOpenProblem(const std::string& path) { return OpenProblem(path, "is a folder, not a file"); }

std::string PackageReadProblem(const std::string& readerMessage) {
  if (readerMessage == kSBadVersion) return "is not a package: its version word is not 0x173FE513";
  if (readerMessage == kSDamagedPackage)
    return "is damaged: a directory record's length lies outside 40 to 16383 bytes";
  if (readerMessage == kSReadError) return "is damaged: the file ends inside its header or its directory";
  return readerMessage;
}

int Failure(std::ostream& err, const std::string& command, const std::string& problem) {
  err << "plf " << command << ": " << problem << "\n";
  return kExitFailure;
}

bool ParsedArguments::Has(const std::string& name) const {
  for (const Option& o : options)
    if (o.name == name) return true;
  return false;
}

std::string ParsedArguments::Value(const std::string& name, const std::string& fallback) const {
  std::string value = fallback;
  for (const Option& o : options)
    if (o.name == name) value = o.value;
  return value;
}

namespace {

// Every command reads names and texts in one code page; the program's edge
// has already taken its arguments and the system's names in it.
bool CodePageHonoured(const std::string& value, std::string* problem) {
  long codePage = 0;
  if (!ParseCount(value, 0, 65535, &codePage) || !IsKnownCodePage(static_cast<int>(codePage))) {
    *problem = "the code page \"" + value + "\" is not one of 1250 (Central European) and 1252 (Western European)";
    return false;
  }
  if (codePage != Sys().AnsiCodePage()) {
    *problem = "--code-page " + value + " cannot be honoured here: this system's names are in code page " +
               std::to_string(Sys().AnsiCodePage());
    return false;
  }
  return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& commandSpecs,
                    ParsedArguments* parsed, std::string* problem) {
  std::vector<OptionSpec> specs = commandSpecs;
  specs.push_back({nullptr, "--code-page", "a code page"});
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed->help = true;
      return true;
    }
    const bool isLong = arg[1] == '-';
    const OptionSpec* spec = nullptr;
    std::string value;
    bool attached = false;
    if (isLong) {
      const std::string::size_type eq = arg.find('=');
      spec = FindSpec(specs, arg.substr(0, eq), true);
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        attached = true;
      }
    } else {
      spec = FindSpec(specs, arg.substr(0, 2), false);
      if (spec != nullptr && arg.size() > 2) {
        value = arg.substr(2);
        attached = true;
      }
    }
    if (spec == nullptr || (attached && spec->valueName == nullptr)) {
      *problem = "unknown option \"" + arg + "\"";
      return false;
    }
    if (spec->valueName != nullptr && !attached) {
      if (i + 1 >= args.size()) {
        *problem = arg + " needs " + spec->valueName;
        return false;
      }
      value = args[++i];
    }
    if (std::string(spec->longName == nullptr ? "" : spec->longName) == "--code-page" &&
        !CodePageHonoured(value, problem))
      return false;
    parsed->options.push_back({CanonicalName(*spec), value});
  }
  return true;
}

std::string FoldedName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = c == '/' ? '\\' : static_cast<char>(Sys().UpperChar(static_cast<unsigned char>(c)));
  return folded;
}

bool EntryNameMatches(const std::string& pattern, const std::string& entryName) {
  const std::string p = FoldedName(pattern);
  const std::string n = FoldedName(entryName);
  return HasWildcards(p) ? MatchesWildcard(p, n) : Sys().CompareTextLocale(p, n) == 0;
}

std::vector<std::size_t> SelectEntries(const std::vector<std::string>& names, const std::vector<std::string>& patterns,
                                       std::vector<std::string>* unmatched) {
  std::vector<bool> chosen(names.size(), patterns.empty());
  for (const std::string& pattern : patterns) {
    bool any = false;
    for (std::size_t i = 0; i < names.size(); ++i)
      if (EntryNameMatches(pattern, names[i])) chosen[i] = any = true;
    if (!any) unmatched->push_back(pattern);
  }
  std::vector<std::size_t> selected;
  for (std::size_t i = 0; i < names.size(); ++i)
    if (chosen[i]) selected.push_back(i);
  return selected;
}

bool ParseCount(const std::string& text, long min, long max, long* value) {
  if (text.empty() || text.size() > 9) return false;
  long v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

std::string Shown(const std::string& ansi) {
  const std::string utf8 = Sys().AnsiToUtf8(ansi);
  std::string s;
  for (char c : utf8) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F)
      AppendHexEscape(&s, "\\x", u, 2);
    else
      s += c;
  }
  return s;
}

std::string DateText(int year, int month, int day) {
  return Padded(year, 4) + "-" + Padded(month, 2) + "-" + Padded(day, 2);
}

std::string OleDateText(double oleDate) {
  if (oleDate == 0) return "-";
  int year = 0, month = 0, day = 0;
  CivilFromDays(static_cast<std::int64_t>(oleDate) - kOleDayOf1970, &year, &month, &day);
  return DateText(year, month, day);
}

std::string LocalTimeText(std::int64_t utcFileTime) {
  std::int64_t local = 0;
  DateTimeParts p;
  if (!Sys().UtcToLocal(utcFileTime, &local) || !PartsFromFileTime(local, &p)) return "?";
  return DateText(p.year, p.month, p.day) + " " + Padded(p.hour, 2) + ":" + Padded(p.minute, 2) + ":" +
         Padded(p.second, 2);
}

void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& rightAligned,
                std::ostream& out) {
  std::vector<std::size_t> widths(rightAligned.size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
      if (DisplayWidth(row[c]) > widths[c]) widths[c] = DisplayWidth(row[c]);
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      const std::string pad(widths[c] - DisplayWidth(row[c]), ' ');
      if (c != 0) line += "  ";
      line += rightAligned[c] ? pad + row[c] : row[c] + (c + 1 < row.size() ? pad : "");
    }
    out << line << "\n";
  }
}

std::string JsonEscaped(const std::string& utf8) {
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const std::size_t length = Utf8SequenceLength(utf8, i);
    if (length == 0) {
      // A byte that is no UTF-8: its value as a code point.
      AppendHexEscape(&out, "\\u", c, 4);
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      AppendHexEscape(&out, "\\u", c, 4);
    } else {
      out.append(utf8, i, length);
    }
    i += length;
  }
  out += '"';
  return out;
}

void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!firstInLevel_.empty()) {
    if (!firstInLevel_.back()) out_ << ',';
    firstInLevel_.back() = false;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_ << '{';
  firstInLevel_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_ << '}';
  firstInLevel_.pop_back();
  if (firstInLevel_.empty()) out_ << '\n';
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_ << '[';
  firstInLevel_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_ << ']';
  firstInLevel_.pop_back();
  if (firstInLevel_.empty()) out_ << '\n';
  return *this;
}

JsonWriter& JsonWriter::Key(const std::string& name) {
  BeforeValue();
  out_ << JsonEscaped(name) << ':';
  afterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(const std::string& utf8) {
  BeforeValue();
  out_ << JsonEscaped(utf8);
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  out_ << value;
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
  return *this;
}

}  // namespace plf::tools
