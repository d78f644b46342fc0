// A place diagnostic lines go: one sink and its context, replaced safely
// while other threads write. The process's sink (KestrumSetDebugOutput) is
// one; each recording has one of its own (platform/record_context.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/win_types.h"

namespace kestrum {

// A sink as the exports take it: the exports' calling convention (__stdcall
// on 32-bit Windows).
using LineSink = void(WINAPI*)(const char* line, void* context);

// Sending takes no lock: a line counts itself in the counter of the current
// epoch, checks that the epoch did not move meanwhile, reads the sink, calls
// it and counts itself out. Replacing the sink (under a mutex, against other
// replacements only) first takes the function away, moves the epoch on,
// waits until the previous epoch's counter drains, and only then stores the
// new sink: once Set returns, no line can still be calling the sink it
// replaced. New lines never hold up a replacement, as they count in the new
// epoch's counter. So a sink must not replace its own route's sink: it would
// wait for itself.
class LineRoute {
 public:
  LineRoute() = default;
  LineRoute(const LineRoute&) = delete;
  LineRoute& operator=(const LineRoute&) = delete;

  // Whether a sink is attached (a hint: it may change at any moment).
  bool attached() const { return function_.load(std::memory_order_relaxed) != nullptr; }

  // Calls the sink with `line`, if one is attached. A sink that throws (a
  // C++ host's) loses its line; nothing unwinds through here.
  void Send(const char* line);

  // Attaches `sink` with `context` (null detaches); see above. May throw
  // std::system_error when the mutex cannot be taken.
  void Set(LineSink sink, void* context);

 private:
  // Read by every line; written only when the sink changes.
  std::atomic<LineSink> function_{nullptr};
  std::atomic<void*> context_{nullptr};
  std::atomic<uint32_t> epoch_{0};
  // Written by every line: kept off the line the fields above share.
  alignas(64) std::atomic<uint32_t> calling_[2] = {0, 0};
  alignas(64) std::mutex replacing_;
};

}  // namespace kestrum
