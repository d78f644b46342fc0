// The muxer over a memory sink: call order, refused samples, random sample
// sequences walked back out of the file, sink failures at every stage, the
// crash bound and the packet size chosen from the bit rate, and files that
// were never ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "asf_format/tests/test_support.h"
#include "asf_format/reader.h"
#include "asf_format/muxer.h"
#include "asf_format/packet_builder.h"
#include "asf_format/status.h"

namespace kestrum::asf {
namespace {

using testing::Sample;

constexpr uint64_t kPreroll = 3000 * 10'000ull;

// Video samples at 25 per second (some pairs sharing a time, as a group
// packet's samples do), a key frame every 25th; with `audio`, small audio
// samples interleaved.
std::vector<Sample> MixedSamples(std::mt19937& rng, int count, size_t max_size, bool audio) {
  std::vector<Sample> samples;
  uint64_t time = 0;
  for (int i = 0; i < count; ++i) {
    const size_t size = 1 + rng() % max_size;
    samples.push_back(
        Sample{testing::kVideoStream, time, i % 25 == 0, testing::RandomBytes(rng, size)});
    if (audio && rng() % 2 == 0) {
      samples.push_back(
          Sample{testing::kAudioStream, time, true, testing::RandomBytes(rng, 1 + rng() % 600)});
    }
    if (rng() % 8 != 0) time += testing::kFrameTime;
  }
  return samples;
}

void ExpectSamplesMatch(const AsfFile& f, const std::vector<Sample>& written, size_t count) {
  ASSERT_EQ(f.samples.size(), count);
  uint8_t next_object[128] = {};
  for (size_t i = 0; i < count; ++i) {
    const Sample& s = written[i];
    EXPECT_EQ(f.samples[i].stream, s.stream) << i;
    EXPECT_EQ(f.samples[i].key, s.key) << i;
    EXPECT_EQ(f.samples[i].presentation_ms, s.time / 10'000 + 3000) << i;
    EXPECT_EQ(f.samples[i].object_number, next_object[s.stream]++) << i;
    EXPECT_TRUE(f.samples[i].bytes == s.bytes) << "bytes of sample " << i;
  }
}

TEST(MuxerTest, CallsOutOfOrderAreRefused) {
  MemorySink sink;
  Muxer muxer(sink, testing::VideoFileInfo());
  const uint8_t byte = 1;
  EXPECT_EQ(muxer.WriteSample(8, 0, 0, true, &byte, 1), kInvalidRequest);
  EXPECT_EQ(muxer.End(), kInvalidRequest);
  EXPECT_EQ(sink.bytes.size(), 0u);
  ASSERT_EQ(muxer.Begin(), kOk);
  EXPECT_EQ(muxer.Begin(), kInvalidRequest);
  ASSERT_EQ(muxer.End(), kOk);
  const std::vector<uint8_t> ended = sink.bytes;
  EXPECT_EQ(muxer.End(), kInvalidRequest);
  EXPECT_EQ(muxer.WriteSample(8, 0, 0, true, &byte, 1), kInvalidRequest);
  EXPECT_EQ(sink.bytes, ended);
  // No samples: a finished file with no packets, no index and no duration.
  const AsfFile f = ReadAsfFile(sink.bytes);
  EXPECT_EQ(f.error, "");
  EXPECT_EQ(f.packets.size(), 0u);
  EXPECT_EQ(f.play_duration, kPreroll);
  EXPECT_EQ(f.flags, 0u);
}

struct RefusedCase {
  const char* name;
  uint16_t stream;
  uint64_t time;
  uint64_t duration;
  size_t size;
  bool null_data;
  Status expected;
  const char* line = nullptr;  // the refusal's line, when it has one
};

class RefusedSampleTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedSampleTest, LeavesTheFileAsIfNeverCalled) {
  const RefusedCase& c = GetParam();
  std::mt19937 rng(3);
  const std::vector<Sample> good = testing::VideoSamples(rng, 30, 100, 5000);
  const std::vector<uint8_t> refused(c.size, 0x5A);
  MemorySink with, without;
  std::vector<std::string> lines;
  MuxerOptions options;
  options.report = [&lines](const char* line) { lines.push_back(line); };
  {
    Muxer a(with, testing::VideoFileInfo(), options), b(without, testing::VideoFileInfo());
    ASSERT_EQ(a.Begin(), kOk);
    ASSERT_EQ(b.Begin(), kOk);
    for (size_t i = 0; i < good.size(); ++i) {
      if (i == 10) {
        EXPECT_EQ(a.WriteSample(c.stream, c.time, c.duration, true,
                                c.null_data ? nullptr : refused.data(), c.size),
                  c.expected);
      }
      for (Muxer* m : {&a, &b}) {
        ASSERT_EQ(m->WriteSample(8, good[i].time, testing::kFrameTime, good[i].key,
                                 good[i].bytes.data(), good[i].bytes.size()),
                  kOk);
      }
    }
    ASSERT_EQ(a.End(), kOk);
    ASSERT_EQ(b.End(), kOk);
  }
  EXPECT_TRUE(with.bytes == without.bytes);
  EXPECT_EQ(lines, c.line != nullptr ? std::vector<std::string>{c.line} : std::vector<std::string>{});
}

constexpr uint64_t kLastMs = 0xFFFF'FFFFull - 3000;  // the last ms a presentation time can hold

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusedSampleTest,
    ::testing::Values(RefusedCase{"UnknownStream", 7, 0, 0, 10, false, kInvalidStream},
                      RefusedCase{"StreamZero", 0, 0, 0, 10, false, kInvalidStream},
                      RefusedCase{"StreamPast127", 200, 0, 0, 10, false, kInvalidStream},
                      RefusedCase{"Empty", 8, 0, 0, 0, false, kInvalidArgument},
                      RefusedCase{"NoData", 8, 0, 0, 10, true, kInvalidArgument},
                      RefusedCase{"SixteenMiB", 8, 4'000'000, 0, size_t{1} << 24, false,
                                  kInvalidArgument,
                                  "writer : sample refused (sample over 16 MiB): 16777216 bytes "
                                  "at 0.400 s"},
                      RefusedCase{"EndPastLastMs", 8, kLastMs * 10'000, 10'000, 10, false,
                                  kInvalidArgument,
                                  "writer : sample refused (time out of range): 10 bytes at "
                                  "4294964.295 s"},
                      RefusedCase{"DurationOverflows", 8, 400'000, ~0ull, 10, false, kInvalidArgument,
                                  "writer : sample refused (time out of range): 10 bytes at "
                                  "0.040 s"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(MuxerTest, LargestSampleAndLatestTimeAreAccepted) {
  MemorySink sink;
  Muxer muxer(sink, testing::VideoFileInfo());
  std::mt19937 rng(5);
  const std::vector<uint8_t> big = testing::RandomBytes(rng, (size_t{1} << 24) - 1);
  ASSERT_EQ(muxer.Begin(), kOk);
  ASSERT_EQ(muxer.WriteSample(8, 0, 0, true, big.data(), big.size()), kOk);
  ASSERT_EQ(muxer.WriteSample(8, kLastMs * 10'000, 9'999, true, big.data(), 5), kOk);
  ASSERT_EQ(muxer.End(), kOk);
  const AsfFile f = ReadAsfFile(sink.bytes);
  ASSERT_EQ(f.error, "");
  ASSERT_EQ(f.samples.size(), 2u);
  EXPECT_TRUE(f.samples[0].bytes == big);
  EXPECT_EQ(f.samples[1].presentation_ms, 0xFFFF'FFFFu);
  EXPECT_EQ(load_u32le(sink.bytes.data() + f.extension_children[0].offset + 64), big.size());
}

struct RoundTripCase {
  uint32_t packet_size;
  unsigned state;
};

class RoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTripTest, WalkedFileGivesBackEverySample) {
  std::mt19937 rng(GetParam().state);
  FileInfo info = testing::VideoFileInfo(GetParam().packet_size);
  testing::AddAudioStream(info);
  // With 0, the muxer sizes packets to the 640 kbit/s the two streams
  // declare: a quarter second of it is 20000 bytes.
  const uint32_t packet_size = GetParam().packet_size ? GetParam().packet_size : 20000;
  const std::vector<Sample> samples =
      MixedSamples(rng, 300, std::min<size_t>(120'000, packet_size * 30), true);
  MemorySink sink;
  Muxer muxer(sink, info);
  testing::WriteAll(muxer, samples);
  const AsfFile f = ReadAsfFile(sink.bytes);
  ASSERT_EQ(f.error, "");
  ExpectSamplesMatch(f, samples, samples.size());
  // Samples taken in place are held only until their packets are written:
  // a batch's worth and the open packet's, whatever the file's length.
  EXPECT_EQ(testing::HeldByWriteAll().outstanding, 0);
  EXPECT_LE(testing::HeldByWriteAll().most,
            static_cast<int>(kMaxHeldSamples + kMaxPayloadsPerPacket + 2));

  // The patched header.
  EXPECT_EQ(f.flags, 2u);
  EXPECT_EQ(f.packet_size, packet_size);
  EXPECT_EQ(f.packet_count, f.packets.size());
  EXPECT_EQ(f.data_packet_count, f.packets.size());
  EXPECT_EQ(muxer.packet_count(), f.packets.size());
  EXPECT_EQ(f.data_size, 50 + f.packets.size() * packet_size);
  EXPECT_EQ(f.file_size, sink.bytes.size());
  uint64_t end = 0;
  uint32_t max_size[2] = {};
  for (const Sample& s : samples) {
    end = std::max(end, s.time + testing::kFrameTime);
    uint32_t& m = max_size[s.stream == testing::kVideoStream ? 0 : 1];
    m = std::max(m, static_cast<uint32_t>(s.bytes.size()));
  }
  EXPECT_EQ(f.play_duration, end + kPreroll);
  EXPECT_EQ(f.send_duration, end);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(load_u32le(sink.bytes.data() + f.extension_children[i].offset + 64), max_size[i]);
  }
  for (size_t i = 1; i < f.packets.size(); ++i) {
    ASSERT_GE(f.packets[i].send_ms, f.packets[i - 1].send_ms);
  }

  // One index, for the video stream: entry i names the packets of the last
  // video key frame presented at or before i seconds (preroll included).
  ASSERT_EQ(f.indexes.size(), 1u);
  const IndexInfo& index = f.indexes[0];
  EXPECT_EQ(index.interval, 10'000'000u);
  ASSERT_EQ(index.entries.size(), f.play_duration / 10'000'000 + 1);
  std::vector<const MediaObject*> keys;
  for (const auto& s : f.samples) {
    if (s.stream == testing::kVideoStream && s.key) keys.push_back(&s);
  }
  uint32_t max_count = 0;
  for (size_t i = 0; i < index.entries.size(); ++i) {
    const MediaObject* named = keys.front();
    for (const auto* k : keys) {
      if (uint64_t{k->presentation_ms} * 10'000 <= i * 10'000'000ull) named = k;
    }
    const uint32_t count = static_cast<uint32_t>(named->last_packet - named->first_packet + 1);
    EXPECT_EQ(index.entries[i], std::make_pair(static_cast<uint32_t>(named->first_packet),
                                               static_cast<uint16_t>(count)))
        << "entry " << i;
    max_count = std::max(max_count, count);
  }
  EXPECT_EQ(index.max_packet_count, max_count);
}

INSTANTIATE_TEST_SUITE_P(PacketSizes, RoundTripTest,
                         ::testing::Values(RoundTripCase{0, 1}, RoundTripCase{0, 2},
                                           RoundTripCase{65536, 3}, RoundTripCase{1440, 4},
                                           RoundTripCase{100, 5}, RoundTripCase{3200, 6}),
                         [](const auto& test) {
                           return "Size" + std::to_string(test.param.packet_size) + "State" +
                                  std::to_string(test.param.state);
                         });

struct SinkFailureCase {
  uint32_t packet_size;
  FaultPolicy policy;
};

void PrintTo(const SinkFailureCase& c, std::ostream* out) {
  *out << c.packet_size << (c.policy == FaultPolicy::kKeepWriting ? " keep" : " end");
}

class SinkFailureTest : public ::testing::TestWithParam<SinkFailureCase> {};

// The sink runs out after N bytes, for N across the whole file. The call that
// meets it fails and the sink is cut back to its last whole sample. Ending at
// the fault, every later call fails the same way and End finishes the file
// in place with every sample whose packets all made it. Writing on, each
// later sample is tried again until room comes back (ten samples on), and the
// file holds every sample but those the lines say were lost. Either way the
// file walks as a finished one, without a sample cut short.
TEST_P(SinkFailureTest, FileIsCutBackToItsLastWholeSampleAndFinished) {
  const uint32_t packet_size = GetParam().packet_size;
  const bool keep_writing = GetParam().policy == FaultPolicy::kKeepWriting;
  std::mt19937 rng(11);
  const std::vector<Sample> samples = MixedSamples(rng, 120, packet_size * 3, false);
  MemorySink reference_sink;
  {
    Muxer reference(reference_sink, testing::VideoFileInfo(packet_size));
    testing::WriteAll(reference, samples);
  }
  const AsfFile reference = ReadAsfFile(reference_sink.bytes);
  ASSERT_EQ(reference.error, "");
  const size_t total = reference_sink.bytes.size();
  const auto data_start = static_cast<size_t>(reference.data_offset + 50);
  const size_t data_end = data_start + reference.packets.size() * packet_size;

  std::vector<size_t> limits = {
      0,        1, data_start - 1, data_start, data_start + 1, data_end - 1, data_end, data_end + 1,
      total - 1};
  for (size_t n = data_start + 7; n < data_end; n += (data_end - data_start) / 37)
    limits.push_back(n);
  for (size_t limit : limits) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    MemorySink sink;
    sink.fail_after = std::make_unique<size_t>(limit);
    std::vector<std::string> lines;
    MuxerOptions options;
    options.on_fault = GetParam().policy;
    options.report = [&lines](const char* line) { lines.emplace_back(line); };
    Muxer muxer(sink, testing::VideoFileInfo(packet_size), options);
    Status first_failure = kOk;
    size_t failed_at = samples.size();
    auto check = [&](Status status, size_t call) {
      if (Failed(first_failure) && !keep_writing) {
        EXPECT_EQ(status, first_failure);
      } else if (Failed(status) && Succeeded(first_failure)) {
        EXPECT_EQ(status, kDiskFull);
        first_failure = status;
        failed_at = call;
      }
    };
    const Status begun = muxer.Begin();
    check(begun, 0);
    for (size_t i = 0; i < samples.size(); ++i) {
      if (keep_writing && i == failed_at + 10) sink.fail_after.reset();  // room again
      const Sample& s = samples[i];
      check(muxer.WriteSample(8, s.time, testing::kFrameTime, s.key, s.bytes.data(),
                              s.bytes.size()),
            i);
    }
    EXPECT_EQ(muxer.End(), kDiskFull);
    if (Failed(begun)) {
      EXPECT_TRUE(sink.bytes.empty()) << "a header cut short was left";
      continue;
    }
    if (!keep_writing) {
      EXPECT_LE(sink.bytes.size(), limit);
    }
    const AsfFile f = ReadAsfFile(sink.bytes);
    ASSERT_EQ(f.error, "");
    EXPECT_FALSE(f.trailing_bytes);
    EXPECT_EQ(f.flags & 1, 0u) << "not finished";
    EXPECT_EQ(f.packet_count, f.packets.size());
    EXPECT_EQ(f.data_size, 50 + f.packets.size() * packet_size);
    // Seekable exactly when the index made it.
    EXPECT_EQ(f.flags, f.indexes.empty() ? 0u : 2u);
    EXPECT_EQ(f.file_size, sink.bytes.size());
    if (!lines.empty() && lines.back() ==
                              "writer : the index did not fit (0x80070070); the file is whole "
                              "but has no index") {
      EXPECT_TRUE(f.indexes.empty());
      lines.pop_back();
    }

    if (!keep_writing) {
      const uint64_t whole_packets = (std::min(limit, data_end) - data_start) / packet_size;
      size_t complete = 0;
      while (complete < samples.size() &&
             reference.samples[complete].last_packet < whole_packets) {
        ++complete;
      }
      ExpectSamplesMatch(f, samples, complete);
      if (complete == samples.size()) continue;
      ASSERT_EQ(lines.size(), 2u);
      EXPECT_EQ(lines[0], "writer : write failed (0x80070070); writing ends here");
      EXPECT_EQ(lines[1].rfind("writer : writing ended; " +
                                   std::to_string(samples.size() - complete) + " samples (", 0),
                0u)
          << lines[1];
      continue;
    }
    // Every sample the file holds is one written, whole and in order; those
    // missing are the ones the lines count, and none after room came back.
    size_t next = 0;
    for (const MediaObject& got : f.samples) {
      while (next < samples.size() && samples[next].bytes != got.bytes) ++next;
      ASSERT_LT(next, samples.size()) << "a sample that was never written, or out of order";
      EXPECT_EQ(got.presentation_ms, samples[next].time / 10'000 + 3000);
      ++next;
    }
    uint64_t lost = 0;
    bool ended_in_outage = false;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      if (i % 2 == 0) {
        EXPECT_EQ(line,
                  "writer : write failed (0x80070070); samples are dropped until writing works "
                  "again");
        continue;
      }
      unsigned long long n = 0;
      if (std::sscanf(line.c_str(), "writer : writing ended; %llu samples", &n) == 1) {
        ended_in_outage = true;
        EXPECT_EQ(i + 1, lines.size()) << line;
      } else {
        ASSERT_EQ(std::sscanf(line.c_str(), "writer : writing works again; %llu samples", &n), 1)
            << line;
      }
      lost += n;
    }
    EXPECT_EQ(lines.size() % 2, 0u) << "an outage was never closed";
    EXPECT_EQ(f.samples.size() + lost, samples.size());
    // Once room came back, nothing more was lost.
    if (!ended_in_outage) {
      EXPECT_EQ(f.samples.back().bytes, samples.back().bytes);
    } else {
      EXPECT_GT(failed_at + 10, samples.size() - 1) << "room came back, writing did not";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    PacketSizes, SinkFailureTest,
    ::testing::Values(SinkFailureCase{200, FaultPolicy::kEndWriting},
                      SinkFailureCase{1440, FaultPolicy::kEndWriting},
                      SinkFailureCase{64000, FaultPolicy::kEndWriting},
                      SinkFailureCase{200, FaultPolicy::kKeepWriting},
                      SinkFailureCase{1440, FaultPolicy::kKeepWriting},
                      SinkFailureCase{64000, FaultPolicy::kKeepWriting}),
    [](const auto& test) {
      return std::to_string(test.param.packet_size) +
             (test.param.policy == FaultPolicy::kKeepWriting ? "KeepWriting" : "EndWriting");
    });

struct CrashBoundCase {
  const char* name;
  uint32_t bitrate;  // declared
  size_t min_size, max_size;
  int gap_every;  // every so many samples, 3 s without samples (0: none)
};

class CrashBoundTest : public ::testing::TestWithParam<CrashBoundCase> {};

// What a process killed right after any WriteSample leaves: the bytes flushed
// so far. They must hold every sample that began more than 1 s before the end
// of the sample just written, however the stream's real rate compares with
// its declared one.
TEST_P(CrashBoundTest, SamplesOlderThanOneSecondAreAlwaysFlushed) {
  const CrashBoundCase& c = GetParam();
  std::mt19937 rng(21);
  std::vector<Sample> samples = testing::VideoSamples(rng, 500, c.min_size, c.max_size);  // 20 s
  for (size_t i = 1; c.gap_every != 0 && i < samples.size(); ++i) {
    const bool gap = i % static_cast<size_t>(c.gap_every) == 0;
    samples[i].time = samples[i - 1].time + testing::kFrameTime * (gap ? 75 : 1);
  }
  FileInfo info = testing::VideoFileInfo();
  info.streams[0].bitrate = c.bitrate;
  testing::RecordingSink sink;
  Muxer muxer(sink, info);
  ASSERT_EQ(muxer.Begin(), kOk);
  size_t flushes = sink.flushed_sizes.size();
  size_t in_file = 0;  // samples whole in the flushed bytes
  for (size_t i = 0; i < samples.size(); ++i) {
    const Sample& s = samples[i];
    ASSERT_EQ(
        muxer.WriteSample(8, s.time, testing::kFrameTime, s.key, s.bytes.data(), s.bytes.size()),
        kOk);
    if (sink.flushed_sizes.size() != flushes) {
      flushes = sink.flushed_sizes.size();
      const size_t flushed = sink.flushed_sizes.back();
      const AsfFile f =
          ReadAsfFile({sink.bytes.begin(), sink.bytes.begin() + static_cast<std::ptrdiff_t>(flushed)});
      ASSERT_EQ(f.error, "") << "flush at sample " << i;
      EXPECT_FALSE(f.trailing_bytes) << "flushes hand over whole packets";
      in_file = f.samples.size();
    }
    const uint64_t end = s.time + testing::kFrameTime;
    ASSERT_TRUE(in_file > i || samples[in_file].time + 10'000'000 >= end)
        << "after sample " << i << ", sample " << in_file << " is older than 1 s and unflushed";
  }
  // One or two flushes per second of media (a flush leaves the packet being
  // filled pending), not one per packet.
  const uint64_t seconds = samples.back().time / 10'000'000;
  EXPECT_LE(sink.flushed_sizes.size(), 2 * seconds + 3);
  // Padding only where the stream fell far below its declared rate.
  ASSERT_EQ(muxer.End(), kOk);
  const AsfFile f = ReadAsfFile(sink.bytes);
  ASSERT_EQ(f.error, "");
  size_t padded = 0;
  for (const auto& p : f.packets) padded += p.padding > muxer.packet_size() / 2 ? 1u : 0u;
  if (c.gap_every == 0 && c.min_size >= 5'000) {
    EXPECT_LE(padded, 1u) << "packet size " << muxer.packet_size();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rates, CrashBoundTest,
    ::testing::Values(
        // 5-30 KB samples against the 4,055,040 bit/s a 704 x 576 stream declares.
        CrashBoundCase{"typical", 4'055'040, 5'000, 30'000, 0},
        // Far below the declared rate: packets of 64000 bytes would take 3 s to fill.
        CrashBoundCase{"below_rate", 4'055'040, 100, 1'000, 0},
        CrashBoundCase{"low_rate", 64'000, 100, 500, 0},
        CrashBoundCase{"no_rate", 0, 200, 2'000, 0},
        CrashBoundCase{"gaps", 512'000, 1'000, 4'000, 60}),
    [](const auto& test) { return std::string(test.param.name); });

struct PacketSizeCase {
  std::vector<uint32_t> bitrates;
  uint32_t packet_size;
};

class ChosenPacketSizeTest : public ::testing::TestWithParam<PacketSizeCase> {};

TEST_P(ChosenPacketSizeTest, PacketFillsInAQuarterSecondWithinBounds) {
  FileInfo info = testing::VideoFileInfo();
  info.streams[0].bitrate = GetParam().bitrates[0];
  if (GetParam().bitrates.size() > 1) {
    testing::AddAudioStream(info);
    info.streams[1].bitrate = GetParam().bitrates[1];
  }
  MemorySink sink;
  Muxer muxer(sink, info);
  ASSERT_EQ(muxer.Begin(), kOk);
  EXPECT_EQ(muxer.packet_size(), GetParam().packet_size);
  EXPECT_EQ(ReadAsfFile(sink.bytes).packet_size, GetParam().packet_size);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, ChosenPacketSizeTest,
    ::testing::Values(PacketSizeCase{{4'055'040}, 64'000},         // 126,720 a quarter second
                      PacketSizeCase{{2'048'000}, 64'000},         // 64,000 exactly
                      PacketSizeCase{{1'000'000}, 31'300},         // 31,250, rounded up
                      PacketSizeCase{{512'000, 128'000}, 20'000},  // the streams summed
                      PacketSizeCase{{102'400}, 3'200},            // exactly the smallest
                      PacketSizeCase{{8'000}, 3'200},              // below it
                      PacketSizeCase{{0}, 64'000},                 // no rate declared
                      PacketSizeCase{{0xFFFFFFFFu, 0xFFFFFFFFu}, 64'000}));

TEST(MuxerTest, MuxerDestroyedWithoutEndLeavesAnUnfinishedReadableFile) {
  std::mt19937 rng(31);
  const std::vector<Sample> samples = testing::VideoSamples(rng, 60, 100, 50'000);
  const AsfFile f = ReadAsfFile(testing::MuxedFile(testing::VideoFileInfo(), samples, false));
  ASSERT_EQ(f.error, "");
  EXPECT_FALSE(f.trailing_bytes);
  EXPECT_EQ(f.flags, 1u);
  EXPECT_EQ(f.packet_count + f.play_duration + f.file_size, 0u);
  EXPECT_EQ(f.data_size, 50u);  // the Data Object's own header: readers insist on a size
  EXPECT_TRUE(f.indexes.empty());
  ExpectSamplesMatch(f, samples, samples.size());
}

}  // namespace
}  // namespace kestrum::asf
