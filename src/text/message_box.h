// The one routine through which every user message is shown. Texts are UTF-8;
// a text that comes from the install script or a file name is converted from
// the ANSI code page by its caller (Sys().AnsiToUtf8).
#pragma once

#include <cstdint>
#include <string>

namespace plf {

constexpr std::uint32_t kKindError = 0;
constexpr std::uint32_t kKindWarning = 1;
constexpr std::uint32_t kKindInformation = 2;
constexpr std::uint32_t kKindQuestion = 3;
constexpr std::uint32_t kKindQuestionWarning = 4;
constexpr std::uint32_t kTopMostFlag = 0x80000000u;

// Platform style bits.
constexpr std::uint32_t kMbSetForeground = 0x10000;
constexpr std::uint32_t kMbTopMost = 0x40000;

// Kinds 0-4 choose a caption from the string table and an icon; 5 to
// 1,000,000 give an empty caption and no icon; bit 31 asks for a top-most
// box. Button sets 0-5 (OK, OK/Cancel, Yes/No, Yes/No/Cancel, Retry/Cancel,
// Abort/Retry/Ignore with Retry the default); another set is taken as 0.
// Returns the platform's answer code (0 when no box could be shown).
int ShowMessageBox(const std::string& text, std::uint32_t kind, int buttons);
// The same with a caption of its own: no icon.
int ShowMessageBoxCaption(const std::string& text, const std::string& caption, bool topMost, int buttons);

int ShowError(const std::string& text);
int ShowWarning(const std::string& text);

}  // namespace plf
