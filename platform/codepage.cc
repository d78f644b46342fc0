#include "platform/codepage.h"

#include <cstdint>

#include "base/utf16.h"
#include "base/utf8.h"

#ifndef _WIN32
namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// Decodes one UTF-8 sequence at `p` (with `left` bytes available). Returns the
// code point and sets `used`, or returns -1 for an invalid sequence.
int32_t DecodeUtf8(const unsigned char* p, size_t left, size_t* used) {
  const unsigned char lead = p[0];
  if (lead < 0x80) {
    *used = 1;
    return lead;
  }
  size_t length = 0;
  int32_t code = 0;
  int32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, minimum = 0x10000;
  } else {
    return -1;
  }
  if (length > left) return -1;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return -1;
    code = (code << 6) | (p[i] & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  *used = length;
  return code;
}

}  // namespace

int MultiByteToWideChar(UINT /*code_page*/, DWORD /*flags*/, const char* bytes, int byte_count,
                        WCHAR* wide, int wide_capacity) {
  if (bytes == nullptr || byte_count == 0 || byte_count < -1 || wide_capacity < 0) return 0;
  size_t length = 0;
  if (byte_count == -1) {
    while (bytes[length] != '\0') ++length;
    ++length;  // the terminating zero is converted too
  } else {
    length = static_cast<size_t>(byte_count);
  }
  // Two passes over the bytes, without memory of its own: one counts, the
  // other writes once the count is known to fit.
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const auto convert = [&](WCHAR* out) {
    int units = 0;
    const auto put = [&](char16_t unit) {
      if (out != nullptr) out[units] = unit;
      ++units;
    };
    for (size_t i = 0; i < length;) {
      size_t used = 0;
      const int32_t code = DecodeUtf8(p + i, length - i, &used);
      if (code < 0) {
        put(static_cast<char16_t>(kEscapeBase + p[i]));
        ++i;
        continue;
      }
      if (code >= 0x10000) {
        const uint32_t v = static_cast<uint32_t>(code) - 0x10000;
        put(static_cast<char16_t>(0xD800 + (v >> 10)));
        put(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
      } else {
        put(static_cast<char16_t>(code));
      }
      i += used;
    }
    return units;
  };
  const int needed = convert(nullptr);
  if (wide_capacity == 0) return needed;
  if (wide == nullptr || needed > wide_capacity) return 0;
  convert(wide);
  return needed;
}
#endif

namespace kestrum {

std::string WideToNarrow(const WCHAR* wide) {
  std::string out;
  if (wide == nullptr) return out;
#ifdef _WIN32
  const int needed = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (needed > 1) {
    out.resize(static_cast<size_t>(needed));
    WideCharToMultiByte(CP_ACP, 0, wide, -1, out.data(), needed, nullptr, nullptr);
    out.resize(static_cast<size_t>(needed - 1));
  }
#else
  // Zero-terminated: a unit is read only while none before it was zero.
  DecodeUtf16(
      SIZE_MAX, [wide](size_t i) { return static_cast<char16_t>(wide[i]); },
      [&out](uint32_t code, char16_t lone) {
        if (lone >= kEscapeBase + 0x80 && lone <= kEscapeBase + 0xFF) {
          out.push_back(static_cast<char>(lone - kEscapeBase));  // an escaped raw byte
        } else {
          AppendUtf8(out, code);
        }
      });
#endif
  return out;
}

}  // namespace kestrum
