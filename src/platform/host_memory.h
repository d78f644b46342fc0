// Copies out of memory the host owns. Where the platform can catch a fault
// while reading it (Windows structured exceptions), a faulting copy returns
// false instead of bringing the host down; elsewhere the copy is unguarded
// and always returns true.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum {

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size);

}  // namespace kestrum
