#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "stream_format/group_scan.h"
#include "support/stream_pieces.h"

namespace kestrum::stream_format {
namespace {

// The search as a plain walk, one byte at a time, kept independent of the
// library's helpers.
uint32_t U32At(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

int32_t ReferenceFindGroupStart(const uint8_t*& position, int32_t count) {
  for (int64_t i = 0; i < int64_t{count} - 4; ++i) {
    if (U32At(position) == 1) {
      if (count - i < 48) return -1;
      const uint32_t group_type = U32At(position + 12);
      if (group_type == 0x1000 || group_type == 0x1001) return static_cast<int32_t>(i);
    }
    ++position;
  }
  return -2;
}

// The range search as a plain walk: the first offset whose 16 probe bytes are
// in range and hold a start code and a group type.
const uint8_t* ReferenceFindNextGroupStart(const uint8_t* begin, const uint8_t* end) {
  for (const uint8_t* p = begin; end - p >= 16; ++p) {
    const uint32_t group_type = U32At(p + 12);
    if (U32At(p) == 1 && (group_type == 0x1000 || group_type == 0x1001)) return p;
  }
  return nullptr;
}

// Writes a start code at `offset` and, when it fits, a group type 12 bytes on.
void Plant(std::vector<uint8_t>& bytes, size_t offset, uint32_t group_type) {
  for (size_t k = 0; k < 4 && offset + k < bytes.size(); ++k) {
    bytes[offset + k] = static_cast<uint8_t>(k == 0 ? 1 : 0);
  }
  for (size_t k = 0; k < 4 && offset + 12 + k < bytes.size(); ++k) {
    bytes[offset + 12 + k] = static_cast<uint8_t>(group_type >> (8 * k));
  }
}

struct SearchCase {
  std::string name;
  size_t size;
  std::vector<std::pair<size_t, uint32_t>> starts;  // offset, group type
  std::optional<int32_t> count;                     // default: size
  int32_t result;
  size_t final_offset;
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class FindGroupStartTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(FindGroupStartTest, ResultAndPosition) {
  const SearchCase& c = GetParam();
  // Exactly `size` bytes on the heap, so a read past them is caught under ASan.
  std::vector<uint8_t> bytes(c.size, 0);
  for (const auto& [offset, group_type] : c.starts) Plant(bytes, offset, group_type);
  const uint8_t* position = bytes.data();
  EXPECT_EQ(FindGroupStart(position, c.count.value_or(static_cast<int32_t>(c.size))), c.result);
  EXPECT_EQ(position - bytes.data(), static_cast<ptrdiff_t>(c.final_offset));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FindGroupStartTest,
    ::testing::Values(
        SearchCase{"Empty", 0, {}, {}, -2, 0},
        SearchCase{"FourBytesHoldingACode", 4, {{0, 0x1000}}, {}, -2, 0},
        SearchCase{"CountThreeOfMany", 100, {{0, 0x1000}}, 3, -2, 0},
        SearchCase{"CountZeroOfMany", 100, {{0, 0x1000}}, 0, -2, 0},
        SearchCase{"NegativeCount", 100, {{0, 0x1000}}, -5, -2, 0},
        SearchCase{"FiveBytesCodeFirst", 5, {{0, 0}}, {}, -1, 0},
        SearchCase{"NoCode", 100, {}, {}, -2, 96},
        SearchCase{"GroupAtStart", 100, {{0, 0x1001}}, {}, 0, 0},
        SearchCase{"ShortCodeAt60Type1000", 100, {{60, 0x1000}}, {}, -1, 60},
        SearchCase{"ShortCodeAt60Type1002", 100, {{60, 0x1002}}, {}, -1, 60},
        SearchCase{"CodeInLastFourBytes", 100, {{96, 0x1000}}, {}, -2, 96},
        SearchCase{"CodeJustBeforeLastFour", 100, {{95, 0x1000}}, {}, -1, 95},
        SearchCase{"LastOffsetWithWholeHeader", 100, {{52, 0x1001}}, {}, 52, 52},
        SearchCase{"OneBytePastWholeHeader", 100, {{53, 0x1001}}, {}, -1, 53},
        SearchCase{"StepsOverType1002", 100, {{0, 0x1002}, {20, 0x1000}}, {}, 20, 20},
        SearchCase{"StepsOverType0", 100, {{3, 0}, {30, 0x1001}}, {}, 30, 30},
        SearchCase{"StepsOverTypeWithHighBits", 100, {{3, 0x11000}, {31, 0x1000}}, {}, 31, 31},
        SearchCase{"StepsOverWrongTypesToNothing", 100, {{3, 0x1002}, {40, 0x0FFF}}, {}, -2, 96},
        SearchCase{"StepsOverWrongTypeToShortCode", 100, {{3, 0x1002}, {70, 0x1000}}, {}, -1, 70},
        SearchCase{"FirstOfTwoWins", 200, {{5, 0x1000}, {10, 0x1000}}, {}, 5, 5},
        // Only `count` bytes are examined, whatever lies beyond.
        SearchCase{"StopsAtCount", 200, {{150, 0x1000}}, 100, -2, 96},
        SearchCase{"CodeBeyondCountIsShort", 200, {{80, 0x1000}}, 100, -1, 80}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(FindGroupStartSearchTest, OverlappingCandidateBytes) {
  // 01 01 00 00 00: the first 0x01 is not a start code, the second is.
  std::vector<uint8_t> bytes(120, 0);
  Plant(bytes, 11, 0x1000);
  bytes[10] = 1;
  const uint8_t* position = bytes.data();
  EXPECT_EQ(FindGroupStart(position, static_cast<int32_t>(bytes.size())), 11);
  EXPECT_EQ(position, bytes.data() + 11);
}

TEST(FindGroupStartSearchTest, FindsEachGroupOfABuiltStreamInTurn) {
  testing::StreamBuilder stream;
  stream.Junk(33).Groups(5, 100).Junk(10);
  const std::vector<uint8_t>& bytes = stream.bytes();
  const uint8_t* position = bytes.data();
  const uint8_t* const end = bytes.data() + bytes.size();
  for (const testing::GroupExtent& group : stream.groups()) {
    const uint8_t* from = position;
    const int32_t found = FindGroupStart(position, static_cast<int32_t>(end - position));
    ASSERT_EQ(position, bytes.data() + group.begin);
    EXPECT_EQ(found, static_cast<int32_t>(bytes.data() + group.begin - from));
    position = bytes.data() + group.end;
  }
  EXPECT_EQ(FindGroupStart(position, static_cast<int32_t>(end - position)), -2);
  EXPECT_EQ(position, end - 4);
}

// The library's search against the byte-by-byte walk on many random buffers:
// dense in 0x00 and 0x01 bytes so candidates and near misses are frequent, with
// start codes planted at random offsets (near the end too), unaligned starts
// and counts both whole and cut short.
class XorShift {
 public:
  explicit XorShift(uint32_t state) : x_(state | 1) {}
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }
  uint32_t Below(uint32_t bound) { return bound == 0 ? 0 : Next() % bound; }

 private:
  uint32_t x_;
};

TEST(FindGroupStartDifferentialTest, MatchesByteByByteWalk) {
  constexpr uint32_t kGroupTypes[] = {0x1000, 0x1001, 0x1002, 0x0000, 0x1003, 0x00011000};
  XorShift random(0x4B455354);
  int found_groups = 0;
  int short_codes = 0;
  int none = 0;
  for (int round = 0; round < 20000; ++round) {
    const size_t lead = random.Below(8);
    const size_t size = random.Below(round % 10 == 0 ? 2000 : 160);
    std::vector<uint8_t> bytes(lead + size);
    const uint32_t density = random.Below(4);
    for (auto& byte : bytes) {
      const uint32_t r = random.Next();
      byte = static_cast<uint8_t>((r & 7) < density + 4 ? (r >> 8) & 1 : r >> 24);
    }
    const uint32_t plants = random.Below(4);
    for (uint32_t k = 0; k < plants && size > 0; ++k) {
      Plant(bytes, lead + random.Below(static_cast<uint32_t>(size)),
            kGroupTypes[random.Below(std::size(kGroupTypes))]);
    }
    int32_t count = static_cast<int32_t>(size);
    if (random.Below(4) == 0)
      count = static_cast<int32_t>(random.Below(static_cast<uint32_t>(size) + 1));
    if (random.Below(50) == 0) count = -static_cast<int32_t>(random.Below(10));

    const uint8_t* expected_position = bytes.data() + lead;
    const uint8_t* position = bytes.data() + lead;
    const int32_t expected = ReferenceFindGroupStart(expected_position, count);
    const int32_t result = FindGroupStart(position, count);
    ASSERT_EQ(result, expected) << "round " << round << " size " << size << " count " << count;
    ASSERT_EQ(position, expected_position) << "round " << round;
    const uint8_t* const begin = bytes.data() + lead;
    const uint8_t* const end = begin + std::max(count, 0);
    ASSERT_EQ(FindNextGroupStart(begin, end), ReferenceFindNextGroupStart(begin, end))
        << "round " << round;
    found_groups += expected >= 0;
    short_codes += expected == -1;
    none += expected == -2;
  }
  // The rounds reach all three outcomes often.
  EXPECT_GT(found_groups, 1000);
  EXPECT_GT(short_codes, 1000);
  EXPECT_GT(none, 1000);
}

TEST(FindGroupStartDifferentialTest, LargeBufferWithCandidatesEverywhere) {
  // Every byte a candidate's first byte, none a start code, then a group near
  // the end: both walks cross the whole megabyte.
  std::vector<uint8_t> bytes(1 << 20, 1);
  Plant(bytes, bytes.size() - 200, 0x1001);
  const uint8_t* expected_position = bytes.data();
  const uint8_t* position = bytes.data();
  const int32_t count = static_cast<int32_t>(bytes.size());
  EXPECT_EQ(FindGroupStart(position, count), ReferenceFindGroupStart(expected_position, count));
  EXPECT_EQ(position, expected_position);
  EXPECT_EQ(position, bytes.data() + bytes.size() - 200);
  EXPECT_EQ(FindNextGroupStart(bytes.data(), bytes.data() + bytes.size()),
            bytes.data() + bytes.size() - 200);
}

}  // namespace
}  // namespace kestrum::stream_format
