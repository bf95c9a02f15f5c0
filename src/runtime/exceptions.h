// Exception classes of the system. Every failure that reaches the user is one
// of these, carrying the exact message text (UTF-8) that the error box shows.
#pragma once

#include <exception>
#include <initializer_list>
#include <string>

namespace plf {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

#define PLF_EXCEPTION(Name, Base)            \
  class Name : public Base {                 \
   public:                                   \
    using Base::Base;                        \
  }

PLF_EXCEPTION(EStreamError, Exception);
PLF_EXCEPTION(EFCreateError, EStreamError);
PLF_EXCEPTION(EFOpenError, EStreamError);
PLF_EXCEPTION(EFilerError, EStreamError);
PLF_EXCEPTION(EReadError, EFilerError);
PLF_EXCEPTION(EWriteError, EFilerError);
PLF_EXCEPTION(EConvertError, Exception);
PLF_EXCEPTION(EStringListError, Exception);
PLF_EXCEPTION(EOSError, Exception);

#undef PLF_EXCEPTION

// Fills "%s" and "%d" placeholders in order with the given, already converted
// arguments. The template is never re-scanned, so "%" inside an argument (a
// path, a script value) stays as it is.
std::string Format(const char* templ, std::initializer_list<std::string> args);

}  // namespace plf
