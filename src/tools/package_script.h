// The install script of a package, read the way the install run reads it:
// the first entry named "SCRIPT" (case ignored), its recorded size read
// exactly; an entry that cannot be opened reads as an empty script.
#pragma once

#include <string>

namespace plf {
class TPreLoadReader;
}

namespace plf::tools {

enum class ScriptState { Read, Missing, Unopenable, Unreadable };

struct PackageScript {
  ScriptState state = ScriptState::Missing;
  int index = -1;        // the entry, -1 when missing
  std::string text;      // empty unless Read
  std::string problem;   // the read error (UTF-8) when Unreadable
};

PackageScript ReadPackageScript(TPreLoadReader& reader);

// The [Options] TimeStamp of a script as a fraction of a day: 0 when absent
// or empty; false when the value does not parse.
bool ScriptStampTime(const std::string& scriptText, double* fraction);

}  // namespace plf::tools
