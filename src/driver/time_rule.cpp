#include "driver/time_rule.h"

#include "runtime/exceptions.h"

namespace plf {

namespace {

enum class Marker { None, Morning, Afternoon };

class TimeScanner {
 public:
  TimeScanner(const std::string& text, const LocaleTimeFormat& locale) : text_(text), locale_(locale) {}

  bool AtEnd() const { return pos_ >= text_.size(); }

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  // Morning is tested before afternoon, the locale's designator before the
  // English one; a locale without designators (24-hour) defines none.
  Marker TakeMarker() {
    SkipBlanks();
    if (TakeWord(locale_.amDesignator) || TakeWord("AM")) return Marker::Morning;
    if (TakeWord(locale_.pmDesignator) || TakeWord("PM")) return Marker::Afternoon;
    return Marker::None;
  }

  bool TakeLiteral(const std::string& s) {
    SkipBlanks();
    if (s.empty() || text_.compare(pos_, s.size(), s) != 0) return false;
    pos_ += s.size();
    return true;
  }

  // A run of digits; the value stops growing at 1000, which no part of a
  // time reaches, so a run of any length cannot overflow.
  bool TakeNumber(int* value) {
    SkipBlanks();
    const std::string::size_type start = pos_;
    int v = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
      if (v < 1000) v = v * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    if (pos_ == start) return false;
    *value = v < 1000 ? v : 1000;
    return true;
  }

 private:
  bool TakeWord(const std::string& word) {
    if (word.empty() || text_.size() - pos_ < word.size()) return false;
    if (Sys().CompareTextLocale(text_.substr(pos_, word.size()), word) != 0) return false;
    pos_ += word.size();
    SkipBlanks();
    return true;
  }

  const std::string& text_;
  const LocaleTimeFormat& locale_;
  std::string::size_type pos_ = 0;
};

}  // namespace

bool ParseTimeOfDay(const std::string& trimmed, const LocaleTimeFormat& locale, double* fraction) {
  TimeScanner scan(trimmed, locale);
  Marker marker = scan.TakeMarker();
  int hours = 0, minutes = 0, seconds = 0, milliseconds = 0;
  if (!scan.TakeNumber(&hours)) return false;
  if (scan.TakeLiteral(":")) {
    if (!scan.TakeNumber(&minutes)) return false;
    if (scan.TakeLiteral(":") && !scan.TakeNumber(&seconds)) return false;
  }
  if (scan.TakeLiteral(locale.decimalSeparator) && !scan.TakeNumber(&milliseconds)) return false;
  if (marker == Marker::None) marker = scan.TakeMarker();
  scan.SkipBlanks();
  if (!scan.AtEnd()) return false;

  if (marker != Marker::None) {
    if (hours < 1 || hours > 12) return false;
    if (hours == 12) hours = 0;
    if (marker == Marker::Afternoon) hours += 12;
  }
  if (hours > 23 || minutes > 59 || seconds > 59 || milliseconds > 999) return false;
  const long ms = ((hours * 60L + minutes) * 60L + seconds) * 1000L + milliseconds;
  *fraction = static_cast<double>(ms) / 86400000.0;
  return true;
}

double StrToTimeOfDay(const std::string& trimmed) {
  double fraction = 0;
  if (!ParseTimeOfDay(trimmed, Sys().TimeFormat(), &fraction))
    throw EConvertError(Format(kSInvalidTime, {Sys().AnsiToUtf8(trimmed)}));
  return fraction;
}

}  // namespace plf
