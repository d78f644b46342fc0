#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "api/record_instance.h"
#include "support/debug_capture.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using testing::DebugCapture;
using testing::FileHeaderBuilder;
using testing::Group;

const std::string kMulti = "multi !!!!!!!!!!!!!!!!!\r\n";
const std::string kUnknown = "Splitter : Unknow Stream Type";

struct RuleCase {
  uint16_t stream_type;
  uint32_t group_type;
  uint32_t frame_type;
  bool starts;
  std::string message;  // logged once per question, or empty
};

void PrintTo(const RuleCase& c, std::ostream* os) {
  *os << std::hex << "stream " << c.stream_type << " group " << c.group_type << " frame "
      << c.frame_type;
}

class StartRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(StartRuleTest, AnswerAndMessage) {
  const RuleCase& c = GetParam();
  RecordInstance instance{WmFactories{}};
  instance.ParseFileHeader(FileHeaderBuilder().StreamType(c.stream_type).data());
  const auto header = Group().GroupType(c.group_type).FrameType(c.frame_type).HeaderBytes();

  DebugCapture capture;
  EXPECT_EQ(instance.IsStartGroup(header.data()), c.starts);
  // Asking again gives the same answer and logs again: the rule keeps no state.
  EXPECT_EQ(instance.IsStartGroup(header.data()), c.starts);
  std::vector<std::string> expected;
  if (!c.message.empty()) expected = {c.message, c.message};
  EXPECT_EQ(capture.lines(), expected);
}

INSTANTIATE_TEST_SUITE_P(StreamType1001, StartRuleTest,
                         ::testing::Values(RuleCase{0x1001, 0x1000, 0x1001, true, ""},
                                           RuleCase{0x1001, 0x1001, 0x1002, true, ""},
                                           RuleCase{0x1001, 0x1000, 0x1002, true, ""},
                                           RuleCase{0x1001, 0x1001, 0x1003, false, ""},
                                           RuleCase{0x1001, 0x1000, 0x1000, false, ""},
                                           // The frame type is the whole u32.
                                           RuleCase{0x1001, 0x1000, 0x00011001, false, ""}));

INSTANTIATE_TEST_SUITE_P(
    StreamType1002, StartRuleTest,
    ::testing::Values(RuleCase{0x1002, 0x1000, 0x1001, false, ""},
                      RuleCase{0x1002, 0x1001, 0x1001, true, ""},
                      RuleCase{0x1002, 0x1001, 0x1003, true, ""},  // frame type not read
                      RuleCase{0x1002, 0x1008, 0x0000, true, ""},
                      RuleCase{0x1002, 0x000F, 0x1002, true, ""},
                      RuleCase{0x1002, 0x1010, 0x1001, false, ""},  // only the low four bits
                      RuleCase{0x1002, 0xFFF0, 0x1001, false, ""}));

INSTANTIATE_TEST_SUITE_P(StreamType1003, StartRuleTest,
                         ::testing::Values(RuleCase{0x1003, 0x1001, 0x1001, true, ""},
                                           RuleCase{0x1003, 0x1001, 0x1002, false, ""},
                                           RuleCase{0x1003, 0x1004, 0x1003, false, ""},
                                           RuleCase{0x1003, 0x1000, 0x1001, true, kMulti},
                                           RuleCase{0x1003, 0x1000, 0x1002, true, kMulti},
                                           RuleCase{0x1003, 0x1010, 0x1002, true, kMulti},
                                           RuleCase{0x1003, 0x1000, 0x1003, false, ""}));

INSTANTIATE_TEST_SUITE_P(OtherStreamTypes, StartRuleTest,
                         ::testing::Values(RuleCase{0x1004, 0x1001, 0x1001, false, kUnknown},
                                           RuleCase{0x1000, 0x1000, 0x1002, false, kUnknown},
                                           RuleCase{0x0000, 0x1001, 0x1001, false, kUnknown},
                                           RuleCase{0xFFFF, 0x1000, 0x1001, false, kUnknown}));

TEST(StartRuleHeaderTest, FollowsTheLastHeaderEvenWhenRefused) {
  RecordInstance instance{WmFactories{}};
  const auto header = Group().GroupType(0x1001).FrameType(0x1001).HeaderBytes();
  ASSERT_EQ(instance.ParseFileHeader(FileHeaderBuilder().StreamType(0x1002).data()), S_OK);
  EXPECT_TRUE(instance.IsStartGroup(header.data()));

  // A refused header is still the one the rule reads.
  ASSERT_EQ(instance.ParseFileHeader(FileHeaderBuilder().StreamType(0x1004).data()), E_FAIL);
  DebugCapture capture;
  EXPECT_FALSE(instance.IsStartGroup(header.data()));
  EXPECT_EQ(capture.Count(kUnknown), 1u);
}

TEST(StartRuleHeaderTest, StreamTypeIsSixteenBits) {
  // The video standard (0x1001) follows the stream type; read together as
  // one u32 they would name no known stream type.
  RecordInstance instance{WmFactories{}};
  ASSERT_EQ(
      instance.ParseFileHeader(FileHeaderBuilder().StreamType(0x1001).VideoStandard(0x1001).data()),
      S_OK);
  const auto header = Group().FrameType(0x1002).HeaderBytes();
  DebugCapture capture;
  EXPECT_TRUE(instance.IsStartGroup(header.data()));
  EXPECT_TRUE(capture.lines().empty());
}

}  // namespace
}  // namespace kestrum
