// The program's string table: the message captions, by their resource ids.
// The Windows build carries them as string-table resources (resources.rc);
// BuiltinResString serves platforms without resources.
#pragma once

namespace plf {

constexpr unsigned kResCaptionError = 65425;     // "Nastala chyba:"
constexpr unsigned kResCaptionWarning = 65426;   // "Upozornění"
constexpr unsigned kResCaptionInfo = 65427;      // "Informace"
constexpr unsigned kResCaptionQuestion = 65428;  // "Souhlasíte?"

// The UTF-8 text of a string-table entry, or nullptr when there is none.
const char* BuiltinResString(unsigned id);

}  // namespace plf
