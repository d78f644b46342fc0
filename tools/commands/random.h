// A small deterministic generator (xoshiro256**, started through splitmix64):
// the same generator state gives the same sequence on every platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace kestrum_cli {

class Random {
 public:
  explicit Random(uint64_t state) {
    for (uint64_t& word : s_) {
      state += 0x9E3779B97F4A7C15ull;
      uint64_t z = state;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }

  uint64_t Next() {
    const uint64_t result = Rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = Rotl(s_[3], 45);
    return result;
  }

  // Uniform in [0, bound); 0 when bound is 0.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(((Next() >> 32) * bound) >> 32); }

  // Uniform in [low, high].
  uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }

  // True with probability numerator / denominator.
  bool Chance(uint32_t numerator, uint32_t denominator) { return Below(denominator) < numerator; }

  // Random bytes, the same on every byte order.
  void Fill(uint8_t* out, size_t n) {
    while (n >= 8) {
      kestrum::store_u64le(out, Next());
      out += 8;
      n -= 8;
    }
    uint64_t v = Next();
    for (size_t i = 0; i < n; ++i, v >>= 8) out[i] = static_cast<uint8_t>(v);
  }

 private:
  static uint64_t Rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

}  // namespace kestrum_cli
