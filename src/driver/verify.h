// The [Verify] preconditions of the install script: File, Dir and NoExist
// lines, tested in order; the first failing one shows its warning.
#pragma once

#include <string>

#include "text/ini_string_list.h"

namespace plf {

inline constexpr const char kSNoPreviousInstall[] = "Nebyla nalezena předchozí instalace!";
inline constexpr const char kSDoNotInstallHere[] = "Sem se to nema instalovat!";

// True when every test passed (or there was none); false after the warning
// of the first failing test has been shown.
bool VerifyScript(TIniStringList& script);

// 1-based position of the first c in text, 0 when absent.
int CharPos(char c, const std::string& text);
// Keeps only what follows the first c; empties the text when c is absent.
void KeepAfterChar(std::string* text, char c);

}  // namespace plf
