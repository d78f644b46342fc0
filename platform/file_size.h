// The size of a regular file, looked up by name without opening it (so a
// FIFO is never opened, nor read from).
#pragma once

#include <cstdint>

namespace kestrum {

// The size in bytes of the regular file at `path` (a name in the system's
// ANSI code page; UTF-8 off Windows), or -1 when there is none: a name that
// cannot be looked up, or one of a pipe, a FIFO, a device or a folder, whose
// size says nothing of the stream it gives.
int64_t RegularFileSize(const char* path);

}  // namespace kestrum
