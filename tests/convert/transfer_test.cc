// The file road's driver over scripted packet sequences and recording fakes.
#include "convert/transfer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using testing::DebugCapture;
using testing::FakeWm;
using testing::FileHeaderBuilder;
using testing::Group;

// A packet source that opens with `open_result` and then hands out the
// scripted packets, each with the result given; `opened` and `fetched` count
// the calls.
class ScriptedSource {
 public:
  struct Packet {
    int32_t result;
    uint32_t kind;
    std::vector<uint8_t> bytes;
    uint32_t time_ms;
  };

  ScriptedSource& Add(int32_t result, uint32_t kind, std::vector<uint8_t> bytes,
                      uint32_t time_ms = 0) {
    packets_.push_back(Packet{result, kind, std::move(bytes), time_ms});
    return *this;
  }

  PacketSource Source(int32_t open_result = 1) {
    return PacketSource{
        [this, open_result](int32_t channel, intptr_t source) {
          ++opened;
          EXPECT_EQ(channel, 1);
          last_source = source;
          return open_result;
        },
        [this](int32_t channel, PacketRecord* record) {
          ++fetched;
          EXPECT_EQ(channel, 1);
          if (packets_.empty()) return 2;
          current_ = std::move(packets_.front());
          packets_.pop_front();
          record->kind = current_.kind;
          record->data = current_.bytes.data();
          record->length = static_cast<uint32_t>(current_.bytes.size());
          record->time_ms = current_.time_ms;
          return current_.result;
        }};
  }

  int opened = 0;
  int fetched = 0;
  intptr_t last_source = 0;

 private:
  std::deque<Packet> packets_;
  Packet current_;
};

std::vector<uint8_t> VideoGroup(uint32_t id) {
  return Group().Word32(id).AddBlock(0x1003, 10).Bytes();
}

class TransferTest : public ::testing::Test {
 protected:
  TransferTest() : instance_(wm_.Factories()) {}
  int32_t Run(PacketSource source, const char* destination = "out.asf") {
    return TransferToAsf(instance_, source, 1234, destination);
  }
  std::vector<uint32_t> WrittenIds() const {
    std::vector<uint32_t> ids;
    for (const auto& s : wm_.samples) ids.push_back(load_u32le(s.bytes.data() + 12));
    return ids;
  }

  FakeWm wm_;
  RecordInstance instance_;
  ScriptedSource script_;
  DebugCapture debug_;
};

TEST_F(TransferTest, SourceNotOpenedReturnsZeroAndFetchesNothing) {
  EXPECT_EQ(Run(script_.Source(0)), 0);
  EXPECT_EQ(script_.fetched, 0);
  EXPECT_EQ(script_.last_source, 1234);
  EXPECT_TRUE(debug_.lines().empty());
}

TEST_F(TransferTest, ImmediateEndReturnsOneAndWritesNothing) {
  EXPECT_EQ(Run(script_.Source()), 1);
  EXPECT_THAT(debug_.lines(), ElementsAre("2"));
  EXPECT_EQ(wm_.writers_created, 0);
}

TEST_F(TransferTest, HeaderThenGroupsAreWrittenAtTheirTimesAndTheFileEnded) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes())
      .Add(0, 1, VideoGroup(1), 0)
      .Add(0, 1, VideoGroup(2), 40);
  EXPECT_EQ(Run(script_.Source(), "dest.asf"), 1);
  EXPECT_EQ(wm_.output_filename, u"dest.asf");
  EXPECT_THAT(WrittenIds(), ElementsAre(1, 2));
  EXPECT_EQ(wm_.samples[1].time, 400000u);
  EXPECT_EQ(wm_.samples[1].send_time, 40u);
  // The debug lines of the driver, among the writer's own.
  std::vector<std::string> results;
  for (const auto& line : debug_.lines()) {
    if (line == "0" || line == "2") results.push_back(line);
  }
  EXPECT_THAT(results, ElementsAre("0", "0", "0", "2"));
  // The conversion's file is ended and its writer given back.
  EXPECT_EQ(wm_.CountCalls("EndWriting"), 1u);
  EXPECT_EQ(instance_.session.writer, nullptr);
  EXPECT_EQ(instance_.session.writer_ready, 0);
}

TEST_F(TransferTest, RefusedHeaderReturnsItsFailureAndFetchesNoMore) {
  script_.Add(0, 0, FileHeaderBuilder().Tag(7).Bytes()).Add(0, 1, VideoGroup(1));
  EXPECT_EQ(Run(script_.Source()), E_FAIL);
  EXPECT_LT(E_FAIL, 0);
  EXPECT_EQ(script_.fetched, 1);
  EXPECT_EQ(wm_.writers_created, 0);
}

TEST_F(TransferTest, RefusedHeaderAfterAPreparedWriterEndsTheFile) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes())
      .Add(0, 1, VideoGroup(1))
      .Add(0, 0, FileHeaderBuilder().StreamType(0x1007).Bytes());
  EXPECT_EQ(Run(script_.Source()), E_FAIL);
  EXPECT_THAT(WrittenIds(), ElementsAre(1));
  EXPECT_EQ(wm_.CountCalls("EndWriting"), 1u);
}

TEST_F(TransferTest, FailedWriterPreparationIsReturned) {
  const auto failure = static_cast<HRESULT>(0x80070005);
  wm_.FailNext("SetOutputFilename", failure);
  script_.Add(0, 0, FileHeaderBuilder().Bytes()).Add(0, 1, VideoGroup(1));
  EXPECT_EQ(Run(script_.Source()), failure);
  EXPECT_EQ(script_.fetched, 1);
  EXPECT_TRUE(wm_.samples.empty());
}

TEST_F(TransferTest, IgnoredPacketsHaveNoEffectBeyondTheirLine) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes())
      .Add(0, 10, {1, 2, 3})
      .Add(0, 10, {})
      .Add(0, 7, VideoGroup(1));  // any kind but 0 and 10 is a group
  EXPECT_EQ(Run(script_.Source()), 1);
  EXPECT_THAT(WrittenIds(), ElementsAre(1));
}

TEST_F(TransferTest, ResultOtherThanZeroEndsAfterThatPacket) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes()).Add(1, 1, VideoGroup(1)).Add(0, 1, VideoGroup(2));
  EXPECT_EQ(Run(script_.Source()), 1);
  EXPECT_THAT(WrittenIds(), ElementsAre(1));
  EXPECT_EQ(script_.fetched, 2);
  EXPECT_EQ(debug_.Count("1"), 1u);
}

// The packet source could not read the stream to its end: what came before
// is written and the file ended, but the conversion is no success.
TEST_F(TransferTest, StreamNotReadToItsEndIsAReadFault) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes())
      .Add(0, 1, VideoGroup(1))
      .Add(kPacketReadError, 10, {})
      .Add(0, 1, VideoGroup(2));
  EXPECT_EQ(Run(script_.Source()), E_READ_FAULT);
  EXPECT_THAT(WrittenIds(), ElementsAre(1));
  EXPECT_EQ(script_.fetched, 3);
  EXPECT_EQ(wm_.CountCalls("EndWriting"), 1u);
}

TEST_F(TransferTest, SecondHeaderIsParsedAgainWithoutNewWriter) {
  script_.Add(0, 0, FileHeaderBuilder().Size(704, 576).Bytes())
      .Add(0, 1, VideoGroup(1))
      .Add(0, 0, FileHeaderBuilder().StreamType(0x1002).Size(352, 288).Bytes())
      .Add(0, 1, VideoGroup(2));
  EXPECT_EQ(Run(script_.Source()), 1);
  EXPECT_EQ(load_u16le(instance_.stream_header.file_header + 16), 0x1002);
  EXPECT_EQ(wm_.writers_created, 1);
  EXPECT_EQ(wm_.profiles_created, 1);
  EXPECT_EQ(load_u32le(wm_.profile_streams[0].format.data() + 52), 704u);
  EXPECT_THAT(WrittenIds(), ElementsAre(1, 2));
}

TEST_F(TransferTest, GroupBeforeAnyHeaderWritesNothing) {
  script_.Add(0, 1, VideoGroup(1)).Add(0, 0, FileHeaderBuilder().Bytes()).Add(0, 1, VideoGroup(2));
  EXPECT_EQ(Run(script_.Source()), 1);
  EXPECT_THAT(WrittenIds(), ElementsAre(2));
}

TEST_F(TransferTest, ShortHeaderPacketIsRefused) {
  script_.Add(0, 0, std::vector<uint8_t>(39, 0));
  EXPECT_EQ(Run(script_.Source()), E_FAIL);
}

TEST_F(TransferTest, NextConversionStartsAFreshFile) {
  script_.Add(0, 0, FileHeaderBuilder().Bytes()).Add(0, 1, VideoGroup(1), 80);
  ASSERT_EQ(Run(script_.Source(), "first.asf"), 1);
  ScriptedSource second;
  second.Add(0, 0, FileHeaderBuilder().Bytes()).Add(0, 1, VideoGroup(2), 0);
  ASSERT_EQ(Run(second.Source(), "second.asf"), 1);
  EXPECT_EQ(wm_.output_filename, u"second.asf");
  EXPECT_EQ(wm_.writers_created, 2);
  EXPECT_EQ(wm_.CountCalls("EndWriting"), 2u);
  EXPECT_EQ(wm_.samples.back().time, 0u);
}

TEST_F(TransferTest, FailureToEndTheFileIsReported) {
  const auto failure = static_cast<HRESULT>(0x80070070);
  wm_.FailNext("EndWriting", failure);
  script_.Add(0, 0, FileHeaderBuilder().Bytes()).Add(0, 1, VideoGroup(1));
  EXPECT_EQ(Run(script_.Source()), failure);
}

}  // namespace
}  // namespace kestrum
