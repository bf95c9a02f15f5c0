#include "runtime/object.h"

#include <unordered_set>

namespace plf {

namespace {
// Never destroyed: objects released during static destruction still find it.
std::unordered_set<const void*>& Registry() {
  static auto* live = new std::unordered_set<const void*>();
  return *live;
}
}  // namespace

TObject::TObject() { Registry().insert(this); }
TObject::TObject(const TObject&) { Registry().insert(this); }
TObject::~TObject() { Registry().erase(this); }

const ClassInfo& TObject::StaticClass() {
  static const ClassInfo info{"TObject", nullptr};
  return info;
}

bool TObject::IsLive(const void* p) { return p != nullptr && Registry().count(p) != 0; }

}  // namespace plf
