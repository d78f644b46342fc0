// Sample packing on both roads, through recording fakes of the writer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "output/packet_record.h"
#include "support/debug_capture.h"
#include "support/expected_samples.h"
#include "support/fake_wm.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using testing::Block;
using testing::DebugCapture;
using testing::FakeSample;
using testing::FakeWm;
using testing::Group;

class PackerTest : public ::testing::Test {
 protected:
  PackerTest() : instance_(wm_.Factories()) {
    instance_.stream_header.picture_width = 352;
    instance_.stream_header.picture_height = 288;
    EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  }

  // Parses the bytes of `group` (kept alive in the fixture) into a view.
  GroupView View(const Group& group) {
    bytes_ = group.Bytes();
    GroupView view;
    EXPECT_EQ(ParseGroup(view, bytes_.data(), bytes_.data() + bytes_.size()),
              ParseResult::Complete);
    return view;
  }

  // The sample payload packing should produce: the header, then `blocks`.
  static std::vector<uint8_t> Expected(uint32_t blocks, uint32_t index,
                                       const std::vector<uint8_t>& group,
                                       const std::vector<std::vector<uint8_t>>& block_bytes) {
    std::vector<uint8_t> out = testing::SampleHeaderBytes(blocks, index, group.data());
    for (const auto& b : block_bytes) out.insert(out.end(), b.begin(), b.end());
    return out;
  }

  FakeWm wm_;
  RecordInstance instance_;
  std::vector<uint8_t> bytes_;
};

TEST_F(PackerTest, OneVideoBlockGivesOneSampleAtTheInstanceClock) {
  DebugCapture debug;
  const Block video = Block(0x1003).Payload(100, 7);
  const Group group = Group().Word32(0x11).Word36(0x22).Word40(0x33).Word28(0x1005).Add(video);
  instance_.processgroup(View(group));
  ASSERT_EQ(wm_.samples.size(), 1u);
  const FakeSample& s = wm_.samples[0];
  EXPECT_EQ(s.bytes.size(), 52u + 100u);
  EXPECT_EQ(s.bytes, Expected(1, 1, bytes_, {video.Bytes()}));
  EXPECT_EQ(load_u32le(s.bytes.data() + 24), 5u);  // 0x1005 less the bias
  EXPECT_EQ(s.stream, 8);
  EXPECT_EQ(s.time, 0u);
  EXPECT_EQ(s.send_time, 0u);
  EXPECT_EQ(s.duration, 400000u);
  EXPECT_EQ(s.flags, 3u);
  EXPECT_EQ(instance_.packer.next_video_time, 400000u);
  EXPECT_THAT(debug.lines(), ElementsAre("enter processgroup", "VideoBlock!", "videotime: 0",
                                         "!!!!Write Sample!!!!", "leave processgroup"));
}

TEST_F(PackerTest, EverySampleCarriesAllVideoBlocksOfTheGroup) {
  const Block a = Block(0x1004).Payload(33, 1);
  const Block b = Block(0x1005).Payload(7, 2);
  const Group group = Group().Add(Block(0x1001).Payload(50, 3)).Add(a).Add(b).Word28(0);
  instance_.packer.next_video_time = 1200000;
  instance_.processgroup(View(group));
  ASSERT_EQ(wm_.samples.size(), 2u);
  for (uint32_t k = 1; k <= 2; ++k) {
    const FakeSample& s = wm_.samples[k - 1];
    EXPECT_EQ(s.bytes, Expected(2, k, bytes_, {a.Bytes(), b.Bytes()}));
    EXPECT_EQ(s.bytes.size(), 32u + (20 + 33) + (20 + 7));
    EXPECT_EQ(s.time, 1200000u + 400000u * (k - 1));
    EXPECT_EQ(s.send_time, 120u + 40u * (k - 1));
  }
  EXPECT_EQ(load_u32le(wm_.samples[0].bytes.data() + 24), 0xFFFFF000u);
  EXPECT_EQ(instance_.packer.next_video_time, 2000000u);
}

TEST_F(PackerTest, GroupWithoutVideoBlocksWritesNothing) {
  DebugCapture debug;
  instance_.processgroup(View(Group().AddBlock(0x1001, 10).AddBlock(0x1002, 20)));
  instance_.processgroup(View(Group()));  // no blocks at all
  EXPECT_TRUE(wm_.samples.empty());
  EXPECT_EQ(wm_.CountCalls("AllocateSample"), 0u);
  EXPECT_EQ(instance_.packer.next_video_time, 0u);
  EXPECT_THAT(debug.lines(), ElementsAre("enter processgroup", "leave processgroup",
                                         "enter processgroup", "leave processgroup"));
}

TEST_F(PackerTest, FailedAllocationSkipsThatSampleAndKeepsTheClock) {
  DebugCapture debug;
  // The second of three allocations fails.
  wm_.FailNext("AllocateSample", S_OK);
  wm_.FailNext("AllocateSample", E_OUTOFMEMORY);
  instance_.processgroup(View(Group().AddBlock(0x1003, 5).AddBlock(0x1004, 6).AddBlock(0x1005, 7)));
  ASSERT_EQ(wm_.samples.size(), 2u);
  EXPECT_EQ(load_u32le(wm_.samples[0].bytes.data() + 4), 1u);
  EXPECT_EQ(load_u32le(wm_.samples[1].bytes.data() + 4), 3u);
  EXPECT_EQ(wm_.samples[0].time, 0u);
  EXPECT_EQ(wm_.samples[1].time, 400000u);
  EXPECT_EQ(debug.Count("!!!!Write Sample!!!!"), 2u);
  EXPECT_EQ(debug.Count("videotime: 400000"), 2u);  // the failed one did not advance it
}

TEST_F(PackerTest, IgnoredWriterResultsStillAdvanceTheClock) {
  wm_.FailNext("WriteStreamSample");
  wm_.FailNext("SetLength");
  instance_.processgroup(View(Group().AddBlock(0x1003, 5)));
  EXPECT_EQ(instance_.packer.next_video_time, 400000u);
}

TEST_F(PackerTest, ClockKeepsCountingPast32BitsAndTheLineShowsTheLowHalf) {
  DebugCapture debug;
  instance_.packer.next_video_time = 10738ull * 400000ull;  // 4,295,200,000 > 2^32
  instance_.processgroup(View(Group().AddBlock(0x1003, 5)));
  ASSERT_EQ(wm_.samples.size(), 1u);
  EXPECT_EQ(wm_.samples[0].time, 4295200000ull);
  EXPECT_EQ(wm_.samples[0].send_time, 429520u);
  EXPECT_EQ(debug.Count("videotime: 232704"), 1u);  // low 32 bits: 4,295,200,000 - 2^32
  instance_.packer.next_video_time = 0x80000000ull;
  instance_.processgroup(View(Group().AddBlock(0x1003, 5)));
  EXPECT_EQ(debug.Count("videotime: -2147483648"), 1u);
}

TEST_F(PackerTest, GroupTooLargeForOneSampleIsRefused) {
  DebugCapture debug;
  // 32 + 3 x (20 + 341,316) = 1,024,040 bytes: over the 1,024,000-byte sample.
  instance_.processgroup(View(
      Group().AddBlock(0x1003, 341316).AddBlock(0x1003, 341316).AddBlock(0x1003, 341316)));
  EXPECT_TRUE(wm_.samples.empty());
  EXPECT_EQ(instance_.packer.next_video_time, 0u);
  EXPECT_EQ(debug.lines().size(), 4u);  // enter, VideoBlock!, the refusal, leave
  // One that fits exactly is written.
  // 32 + 3 x 20 + 1,023,908 = 1,024,000.
  instance_.processgroup(View(
      Group().AddBlock(0x1003, 341302).AddBlock(0x1004, 341303).AddBlock(0x1005, 341303)));
  ASSERT_EQ(wm_.samples.size(), 3u);
  EXPECT_EQ(wm_.samples[0].bytes.size(), 1024000u);
}

TEST(PackerWithoutWriterTest, NothingIsWrittenBeforeTheWriterIsReady) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  const std::vector<uint8_t> bytes = Group().AddBlock(0x1003, 5).Bytes();
  GroupView view;
  ASSERT_EQ(ParseGroup(view, bytes.data(), bytes.data() + bytes.size()), ParseResult::Complete);
  instance.processgroup(view);
  PacketRecord record{};
  record.kind = 1;
  record.data = bytes.data();
  record.length = static_cast<uint32_t>(bytes.size());
  EXPECT_EQ(instance.processpacket(bytes.data(), record), 1);
  EXPECT_EQ(wm.CountCalls("AllocateSample"), 0u);
  EXPECT_EQ(instance.packer.next_video_time, 0u);
}

class PacketTest : public PackerTest {
 protected:
  int32_t Pack(const std::vector<uint8_t>& bytes, uint32_t time_ms, uint32_t length) {
    PacketRecord record{};
    record.kind = 1;
    record.data = bytes.data();
    record.length = length;
    record.time_ms = time_ms;
    return instance_.processpacket(bytes.data(), record);
  }
  int32_t Pack(const std::vector<uint8_t>& bytes, uint32_t time_ms) {
    return Pack(bytes, time_ms, static_cast<uint32_t>(bytes.size()));
  }
};

TEST_F(PacketTest, AllBlocksOfEveryKindGoIntoEachSampleAtThePacketTime) {
  DebugCapture debug;
  const Block other = Block(0x1001).Payload(9, 4);
  const Block video = Block(0x1003).Payload(11, 5);
  const Group group = Group().Add(other).Add(video).Word28(0x1002);
  const std::vector<uint8_t> bytes = group.Bytes();
  EXPECT_EQ(Pack(bytes, 500000), 1);
  ASSERT_EQ(wm_.samples.size(), 2u);
  for (uint32_t k = 1; k <= 2; ++k) {
    const FakeSample& s = wm_.samples[k - 1];
    EXPECT_EQ(s.bytes, Expected(2, k, bytes, {other.Bytes(), video.Bytes()}));
    EXPECT_EQ(s.time, 5000000000ull);
    EXPECT_EQ(s.send_time, 500000u);
    EXPECT_EQ(s.duration, 400000u);
    EXPECT_EQ(s.flags, 3u);
  }
  EXPECT_EQ(instance_.packer.next_video_time, 0u);
  EXPECT_TRUE(debug.lines().empty());
}

// Nothing is written; a line tells it where the group holds blocks by the
// live road's count (the field's low 8 bits), so that the file road loses
// what the live road would record.
TEST_F(PacketTest, BlockCountOfTheBiasOrLessWritesNothing) {
  DebugCapture debug;
  for (uint32_t field : {0x1000u, 0x0FFFu, 0u, 0x80000000u}) {
    EXPECT_EQ(Pack(Group().AddBlock(0x1003, 5).BlockCount(field).Bytes(), 0), 1) << field;
  }
  EXPECT_TRUE(wm_.samples.empty());
  EXPECT_EQ(debug.lines(), std::vector<std::string>{
                               "processpacket : block count field 0xFFF counts no blocks; not written"});
}

TEST_F(PacketTest, BlocksOutsideThePacketAreRefused) {
  DebugCapture debug;
  const std::vector<uint8_t> bytes = Group().AddBlock(0x1003, 100).AddBlock(0x1004, 100).Bytes();
  // One byte short, a header cut short, a count larger than the blocks there
  // (0x1101: one block on the live road, 257 on the file road).
  EXPECT_EQ(Pack(bytes, 0, static_cast<uint32_t>(bytes.size() - 1)), 1);
  EXPECT_EQ(Pack(bytes, 0, 48 + 120 + 19), 1);
  EXPECT_EQ(Pack(Group().AddBlock(0x1003, 100).BlockCount(0x1101).Bytes(), 0), 1);
  EXPECT_EQ(Pack(bytes, 0, 47), 1);
  EXPECT_TRUE(wm_.samples.empty());
  EXPECT_THAT(debug.lines(),
              ElementsAre("processpacket : block count field 0x1002 counts 2 blocks, more than "
                          "the packet's 287 bytes hold; not written",
                          "processpacket : block count field 0x1002 counts 2 blocks, more than "
                          "the packet's 187 bytes hold; not written",
                          "processpacket : block count field 0x1101 counts 257 blocks, more than "
                          "the packet's 168 bytes hold; not written",
                          "processpacket : packet of 47 bytes holds no group header; not written"));
  debug.Clear();
  // A length larger than the group is fine: the group ends where its blocks do.
  std::vector<uint8_t> padded = bytes;
  padded.resize(bytes.size() + 10, 0xEE);
  EXPECT_EQ(Pack(padded, 0), 1);
  ASSERT_EQ(wm_.samples.size(), 2u);
  EXPECT_EQ(wm_.samples[0].bytes.size(), 32u + bytes.size() - 48);
  EXPECT_TRUE(debug.lines().empty());
}

}  // namespace
}  // namespace kestrum
