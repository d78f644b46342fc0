// Hands the pieces of a recording to the live road. A piece of exactly 40
// bytes is always taken as a stream header, so after the header no piece of
// that length goes out: one is split into 39 + 1 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

namespace kestrum_cli {

class PieceSender {
 public:
  using Send = std::function<void(const uint8_t* data, int32_t size)>;

  explicit PieceSender(Send send) : send_(std::move(send)) {}

  void Header(const uint8_t* header) { Emit(header, 40); }

  // `size` must fit in int32_t (pieces are at most 256 MiB).
  void Piece(const uint8_t* data, size_t size) {
    if (size == 40) {
      Emit(data, 39);
      Emit(data + 39, 1);
    } else {
      Emit(data, size);
    }
  }

  // Calls made, the header's included.
  uint64_t calls() const { return calls_; }

 private:
  void Emit(const uint8_t* data, size_t size) {
    send_(data, static_cast<int32_t>(size));
    ++calls_;
  }

  Send send_;
  uint64_t calls_ = 0;
};

}  // namespace kestrum_cli
