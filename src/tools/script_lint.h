// The install script's traps, found by asking the installer's own routines
// what they will make of each line: the section list decides which header
// is read, the key lookup which line a key comes from, the test prefix which
// [Verify] line is a test, the package reader which entry a [Files] line
// gets, the time rule whether TimeStamp parses. Every line that does not
// end up doing what it appears to do is a finding.
#pragma once

#include <string>
#include <vector>

namespace plf {
class TPreLoadReader;
}

namespace plf::tools {

enum class Severity { Error, Warning, Note };

struct Finding {
  int line = 0;  // 1-based line of the script; 0 for the package as a whole
  Severity severity = Severity::Note;
  std::string code;     // a short stable name, e.g. "entry-missing"
  std::string message;  // one sentence, UTF-8
};

struct LintInput {
  std::string scriptText;                   // the script's bytes (ANSI)
  const TPreLoadReader* package = nullptr;  // null: the entries are not checked
  int scriptIndex = -1;                     // the package's script entry, never "unused"
};

// Findings ordered by line, those about the package as a whole last.
std::vector<Finding> LintScript(const LintInput& input);

const char* SeverityName(Severity severity);

// The script text cut into physical lines as the installer's scanners cut
// it (CR LF, CR or LF; the first NUL ends the text).
class TextLines {
 public:
  explicit TextLines(const std::string& text);
  // The 1-based line that holds the byte at `offset`.
  int LineAt(std::size_t offset) const;
  // The offset where 1-based `line` starts, End() for a line past the last.
  std::size_t Start(int line) const {
    return line >= 1 && static_cast<std::size_t>(line) <= starts_.size() ? starts_[static_cast<std::size_t>(line) - 1]
                                                                          : end_;
  }
  std::size_t End() const { return end_; }

 private:
  std::vector<std::size_t> starts_;
  std::size_t end_;
};

// A section block of the script, as the section list holds it.
struct ScriptBlock {
  std::size_t offset;
  std::size_t length;
};
std::vector<ScriptBlock> ScriptBlocks(const std::string& text);

struct ScriptLine {
  int line;  // 1-based
  std::string text;
};
// The lines the installer takes from a section whose body it trims as a
// whole ([Verify], [Files]), in order, with their line numbers; none when
// the section is absent.
std::vector<ScriptLine> TrimmedSectionLines(const std::string& text, const std::string& section);

}  // namespace plf::tools
