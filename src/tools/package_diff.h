// Two releases of a package compared as the installer sees them: entries by
// name (letter case ignored, as its lookup ignores it) and by content (the
// inflated bytes, not dates); the install scripts by what each section
// asks for. Failures to read raise Exception naming the package.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plf {
class TPreLoadReader;
class TStream;
}

namespace plf::tools {

struct EntryDiff {
  std::vector<std::string> added;    // names as NEW has them, in its order
  std::vector<std::string> removed;  // as OLD has them, in its order
  std::vector<std::string> changed;  // content differs (SCRIPT included)
  std::size_t unchanged = 0;
};

// One [Files] line, "entry=target", as the installer splits it.
struct FilesLine {
  int line = 0;  // 1-based line of its script
  std::string entry;
  std::string target;
};
std::vector<FilesLine> ScriptFilesLines(const std::string& scriptText);

struct ScriptDiff {
  std::vector<std::string> verifyAdded, verifyRemoved;  // [Verify] lines
  struct Option {
    std::string key;
    std::string oldValue, newValue;  // as the installer's lookup reads them
  };
  std::vector<Option> options;  // [Options] keys whose value differs
  std::vector<FilesLine> filesAdded, filesRemoved;
  struct Moved {
    std::string entry;
    std::vector<std::string> oldTargets, newTargets;
  };
  std::vector<Moved> filesMoved;  // the same entry installed elsewhere

  bool Empty() const;
};

EntryDiff DiffEntries(TPreLoadReader& oldPackage, TPreLoadReader& newPackage);
ScriptDiff DiffScripts(const std::string& oldScript, const std::string& newScript);

// True when the two streams give the same bytes to their ends; bounded
// memory whatever their size.
bool SameContent(TStream& a, TStream& b);


}  // namespace plf::tools
