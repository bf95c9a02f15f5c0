#include "runtime/platform.h"

namespace plf {

namespace {
Platform* g_current = nullptr;
}

Platform& Sys() { return g_current != nullptr ? *g_current : DefaultPlatform(); }

Platform* SetPlatform(Platform* p) {
  Platform* previous = g_current;
  g_current = p;
  return previous;
}

}  // namespace plf
