// Copies out of memory the host owns. Where the platform can catch a fault
// while reading it (Windows: structured exceptions, or with GCC a vectored
// handler, see host_memory.cc), a faulting copy returns false instead of
// bringing the host down; `destination` then holds an unspecified part of the
// bytes. Elsewhere the copy is unguarded and always returns true. Safe to call
// from several threads at once; the thread's last error is left as it was.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum {

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size);

}  // namespace kestrum
