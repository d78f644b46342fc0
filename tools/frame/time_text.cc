#include "frame/time_text.h"

#include <vector>

namespace kestrum_cli {

namespace {

// Digits, then optionally '.' and digits (at least one digit in all), as
// nanoseconds of `unit_ns` each; a whole part of more than 10 digits, too
// long for any time taken, gives UINT64_MAX. False when `text` is no such
// number.
bool ParseDecimal(const std::string& text, uint64_t unit_ns, uint64_t& ns) {
  const size_t dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return false;
  uint64_t w = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    w = w * 10 + static_cast<uint64_t>(c - '0');
  }
  uint64_t f = 0;  // the fraction in billionths
  for (size_t i = 0; i < fraction.size(); ++i) {
    if (fraction[i] < '0' || fraction[i] > '9') return false;
    if (i < 9) f = f * 10 + static_cast<uint64_t>(fraction[i] - '0');
  }
  for (size_t i = fraction.size(); i < 9; ++i) f *= 10;
  ns = whole.size() > 10 ? UINT64_MAX : w * unit_ns + f / (kNanosPerSecond / unit_ns);
  return true;
}

}  // namespace

bool ParseTime(const std::string& text, uint64_t& ns) {
  if (text.find(':') == std::string::npos) {
    const auto ends = [&text](const char* unit) {
      const std::string u = unit;
      return text.size() > u.size() && text.compare(text.size() - u.size(), u.size(), u) == 0;
    };
    if (ends("ms")) return ParseDecimal(text.substr(0, text.size() - 2), 1000000, ns);
    if (ends("us")) return ParseDecimal(text.substr(0, text.size() - 2), 1000, ns);
    if (ends("s")) return ParseDecimal(text.substr(0, text.size() - 1), kNanosPerSecond, ns);
    return ParseDecimal(text, kNanosPerSecond, ns);
  }
  std::vector<std::string> fields;
  for (size_t from = 0;;) {
    const size_t colon = text.find(':', from);
    fields.push_back(text.substr(from, colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (fields.size() > 3) return false;
  uint64_t total = 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string& field = fields[i];
    const bool last = i + 1 == fields.size();
    const std::string digits = last ? field.substr(0, field.find('.')) : field;
    if (digits.empty() || (i > 0 && digits.size() > 2) ||
        (!last && field.find('.') != std::string::npos)) {
      return false;
    }
    uint64_t value = 0;
    if (!ParseDecimal(field, kNanosPerSecond, value)) return false;
    if (i > 0 && value >= 60 * kNanosPerSecond) return false;
    total = total > kLongestTimeSeconds * kNanosPerSecond || value == UINT64_MAX
                ? UINT64_MAX
                : total * 60 + value;
  }
  ns = total;
  return true;
}

}  // namespace kestrum_cli
