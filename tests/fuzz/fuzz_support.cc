// Pieces every fuzz target links: the finding report and a Sleep that returns
// at once.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_input.h"
#include "platform/sleep.h"

namespace kestrum::fuzz {

void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

}  // namespace kestrum::fuzz

// Replaces the platform's Sleep at link time (this object comes before the
// library's archive, so the archive's Sleep is never pulled in): the splitter
// pauses 200 ms after a malformed group, which would make each such input
// cost 200 ms of fuzzing for no coverage. Only the fuzz targets link this.
// On Windows the splitter calls the system's Sleep, which cannot be replaced
// this way: replays there pause as the library does.
#ifndef _WIN32
void Sleep(DWORD /*milliseconds*/) {}
#endif
