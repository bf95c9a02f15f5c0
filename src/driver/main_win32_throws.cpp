// The standard library's throw helpers, for the Windows program only.
// Its own build them from std::logic_error and std::runtime_error, whose
// messages are copy-on-write strings: linking them brings a second string
// implementation into the installer (some 40 KiB of its 300). These throw
// the same kinds of failure as one small type whose what() is the library's
// own text, which the installer shows as it would have shown the original.
#include <exception>
#include <new>
#include <typeinfo>

namespace {

class LibraryFailure : public std::exception {
 public:
  explicit LibraryFailure(const char* what) noexcept : what_(what) {}
  const char* what() const noexcept override { return what_; }

 private:
  const char* what_;
};

}  // namespace

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* what) { throw LibraryFailure(what); }
void __throw_domain_error(const char* what) { throw LibraryFailure(what); }
void __throw_invalid_argument(const char* what) { throw LibraryFailure(what); }
void __throw_length_error(const char* what) { throw LibraryFailure(what); }
void __throw_out_of_range(const char* what) { throw LibraryFailure(what); }
// The format's arguments are dropped: the text names the function.
void __throw_out_of_range_fmt(const char* what, ...) { throw LibraryFailure(what); }
void __throw_runtime_error(const char* what) { throw LibraryFailure(what); }
void __throw_range_error(const char* what) { throw LibraryFailure(what); }
void __throw_overflow_error(const char* what) { throw LibraryFailure(what); }
void __throw_underflow_error(const char* what) { throw LibraryFailure(what); }

}  // namespace std
