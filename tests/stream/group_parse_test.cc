#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "stream/group.h"
#include "support/debug_capture.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using testing::Block;
using testing::DebugCapture;
using testing::Group;
using testing::StreamBuilder;

// A view pointing at something recognisable, to see that failures leave it.
template <typename View>
View Sentinel(const std::vector<uint8_t>& bytes) {
  return View{bytes.data() + 1, bytes.data() + 2, bytes.data() + 3};
}

ParseResult ParseGroupOf(const std::vector<uint8_t>& bytes, size_t length, GroupView& view) {
  return ParseGroup(view, bytes.data(), bytes.data() + length);
}

TEST(ParseGroupTest, Under48BytesIsIncompleteWhateverTheStartCode) {
  DebugCapture capture;
  std::vector<uint8_t> bytes = Group().StartCode(2).Bytes();
  ASSERT_EQ(bytes.size(), 48u);
  for (size_t length = 0; length < 48; ++length) {
    GroupView view = Sentinel<GroupView>(bytes);
    EXPECT_EQ(ParseGroupOf(bytes, length, view), ParseResult::Incomplete) << length;
    EXPECT_EQ(view.header, bytes.data() + 1);
  }
  EXPECT_TRUE(capture.lines().empty());
}

TEST(ParseGroupTest, WrongStartCodeIsMalformed) {
  for (uint32_t start_code : {0u, 2u, 0x101u, 0x01000000u}) {
    DebugCapture capture;
    std::vector<uint8_t> bytes = Group().StartCode(start_code).Bytes();
    GroupView view = Sentinel<GroupView>(bytes);
    EXPECT_EQ(ParseGroupOf(bytes, 48, view), ParseResult::Malformed) << start_code;
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"Splitter : 1"});
    EXPECT_EQ(view.header, bytes.data() + 1);
  }
}

// Block count fields whose low 8 bits are zero: a 48-byte group with no
// blocks, even when block-like bytes follow.
class EmptyGroupTest : public ::testing::TestWithParam<uint32_t> {};

TEST_P(EmptyGroupTest, HeaderOnly) {
  StreamBuilder stream;
  stream.Add(Group().BlockCount(GetParam()).GroupType(0x1001))
      .Add(Group().Add(Block(0x1003).PayloadLength(10)));
  const std::vector<uint8_t>& bytes = stream.bytes();
  GroupView view;
  ASSERT_EQ(ParseGroupOf(bytes, bytes.size(), view), ParseResult::Complete);
  EXPECT_EQ(view.header, bytes.data());
  EXPECT_EQ(view.first_block, bytes.data() + 48);
  EXPECT_EQ(view.end, bytes.data() + 48);
  for (int32_t n : {-1, 0, 1, 2}) EXPECT_FALSE(FindVideoBlock(view, n).valid()) << n;
}

INSTANTIATE_TEST_SUITE_P(BlockCountField, EmptyGroupTest,
                         ::testing::Values(0x1000u, 0x1100u, 0u, 0xFFFFFF00u));

// The number of blocks is the low 8 bits of the field, whatever the rest.
class BlockCountTest : public ::testing::TestWithParam<std::pair<uint32_t, size_t>> {};

TEST_P(BlockCountTest, EndLiesPastTheCountedBlocks) {
  const auto [field, blocks] = GetParam();
  Group group;
  for (size_t k = 0; k < blocks; ++k) {
    group.AddBlock(static_cast<uint16_t>(0x1001 + k % 5), 3 * k + 1);
  }
  StreamBuilder stream;
  stream.Add(group.BlockCount(field)).Junk(64);  // anything may follow
  const std::vector<uint8_t>& bytes = stream.bytes();
  GroupView view;
  ASSERT_EQ(ParseGroupOf(bytes, bytes.size(), view), ParseResult::Complete);
  EXPECT_EQ(view.first_block, bytes.data() + 48);
  EXPECT_EQ(view.end, bytes.data() + stream.groups()[0].end);
}

INSTANTIATE_TEST_SUITE_P(BlockCountField, BlockCountTest,
                         ::testing::Values(std::pair{0x1003u, size_t{3}},
                                           std::pair{0x1001u, size_t{1}},
                                           std::pair{0x1103u, size_t{3}},
                                           std::pair{0x2002u, size_t{2}},
                                           std::pair{0x10FFu, size_t{255}}));

TEST(ParseGroupTest, EveryShorterPrefixIsIncompleteWithoutMessages) {
  StreamBuilder stream;
  stream.Add(Group().AddBlock(0x1001, 0).AddBlock(0x1003, 17).AddBlock(0x1005, 5));
  const std::vector<uint8_t>& bytes = stream.bytes();
  DebugCapture capture;
  for (size_t length = 0; length < bytes.size(); ++length) {
    GroupView view;
    EXPECT_EQ(ParseGroupOf(bytes, length, view), ParseResult::Incomplete) << length;
    EXPECT_FALSE(view.valid());
  }
  GroupView view;
  EXPECT_EQ(ParseGroupOf(bytes, bytes.size(), view), ParseResult::Complete);
  EXPECT_EQ(view.end, bytes.data() + bytes.size());
  EXPECT_TRUE(capture.lines().empty());
}

TEST(ParseGroupTest, GroupTypeIsNotExamined) {
  std::vector<uint8_t> bytes = Group().GroupType(0xDEAD).AddBlock(0x1003, 4).Bytes();
  GroupView view;
  EXPECT_EQ(ParseGroupOf(bytes, bytes.size(), view), ParseResult::Complete);
}

TEST(ParseGroupTest, BadSecondBlockMakesTheGroupMalformed) {
  DebugCapture capture;
  std::vector<uint8_t> bytes =
      Group().AddBlock(0x1003, 8).Add(Block(0x1006).PayloadLength(12)).AddBlock(0x1003, 8).Bytes();
  GroupView view = Sentinel<GroupView>(bytes);
  EXPECT_EQ(ParseGroupOf(bytes, bytes.size(), view), ParseResult::Malformed);
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"-----------Splitter : block_size = 12 00001006"});
  EXPECT_EQ(view.header, bytes.data() + 1);
}

// One block in a range of exactly its size, parsed both alone and as the only
// block of a group.
struct BlockCase {
  std::string name;
  Block block;
  ParseResult result;
  std::string message;  // empty: nothing logged
};

void PrintTo(const BlockCase& c, std::ostream* os) { *os << c.name; }

class BlockParseTest : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockParseTest, AloneAndInAGroup) {
  const BlockCase& c = GetParam();
  const std::vector<std::string> expected_lines =
      c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message};
  const std::vector<uint8_t> bytes = c.block.Bytes(7);
  {
    DebugCapture capture;
    BlockView view = Sentinel<BlockView>(bytes);
    EXPECT_EQ(ParseBlock(view, bytes.data(), bytes.data() + bytes.size()), c.result);
    EXPECT_EQ(capture.lines(), expected_lines);
    if (c.result == ParseResult::Complete) {
      EXPECT_EQ(view.header, bytes.data());
      EXPECT_EQ(view.payload, bytes.data() + 20);
      EXPECT_EQ(view.end, bytes.data() + bytes.size());
    } else {
      EXPECT_EQ(view.header, bytes.data() + 1);
    }
  }
  {
    DebugCapture capture;
    const std::vector<uint8_t> group = Group().Add(c.block).Bytes();
    GroupView view;
    EXPECT_EQ(ParseGroup(view, group.data(), group.data() + group.size()), c.result);
    EXPECT_EQ(capture.lines(), expected_lines);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BlockParseTest,
    ::testing::Values(
        BlockCase{"Kind1000", Block(0x1000).PayloadLength(3), ParseResult::Malformed,
                  "-----------Splitter : block_size = 3 00001000"},
        BlockCase{"Kind1001", Block(0x1001).PayloadLength(3), ParseResult::Complete, ""},
        BlockCase{"Kind1003", Block(0x1003).PayloadLength(3), ParseResult::Complete, ""},
        BlockCase{"Kind1005", Block(0x1005).PayloadLength(3), ParseResult::Complete, ""},
        BlockCase{"Kind1006", Block(0x1006).PayloadLength(321), ParseResult::Malformed,
                  "-----------Splitter : block_size = 321 00001006"},
        BlockCase{"KindFFFF", Block(0xFFFF), ParseResult::Malformed,
                  "-----------Splitter : block_size = 0 0000ffff"},
        // The kind is 16 bits: the carried bytes after it do not change it.
        BlockCase{"KindIgnoresCarriedBytes",
                  Block(0x1003).HeaderByte(2, 0xFF).HeaderByte(3, 0xFF).PayloadLength(2),
                  ParseResult::Complete, ""}),
    [](const auto& param_info) { return param_info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    PayloadLength, BlockParseTest,
    ::testing::Values(
        BlockCase{"Empty", Block(0x1002), ParseResult::Complete, ""},
        BlockCase{"Largest", Block(0x1004).PayloadLength(499999), ParseResult::Complete, ""},
        // Checked before the payload is awaited: no payload bytes are needed.
        BlockCase{"Limit", Block(0x1003).DeclaredLength(500000), ParseResult::Malformed,
                  "-----------Splitter : block_size = 500000 00001003"},
        BlockCase{"LimitWithPayload", Block(0x1003).PayloadLength(500000), ParseResult::Malformed,
                  "-----------Splitter : block_size = 500000 00001003"},
        // Shown as the signed 32-bit number it is.
        BlockCase{"AllOnes", Block(0x1004).DeclaredLength(0xFFFFFFFF), ParseResult::Malformed,
                  "-----------Splitter : block_size = -1 00001004"},
        BlockCase{"TopBit", Block(0x1001).DeclaredLength(0x80000000), ParseResult::Malformed,
                  "-----------Splitter : block_size = -2147483648 00001001"},
        BlockCase{"BadKindAndLength", Block(0x0007).DeclaredLength(0x7FFFFFFF),
                  ParseResult::Malformed, "-----------Splitter : block_size = 2147483647 00000007"},
        // The payload runs past the range.
        BlockCase{"OneByteShort", Block(0x1003).Payload({1, 2, 3}).DeclaredLength(4),
                  ParseResult::Incomplete, ""},
        BlockCase{"FarShort", Block(0x1003).DeclaredLength(499999), ParseResult::Incomplete, ""}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(ParseBlockTest, HeaderCutShortIsIncompleteWhateverItsKind) {
  DebugCapture capture;
  for (uint16_t kind : {uint16_t{0x1003}, uint16_t{0x1006}, uint16_t{0}}) {
    const std::vector<uint8_t> bytes = Block(kind).DeclaredLength(900000).Bytes();
    for (size_t length = 0; length < 20; ++length) {
      BlockView view;
      EXPECT_EQ(ParseBlock(view, bytes.data(), bytes.data() + length), ParseResult::Incomplete)
          << kind << " " << length;
      EXPECT_FALSE(view.valid());
    }
  }
  EXPECT_TRUE(capture.lines().empty());
}

TEST(ParseBlockTest, ReadsFromAnyByteAddress) {
  std::vector<uint8_t> bytes(3);
  const std::vector<uint8_t> block = Block(0x1004).Payload({9, 8, 7, 6, 5}).Bytes();
  bytes.insert(bytes.end(), block.begin(), block.end());
  BlockView view;
  ASSERT_EQ(ParseBlock(view, bytes.data() + 3, bytes.data() + bytes.size()), ParseResult::Complete);
  EXPECT_EQ(view.end, bytes.data() + bytes.size());
  EXPECT_TRUE(IsVideoBlock(view));
}

TEST(IsVideoBlockTest, ByKind) {
  for (uint16_t kind = 0x1000; kind <= 0x1006; ++kind) {
    const std::vector<uint8_t> bytes = Block(kind).Bytes();
    const BlockView view{bytes.data(), bytes.data() + 20, bytes.data() + 20};
    EXPECT_EQ(IsVideoBlock(view), kind >= 0x1003 && kind <= 0x1005) << kind;
  }
  EXPECT_FALSE(IsVideoBlock(BlockView{}));
  const std::vector<uint8_t> bytes = Block(0x1003).Bytes();
  EXPECT_FALSE(IsVideoBlock(BlockView{bytes.data(), nullptr, bytes.data() + 20}));
}

class FindVideoBlockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_.Add(Group()
                    .AddBlock(0x1001, 5)
                    .AddBlock(0x1004, 0)
                    .AddBlock(0x1002, 9)
                    .AddBlock(0x1003, 13)
                    .AddBlock(0x1001, 2));
    bytes_ = stream_.bytes();
    ASSERT_EQ(ParseGroup(group_, bytes_.data(), bytes_.data() + bytes_.size()),
              ParseResult::Complete);
  }

  void ExpectBlock(const BlockView& view, size_t index) {
    const testing::BlockExtent& extent = stream_.groups()[0].blocks[index];
    EXPECT_EQ(view.header, bytes_.data() + extent.begin);
    EXPECT_EQ(view.payload, bytes_.data() + extent.payload);
    EXPECT_EQ(view.end, bytes_.data() + extent.end);
  }

  StreamBuilder stream_;
  std::vector<uint8_t> bytes_;
  GroupView group_;
};

TEST_F(FindVideoBlockTest, CountsVideoBlocksOnly) {
  ExpectBlock(FindVideoBlock(group_, 0), 1);
  ExpectBlock(FindVideoBlock(group_, 1), 3);
  EXPECT_FALSE(FindVideoBlock(group_, 2).valid());
  EXPECT_FALSE(FindVideoBlock(group_, -1).valid());
  EXPECT_FALSE(FindVideoBlock(GroupView{}, 0).valid());
}

TEST_F(FindVideoBlockTest, BlocksChangedAfterParsingGiveTheEmptyView) {
  DebugCapture capture;
  // The second video block now claims more bytes than the group holds.
  store_u32le(bytes_.data() + stream_.groups()[0].blocks[3].begin + 16, 400000);
  ExpectBlock(FindVideoBlock(group_, 0), 1);
  EXPECT_FALSE(FindVideoBlock(group_, 1).valid());
  // The first block's kind is no longer a kind.
  store_u16le(bytes_.data() + stream_.groups()[0].blocks[0].begin, 0x2000);
  EXPECT_FALSE(FindVideoBlock(group_, 0).valid());
}

TEST_F(FindVideoBlockTest, ViewEndingInsideABlockGivesTheEmptyView) {
  GroupView cut = group_;
  cut.end = bytes_.data() + stream_.groups()[0].blocks[1].payload - 1;  // inside the header
  EXPECT_FALSE(FindVideoBlock(cut, 0).valid());
  cut.end = bytes_.data() + stream_.groups()[0].blocks[3].end - 1;  // inside the payload
  ExpectBlock(FindVideoBlock(cut, 0), 1);
  EXPECT_FALSE(FindVideoBlock(cut, 1).valid());
}

}  // namespace
}  // namespace kestrum
