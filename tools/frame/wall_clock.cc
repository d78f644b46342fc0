#include "frame/wall_clock.h"

#include <cstdio>
#include <ctime>

namespace kestrum_cli {

namespace {

// 1970-01-01 as a FILETIME.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
constexpr uint64_t kFileTimeUnitsPerMs = 10000;
// 10000-01-01 UTC.
constexpr UnixMs kEndOfYear9999 = 253402300800000;
constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int64_t SecondsOf(const std::tm& tm) {
  return DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday) * kSecondsPerDay +
         tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

bool LocalTm(std::time_t t, std::tm& tm) {
#ifdef _WIN32
  return localtime_s(&tm, &t) == 0;
#else
  return localtime_r(&t, &tm) != nullptr;
#endif
}

bool InRange(UnixMs ms) { return ms >= 0 && ms < kEndOfYear9999; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads the text a field at a time, front to back.
class Cursor {
 public:
  explicit Cursor(const std::string& text) : text_(text) {}
  bool at_end() const { return at_ == text_.size(); }
  // Exactly `count` digits, as a number.
  bool Digits(size_t count, int& value) {
    value = 0;
    for (size_t i = 0; i < count; ++i, ++at_) {
      if (at_end() || text_[at_] < '0' || text_[at_] > '9') return false;
      value = value * 10 + (text_[at_] - '0');
    }
    return true;
  }
  // The next character when it is one of `chars` (taken), else 0.
  char Take(const char* chars) {
    if (at_end()) return 0;
    for (const char* c = chars; *c != 0; ++c) {
      if (text_[at_] == *c) return text_[at_++];
    }
    return 0;
  }
  // One digit or more after a dot: their first three as milliseconds.
  bool Fraction(int& ms) {
    ms = 0;
    size_t digits = 0;
    for (; !at_end() && text_[at_] >= '0' && text_[at_] <= '9'; ++at_, ++digits) {
      if (digits < 3) ms = ms * 10 + (text_[at_] - '0');
    }
    for (size_t i = digits; i < 3; ++i) ms *= 10;
    return digits > 0;
  }

 private:
  const std::string& text_;
  size_t at_ = 0;
};

// The offset from UTC after a time, in seconds: Z, +HH:MM, +HHMM, -HH:MM.
bool ReadOffset(Cursor& c, char sign, int64_t& seconds) {
  int hours = 0, minutes = 0;
  if (!c.Digits(2, hours)) return false;
  c.Take(":");
  if (!c.Digits(2, minutes) || hours > 23 || minutes > 59) return false;
  seconds = (sign == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

}  // namespace

std::optional<UnixMs> FromFileTime(uint64_t file_time) {
  if (file_time < kUnixEpochAsFileTime) return std::nullopt;
  const uint64_t ms = (file_time - kUnixEpochAsFileTime) / kFileTimeUnitsPerMs;
  if (ms >= static_cast<uint64_t>(kEndOfYear9999)) return std::nullopt;
  return static_cast<UnixMs>(ms);
}

uint64_t ToFileTime(UnixMs ms) {
  return kUnixEpochAsFileTime + static_cast<uint64_t>(ms) * kFileTimeUnitsPerMs;
}

std::string LocalTimeText(UnixMs ms, TimeStyle style) {
  const std::time_t t = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  if (!LocalTm(t, tm)) return "";
  const int64_t offset = SecondsOf(tm) - static_cast<int64_t>(t);
  const int64_t offset_minutes = (offset < 0 ? -offset : offset) / 60;
  const bool iso = style == TimeStyle::kIso8601;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d%s%c%02d:%02d",
                tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, iso ? 'T' : ' ', tm.tm_hour,
                tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000), iso ? "" : " ",
                offset < 0 ? '-' : '+', static_cast<int>(offset_minutes / 60),
                static_cast<int>(offset_minutes % 60));
  return text;
}

std::optional<UnixMs> ParseWallClock(const std::string& text) {
  Cursor c(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
  if (!c.Digits(4, year) || !c.Take("-") || !c.Digits(2, month) || !c.Take("-") ||
      !c.Digits(2, day) || !c.Take("Tt ") || !c.Digits(2, hour) || !c.Take(":") ||
      !c.Digits(2, minute)) {
    return std::nullopt;
  }
  if (c.Take(":") && !c.Digits(2, second)) return std::nullopt;
  if (c.Take(".") && !c.Fraction(ms)) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  int64_t seconds = 0;
  if (c.Take("Zz")) {
    seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  } else if (const char sign = c.Take("+-"); sign != 0) {
    int64_t offset = 0;
    if (!ReadOffset(c, sign, offset)) return std::nullopt;
    seconds = DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 +
              second - offset;
  } else {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;  // whichever holds then
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    seconds = static_cast<int64_t>(t);
  }
  if (!c.at_end()) return std::nullopt;
  const UnixMs result = seconds * 1000 + ms;
  return InRange(result) ? std::optional<UnixMs>(result) : std::nullopt;
}

}  // namespace kestrum_cli
