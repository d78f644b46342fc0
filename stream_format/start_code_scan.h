// The inner step of the group start search: which of 16 consecutive offsets
// hold a start code (the bytes 01 00 00 00). Internal to the group search; exposed
// here so both forms can be checked against each other on any machine that runs
// the SSE2 one.
#pragma once

#include <cstdint>
#include <cstring>

#include "base/bytes.h"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KESTRUM_HAVE_SSE2 1
#endif

namespace kestrum::stream_format::scan {

// Offsets covered by one step, and bytes it reads from its pointer on.
inline constexpr int32_t kScanStride = 16;
inline constexpr int32_t kScanReach = kScanStride + 3;

// Bit 7 of each byte of the result is set exactly when that byte of `x` is
// zero (no carry crosses a byte, so no byte is flagged wrongly).
inline uint64_t ZeroByteFlags(uint64_t x) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Flags (bit 8k + 7) the offsets k in [0, 8) of `p` that hold a start code.
inline uint64_t StartCodeByteFlags(const uint8_t* p) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  // A start code at k: byte k is 1 and bytes k+1..k+3 are 0, i.e. byte k of
  // all four words below is zero.
  return ZeroByteFlags((load_u64le(p) ^ kOnes) | load_u64le(p + 1) | load_u64le(p + 2) |
                       load_u64le(p + 3));
}

// Gathers bits 8k + 7 into bits k.
inline uint32_t PackByteFlags(uint64_t flags) {
  return static_cast<uint32_t>(((flags >> 7) * 0x0102040810204080ull) >> 56);
}

// Bit k of the result is set when p[k..k+3] is a start code, for k in [0, 16).
// Reads p[0] to p[18].
inline uint32_t StartCodeMaskPortable(const uint8_t* p) {
  const uint64_t low = StartCodeByteFlags(p);
  const uint64_t high = StartCodeByteFlags(p + 8);
  if ((low | high) == 0) return 0;
  return PackByteFlags(low) | (PackByteFlags(high) << 8);
}

#ifdef KESTRUM_HAVE_SSE2
inline uint32_t StartCodeMaskSse2(const uint8_t* p) {
  const __m128i ones = _mm_set1_epi8(1);
  const auto load = [](const uint8_t* at) {
    __m128i v;
    std::memcpy(&v, at, sizeof v);  // an unaligned load
    return v;
  };
  const __m128i zero_where_start =
      _mm_or_si128(_mm_or_si128(_mm_xor_si128(load(p), ones), load(p + 1)),
                   _mm_or_si128(load(p + 2), load(p + 3)));
  return static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(zero_where_start, _mm_setzero_si128())));
}
#endif

inline uint32_t StartCodeMask(const uint8_t* p) {
#ifdef KESTRUM_HAVE_SSE2
  return StartCodeMaskSse2(p);
#else
  return StartCodeMaskPortable(p);
#endif
}

}  // namespace kestrum::stream_format::scan
