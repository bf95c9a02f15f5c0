#include "runtime/exceptions.h"

namespace plf {

std::string Format(const char* templ, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (const char* p = templ; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next != args.end()) out += *next++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace plf
