#include "tools/script_lint.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "driver/backup_name.h"
#include "driver/file_stamp.h"
#include "driver/time_rule.h"
#include "package/preload_reader.h"
#include "runtime/code_page.h"
#include "runtime/platform.h"
#include "streams/replace_stream.h"
#include "text/ini_string_list.h"
#include "text/textutil.h"
#include "tools/cli.h"

namespace plf::tools {

namespace {

struct Line {
  std::string text;
  std::size_t offset;  // in the whole script
};

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string LeftTrimmed(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

bool HasBlankEnds(const std::string& s) { return !s.empty() && (IsBlank(s.front()) || IsBlank(s.back())); }

// Cut as the string list cuts: CR LF, CR or LF; no empty line after a final
// break. `base` is the offset of text[0] in the script.
std::vector<Line> SplitLines(const std::string& text, std::size_t base) {
  std::vector<Line> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back({text.substr(start, i - start), base + start});
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back({text.substr(start), base + start});
  return lines;
}

std::string Quote(const std::string& ansi) { return "'" + Shown(ansi) + "'"; }

// Text that an editor saved in UTF-8: 1250 text is seldom valid UTF-8 over a
// whole line.
bool LooksLikeUtf8(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) &&
         IsValidUtf8(s);
}

// Quoted as the installer shows the bytes, whatever code page the tool is
// in; control characters (the bytes 1250 leaves undefined among them, which
// UTF-8 sequences are full of) as \xNN.
std::string QuoteAsInstallerShows(const std::string& ansi) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string shown = "'";
  for (const char c : ansi) {
    const unsigned char u = static_cast<unsigned char>(c);
    const std::string utf8 = ToUtf8(kDefaultCodePage, std::string_view(&c, 1));
    const bool control = u < 0x20 || u == 0x7F || (static_cast<unsigned char>(utf8[0]) == 0xC2 &&
                                                   static_cast<unsigned char>(utf8[1]) < 0xA0);
    shown += control ? std::string{'\\', 'x', kHex[u >> 4], kHex[u & 15]} : utf8;
  }
  return shown + "'";
}

// The word of the line that first holds such bytes, enough to recognise it.
std::string FirstUtf8Word(const std::string& s) {
  const char* stops = " \t=\\/";
  const std::size_t at = static_cast<std::size_t>(
      std::find_if(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; }) - s.begin());
  const std::size_t before = s.find_last_of(stops, at);
  const std::size_t start = before == std::string::npos ? 0 : before + 1;
  return s.substr(start, s.find_first_of(stops, at) - start);
}

// Windows refuses these in a name, and a colon other than a drive's; 0 when
// the path has none.
char ForbiddenCharacter(const std::string& target) {
  // "\\?\" and "\\.\" open a path as it stands; the "?" is no name's.
  const bool prefixed = target.size() >= 4 && target.compare(0, 2, "\\\\") == 0 && (target[2] == '?' || target[2] == '.') &&
                        target[3] == '\\';
  const std::string path = prefixed ? target.substr(4) : target;
  for (std::size_t i = 0; i < path.size(); ++i) {
    const char c = path[i];
    const unsigned char u = static_cast<unsigned char>(c);
    const bool drive = i == 1 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if ((u >= 1 && u < 0x20) || std::string("<>\"|?*").find(c) != std::string::npos || (c == ':' && !drive))
      return c;
  }
  return 0;
}

// Windows names: "/" and "\" alike, letter case and trailing dots and
// blanks not counted.
std::string TargetKey(const std::string& target) {
  std::string key = target;
  for (char& c : key) {
    if (c == '/') c = '\\';
    c = static_cast<char>(UpperFoldTable[static_cast<unsigned char>(c)]);
  }
  while (!key.empty() && (key.back() == '.' || key.back() == ' ')) key.pop_back();
  return key;
}

// An entry name as a careless author might mistype it: blanks at its ends,
// "/" for "\".
std::string LooseEntryKey(const std::string& name) {
  std::string key = Trim(name);
  for (char& c : key)
    if (c == '/') c = '\\';
  return key;
}

bool IsAbsoluteScriptPath(const std::string& path) {
  if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
  const bool letter = path.size() >= 2 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return letter && path[1] == ':';
}

constexpr const char* kKnownSections[] = {"Verify", "Options", "Files"};
enum { kVerify, kOptions, kFiles, kKnownCount };

class Linter {
 public:
  explicit Linter(const LintInput& input)
      : in_(input), text_(input.scriptText), lines_(input.scriptText), blocks_(ScriptBlocks(input.scriptText)) {
    ini_.LoadText(text_);
    if (in_.package != nullptr) used_.assign(static_cast<std::size_t>(in_.package->EntryCount()), false);
  }

  std::vector<Finding> Run() {
    CheckText();
    CheckUtf8Lines();
    FindKnownBlocks();
    CheckHeaders();
    if (found_[kVerify] >= 0) CheckVerify();
    if (found_[kOptions] >= 0) CheckOptions();
    CheckFiles();
    if (in_.package != nullptr) CheckEntries();
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
      const int la = a.line == 0 ? 1 << 30 : a.line;
      const int lb = b.line == 0 ? 1 << 30 : b.line;
      return la < lb;
    });
    return findings_;
  }

 private:
  void Add(int line, Severity severity, const char* code, const std::string& message) {
    findings_.push_back({line, severity, code, message});
  }

  int LineOf(std::size_t offset) const { return lines_.LineAt(offset); }

  std::string BlockText(int b) const {
    const ScriptBlock& block = blocks_[static_cast<std::size_t>(b)];
    return text_.substr(block.offset, block.length);
  }

  std::string Header(int b) const {
    const std::string block = BlockText(b);
    return block.substr(0, block.find_first_of("\r\n"));
  }

  // The section's body and where it starts in the script.
  std::string Body(int b, std::size_t* offset) const {
    const std::string block = BlockText(b);
    std::string body = StripFirstLine(block);
    *offset = blocks_[static_cast<std::size_t>(b)].offset + block.size() - body.size();
    return body;
  }

  // The lines the installer takes from a section whose body it trims as a
  // whole ([Verify], [Files]).
  std::vector<Line> TrimmedBodyLines(int b) const {
    std::size_t offset = 0;
    const std::string body = Body(b, &offset);
    std::size_t lead = 0;
    while (lead < body.size() && IsBlank(body[lead])) ++lead;
    return SplitLines(Trim(body), offset + lead);
  }

  void CheckText() {
    const std::size_t nul = text_.find('\0');
    if (nul != std::string::npos)
      Add(LineOf(nul), Severity::Warning, "nul-byte",
          "the script holds a NUL byte here, and the installer reads nothing after it");
    // Editors such as Notepad start a UTF-8 file with a byte order mark; the
    // installer takes it for text, so the first header is no header and a
    // [Verify] there is never checked.
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      Add(1, Severity::Error, "utf8-bom",
          "the script starts with a UTF-8 byte order mark, so the installer does not see the section header "
          "of line 1 (a [Verify] there is not checked); save it without one, in code page 1250");
      return;
    }
    const std::size_t firstBlock = blocks_.empty() ? lines_.End() : blocks_[0].offset;
    for (std::size_t i = 0; i < firstBlock; ++i) {
      const char c = text_[i];
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
        Add(LineOf(i), Severity::Warning, "text-before-sections",
            "this text stands before the first section header, and the installer ignores it");
        break;
      }
    }
  }

  void CheckUtf8Lines() {
    for (Line l : SplitLines(text_.substr(0, lines_.End()), 0)) {
      if (l.offset == 0 && l.text.compare(0, 3, "\xEF\xBB\xBF") == 0) l.text.erase(0, 3);  // reported as utf8-bom
      if (LooksLikeUtf8(l.text))
        Add(LineOf(l.offset), Severity::Error, "utf8-text",
            "text in UTF-8: the installer reads code page 1250 and shows " +
                QuoteAsInstallerShows(FirstUtf8Word(l.text)) + "; pack the script with plf pack, which converts it");
    }
  }

  void FindKnownBlocks() {
    for (int k = 0; k < kKnownCount; ++k) {
      const int index = ini_.FindSection(kKnownSections[k]);
      if (index < 0) continue;
      // Blocks of the same text are alike; the list keeps them in text order.
      const std::string& found = ini_.Strings(index);
      for (std::size_t b = 0; b < blocks_.size() && found_[k] < 0; ++b)
        if (BlockText(static_cast<int>(b)) == found) found_[k] = static_cast<int>(b);
    }
  }

  void CheckHeaders() {
    for (std::size_t bi = 0; bi < blocks_.size(); ++bi) {
      const int b = static_cast<int>(bi);
      const std::string header = Header(b);
      const int line = LineOf(blocks_[bi].offset);
      bool known = false;
      for (int k = 0; k < kKnownCount && !known; ++k) {
        if (found_[k] == b) {
          known = true;
        } else if (StartsWithFolded("[" + std::string(kKnownSections[k]) + "]", BlockText(b))) {
          known = true;
          const int readLine = LineOf(blocks_[static_cast<std::size_t>(found_[k])].offset);
          Add(line, Severity::Error, "section-duplicate",
              "this is a second [" + std::string(kKnownSections[k]) + "] section, which the installer never reads: it "
              "reads only the one at line " + std::to_string(readLine) + " (of several, the one whose text sorts first)");
        }
      }
      if (known) continue;

      const std::string inner = header.substr(1);
      const std::string::size_type close = inner.find(']');
      const std::string name = Trim(close == std::string::npos ? inner : inner.substr(0, close));
      int like = -1;
      for (int k = 0; k < kKnownCount; ++k)
        if (CompareFolded(name, kKnownSections[k]) == 0) like = k;
      if (like >= 0) {
        const std::string section = kKnownSections[like];
        Add(line, Severity::Error, "section-malformed",
            Quote(header) + " is not the " + section + " section: " +
                (close == std::string::npos ? std::string("its header has no closing ']'")
                                            : std::string("blanks inside the brackets belong to the name")) +
                ", so the installer never reads these lines");
      } else {
        Add(line, Severity::Warning, "section-unknown",
            "the installer knows no section " + Quote(header) + " and ignores it, up to the next header");
      }
    }
  }

  // Classifies the lines of a body that are about `key`; returns the line
  // the lookup finds (0: none) and marks every line it looked at.
  int ScanKey(const std::string& body, std::size_t bodyOffset, const std::string& section, const std::string& key,
              std::set<int>* handled) {
    const char* value = FindKeyValue(body.c_str(), body.c_str() + body.size(), key);
    const int found = value == nullptr ? 0 : LineOf(bodyOffset + static_cast<std::size_t>(value - body.c_str()));
    const std::size_t k = key.size();
    for (const Line& l : SplitLines(body, bodyOffset)) {
      const int line = LineOf(l.offset);
      const std::string& s = l.text;
      if (s.size() > k && s[k] == '=' && Sys().CompareTextLocale(s.substr(0, k), key) == 0) {
        handled->insert(line);
        if (line != found)
          Add(line, Severity::Warning, "key-duplicate",
              "this is a second " + key + " line in [" + section + "], and only the first one (line " +
                  std::to_string(found) + ") counts");
        continue;
      }
      const std::string t = LeftTrimmed(s);
      if (t.size() <= k || Sys().CompareTextLocale(t.substr(0, k), key) != 0) continue;
      std::size_t j = k;
      while (j < t.size() && (t[j] == ' ' || t[j] == '\t')) ++j;
      if (j >= t.size() || t[j] != '=') continue;
      handled->insert(line);
      const bool indented = t.size() != s.size();
      const bool spaced = j > k;
      const std::string why = indented && spaced ? "it is indented and has a blank before '='"
                              : indented          ? "it is indented, and a key must start its line"
                                                  : "a blank stands between " + Quote(key) + " and '='";
      Add(line, Severity::Error, "key-unreachable",
          "the installer never finds this " + key + " line in [" + section + "]: " + why);
    }
    return found;
  }

  void CheckVerify() {
    const int b = found_[kVerify];
    std::size_t bodyOffset = 0;
    const std::string body = Body(b, &bodyOffset);
    std::set<int> handled;
    ScanKey(body, bodyOffset, "Verify", "Message", &handled);
    ScanKey(body, bodyOffset, "Verify", "NoMessage", &handled);

    struct Test {
      const char* keyword;
      int length;
      bool failsWhenEmpty;
    };
    static const Test kTests[] = {{"File", 4, true}, {"Dir", 3, true}, {"NoExist", 7, false}};
    for (const Line& l : TrimmedBodyLines(b)) {
      const int line = LineOf(l.offset);
      const std::string& s = l.text;
      const Test* test = nullptr;
      for (const Test& t : kTests)
        if (test == nullptr && SameTextPrefix(s, t.keyword, t.length)) test = &t;
      if (test != nullptr) {
        CheckTestLine(line, s, test->keyword, test->length, test->failsWhenEmpty);
        continue;
      }
      const std::string t = LeftTrimmed(s);
      const Test* indented = nullptr;
      for (const Test& k : kTests)
        if (indented == nullptr && !t.empty() && SameTextPrefix(t, k.keyword, k.length)) indented = &k;
      if (indented != nullptr) {
        Add(line, Severity::Error, "test-indented",
            "this line is indented, so it is no " + std::string(indented->keyword) +
                " test: the installer recognises a test only at the very start of a line");
        continue;
      }
      if (handled.count(line) != 0 || t.empty() || t[0] == ';') continue;
      Add(line, Severity::Warning, "verify-line-ignored",
          "this line is neither a test (File, Dir, NoExist) nor a Message or NoMessage line, and the installer "
          "ignores it");
    }
  }

  void CheckTestLine(int line, const std::string& s, const std::string& kind, int keywordLength,
                     bool failsWhenEmpty) {
    const std::string::size_type eq = s.find('=');
    if (eq == std::string::npos) {
      Add(line, failsWhenEmpty ? Severity::Error : Severity::Warning, "test-without-equals",
          "this " + kind + " test has no '=', so it tests an empty path and " +
              (failsWhenEmpty ? "always fails: the warning is always shown" : "always passes"));
      return;
    }
    const std::string word = s.substr(0, eq);
    std::string trimmedWord = word;
    while (!trimmedWord.empty() && IsBlank(trimmedWord.back())) trimmedWord.pop_back();
    if (static_cast<int>(trimmedWord.size()) > keywordLength)
      Add(line, Severity::Note, "test-keyword",
          Quote(trimmedWord) + " is read as a " + kind + " test: only its first " + std::to_string(keywordLength) +
              " letters count");
    const std::string path = s.substr(eq + 1);
    if (path.empty()) {
      Add(line, failsWhenEmpty ? Severity::Error : Severity::Warning, "test-empty-path",
          "this " + kind + " test has an empty path, so it " +
              (failsWhenEmpty ? "always fails: the warning is always shown" : "always passes"));
    } else if (HasBlankEnds(path)) {
      Add(line, Severity::Warning, "path-blanks",
          "the path " + Quote(path) + " has blanks at its ends, which belong to the path the " + kind + " test looks for");
    }
  }

  void CheckOptions() {
    const int b = found_[kOptions];
    std::size_t bodyOffset = 0;
    const std::string body = Body(b, &bodyOffset);
    std::set<int> handled;
    const int renameLine = ScanKey(body, bodyOffset, "Options", "Rename", &handled);
    const int stampLine = ScanKey(body, bodyOffset, "Options", "TimeStamp", &handled);

    for (const Line& l : SplitLines(body, bodyOffset)) {
      const int line = LineOf(l.offset);
      const std::string t = Trim(l.text);
      if (handled.count(line) != 0 || t.empty() || t[0] == ';') continue;
      const std::string::size_type eq = t.find('=');
      if (eq == std::string::npos)
        Add(line, Severity::Warning, "options-line-ignored", "this line has no '=', and the installer ignores it");
      else
        Add(line, Severity::Warning, "key-unknown",
            "the installer knows no key " + Quote(Trim(t.substr(0, eq))) + " in [Options] and ignores it");
    }

    std::string rename, stamp;
    ini_.ReadString("Options", "Rename", &rename);
    ini_.ReadString("Options", "TimeStamp", &stamp);
    if (!rename.empty()) CheckRename(renameLine, rename);
    const std::string trimmed = Trim(stamp);
    if (trimmed.empty()) return;
    if (!ParseTimeOfDay(trimmed, Sys().TimeFormat(), &stampTime_)) {
      stampTime_ = 0;
      Add(stampLine, Severity::Error, "timestamp-invalid",
          Quote(trimmed) + " is not a valid time, so the installer stops with an error before it installs anything");
      return;
    }
    double neutral = 0;
    if (!ParseTimeOfDay(trimmed, LocaleTimeFormat(), &neutral))
      Add(stampLine, Severity::Warning, "timestamp-locale",
          "whether " + Quote(trimmed) + " is a valid time depends on the locale of the machine the installer runs on");
  }

  void CheckRename(int line, const std::string& pattern) {
    if (HasBlankEnds(pattern))
      Add(line, Severity::Warning, "value-blanks",
          "the Rename pattern " + Quote(pattern) + " has blanks at its ends, which become part of every backup name");
    // An example in the script's own notation.
    const std::string sample = "C:\\App\\app.exe";
    std::string backup;
    MakeBackupName(sample, pattern, &backup);
    const std::string::size_type cut = pattern.find_last_of(std::string(".") + Sys().PathDelimiters() + "\\");
    const std::string stem = cut != std::string::npos && pattern[cut] == '.' ? pattern.substr(0, cut) : pattern;
    const std::string::size_type star = stem.find('*');
    if (star == std::string::npos) {
      Add(line, Severity::Warning, "rename-no-star",
          "the Rename pattern " + Quote(pattern) + " has no '*' in its name, so every backup gets the same name " +
              Quote(backup) + ", and once that exists no further backup is made");
    } else if (star != 0) {
      Add(line, Severity::Warning, "rename-prefix",
          "the '*' of the Rename pattern stands for the target's whole path without extension, so " + Quote(sample) +
              " would be backed up as " + Quote(backup));
    } else if (TargetKey(backup) == TargetKey(sample)) {
      Add(line, Severity::Warning, "rename-self",
          "the Rename pattern " + Quote(pattern) + " names the target itself, so no backup is kept");
    }
  }

  void CheckFiles() {
    if (found_[kFiles] < 0) {
      Add(0, Severity::Warning, "no-files-section", "the script has no [Files] section, so nothing is installed");
      return;
    }
    const TPreLoadReader* package = in_.package;
    std::map<std::string, int> targets;
    std::set<int> datesReported;
    for (const Line& l : TrimmedBodyLines(found_[kFiles])) {
      const int line = LineOf(l.offset);
      if (Trim(l.text).empty()) continue;
      std::string target = l.text;
      std::string name;
      SplitOff(&target, '=', &name);
      const bool hasEquals = l.text.find('=') != std::string::npos;
      const int index = package != nullptr ? package->FindEntry(name) : -1;

      if (!hasEquals) {
        const std::string lead = LeftTrimmed(name);
        if (package != nullptr && index >= 0)
          Add(line, Severity::Error, "files-no-equals",
              "this line has no '=', so it names the entry " + Quote(name) +
                  " with an empty target path, and creating that file stops the installer with an error");
        else if (lead[0] == ';')
          Add(line, Severity::Warning, "files-comment",
              "[Files] has no comments: this line asks for an entry " + Quote(name) + " and is passed over");
        else
          Add(line, Severity::Error, "files-no-equals",
              std::string("this line has no '=', so the whole line is taken as an entry name with an empty target "
                          "path") +
                  (package != nullptr ? ", and as the package has no such entry it is passed over" : ""));
        continue;
      }
      if (package != nullptr && index < 0) {
        ReportMissingEntry(line, name);
        continue;
      }
      if (package != nullptr) CheckInstalledEntry(line, index, name, &datesReported);
      CheckTarget(line, target, &targets);
    }
  }

  void ReportMissingEntry(int line, const std::string& name) {
    const TPreLoadReader& package = *in_.package;
    const std::string lead = LeftTrimmed(name);
    if (!lead.empty() && lead[0] == ';') {
      Add(line, Severity::Warning, "files-comment",
          "[Files] has no comments: this line asks for an entry " + Quote(name) + " and is passed over");
      return;
    }
    for (int i = 0; i < package.EntryCount(); ++i) {
      const std::string& entry = package.EntryName(i);
      if (Sys().CompareTextLocale(LooseEntryKey(entry), LooseEntryKey(name)) != 0) continue;
      const bool onlyBlanks = Sys().CompareTextLocale(Trim(entry), Trim(name)) == 0;
      Add(line, Severity::Error, "entry-near-miss",
          "the entry name " + Quote(name) + " differs from the package's " + Quote(entry) + " only in " +
              (onlyBlanks ? "blanks at its ends" : "'/' against '\\'") +
              ", so it is never found and the line is passed over");
      return;
    }
    Add(line, Severity::Error, "entry-missing", "the package has no entry " + Quote(name) + ", so this line is passed over");
  }

  void CheckInstalledEntry(int line, int index, const std::string& name, std::set<int>* datesReported) {
    const TPreLoadReader& package = *in_.package;
    used_[static_cast<std::size_t>(index)] = true;
    if (!package.CanOpenEntry(index) || package.Entry(index).uncompressedSize < 0) {
      Add(line, Severity::Error, "entry-unopenable",
          "the entry " + Quote(name) + " cannot be opened (its record is damaged), so this line is passed over");
      return;
    }
    if (!datesReported->insert(index).second) return;
    const double date = package.EntryDate(index);
    if (date == 0) {
      Add(line, Severity::Note, "entry-no-date",
          "the entry " + Quote(name) + " has no date, so the installed file keeps the time it is written");
    } else if (StampToDos(std::trunc(date) + stampTime_) == 0) {
      Add(line, Severity::Warning, "entry-date-range",
          "the entry " + Quote(name) + " is dated " + OleDateText(date) +
              ", outside 1980 to 2099, so the installed file keeps the time it is written");
    }
  }

  void CheckTarget(int line, const std::string& target, std::map<std::string, int>* targets) {
    if (target.empty()) {
      Add(line, Severity::Error, "target-empty",
          "the target path is empty, so creating the file stops the installer with an error");
      return;
    }
    if (target.back() == '\\' || target.back() == '/') {
      Add(line, Severity::Error, "target-folder",
          "the target " + Quote(target) + " ends in a separator and names a folder, so creating the file stops the "
          "installer with an error");
      return;
    }
    if (const char c = ForbiddenCharacter(target))
      Add(line, Severity::Error, "forbidden-character",
          "the target " + Quote(target) + " holds " + Quote(std::string(1, c)) +
              ", which Windows does not allow in a name");
    CheckNameEnds(line, target);
    if (HasBlankEnds(target))
      Add(line, Severity::Warning, "path-blanks",
          "the target path " + Quote(target) + " has blanks at its ends, which belong to the path");
    if (!IsAbsoluteScriptPath(target))
      Add(line, Severity::Note, "target-relative",
          "the target " + Quote(target) + " is relative, so it is taken from the installer's current folder, not "
          "from the package's folder");
    const auto inserted = targets->emplace(TargetKey(target), line);
    if (!inserted.second)
      Add(line, Severity::Warning, "target-duplicate",
          "line " + std::to_string(inserted.first->second) +
              " installs to the same target, and this line's file replaces that one");
  }

  // Windows drops a dot or blank that ends a name, so the file lands where
  // the script does not say. A blank ending the whole target is path-blanks.
  void CheckNameEnds(int line, const std::string& target) {
    std::size_t start = 0;
    while (start <= target.size()) {
      const std::size_t end = std::min(target.find_first_of("\\/", start), target.size());
      const std::string part = target.substr(start, end - start);
      start = end + 1;
      if (part.empty() || part == "." || part == ".." || (part.back() != '.' && part.back() != ' ')) continue;
      if (end == target.size() && part.back() == ' ') return;
      Add(line, Severity::Warning, "trailing-dot-or-blank",
          "the name " + Quote(part) + " in the target " + Quote(target) + " ends in a " +
              (part.back() == '.' ? "dot" : "blank") + ", which Windows drops without a word");
      return;
    }
  }

  void CheckEntries() {
    const TPreLoadReader& package = *in_.package;
    for (int i = 0; i < package.EntryCount(); ++i) {
      const std::string& name = package.EntryName(i);
      if (LooksLikeUtf8(name))  // valid UTF-8: the message shows the name as it is meant
        Add(0, Severity::Error, "utf8-name",
            "the entry name '" + name + "' is in UTF-8, and the installer reads it in code page 1250 as " +
                QuoteAsInstallerShows(name) + ": a [Files] line in code page 1250 does not find it; pack the "
                "files with plf pack, which converts names");
      const int first = package.FindEntry(name);
      if (first != i) {
        Add(0, Severity::Warning, "entry-shadowed",
            "entry " + std::to_string(i) + " " + Quote(name) + " is never found: entry " + std::to_string(first) +
                " has the same name, letter case ignored");
        continue;
      }
      if (i == in_.scriptIndex || used_[static_cast<std::size_t>(i)]) continue;
      Add(0, Severity::Warning, "entry-unused", "no [Files] line installs the entry " + Quote(name));
    }
  }

  const LintInput& in_;
  const std::string& text_;
  TextLines lines_;
  std::vector<ScriptBlock> blocks_;
  TIniStringList ini_;
  int found_[kKnownCount] = {-1, -1, -1};
  double stampTime_ = 0;
  std::vector<bool> used_;
  std::vector<Finding> findings_;
};

}  // namespace

TextLines::TextLines(const std::string& text) : end_(text.find('\0')) {
  if (end_ == std::string::npos) end_ = text.size();
  starts_.push_back(0);
  for (std::size_t i = 0; i < end_; ++i) {
    if (text[i] == '\r' && i + 1 < end_ && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') starts_.push_back(i + 1);
  }
}

int TextLines::LineAt(std::size_t offset) const {
  return static_cast<int>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin());
}

std::vector<ScriptBlock> ScriptBlocks(const std::string& text) {
  std::vector<ScriptBlock> blocks;
  if (text.empty()) return blocks;
  const char* base = text.c_str();
  const char* cursor = base;
  const char* blockStart = nullptr;
  auto add = [&](const char* end) {
    blocks.push_back({static_cast<std::size_t>(blockStart - base), static_cast<std::size_t>(end - blockStart)});
  };
  do {
    SkipWhitespace(&cursor);
    const char* lineEnd = FindLineEnd(cursor);
    if (*cursor == '[') {
      if (blockStart != nullptr) add(cursor);
      blockStart = cursor;
    }
    cursor = PastLineBreak(lineEnd);
  } while (*cursor != '\0');
  if (blockStart != nullptr) add(cursor);
  return blocks;
}

std::vector<ScriptLine> TrimmedSectionLines(const std::string& text, const std::string& section) {
  std::vector<ScriptLine> result;
  TIniStringList ini;
  ini.LoadText(text);
  const int index = ini.FindSection(section);
  if (index < 0) return result;
  const std::string& found = ini.Strings(index);
  for (const ScriptBlock& block : ScriptBlocks(text)) {
    if (text.compare(block.offset, block.length, found) != 0) continue;
    const std::string body = StripFirstLine(found);
    std::size_t lead = 0;
    while (lead < body.size() && IsBlank(body[lead])) ++lead;
    const TextLines lines(text);
    for (const Line& l : SplitLines(Trim(body), block.offset + found.size() - body.size() + lead))
      result.push_back({lines.LineAt(l.offset), l.text});
    break;
  }
  return result;
}

const char* SeverityName(Severity severity) {
  switch (severity) {
    case Severity::Error:
      return "error";
    case Severity::Warning:
      return "warning";
    case Severity::Note:
      return "note";
  }
  return "?";
}

std::vector<Finding> LintScript(const LintInput& input) { return Linter(input).Run(); }

}  // namespace plf::tools
