#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "base/bytes.h"
#include "stream_format/sample_header.h"

namespace kestrum::stream_format {
namespace {

// A group header as a stream read back carries it: every field a sample
// does not keep holds what RebuildGroupHeader gives it.
struct RoundTripCase {
  std::string name;
  uint32_t frame_number;  // the group's number, before the bias
  uint32_t frame_type;
  uint32_t value_word;  // the word at 28, bias included
  std::array<uint32_t, 3> carried;
  uint32_t blocks;
  uint32_t index;
};

std::array<uint8_t, kGroupHeaderSize> GroupHeader(const RoundTripCase& c) {
  std::array<uint8_t, kGroupHeaderSize> g{};
  store_u32le(g.data(), 1);
  store_u32le(g.data() + 4, kFieldBias + c.frame_number);
  store_u32le(g.data() + 12, c.frame_type == 0x1001 ? 0x1001 : 0x1000);
  store_u32le(g.data() + 16, kFieldBias + c.blocks);
  store_u32le(g.data() + 24, c.frame_type);
  store_u32le(g.data() + 28, c.value_word);
  for (size_t k = 0; k < 3; ++k) store_u32le(g.data() + 32 + 4 * k, c.carried[k]);
  return g;
}

// Store, parse and rebuild give back the group header, and the sample header
// is exactly its 32 bytes.
TEST(SampleHeaderTest, StoreParseRebuildGivesBackTheGroupHeader) {
  const RoundTripCase cases[] = {
      {"KeyFrameOneBlock", 0, 0x1001, 0x1003, {0x12345678, 0, 0xFFFFFFFF}, 1, 1},
      {"SecondaryFrameLastOf255", 7, 0x1002, 0x1000, {1, 2, 3}, 255, 255},
      {"ValueBelowTheBiasWraps", 41, 0x1002, 0, {0, 0, 0}, 3, 2},
      {"AllOnes", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 255, 1},
      {"NoBlocksFrameTypeZero", 2, 0, 0x1000, {0, 0, 0}, 0, 0},
  };
  for (const RoundTripCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::array<uint8_t, kGroupHeaderSize> group = GroupHeader(c);
    std::array<uint8_t, kSampleHeaderSize + 4> stored;
    stored.fill(0xA5);
    StoreSampleHeader(stored.data(), c.blocks, c.index, group.data());
    EXPECT_EQ(load_u32le(stored.data() + kSampleHeaderSize), 0xA5A5A5A5u);

    const SampleHeader sample = ParseSampleHeader(stored.data());
    EXPECT_EQ(sample.blocks, c.blocks);
    EXPECT_EQ(sample.index, c.index);
    EXPECT_EQ(sample.mark, 1u);
    std::array<uint8_t, kGroupHeaderSize> rebuilt;
    rebuilt.fill(0xA5);
    RebuildGroupHeader(rebuilt.data(), sample, c.frame_number);
    EXPECT_EQ(rebuilt, group);
  }
}

}  // namespace
}  // namespace kestrum::stream_format
