#include "platform/debug_output.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <thread>

#ifndef _WIN32
namespace {

// The sink, and who is calling it. A line takes no lock: it counts itself
// in the counter of the current epoch, checks that the epoch did not move
// meanwhile, reads the sink, calls it and counts itself out. Replacing the
// sink (under a mutex, against other replacements only) first takes the
// function away, moves the epoch on, waits until the previous epoch's
// counter drains, and only then stores the new sink: once it returns, no
// line can still be calling the sink it replaced. New lines never hold up a
// replacement, as they count in the new epoch's counter. (So the sink must
// not replace the sink: it would wait for itself.)
struct SinkState {
  // Read by every line; written only when the sink changes.
  std::atomic<void (*)(const char*, void*)> function{nullptr};
  std::atomic<void*> context{nullptr};
  std::atomic<uint32_t> epoch{0};
  // Written by every line: kept off the line the fields above share.
  alignas(64) std::atomic<uint32_t> calling[2] = {0, 0};
  alignas(64) std::mutex replacing;
};

SinkState& State() {
  static SinkState state;
  return state;
}

}  // namespace

void OutputDebugStringA(const char* line) {
  SinkState& s = State();
  if (s.function.load(std::memory_order_relaxed) == nullptr || line == nullptr) return;
  uint32_t epoch = s.epoch.load(std::memory_order_seq_cst);
  for (;;) {
    s.calling[epoch & 1].fetch_add(1, std::memory_order_seq_cst);
    const uint32_t now = s.epoch.load(std::memory_order_seq_cst);
    if (now == epoch) break;
    s.calling[epoch & 1].fetch_sub(1, std::memory_order_release);
    epoch = now;
  }
  const auto function = s.function.load(std::memory_order_seq_cst);
  if (function != nullptr) {
    // A sink that throws (a C++ host's) loses its line, never the library
    // its caller: nothing unwinds through here.
    try {
      function(line, s.context.load(std::memory_order_relaxed));
    } catch (...) {
    }
  }
  s.calling[epoch & 1].fetch_sub(1, std::memory_order_release);
}

namespace kestrum {

void SetDebugSink(void (*sink)(const char* line, void* context), void* context) {
  SinkState& s = State();
  std::lock_guard<std::mutex> lock(s.replacing);
  s.function.store(nullptr, std::memory_order_seq_cst);
  const uint32_t old = s.epoch.fetch_add(1, std::memory_order_seq_cst);
  while (s.calling[old & 1].load(std::memory_order_acquire) != 0) std::this_thread::yield();
  s.context.store(sink != nullptr ? context : nullptr, std::memory_order_relaxed);
  s.function.store(sink, std::memory_order_seq_cst);
}

}  // namespace kestrum
#endif

namespace kestrum {

void DebugLine(const char* format, ...) {
#ifndef _WIN32
  // A line nobody receives is not formatted. A sink attached meanwhile takes
  // the lines written after it was attached, as OutputDebugStringA's would.
  if (State().function.load(std::memory_order_relaxed) == nullptr) return;
#endif
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  OutputDebugStringA(line);
}

void DebugLineNumber(const char* prefix, int32_t value) {
#ifndef _WIN32
  if (State().function.load(std::memory_order_relaxed) == nullptr) return;
#endif
  char line[64];
  size_t at = 0;
  while (prefix[at] != 0 && at < 40) {
    line[at] = prefix[at];
    ++at;
  }
  uint32_t magnitude = static_cast<uint32_t>(value);
  if (value < 0) {
    line[at++] = '-';
    magnitude = 0u - magnitude;
  }
  char digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) line[at++] = digits[--count];
  line[at] = 0;
  OutputDebugStringA(line);
}

}  // namespace kestrum
