#include "io/pace.h"

#include <algorithm>
#include <thread>

#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace {

// How long one sleep lasts at most, so that a stop is seen soon.
constexpr auto kStep = std::chrono::milliseconds(50);

}  // namespace

void RealTimePace::WaitForNextGroup(const volatile std::sig_atomic_t* stop) {
  const auto now = std::chrono::steady_clock::now();
  if (!start_) start_ = now;
  const auto due = *start_ + std::chrono::milliseconds(groups_ * kestrum::stream_format::kFrameMs);
  ++groups_;
  for (auto at = now; at < due && (stop == nullptr || *stop == 0);
       at = std::chrono::steady_clock::now()) {
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(due - at, kStep));
  }
}

}  // namespace kestrum_cli
