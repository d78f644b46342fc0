// Memory taken from the system in whole pages: its pages cost nothing until
// they are written, and go back to the system when it is freed, whatever
// the allocator does with its own heaps. For the large, long-lived buffers
// of a recording (its reassembly buffer, its samples), of which a process
// may hold hundreds at once.
#pragma once

#include <cstddef>

namespace kestrum {

// `size` rounded up to whole pages.
size_t WholePages(size_t size);
// WholePages(size) bytes of zero-filled pages, none touched yet; null when
// the system has none (or `size` is 0).
void* AllocatePages(size_t size);
// Gives back what AllocatePages(size) returned, with the same `size`; null
// does nothing.
void FreePages(void* pages, size_t size);

}  // namespace kestrum
