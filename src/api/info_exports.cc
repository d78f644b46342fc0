// What a host may ask of the library itself: its version, and a status in
// words.
#include <cstring>

#include "api/status_words.h"
#include "kestrum.h"

#define KESTRUM_STRINGIFY_(x) #x
#define KESTRUM_STRINGIFY(x) KESTRUM_STRINGIFY_(x)

extern "C" KESTRUM_API const char* KESTRUM_CALL KestrumGetVersion(void) {
  // The build holds the header's numbers to the project's version.
  return KESTRUM_STRINGIFY(KESTRUM_VERSION_MAJOR) "." KESTRUM_STRINGIFY(
      KESTRUM_VERSION_MINOR) "." KESTRUM_STRINGIFY(KESTRUM_VERSION_PATCH);
}

extern "C" KESTRUM_API int32_t KESTRUM_CALL KestrumDescribeStatus(int32_t status, char* text,
                                                                  int32_t capacity) {
  const char* words = kestrum::StatusWords(status);
  const size_t length = std::strlen(words);
  if (text != nullptr && capacity > 0) {
    const size_t kept =
        length < static_cast<size_t>(capacity) ? length : static_cast<size_t>(capacity) - 1;
    std::memcpy(text, words, kept);
    text[kept] = 0;
  }
  return static_cast<int32_t>(length);
}
