// Root of the system's classes. Each class declares its own name and direct
// base (C++ names are mangled), and every live object is registered, so that
// a release helper can tell a live object of the system's classes from
// anything else without probing memory.
#pragma once

namespace plf {

struct ClassInfo {
  const char* name;
  const ClassInfo* base;  // null only for TObject
};

class TObject {
 public:
  TObject();
  TObject(const TObject&);
  TObject& operator=(const TObject&) = default;
  virtual ~TObject();

  static const ClassInfo& StaticClass();
  virtual const ClassInfo& ClassType() const { return StaticClass(); }

  // True while `p` is the address of a constructed, not yet destroyed TObject.
  static bool IsLive(const void* p);
};

}  // namespace plf

// Declares the class's own name and its direct base for ClassType().
#define PLF_DECLARE_CLASS(Name, Base)                                  \
 public:                                                               \
  static const ::plf::ClassInfo& StaticClass() {                       \
    static const ::plf::ClassInfo info{#Name, &Base::StaticClass()};   \
    return info;                                                       \
  }                                                                    \
  const ::plf::ClassInfo& ClassType() const override { return StaticClass(); }
