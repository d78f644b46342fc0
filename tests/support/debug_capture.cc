#include "support/debug_capture.h"

#include <algorithm>

#include "platform/debug_output.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrum::testing {

#ifdef _WIN32
// On Windows the library's lines go to the real OutputDebugStringA, which
// raises DBG_PRINTEXCEPTION_C (length with the zero, then the text) before
// handling it itself: a vectored handler sees every line first and lets it
// pass on.
namespace {

DebugCapture* g_capture = nullptr;
void* g_handler = nullptr;

LONG CALLBACK CaptureDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
      g_capture != nullptr) {
    const auto* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    if (text != nullptr) DebugCapture::Sink(text, g_capture);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

DebugCapture::DebugCapture() {
  g_capture = this;
  g_handler = AddVectoredExceptionHandler(0, &CaptureDebugString);
}

DebugCapture::~DebugCapture() {
  if (g_handler != nullptr) RemoveVectoredExceptionHandler(g_handler);
  g_handler = nullptr;
  g_capture = nullptr;
}
#else
// The sink KestrumSetDebugOutput attaches, attached here directly.
DebugCapture::DebugCapture() { SetDebugSink(&DebugCapture::Sink, this); }

DebugCapture::~DebugCapture() { SetDebugSink(nullptr, nullptr); }
#endif

size_t DebugCapture::Count(const std::string& line) const {
  return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
}

void DebugCapture::Sink(const char* line, void* context) {
  static_cast<DebugCapture*>(context)->lines_.emplace_back(line);
}

}  // namespace kestrum::testing
