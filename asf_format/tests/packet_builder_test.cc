// The packet builder alone: its packets are walked behind an unfinished
// header, so every packet must add up to exactly the packet size.
#include <gtest/gtest.h>

#include <random>

#include "asf_format/tests/test_support.h"
#include "asf_format/reader.h"
#include "asf_format/header.h"
#include "asf_format/packet_builder.h"

namespace kestrum::asf {
namespace {


class PacketBuilderTest : public ::testing::Test {
 protected:
  void Make(uint32_t packet_size) {
    packet_size_ = packet_size;
    builder_ = std::make_unique<PacketBuilder>(sink_, packet_size);
  }
  SamplePlacement Add(const std::vector<uint8_t>& bytes, uint32_t send_ms = 0) {
    PayloadInfo info{static_cast<uint8_t>(8 | (key_ ? 0x80 : 0)), number_++, send_ms + 3000,
                     send_ms};
    SamplePlacement where;
    // The builder takes the bytes in place: they stay in added_ (its
    // elements' storage does not move when it grows).
    added_.push_back(bytes);
    const std::vector<uint8_t>& kept = added_.back();
    EXPECT_EQ(builder_->AddSample(info, kept.data(), static_cast<uint32_t>(kept.size()), &where),
              kOk);
    return where;
  }
  // Finishes the open packet, drains, and walks the packets.
  AsfFile Walk() {
    EXPECT_EQ(builder_->FinishPacket(), kOk);
    EXPECT_EQ(builder_->Drain(), kOk);
    std::vector<uint8_t> file = BuildHeader(testing::VideoFileInfo(packet_size_), packet_size_, {});
    file.insert(file.end(), sink_.bytes.begin(), sink_.bytes.end());
    AsfFile f = ReadAsfFile(std::move(file));
    EXPECT_EQ(f.error, "");
    EXPECT_FALSE(f.trailing_bytes);
    EXPECT_EQ(f.packets.size(), builder_->completed_packets());
    EXPECT_EQ(f.samples.size(), added_.size());
    for (size_t i = 0; i < f.samples.size() && i < added_.size(); ++i) {
      EXPECT_EQ(f.samples[i].bytes, added_[i]) << "sample " << i;
      EXPECT_EQ(f.samples[i].object_number, static_cast<uint8_t>(i));
    }
    return f;
  }

  testing::RecordingSink sink_;
  std::unique_ptr<PacketBuilder> builder_;
  uint32_t packet_size_ = 0;
  uint8_t number_ = 0;
  bool key_ = false;
  std::vector<std::vector<uint8_t>> added_;
  std::mt19937 rng_{7};
};

// Bytes left in a multiple-payload packet after payloads of these sizes:
// packet header 13, payload flags 1, then 17 per payload header.
uint32_t PaddingAfter(uint32_t packet_size, std::initializer_list<uint32_t> sizes) {
  uint32_t used = 13 + 1;
  for (uint32_t s : sizes) used += 17 + s;
  return packet_size - used;
}
// Data bytes another payload can still take.
uint32_t RoomAfter(uint32_t packet_size, std::initializer_list<uint32_t> sizes) {
  return PaddingAfter(packet_size, sizes) - 17;
}

class RemainingSpaceTest : public PacketBuilderTest, public ::testing::WithParamInterface<int> {};

TEST_P(RemainingSpaceTest, SampleAgainstTheSpaceLeftInAPacket) {
  Make(1000);
  const int extra = GetParam();
  const uint32_t room = RoomAfter(1000, {100});
  Add(testing::RandomBytes(rng_, 100));
  Add(testing::RandomBytes(rng_, static_cast<size_t>(static_cast<int>(room) + extra)));
  // Exactly full, or one byte short of room for another payload: complete.
  EXPECT_EQ(builder_->completed_packets(), 1u);
  EXPECT_EQ(builder_->has_open_packet(), extra == 1);
  const AsfFile f = Walk();
  ASSERT_EQ(f.packets.size(), extra == 1 ? 2u : 1u);
  EXPECT_EQ(f.packets[0].payloads, 2u);
  EXPECT_EQ(f.packets[0].padding, extra == -1 ? 1u : 0u);
  EXPECT_EQ(f.samples[1].last_packet, extra == 1 ? 1u : 0u);
  if (extra == 1) {
    EXPECT_EQ(f.packets[1].padding, PaddingAfter(1000, {1}));
  }
}

INSTANTIATE_TEST_SUITE_P(OneByteShortExactOneMore, RemainingSpaceTest, ::testing::Values(-1, 0, 1));

TEST_F(PacketBuilderTest, FragmentFillingAWholePacketUsesTheSinglePayloadLayout) {
  Make(1440);
  const uint32_t single = 1440 - 13 - 15;
  Add(testing::RandomBytes(rng_, single));
  Add(testing::RandomBytes(rng_, single + 1));
  const AsfFile f = Walk();
  ASSERT_EQ(f.packets.size(), 3u);
  EXPECT_FALSE(f.packets[0].multiple);
  EXPECT_FALSE(f.packets[1].multiple);
  EXPECT_TRUE(f.packets[2].multiple);
  EXPECT_EQ(f.packets[2].padding, PaddingAfter(1440, {1}));
}

TEST_F(PacketBuilderTest, LargeSampleSpansConsecutivePackets) {
  Make(1440);
  Add(testing::RandomBytes(rng_, 500));
  const SamplePlacement where = Add(testing::RandomBytes(rng_, 20 * 1440 + 7));
  Add(testing::RandomBytes(rng_, 10));
  const AsfFile f = Walk();
  EXPECT_EQ(where.first_packet, 0u);
  EXPECT_EQ(where.last_packet, f.samples[1].last_packet);
  EXPECT_EQ(f.samples[1].first_packet, 0u);
  EXPECT_EQ(f.samples[2].first_packet, f.samples[1].last_packet);
  // 20 × 1440 + 7 bytes, less what the first packet held, in 1412-byte
  // single-payload packets and a multiple-payload tail.
  const uint32_t rest = 20 * 1440 + 7 - RoomAfter(1440, {500});
  EXPECT_EQ(f.packets.size(), 1u + rest / 1412 + 1u);
}

TEST_F(PacketBuilderTest, PacketHoldsAtMostSixtyThreePayloads) {
  Make(64000);
  for (int i = 0; i < 100; ++i) {
    Add(testing::RandomBytes(rng_, 3));
    EXPECT_EQ(builder_->completed_packets(), i >= 62 ? 1u : 0u);
  }
  const AsfFile f = Walk();
  ASSERT_EQ(f.packets.size(), 2u);
  EXPECT_EQ(f.packets[0].payloads, 63u);
  EXPECT_EQ(f.packets[1].payloads, 37u);
  EXPECT_EQ(f.packets[0].padding, PaddingAfter(64000, {}) - 63 * (17 + 3));
}

TEST_F(PacketBuilderTest, SinkGetsWholeBatchesOfPackets) {
  Make(64000);
  for (int i = 0; i < 40; ++i)
    Add(testing::RandomBytes(rng_, 30'000 + 997 * static_cast<size_t>(i)));
  Walk();
  const size_t batch = (size_t{1} << 20) / 64000 * 64000;
  ASSERT_GE(sink_.writes.size(), 2u);
  for (size_t i = 0; i < sink_.writes.size(); ++i) {
    if (i + 1 < sink_.writes.size()) {
      EXPECT_EQ(sink_.writes[i], batch);
    }
    EXPECT_EQ(sink_.writes[i] % 64000, 0u);
  }
}

TEST_F(PacketBuilderTest, SendTimesNeverDecrease) {
  Make(200);
  Add(testing::RandomBytes(rng_, 400), 500);
  Add(testing::RandomBytes(rng_, 400), 300);
  Add(testing::RandomBytes(rng_, 400), 800);
  const AsfFile f = Walk();
  ASSERT_GE(f.packets.size(), 6u);
  EXPECT_EQ(f.packets[0].send_ms, 500u);
  for (size_t i = 1; i < f.packets.size(); ++i) {
    EXPECT_GE(f.packets[i].send_ms, f.packets[i - 1].send_ms);
  }
  EXPECT_EQ(f.packets.back().send_ms, 800u);
  EXPECT_EQ(f.samples[1].presentation_ms, 3300u);
}

}  // namespace
}  // namespace kestrum::asf
