// Code-page conversion between the host's ANSI strings and the 16-bit wide
// strings the writer takes.
//
// Off Windows the "ANSI code page" is UTF-8. A byte that is not part of a valid
// UTF-8 sequence becomes the lone surrogate U+DC00 + byte, and the reverse
// conversion turns such a surrogate back into its byte, so any byte string
// survives the round trip (a file name that is not UTF-8 still names the same
// file).
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

#ifndef _WIN32
constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// As on Windows: converts `byte_count` bytes of `bytes` (-1: up to and
// including the terminating zero) into at most `wide_capacity` code units at
// `wide`. Returns the number of code units written (with `wide_capacity` 0:
// needed), or 0 when they do not fit or an argument is invalid.
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* bytes, int byte_count,
                        WCHAR* wide, int wide_capacity);
#endif

namespace kestrum {

// The 16-bit units of a zero-terminated wide string (WCHAR: wchar_t on
// Windows, char16_t elsewhere) as a std::u16string, unchanged; empty for null.
inline std::u16string ToU16String(const WCHAR* wide) {
  std::u16string out;
  for (; wide != nullptr && *wide != 0; ++wide) out.push_back(static_cast<char16_t>(*wide));
  return out;
}

// True when the zero-terminated wide string `wide` holds exactly the units
// of `units` (comparing without a copy, so without memory).
inline bool SameUnits(const WCHAR* wide, std::u16string_view units) {
  if (wide == nullptr) return units.empty();
  size_t i = 0;
  for (; wide[i] != 0; ++i) {
    if (i == units.size() || static_cast<char16_t>(wide[i]) != units[i]) return false;
  }
  return i == units.size();
}

// The bytes of a zero-terminated wide string, converted back to the ANSI code
// page (the inverse of MultiByteToWideChar above).
std::string WideToNarrow(const WCHAR* wide);

}  // namespace kestrum
