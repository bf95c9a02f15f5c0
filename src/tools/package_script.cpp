#include "tools/package_script.h"

#include <memory>

#include "driver/entry.h"
#include "driver/time_rule.h"
#include "package/preload_reader.h"
#include "runtime/exceptions.h"
#include "runtime/platform.h"
#include "runtime/stream.h"
#include "text/ini_string_list.h"
#include "text/textutil.h"

namespace plf::tools {

PackageScript ReadPackageScript(TPreLoadReader& reader) {
  PackageScript script;
  script.index = reader.FindEntry("SCRIPT");
  if (script.index < 0) {
    script.state = ScriptState::Missing;
    return script;
  }
  std::unique_ptr<TStream> stream;
  std::int32_t size = 0;
  if (!reader.OpenEntry(script.index, &stream, &size)) {
    script.state = ScriptState::Unopenable;
    return script;
  }
  try {
    ReadStreamToString(stream.get(), size, &script.text);
    script.state = ScriptState::Read;
  } catch (const Exception& e) {
    script.text.clear();
    script.state = ScriptState::Unreadable;
    script.problem = e.Message();
  }
  return script;
}

bool ScriptStampTime(const std::string& scriptText, double* fraction) {
  TIniStringList script;
  script.LoadText(scriptText);
  std::string value;
  script.ReadString("Options", "TimeStamp", &value);
  value = Trim(value);
  *fraction = 0;
  return value.empty() || ParseTimeOfDay(value, Sys().TimeFormat(), fraction);
}

}  // namespace plf::tools
