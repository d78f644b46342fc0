// Keeps a sample's bytes where they are, unchanged, while the muxer still
// has to write them: the muxer gathers its packets straight from the
// samples' own buffers. Releasing it (once, when the bytes are written or
// dropped, or when it is destroyed) calls `release(context)`.
#pragma once

#include <utility>

namespace kestrum::asf {

class SampleHold {
 public:
  using Release = void (*)(void* context);

  SampleHold() = default;
  SampleHold(Release release, void* context) : release_(release), context_(context) {}
  SampleHold(SampleHold&& other) noexcept
      : release_(std::exchange(other.release_, nullptr)), context_(other.context_) {}
  SampleHold& operator=(SampleHold&& other) noexcept {
    if (this != &other) {
      Reset();
      release_ = std::exchange(other.release_, nullptr);
      context_ = other.context_;
    }
    return *this;
  }
  SampleHold(const SampleHold&) = delete;
  SampleHold& operator=(const SampleHold&) = delete;
  ~SampleHold() { Reset(); }

  explicit operator bool() const { return release_ != nullptr; }
  void Reset() {
    if (release_ != nullptr) std::exchange(release_, nullptr)(context_);
  }

 private:
  Release release_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace kestrum::asf
