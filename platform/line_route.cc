#include "platform/line_route.h"

#include <thread>

namespace kestrum {

void LineRoute::Send(const char* line) {
  if (function_.load(std::memory_order_relaxed) == nullptr || line == nullptr) return;
  uint32_t epoch = epoch_.load(std::memory_order_seq_cst);
  for (;;) {
    calling_[epoch & 1].fetch_add(1, std::memory_order_seq_cst);
    const uint32_t now = epoch_.load(std::memory_order_seq_cst);
    if (now == epoch) break;
    calling_[epoch & 1].fetch_sub(1, std::memory_order_release);
    epoch = now;
  }
  const LineSink function = function_.load(std::memory_order_seq_cst);
  if (function != nullptr) {
    try {
      function(line, context_.load(std::memory_order_relaxed));
    } catch (...) {
    }
  }
  calling_[epoch & 1].fetch_sub(1, std::memory_order_release);
}

void LineRoute::Set(LineSink sink, void* context) {
  std::lock_guard<std::mutex> lock(replacing_);
  function_.store(nullptr, std::memory_order_seq_cst);
  const uint32_t old = epoch_.fetch_add(1, std::memory_order_seq_cst);
  while (calling_[old & 1].load(std::memory_order_acquire) != 0) std::this_thread::yield();
  context_.store(sink != nullptr ? context : nullptr, std::memory_order_relaxed);
  function_.store(sink, std::memory_order_seq_cst);
}

}  // namespace kestrum
