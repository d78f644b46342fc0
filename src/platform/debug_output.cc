#include "platform/debug_output.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "kestrum.h"

#ifndef _WIN32
namespace {

struct Sink {
  void (*function)(const char*, void*) = nullptr;
  void* context = nullptr;
};

std::mutex& SinkMutex() {
  static std::mutex mutex;
  return mutex;
}

Sink& CurrentSink() {
  static Sink sink;
  return sink;
}

// Whether a sink is attached, readable without the lock: most runs attach
// none, and then no line is built or locked for.
std::atomic<bool>& SinkAttached() {
  static std::atomic<bool> attached{false};
  return attached;
}

}  // namespace

void OutputDebugStringA(const char* line) {
  if (!SinkAttached().load(std::memory_order_acquire)) return;
  Sink sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    sink = CurrentSink();
  }
  if (sink.function != nullptr && line != nullptr) sink.function(line, sink.context);
}

extern "C" KESTRUM_API void KestrumSetDebugOutput(void (*sink)(const char* line, void* context),
                                                  void* context) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  CurrentSink() = Sink{sink, sink != nullptr ? context : nullptr};
  SinkAttached().store(sink != nullptr, std::memory_order_release);
}
#endif

namespace kestrum {

void DebugLine(const char* format, ...) {
#ifndef _WIN32
  // A line nobody receives is not formatted. A sink attached meanwhile takes
  // the lines written after it was attached, as OutputDebugStringA's would.
  if (!SinkAttached().load(std::memory_order_acquire)) return;
#endif
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  OutputDebugStringA(line);
}

}  // namespace kestrum
