// Text that did not come from the program itself, as the program prints it:
// file names, ASF titles and descriptions, the library's diagnostic lines.
// Whatever bytes such a text holds, printed it can neither move the cursor,
// set colours or a window title, nor begin a line of its own: every byte
// that could is written as an escape (\r, \n, \t, \xHH). A text that needs
// no escape is printed as it is; in one that does, each backslash is
// doubled too, so that the escapes read one way.
// JSON carries such texts exactly: JSON escapes the controls of ASCII
// itself, and JsonWithoutActedCharacters those beyond it.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kestrum_cli {

enum class TextBytes {
  kUtf8,     // names, titles, descriptions: printable UTF-8 is kept, as are
             // its characters other than controls, bidirectional marks and
             // line separators
  kLibrary,  // the library's lines, in its own code page: printable ASCII only
};

// `text` with every byte that a terminal would act on escaped.
std::string Escaped(std::string_view text, TextBytes bytes = TextBytes::kUtf8);

// The same, written to `to` without allocating (for a line met while memory
// is short).
void PrintEscaped(std::FILE* to, std::string_view text, TextBytes bytes);

// `json`, a JSON text in UTF-8, with each character beyond ASCII that a
// terminal acts on (above) written as \uXXXX: the same value, but safe to
// print. Text holding none of them is returned as it is.
std::string JsonWithoutActedCharacters(std::string json);

}  // namespace kestrum_cli
