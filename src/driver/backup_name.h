// Path rules of the file installation: the backup name built from the
// [Options] Rename pattern, and the folder a target needs. Folder parts end
// at the platform's path delimiters (Sys().PathDelimiters()).
#pragma once

#include <string>

namespace plf {

inline constexpr const char kDefaultRenamePattern[] = "*_OLD.*";

// The pattern's stem and extension (with its dot) are filled in separately:
// the first "*" of the stem by the target's stem (its whole folder part
// included), the first "*" of the extension by the target's extension
// without its dot. 'C:\App\app.exe' with '*_OLD.*' gives 'C:\App\app_OLD.exe'.
void MakeBackupName(const std::string& target, const std::string& pattern, std::string* backup);

// Creates the folder part of the target (up to its last delimiter, without a
// trailing separator) with every missing parent. Failures are silent.
void EnsureTargetFolder(const std::string& target);

}  // namespace plf
