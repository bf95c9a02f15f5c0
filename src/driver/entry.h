// The program itself: from process start to the exit code.
#pragma once

#include <cstdint>
#include <string>

namespace plf {

class TStream;

inline constexpr const char kPackageName[] = "Install.PLF";
inline constexpr const char kSPackageNotFound[] = "Soubor %s nebyl nalezen!";
inline constexpr const char kSBadFormat[] = "Soubor %s nemá správný formát!";

// Ends the run at once with an exit code; caught only by InstallerMain.
struct ProcessExit {
  int code;
};

// Start-up, the first look at the message queue, the run under its handler
// and the exit steps. Returns the process exit code (0 or 1).
int InstallerMain();

// The install run. Returns normally, raises, or throws ProcessExit.
void RunInstall();

// The warning for a package without a script, then exit code 1.
[[noreturn]] void ExitBadFormat();

// Reads count bytes (negative: up to the end) from the stream's position.
// The text grows as bytes arrive; a short stream raises "Stream read error".
void ReadStreamToString(TStream* stream, std::int32_t count, std::string* text);

}  // namespace plf
