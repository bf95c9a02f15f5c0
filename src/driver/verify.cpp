#include "driver/verify.h"

#include "runtime/file_tests.h"
#include "runtime/platform.h"
#include "runtime/string_list.h"
#include "streams/dir_helpers.h"
#include "text/message_box.h"
#include "text/textutil.h"

namespace plf {

namespace {

constexpr const char kVerifySection[] = "Verify";

// Whatever the pattern names, of any kind, folders and hidden items included.
bool AnythingMatches(const std::string& pattern) {
  FoundItem item;
  return Sys().FindFirst(pattern, &item);
}

void ShowFailure(TIniStringList& script, const char* key, const char* fallback) {
  std::string text;
  script.ReadString(kVerifySection, key, &text);
  ShowWarning(text.empty() ? std::string(fallback) : Sys().AnsiToUtf8(text));
}

}  // namespace

int CharPos(char c, const std::string& text) {
  const std::size_t at = text.find(c);
  return at == std::string::npos ? 0 : static_cast<int>(at + 1);
}

void KeepAfterChar(std::string* text, char c) {
  const int at = CharPos(c, *text);
  if (at == 0)
    text->clear();
  else
    text->erase(0, static_cast<std::size_t>(at));
}

bool VerifyScript(TIniStringList& script) {
  std::string body;
  script.ReadSection(kVerifySection, &body);
  // Only the ends of the whole body are trimmed: an indented line inside it
  // no longer begins with its keyword, which script authors rely on.
  TStringList lines;
  lines.SetText(Trim(body));

  for (int i = 0; i < lines.Count(); ++i) {
    std::string line = lines.Strings(i);
    if (SameTextPrefix(line, "File", 4)) {
      KeepAfterChar(&line, '=');
      if (!FileExists(Sys().ScriptPath(line))) {
        ShowFailure(script, "Message", kSNoPreviousInstall);
        return false;
      }
    } else if (SameTextPrefix(line, "Dir", 3)) {
      KeepAfterChar(&line, '=');
      if (!IsDirectory(Sys().ScriptPath(line))) {
        ShowFailure(script, "Message", kSNoPreviousInstall);
        return false;
      }
    } else if (SameTextPrefix(line, "NoExist", 7)) {
      KeepAfterChar(&line, '=');
      if (AnythingMatches(Sys().ScriptPath(line))) {
        ShowFailure(script, "NoMessage", kSDoNotInstallHere);
        return false;
      }
    }
  }
  return true;
}

}  // namespace plf
