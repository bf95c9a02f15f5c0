#include "runtime/resources.h"

namespace plf {

const char* BuiltinResString(unsigned id) {
  switch (id) {
    case kResCaptionError: return "Nastala chyba:";
    case kResCaptionWarning: return "Upozornění";
    case kResCaptionInfo: return "Informace";
    case kResCaptionQuestion: return "Souhlasíte?";
    default: return nullptr;
  }
}

}  // namespace plf
