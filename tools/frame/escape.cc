#include "frame/escape.h"

#include <cstddef>
#include <cstdint>

namespace kestrum_cli {

namespace {

// The length of the UTF-8 sequence at text[at] and its code point; 0 when
// no well-formed sequence (shortest form, no surrogate, at most U+10FFFF)
// begins there.
size_t Utf8Sequence(std::string_view text, size_t at, uint32_t& code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  size_t length = 0;
  uint32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1Fu, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0Fu, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07u, lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3Fu);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Characters beyond ASCII that a terminal acts on or that reorder or break
// the line: the C1 controls, the bidirectional marks, embeddings, overrides
// and isolates, and the line and paragraph separators.
bool Acted(uint32_t code) {
  return code <= 0x9F || code == 0x061C || code == 0x200E || code == 0x200F ||
         (code >= 0x2028 && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// Bytes of `text` from `at` that are printed as they are: printable ASCII
// (a backslash too, unless `double_backslash`) and, for kUtf8, whole
// characters that are not acted on.
size_t KeptRun(std::string_view text, size_t at, TextBytes bytes, bool double_backslash) {
  const size_t from = at;
  while (at < text.size()) {
    const auto c = static_cast<uint8_t>(text[at]);
    if (c >= 0x20 && c < 0x7F) {
      if (c == '\\' && double_backslash) break;
      ++at;
      continue;
    }
    uint32_t code = 0;
    const size_t length = bytes == TextBytes::kUtf8 ? Utf8Sequence(text, at, code) : 0;
    if (length == 0 || Acted(code)) break;
    at += length;
  }
  return at - from;
}

// The bytes that the escape of the character at text[at] stands for: one,
// or all of a well-formed UTF-8 sequence that is acted on.
size_t EscapedLength(std::string_view text, size_t at, TextBytes bytes) {
  uint32_t code = 0;
  const size_t length = bytes == TextBytes::kUtf8 ? Utf8Sequence(text, at, code) : 0;
  return length == 0 ? 1 : length;
}

// Calls put(data, size) for the pieces of the escaped text, in order.
template <typename Put>
void EscapeInto(std::string_view text, TextBytes bytes, Put put) {
  const bool any = KeptRun(text, 0, bytes, false) < text.size();
  size_t at = 0;
  while (at < text.size()) {
    const size_t kept = KeptRun(text, at, bytes, any);
    if (kept > 0) put(text.data() + at, kept);
    at += kept;
    if (at == text.size()) break;
    const size_t length = EscapedLength(text, at, bytes);
    for (size_t i = 0; i < length; ++i, ++at) {
      const auto c = static_cast<uint8_t>(text[at]);
      char escape[5] = {'\\', static_cast<char>(c), 0, 0, 0};
      size_t size = 2;
      if (c == '\r') {
        escape[1] = 'r';
      } else if (c == '\n') {
        escape[1] = 'n';
      } else if (c == '\t') {
        escape[1] = 't';
      } else if (c != '\\') {
        static constexpr char kHex[] = "0123456789ABCDEF";
        escape[1] = 'x', escape[2] = kHex[c >> 4], escape[3] = kHex[c & 0xF];
        size = 4;
      }
      put(escape, size);
    }
  }
}

}  // namespace

std::string Escaped(std::string_view text, TextBytes bytes) {
  std::string out;
  out.reserve(text.size());
  EscapeInto(text, bytes, [&out](const char* data, size_t size) { out.append(data, size); });
  return out;
}

void PrintEscaped(std::FILE* to, std::string_view text, TextBytes bytes) {
  EscapeInto(text, bytes, [to](const char* data, size_t size) { std::fwrite(data, 1, size, to); });
}

std::string JsonWithoutActedCharacters(std::string json) {
  // Outside its strings a JSON text is ASCII: every such character is in one.
  std::string out;
  size_t copied = 0;
  for (size_t at = 0; at < json.size();) {
    uint32_t code = 0;
    const size_t length = static_cast<uint8_t>(json[at]) >= 0xC2 ? Utf8Sequence(json, at, code) : 0;
    if (length == 0 || !Acted(code)) {
      at += length == 0 ? 1 : length;
      continue;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
    out.append(json, copied, at - copied).append(escape);
    at += length;
    copied = at;
  }
  if (copied == 0) return json;
  return out.append(json, copied);
}

}  // namespace kestrum_cli
