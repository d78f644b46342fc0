// A fuzz input read front to back as the choices a harness makes: numbers,
// byte ranges, the rest. Past the end every number reads 0 and every range is
// empty, so any input is a complete script. Numbers are little-endian.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrum::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ == size_; }
  size_t remaining() const { return size_ - at_; }

  uint8_t U8() { return static_cast<uint8_t>(Number(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Number(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Number(4)); }
  uint64_t U64() { return Number(8); }

  // Up to `n` bytes: fewer when the input ends first.
  std::span<const uint8_t> Bytes(size_t n) {
    const size_t take = std::min(n, remaining());
    const std::span<const uint8_t> out(data_ + at_, take);
    at_ += take;
    return out;
  }
  std::span<const uint8_t> Rest() { return Bytes(remaining()); }

 private:
  uint64_t Number(size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width && at_ < size_; ++i, ++at_) {
      value |= uint64_t{data_[at_]} << (8 * i);
    }
    return value;
  }

  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Stops the process the way a sanitizer finding does, naming what broke, so
// that a harness's own checks count as findings too.
[[noreturn]] void Fail(const char* what);

}  // namespace kestrum::fuzz
