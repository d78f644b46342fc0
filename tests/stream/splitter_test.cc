// The live splitter through SendOneFrame: synchronisation, reassembly across
// pieces, the start rule, and every recovery rule with its messages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Block;
using testing::DebugCapture;
using testing::FakeWm;
using testing::FileHeaderBuilder;
using testing::Group;
using testing::StreamBuilder;

const std::string kBufferFull = "Splitter : \xC1\xD9\xCA\xB1\xBB\xBA\xB3\xE5\xC2\xFA";

// Groups are told apart by their word at 32, which the packer copies into the
// sample header at offset 12. Under stream type 0x1001 a group may start a
// recording when its frame type is 0x1001 or 0x1002.
Group StartGroup(uint32_t id, size_t payload = 64) {
  return Group().FrameType(0x1001).Word32(id).AddBlock(0x1003, payload);
}
Group PlainGroup(uint32_t id, size_t payload = 64) {
  return Group().FrameType(0x1003).Word32(id).AddBlock(0x1003, payload);
}

class SplitterTest : public ::testing::Test {
 protected:
  SplitterTest() : instance_(wm_.Factories()) {
    instance_.file_name = "out.asf";
    Send(FileHeaderBuilder().StreamType(0x1001).Bytes());
  }

  void Send(const std::vector<uint8_t>& piece) {
    instance_.SendOneFrame(piece.data(), static_cast<int32_t>(piece.size()));
  }
  void SendAll(const std::vector<std::vector<uint8_t>>& pieces) {
    for (const auto& piece : pieces) Send(piece);
  }
  // The ids of the groups written so far, in order.
  std::vector<uint32_t> Written() const {
    std::vector<uint32_t> ids;
    for (const auto& sample : wm_.samples) ids.push_back(load_u32le(sample.bytes.data() + 12));
    return ids;
  }

  FakeWm wm_;
  RecordInstance instance_;
};

TEST_F(SplitterTest, JunkBeforeTheFirstGroupIsSkipped) {
  StreamBuilder s;
  s.Junk(37).Add(PlainGroup(1)).Add(StartGroup(2)).Add(PlainGroup(3));
  DebugCapture debug;
  Send(s.bytes());
  EXPECT_THAT(Written(), ElementsAre(2, 3));
  EXPECT_EQ(instance_.splitter.synchronised, 1);
  EXPECT_EQ(instance_.splitter.wait_for_start, 0);
  EXPECT_EQ(debug.Count("2--BR_FAIL"), 0u);
}

TEST_F(SplitterTest, WholeGroupPerPieceWaitsForAStartGroupThenTakesEvery) {
  StreamBuilder s;
  s.Add(PlainGroup(1)).Add(PlainGroup(2)).Add(StartGroup(3)).Add(PlainGroup(4)).Add(StartGroup(5));
  for (size_t i = 0; i < s.groups().size(); ++i) {
    Send(s.GroupBytes(i));
    EXPECT_EQ(instance_.splitter.bytes_held, 0);  // whole groups never pass through the buffer
  }
  EXPECT_THAT(Written(), ElementsAre(3, 4, 5));
}

TEST_F(SplitterTest, GroupAcrossTwoPiecesIsHandedOnBeforeTheOnesAfterIt) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2, 5000)).Add(PlainGroup(3)).Add(PlainGroup(4));
  const size_t cut = s.groups()[1].begin + 1000;
  Send(s.Slice(0, cut));
  EXPECT_THAT(Written(), ElementsAre(1));
  EXPECT_EQ(instance_.splitter.bytes_held, 1000);
  Send(s.Slice(cut, s.size()));
  EXPECT_THAT(Written(), ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(instance_.splitter.bytes_held, 0);
}

TEST_F(SplitterTest, OneBytePerPieceRecordsEveryGroup) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2, 3)).Add(StartGroup(3, 0)).Add(PlainGroup(4, 100));
  DebugCapture debug;
  size_t groups_seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    Send(s.Slice(i, i + 1));
    // Each group is handed on in the piece that brings its last byte.
    if (groups_seen < s.groups().size() && i + 1 == s.groups()[groups_seen].end) {
      ++groups_seen;
      EXPECT_EQ(wm_.samples.size(), groups_seen) << "byte " << i;
    }
  }
  EXPECT_THAT(Written(), ElementsAre(1, 2, 3, 4));
  // While 2, 3 and 4 bytes of each group are held, no start can be seen yet.
  EXPECT_EQ(debug.Count("2--BR_FAIL"), 3 * s.groups().size());
  EXPECT_EQ(debug.Count("Small left"), 3 * s.groups().size());
}

TEST_F(SplitterTest, BufferFillingWithoutCompletingAGroupEmptiesIt) {
  // A group of 1,500,057 bytes: larger than the reassembly buffer.
  Group huge = StartGroup(1, 499999).AddBlock(0x1003, 499999).AddBlock(0x1003, 499999);
  StreamBuilder s;
  s.Add(StartGroup(10)).Add(huge).Add(PlainGroup(2)).Add(StartGroup(3)).Add(PlainGroup(4));
  DebugCapture debug;
  SendAll(testing::SplitEvery(s.bytes(), 100000));
  EXPECT_EQ(debug.Count(kBufferFull), 1u);
  // After the overflow the recording waits for a start group again.
  EXPECT_THAT(Written(), ElementsAre(10, 3, 4));
}

TEST_F(SplitterTest, MalformedGroupDropsTheRestOfThePieceAndWaitsForAStart) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(Group().FrameType(0x1001).Word32(2).Add(Block(0x1006).Payload(8, 1)))
      .Add(StartGroup(3));
  const size_t second_piece = s.size();
  s.Add(PlainGroup(4)).Add(StartGroup(5)).Add(PlainGroup(6));
  DebugCapture debug;
  Send(s.Slice(0, second_piece));
  EXPECT_EQ(instance_.splitter.wait_for_start, 1);
  EXPECT_THAT(debug.lines(), ::testing::IsSupersetOf(
                                 {"-----------Splitter : block_size = 8 00001006",
                                  "Splitter : process fails!"}));
  Send(s.Slice(second_piece, s.size()));
  EXPECT_THAT(Written(), ElementsAre(1, 5, 6));
}

TEST_F(SplitterTest, JunkBetweenGroupsIsSkippedSilentlyWithoutWaiting) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Junk(13).Add(PlainGroup(2)).Junk(200).Add(PlainGroup(3));
  DebugCapture debug;
  Send(s.bytes());
  EXPECT_THAT(Written(), ElementsAre(1, 2, 3));
  EXPECT_EQ(debug.Count("2--BR_FAIL"), 0u);
}

struct EmptyPieceCase {
  size_t held;
  int32_t length;
};

class EmptyPieceTest : public SplitterTest, public ::testing::WithParamInterface<EmptyPieceCase> {};

TEST_P(EmptyPieceTest, EmptyOrNegativePieceWithBytesHeld) {
  const EmptyPieceCase& c = GetParam();
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2, 500));
  Send(s.Slice(0, s.groups()[1].begin + c.held));
  ASSERT_EQ(instance_.splitter.bytes_held, static_cast<int32_t>(c.held));
  DebugCapture debug;
  const uint8_t byte = 0;
  instance_.SendOneFrame(&byte, c.length);
  if (c.held >= 48) {
    EXPECT_THAT(debug.lines(), ElementsAre("2--BR_FAIL"));
    EXPECT_EQ(instance_.splitter.bytes_held, 0);
    EXPECT_EQ(instance_.splitter.wait_for_start, 1);
  } else {
    EXPECT_THAT(debug.lines(), ElementsAre("2--BR_FAIL", "Small left"));
    EXPECT_EQ(instance_.splitter.bytes_held, static_cast<int32_t>(c.held));
    EXPECT_EQ(instance_.splitter.wait_for_start, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Pieces, EmptyPieceTest,
                         ::testing::Values(EmptyPieceCase{100, 0}, EmptyPieceCase{100, -7},
                                           EmptyPieceCase{47, 0}, EmptyPieceCase{3, -1},
                                           EmptyPieceCase{48, 0}));

TEST_F(SplitterTest, RestOfExactlyTheBufferSizeFillsItTheNextPieceFindsNoRoom) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(StartGroup(2, 499999).AddBlock(0x1003, 499999).AddBlock(0x1003, 499999));
  const size_t begin = s.groups()[1].begin;
  Send(s.Slice(0, begin + 1024000));
  EXPECT_EQ(instance_.splitter.bytes_held, 1024000);
  DebugCapture debug;
  Send(s.Slice(begin + 1024000, begin + 1024100));
  EXPECT_THAT(debug.lines(), ElementsAre("2--BR_FAIL"));
  EXPECT_EQ(instance_.splitter.bytes_held, 0);
  EXPECT_EQ(instance_.splitter.wait_for_start, 1);
}

TEST_F(SplitterTest, RestOverTheBufferSizeIsDroppedSilently) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(StartGroup(2, 499999).AddBlock(0x1003, 499999).AddBlock(0x1003, 499999));
  DebugCapture debug;
  Send(s.Slice(0, s.groups()[1].begin + 1024001));
  EXPECT_EQ(instance_.splitter.bytes_held, 0);
  EXPECT_EQ(instance_.splitter.wait_for_start, 1);
  EXPECT_THAT(Written(), ElementsAre(1));
  EXPECT_EQ(debug.Count("2--BR_FAIL"), 0u);
  EXPECT_EQ(debug.Count(kBufferFull), 0u);
}

TEST_F(SplitterTest, FortyBytePieceMidStreamIsAlwaysAHeader) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2, 500));
  Send(s.Slice(0, s.groups()[1].begin + 100));
  const int32_t held = instance_.splitter.bytes_held;
  // Under stream type 0x1002 a group starts a recording by its group type.
  Send(FileHeaderBuilder().StreamType(0x1002).Bytes());
  EXPECT_EQ(instance_.splitter.bytes_held, held);
  EXPECT_EQ(load_u16le(instance_.stream_header.file_header + 16), 0x1002);
  EXPECT_EQ(wm_.profiles_created, 1);
  Send(s.Slice(s.groups()[1].begin + 100, s.size()));
  EXPECT_THAT(Written(), ElementsAre(1, 2));
}

TEST_F(SplitterTest, IncompleteGroupAtStopIsNotWritten) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2, 500));
  Send(s.Slice(0, s.size() - 1));
  instance_.EndRecording();
  EXPECT_THAT(Written(), ElementsAre(1));
  EXPECT_EQ(wm_.CountCalls("EndWriting"), 1u);
  EXPECT_GT(instance_.splitter.bytes_held, 0);
}

TEST_F(SplitterTest, NameClearedAfterWritingBeganChangesNothing) {
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2));
  Send(s.GroupBytes(0));
  instance_.file_name = nullptr;  // as StartRecord(handle, NULL, ...) leaves it
  DebugCapture debug;
  Send(s.GroupBytes(1));
  EXPECT_EQ(debug.Count("Not ready for Kestrum!"), 0u);
  EXPECT_THAT(Written(), ElementsAre(1, 2));
}

TEST_F(SplitterTest, PiecesBeforeTheWriterIsReadyNeverEnterTheBuffer) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  instance.file_name = "out.asf";
  const auto header = FileHeaderBuilder().Bytes();
  instance.SendOneFrame(header.data(), 40);
  wm.FailNext("SetOutputFilename");
  StreamBuilder s;
  s.Add(StartGroup(1)).Add(PlainGroup(2));
  DebugCapture debug;
  instance.SendOneFrame(s.bytes().data(), 70);
  EXPECT_EQ(debug.Count("Not ready for Kestrum!"), 1u);
  EXPECT_EQ(instance.splitter.synchronised, 0);
  EXPECT_EQ(instance.splitter.bytes_held, 0);
  instance.SendOneFrame(s.bytes().data(), static_cast<int32_t>(s.size()));
  EXPECT_EQ(wm.samples.size(), 2u);
}

}  // namespace
}  // namespace kestrum
