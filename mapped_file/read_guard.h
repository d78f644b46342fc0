// Reads of memory that may fail under the reader: a stored stream mapped
// into memory raises SIGBUS when the file is cut shorter under the mapping,
// or when a page of it cannot be read (a failing disk, a network file system
// gone). ReadGuarded runs a reading function so that such a fault within the
// given range ends the function and returns false instead of ending the
// process.
//
// How (POSIX): a SIGBUS handler, installed at the first guarded read and
// chained to the handler it replaced. A thread about to read records where
// to resume (sigsetjmp) and the range in a slot of a fixed table; the
// handler, on the faulting thread, finds that thread's slot and resumes
// there when the fault lies in the range. Every other SIGBUS (another
// thread's, another range's, one sent by kill) goes to the previous handler,
// or gets the default action when there was none. The table is read without
// locks or allocation, so the handler is safe to run at any moment. The
// function run must not own anything that needs cleaning up (no
// destructors, locks or allocations): it is abandoned where it faulted.
//
// Elsewhere (Windows, where the stream is read, not mapped) the function just
// runs.
#pragma once

#include <cstddef>

namespace kestrum::mapped_file {

using GuardedRead = void (*)(void* context);

// Runs read(context); false when a SIGBUS from [begin, begin + size) ended it.
bool ReadGuarded(const void* begin, size_t size, GuardedRead read, void* context);

// Copies `size` bytes, guarded as above over the source; false when the
// source could not be read (the destination then holds an unspecified part).
bool GuardedCopy(void* destination, const void* source, size_t size);

}  // namespace kestrum::mapped_file
