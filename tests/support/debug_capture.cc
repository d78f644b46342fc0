#include "support/debug_capture.h"

#include <algorithm>

#include "kestrum.h"

namespace kestrum::testing {

DebugCapture::DebugCapture() { KestrumSetDebugOutput(&DebugCapture::Sink, this); }

DebugCapture::~DebugCapture() { KestrumSetDebugOutput(nullptr, nullptr); }

size_t DebugCapture::Count(const std::string& line) const {
  return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
}

void DebugCapture::Sink(const char* line, void* context) {
  static_cast<DebugCapture*>(context)->lines_.emplace_back(line);
}

}  // namespace kestrum::testing
