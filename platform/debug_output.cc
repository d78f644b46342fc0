#include "platform/debug_output.h"

#include <cstdarg>
#include <cstdio>

#include "platform/line_route.h"
#include "platform/record_context.h"

#ifndef _WIN32
namespace {

// The process's sink (KestrumSetDebugOutput): a line route of its own.
kestrum::LineRoute& ProcessRoute() {
  static kestrum::LineRoute route;
  return route;
}

}  // namespace

void OutputDebugStringA(const char* line) { ProcessRoute().Send(line); }

namespace kestrum {

void SetDebugSink(void (*sink)(const char* line, void* context), void* context) {
  ProcessRoute().Set(sink, context);
}

}  // namespace kestrum
#endif

namespace kestrum {
namespace {

// Whether anything receives a line written now. A line nobody receives is
// not formatted; a sink attached meanwhile takes the lines written after it
// was attached, as OutputDebugStringA's would.
bool Received() {
#ifndef _WIN32
  if (ProcessRoute().attached()) return true;
  RecordContext* record = CurrentRecord();
  return record != nullptr && record->lines().attached();
#else
  return true;  // the debugger output may be watched at any time
#endif
}

}  // namespace

void OutputDebugStringA(const char* line) {
  ::OutputDebugStringA(line);
  if (RecordContext* record = CurrentRecord()) record->lines().Send(line);
}

void DebugLine(const char* format, ...) {
  if (!Received()) return;
  char line[512];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  OutputDebugStringA(line);
}

void DebugLineNumber(const char* prefix, int32_t value) {
  if (!Received()) return;
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
