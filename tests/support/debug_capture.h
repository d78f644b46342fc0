// Captures the library's diagnostic lines for the lifetime of the object.
#pragma once

#include <string>
#include <vector>

namespace kestrum::testing {

class DebugCapture {
 public:
  DebugCapture();
  ~DebugCapture();
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  void Clear() { lines_.clear(); }
  // How many lines equal `line` exactly.
  size_t Count(const std::string& line) const;

  // Receives one line for the capture at `context`.
  static void Sink(const char* line, void* context);

 private:
  std::vector<std::string> lines_;
};

}  // namespace kestrum::testing
