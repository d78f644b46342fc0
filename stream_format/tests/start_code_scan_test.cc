// Both forms of the 16-offset start code step against a direct check of every
// offset, so the portable form (the one 32-bit builds without SSE2 use) is
// exercised wherever the tests run.
#include "stream_format/start_code_scan.h"

#include <gtest/gtest.h>

#include <array>

namespace kestrum::stream_format {
namespace {

uint32_t DirectMask(const uint8_t* p) {
  uint32_t mask = 0;
  for (int k = 0; k < 16; ++k) {
    if (p[k] == 1 && p[k + 1] == 0 && p[k + 2] == 0 && p[k + 3] == 0) mask |= 1u << k;
  }
  return mask;
}

TEST(StartCodeScanTest, BothFormsMatchADirectCheck) {
  uint32_t x = 0x9E3779B9;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  int windows_with_codes = 0;
  for (int round = 0; round < 200000; ++round) {
    std::array<uint8_t, scan::kScanReach> window;
    for (auto& byte : window) {
      const uint32_t r = next();
      // Mostly 0 and 1, with 0x80, 0x81 and 0xFF to trip carries and borrows.
      constexpr uint8_t kRare[] = {0x80, 0x81, 0xFF, 0x7F, 0x02};
      byte = (r & 15) < 13 ? static_cast<uint8_t>((r >> 8) & 1) : kRare[(r >> 8) % 5];
    }
    const uint32_t expected = DirectMask(window.data());
    ASSERT_EQ(scan::StartCodeMaskPortable(window.data()), expected) << round;
#ifdef KESTRUM_HAVE_SSE2
    ASSERT_EQ(scan::StartCodeMaskSse2(window.data()), expected) << round;
#endif
    windows_with_codes += expected != 0;
  }
  EXPECT_GT(windows_with_codes, 10000);
}

TEST(StartCodeScanTest, EveryOffsetAlone) {
  for (int k = 0; k < 16; ++k) {
    std::array<uint8_t, scan::kScanReach> window;
    window.fill(0xFF);
    window[static_cast<size_t>(k)] = 1;
    for (int z = 1; z <= 3; ++z) window[static_cast<size_t>(k + z)] = 0;
    EXPECT_EQ(scan::StartCodeMaskPortable(window.data()), 1u << k) << k;
    EXPECT_EQ(scan::StartCodeMask(window.data()), 1u << k) << k;
  }
}

}  // namespace
}  // namespace kestrum::stream_format
