// UTF-16 decoding, for the text the system reads as 16-bit units (ASF
// strings, the writer's wide file names). One answer for a lone surrogate:
// U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum {

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Decodes the `count` units that `unit(i)` gives (i from 0), up to the
// first zero unit, calling `emit(code, lone)` once per code point. A high
// surrogate followed by a low one is one code point; any other surrogate is
// lone and gives U+FFFD, with `lone` its unit (0 for every other code
// point).
template <typename UnitAt, typename Emit>
void DecodeUtf16(size_t count, UnitAt unit, Emit emit) {
  for (size_t i = 0; i < count; ++i) {
    const uint32_t code = unit(i);
    if (code == 0) return;
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < count) {
      const uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        emit(0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00), char16_t{0});
        ++i;
        continue;
      }
    }
    if (code >= 0xD800 && code <= 0xDFFF) {
      emit(kReplacementCharacter, static_cast<char16_t>(code));
    } else {
      emit(code, char16_t{0});
    }
  }
}

}  // namespace kestrum
