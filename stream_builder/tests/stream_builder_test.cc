// The builder that every stream test composes its input with, checked against
// bytes written out by hand.
#include "support/stream_pieces.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace kestrum::testing {
namespace {

TEST(StreamBuilderTest, DefaultFileHeaderLayout) {
  const std::vector<uint8_t> expected = {
      0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // tag, unread
      0x08, 0x03, 0x04, 0x20, 0x00, 0x00, 0x00, 0x00,  // version, unread
      0x01, 0x10, 0x01, 0x10, 0x00, 0x00, 0x01, 0x00,  // stream type, standard, unread, factor
      0x40, 0x42, 0x0F, 0x00, 0x60, 0x01, 0x20, 0x01,  // rate base 1000000, 352 x 288
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(FileHeaderBuilder().Bytes(), expected);
  EXPECT_THROW(FileHeaderBuilder().U32(37, 0), std::out_of_range);
}

TEST(StreamBuilderTest, GroupAndBlockLayout) {
  StreamBuilder stream;
  stream.Raw({0xEE}).Add(Group()
                             .FrameNumber(2)
                             .GroupType(0x1001)
                             .FrameType(0x1002)
                             .Word28(0x1005)
                             .Word40(0xA1B2C3D4)
                             .Add(Block(0x1004).Payload({0xAA, 0xBB}).HeaderByte(15, 0x77)));
  const std::vector<uint8_t> expected = {
      0xEE,                                            // raw
      0x01, 0x00, 0x00, 0x00, 0x02, 0x10, 0x00, 0x00,  // start code, frame number + 0x1000
      0x00, 0x00, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00,  // -, group type
      0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // block count, -
      0x02, 0x10, 0x00, 0x00, 0x05, 0x10, 0x00, 0x00,  // frame type, word 28
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // words 32, 36
      0xD4, 0xC3, 0xB2, 0xA1, 0x00, 0x00, 0x00, 0x00,  // word 40, -
      0x04, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // block kind, carried
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x77,  // carried
      0x02, 0x00, 0x00, 0x00, 0xAA, 0xBB};             // payload length, payload
  EXPECT_EQ(stream.bytes(), expected);
  ASSERT_EQ(stream.groups().size(), 1u);
  const GroupExtent& group = stream.groups()[0];
  EXPECT_EQ(group.begin, 1u);
  EXPECT_EQ(group.first_block, 49u);
  EXPECT_EQ(group.end, expected.size());
  ASSERT_EQ(group.blocks.size(), 1u);
  EXPECT_EQ(group.blocks[0].payload, 69u);
  EXPECT_EQ(group.blocks[0].kind, 0x1004);
}

TEST(StreamBuilderTest, DeterministicDistinctPayloads) {
  StreamBuilder a;
  StreamBuilder b;
  a.Groups(3, 64);
  b.Groups(3, 64);
  EXPECT_EQ(a.bytes(), b.bytes());
  const auto payload = [&](size_t group) {
    const BlockExtent& block = a.groups()[group].blocks[0];
    return a.Slice(block.payload, block.end);
  };
  EXPECT_NE(payload(0), payload(1));
  EXPECT_NE(payload(1), payload(2));
  EXPECT_EQ(a.groups()[2].frame_number, 2u);
}

TEST(StreamBuilderTest, SplittingKeepsEveryByteAndAvoidsHeaderSizedPieces) {
  std::vector<uint8_t> bytes(5000);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  for (uint32_t state : {1u, 2u, 3u}) {
    std::vector<uint8_t> joined;
    for (const auto& piece : SplitRandomly(bytes, 80, state)) {
      EXPECT_NE(piece.size(), 40u);
      EXPECT_LE(piece.size(), 80u);
      joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(joined, bytes);
  }
  EXPECT_EQ(SplitEvery(bytes, 17).size(), 295u);
}

}  // namespace
}  // namespace kestrum::testing
