#include "platform/debug_output.h"

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

}  // namespace

void OutputDebugStringA(const char* line) {
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
}
#endif

namespace kestrum {

void DebugLine(const char* format, ...) {
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  OutputDebugStringA(line);
}

}  // namespace kestrum
