// Sending a stored stream at its own pace (record -re): each group at its
// frame time, 40 ms after the one before, as a camera would hand it over.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>

namespace kestrum_cli {

class RealTimePace {
 public:
  // Waits until the next group's time: the first group goes at once, group
  // k at k x 40 ms after it. A group that comes late goes at once, and the
  // ones after it keep to the first one's clock. Returns early once *stop
  // is set (within about 50 ms).
  void WaitForNextGroup(const volatile std::sig_atomic_t* stop);

 private:
  std::optional<std::chrono::steady_clock::time_point> start_;
  uint64_t groups_ = 0;  // the groups that went so far
};

}  // namespace kestrum_cli
