// The live road from the exports to a file that ffprobe reads back: however a
// stream is cut into pieces, the file holds the same samples.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "kestrum.h"
#include "support/debug_capture.h"
#include "support/expected_samples.h"
#include "support/probe.h"
#include "support/stream_pieces.h"

namespace kestrum::testing {
namespace {

// Several hundred groups: with 0, 1 and several video blocks, blocks of kinds
// 0x1001/0x1002 mixed in, payloads from 1 byte to over 100 KB. The first
// group starts the recording, so every group is recorded.
StreamBuilder MixedStream() {
  std::mt19937 random(20261208);
  auto pick = [&](uint32_t below) { return static_cast<uint32_t>(random() % below); };
  StreamBuilder stream;
  stream.Header(FileHeaderBuilder().StreamType(0x1001).Size(704, 576));
  for (uint32_t i = 0; i < 320; ++i) {
    Group group;
    group.FrameType(i % 50 == 0 ? 0x1001 : 0x1003).Word32(i).Word28(0x1000 + pick(10));
    const uint32_t shape = pick(20);
    if (shape == 0) {
      // no blocks at all
    } else if (shape == 1) {
      group.AddBlock(0x1001, 1 + pick(300)).AddBlock(0x1002, 1 + pick(300));
    } else if (shape <= 4) {
      const uint32_t videos = 2 + pick(3);
      for (uint32_t v = 0; v < videos; ++v) {
        group.AddBlock(static_cast<uint16_t>(0x1003 + pick(3)), 1 + pick(4000));
        if (pick(2) == 0) group.AddBlock(0x1001, 1 + pick(200));
      }
    } else {
      const size_t payload = i % 40 == 7 ? 100000 + pick(60000) : 1 + pick(3000);
      if (pick(4) == 0) group.AddBlock(0x1002, 1 + pick(500));
      group.AddBlock(static_cast<uint16_t>(0x1003 + pick(3)), payload);
    }
    stream.Add(group);
  }
  return stream;
}

const StreamBuilder& Stream() {
  static const StreamBuilder stream = MixedStream();
  return stream;
}

// Pieces never of exactly 40 bytes: the live road would take one as a header.
std::vector<std::vector<uint8_t>> AvoidHeaderSize(std::vector<std::vector<uint8_t>> pieces) {
  std::vector<std::vector<uint8_t>> out;
  for (auto& piece : pieces) {
    if (piece.size() == 40) {
      out.emplace_back(piece.begin(), piece.begin() + 39);
      out.emplace_back(piece.begin() + 39, piece.end());
    } else {
      out.push_back(std::move(piece));
    }
  }
  return out;
}

// Records the stream's header as its own piece and then `pieces` through the
// exports into `path`.
void Record(const std::string& path, const std::vector<uint8_t>& header,
            const std::vector<std::vector<uint8_t>>& pieces) {
  KestrumHandle handle = CreateRecordInstance();
  ASSERT_NE(handle, nullptr);
  ASSERT_EQ(StartRecord(handle, path.c_str(), 0, 0), 1);
  SendOneFrame(handle, header.data(), static_cast<int32_t>(header.size()));
  for (const auto& piece : pieces) {
    SendOneFrame(handle, piece.data(), static_cast<int32_t>(piece.size()));
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
}

struct Cutting {
  std::string name;
  size_t piece = 0;         // fixed piece size, or
  size_t random_max = 0;    // random sizes up to this, or
  bool whole_groups = false;
  uint32_t state = 0;
};

std::vector<Cutting> Cuttings() {
  std::vector<Cutting> cuttings;
  for (size_t k = 1; k <= 64; ++k) cuttings.push_back({"every" + std::to_string(k), k});
  cuttings.push_back({"every4096", 4096});
  cuttings.push_back({"every65536", 65536});
  cuttings.push_back({"whole_groups", 0, 0, true});
  const size_t maxima[] = {100, 3000, 70000, 400000};
  for (size_t i = 0; i < 4; ++i) {
    cuttings.push_back({"random" + std::to_string(maxima[i]), 0, maxima[i], false,
                        static_cast<uint32_t>(0x9E3779B9u * (i + 1))});
  }
  return cuttings;
}

void PrintTo(const Cutting& cutting, std::ostream* out) { *out << cutting.name; }

class CuttingTest : public ::testing::TestWithParam<Cutting> {};

TEST_P(CuttingTest, EveryCuttingGivesTheSameSamples) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const Cutting& c = GetParam();
  const StreamBuilder& stream = Stream();
  const std::vector<uint8_t> header = stream.Slice(0, 40);
  const std::span<const uint8_t> body(stream.bytes().data() + 40, stream.size() - 40);
  std::vector<std::vector<uint8_t>> pieces;
  if (c.whole_groups) {
    for (size_t i = 0; i < stream.groups().size(); ++i) pieces.push_back(stream.GroupBytes(i));
  } else if (c.random_max != 0) {
    pieces = SplitRandomly(body, c.random_max, c.state);
  } else {
    pieces = SplitEvery(body, c.piece);
  }
  pieces = AvoidHeaderSize(std::move(pieces));

  const std::string path = TestDirectory("cutting_" + c.name) + "/out.asf";
  Record(path, header, pieces);
  const auto packets = ProbePackets(path);
  ASSERT_TRUE(packets) << "ffprobe could not read " << path;
  const std::vector<ProbedPacket> expected = ExpectedLivePackets(stream);
  ASSERT_EQ(packets->size(), expected.size()) << Describe(*packets);
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ((*packets)[i], expected[i]) << "sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Pieces, CuttingTest, ::testing::ValuesIn(Cuttings()),
                         [](const auto& test) { return test.param.name; });

// Numbered, so that a group has the same bytes wherever it is built.
Group Start(uint32_t id) {
  return Group().FrameNumber(id).FrameType(0x1002).Word32(id).AddBlock(0x1004, 900);
}
Group Plain(uint32_t id) {
  return Group().FrameNumber(id).FrameType(0x1005).Word32(id).AddBlock(0x1003, 700);
}

TEST(LiveRoadTest, JunkAndMalformedGroupsLetThroughExactlyWhatTheRulesAllow) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  // Each entry is one piece; the ids of the groups expected in the file.
  StreamBuilder kept;  // the groups the file must hold, in order
  std::vector<std::vector<uint8_t>> pieces;
  auto piece_of = [](const Group& g) { return g.Bytes(); };
  auto keep = [&](const Group& g) {
    kept.Add(g);
    pieces.push_back(piece_of(g));
  };
  StreamBuilder junk;
  junk.Junk(100, 1);
  pieces.push_back(junk.bytes());          // junk before anything
  pieces.push_back(piece_of(Plain(1)));    // before the first start group: dropped
  keep(Start(2));
  keep(Plain(3));
  pieces.push_back({0x01, 0x00, 0x00, 0x00, 0x77});  // a start code that starts nothing
  keep(Plain(4));
  // A malformed group: the recording waits for a start group again.
  pieces.push_back(Group().FrameType(0x1001).Word32(5).Add(Block(0x1009).Payload(16, 3)).Bytes());
  pieces.push_back(piece_of(Plain(6)));
  keep(Start(7));
  keep(Plain(8));
  // Junk and a group in one piece: the junk is skipped silently.
  {
    StreamBuilder mixed;
    mixed.Junk(33, 9).Add(Plain(9));
    kept.Add(Plain(9));
    pieces.push_back(mixed.bytes());
  }
  const std::string path = TestDirectory("live_junk") + "/out.asf";
  DebugCapture debug;
  Record(path, FileHeaderBuilder().Bytes(), AvoidHeaderSize(pieces));
  EXPECT_EQ(debug.Count("Splitter : process fails!"), 1u);
  const auto packets = ProbePackets(path);
  ASSERT_TRUE(packets);
  EXPECT_EQ(*packets, ExpectedLivePackets(kept)) << Describe(*packets);
}

TEST(LiveRoadTest, FileCarriesTheStreamFormatAndAttributes) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  StreamBuilder stream;
  const FileHeaderBuilder header = FileHeaderBuilder().StreamType(0x1003).Size(704, 240)
                                       .RateFactor(2).RateBase(256000).U32(36, 0xDEADBEEF);
  stream.Header(header).Groups(50, 2000);
  const std::string path = TestDirectory("live_format") + "/out.asf";
  std::vector<std::vector<uint8_t>> pieces = {stream.Slice(40, stream.size())};
  Record(path, header.Bytes(), pieces);
  const auto fields = ProbeFields(path);
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->at("codec_tag_string"), "XQV4");
  EXPECT_EQ(fields->at("width"), "704");
  EXPECT_EQ(fields->at("height"), "480");  // 704 x 240 is doubled
  EXPECT_EQ(fields->at("extradata_size"), "40");
  EXPECT_EQ(fields->at("extradata_hash"), "MD5:" + ExpectedPacket(header.Bytes(), 0).md5);
  EXPECT_EQ(fields->at("TAG:title"), "ASF");
  EXPECT_EQ(fields->at("TAG:comment"), "Tarvelle Co., Ltd");
  EXPECT_EQ(fields->at("nb_read_packets"), "50");
  EXPECT_DOUBLE_EQ(std::stod(fields->at("duration")), 2.0);  // 50 x 40 ms
}

TEST(LiveRoadTest, RecordingNeverStoppedIsStillReadable) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  StreamBuilder stream;
  stream.Header().Groups(200, 5000);
  const std::string path = TestDirectory("live_unended") + "/out.asf";
  KestrumHandle handle = CreateRecordInstance();
  StartRecord(handle, path.c_str(), 0, 0);
  SendOneFrame(handle, stream.bytes().data(), 40);
  SendOneFrame(handle, stream.bytes().data() + 40, static_cast<int32_t>(stream.size() - 40));
  ReleaseRecordInstance(&handle);  // without StopRecord
  const auto packets = ProbePackets(path);
  ASSERT_TRUE(packets);
  const auto expected = ExpectedLivePackets(stream);
  ASSERT_FALSE(packets->empty());
  ASSERT_LE(packets->size(), expected.size());
  for (size_t i = 0; i < packets->size(); ++i) EXPECT_EQ((*packets)[i], expected[i]) << i;
}

// A host may record the same name again at once: the first file's end,
// which the writer's thread makes durable after StopRecord, is waited for
// rather than found holding the file, and the second recording is whole.
TEST(LiveRoadTest, SameNameRecordedAgainRightAfterStopRecord) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  StreamBuilder first, second;
  first.Header().Groups(100, 20000);
  second.Header().Groups(60, 3000);
  const std::string path = TestDirectory("live_again") + "/out.asf";
  KestrumHandle handles[2] = {CreateRecordInstance(), CreateRecordInstance()};
  for (int i = 0; i < 2; ++i) {
    const std::vector<uint8_t>& bytes = (i == 0 ? first : second).bytes();
    StartRecord(handles[i], path.c_str(), 0, 0);
    SendOneFrame(handles[i], bytes.data(), 40);
    SendOneFrame(handles[i], bytes.data() + 40, static_cast<int32_t>(bytes.size() - 40));
    StopRecord(handles[i]);
  }
  for (KestrumHandle& handle : handles) ReleaseRecordInstance(&handle);
  const auto packets = ProbePackets(path);
  ASSERT_TRUE(packets);
  EXPECT_EQ(*packets, ExpectedLivePackets(second));
}

}  // namespace
}  // namespace kestrum::testing
