// What every command of the package tool shares: argument scanning, the
// shape of complaints, and the two kinds of output - aligned text for people
// and JSON for scripts. Entry names and script texts are ANSI bytes; they are
// converted with Sys().AnsiToUtf8 before they are shown.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace plf::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Facts about the process that the commands cannot find out portably.
struct ToolEnvironment {
  bool errIsTerminal = false;  // standard error is a terminal (progress lines)
  unsigned cores = 0;          // 0: ask std::thread
  int progressDelayMs = 500;   // a pack that runs longer shows its progress
};

// "plf CMD: problem" and a pointer to the help on `err`; returns 2.
int UsageError(std::ostream& err, const std::string& command, const std::string& problem);
// "plf CMD: problem" on `err`; returns 1.
int Failure(std::ostream& err, const std::string& command, const std::string& problem);

struct OptionSpec {
  const char* shortName;  // "-j", or nullptr
  const char* longName;   // "--jobs", or nullptr
  const char* valueName;  // "a count" when the option takes a value, else nullptr
};

struct ParsedArguments {
  struct Option {
    std::string name;  // the long name when there is one, else the short one
    std::string value;
  };
  std::vector<Option> options;  // in the order given
  std::vector<std::string> positional;
  bool help = false;

  bool Has(const std::string& name) const;
  // The last value given for the option; `fallback` when it was not given.
  std::string Value(const std::string& name, const std::string& fallback = std::string()) const;
};

// "-x V", "-xV", "--long V", "--long=V"; "--" ends the options; "-h" and
// "--help" set `help` and stop scanning. Every command also takes
// "--code-page N", which must name the code page in force (the program's
// edge switches to it before the arguments are read). False with *problem
// set for an unknown option or a missing or refused value.
bool ParseArguments(const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                    ParsedArguments* parsed, std::string* problem);

// Why the file cannot be opened as a package, in the system's words ("is a
// folder, not a package", "cannot be opened: No such file or directory");
// empty when it can. Asked before the reader, whose messages are the
// installer's and name no reason.
std::string PackageOpenProblem(const std::string& path);
// The same for a file that is not a package ("is a folder, not a file").
std::string FileOpenProblem(const std::string& path);
// The package reader's complaint in the tool's words: the reader speaks
// the installer's Czech and names no cause. Other texts are returned as
// they are.
std::string PackageReadProblem(const std::string& readerMessage);

// An entry name as asked for on the command line: "/" or "\\" between
// folders, "*" and "?" as the installer's find-first has them, letter case
// ignored as its lookup ignores it.
bool EntryNameMatches(const std::string& pattern, const std::string& entryName);
// A name or target in the form that makes two spellings of one file equal
// on Windows: letter case folded, "/" as "\\".
std::string FoldedName(const std::string& name);
// The positions of the names that one of the patterns matches, in order;
// every position when there are no patterns. The patterns that match
// nothing are added to *unmatched.
std::vector<std::size_t> SelectEntries(const std::vector<std::string>& names, const std::vector<std::string>& patterns,
                                       std::vector<std::string>* unmatched);

// A whole decimal number in [min, max]; false otherwise.
bool ParseCount(const std::string& text, long min, long max, long* value);

// An ANSI name for a text line: UTF-8, control characters as \xNN.
std::string Shown(const std::string& ansi);
// "YYYY-MM-DD" of an OLE date (whole days); "-" for 0.
std::string OleDateText(double oleDate);
std::string DateText(int year, int month, int day);
// Local "YYYY-MM-DD HH:MM:SS" of a universal file time; "?" when the zone
// rules cannot convert it.
std::string LocalTimeText(std::int64_t utcFileTime);

// Columns padded to their widest cell, two blanks apart; the last column is
// never padded. Widths count UTF-8 characters, not bytes.
void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& rightAligned,
                std::ostream& out);

// Compact JSON, one document per line (the line ends when the outermost
// container closes). Texts given to String and Key are UTF-8; bytes that are
// not valid UTF-8 are written as the code points of the same value.
class JsonWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(const std::string& name);
  JsonWriter& String(const std::string& utf8);
  JsonWriter& Int(std::int64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // Shorthands for a key and its value.
  JsonWriter& Field(const std::string& name, const std::string& utf8) { return Key(name).String(utf8); }
  JsonWriter& Field(const std::string& name, const char* utf8) { return Key(name).String(utf8); }
  JsonWriter& Field(const std::string& name, std::int64_t value) { return Key(name).Int(value); }
  JsonWriter& Field(const std::string& name, int value) { return Key(name).Int(value); }
  JsonWriter& Field(const std::string& name, bool value) { return Key(name).Bool(value); }

 private:
  void BeforeValue();

  std::ostream& out_;
  std::vector<bool> firstInLevel_;
  bool afterKey_ = false;
};

std::string JsonEscaped(const std::string& utf8);

}  // namespace plf::tools
