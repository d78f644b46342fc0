// Real files through the file sink, read back by ffprobe, ffmpeg and
// mediainfo: per-sample sizes, times, key flags and bytes, stream and
// format fields, unended and killed recordings, seeking through the index.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cinttypes>
#include <map>
#include <random>
#include <sstream>

#include "asf_format/tests/test_support.h"
#include "asf_format/byte_sink.h"
#include "asf_format/muxer.h"

namespace kestrum::asf {
namespace {

using testing::Sample;

struct ProbedPacket {
  int64_t pts_ms = 0;
  size_t size = 0;
  bool key = false;
};

// Writes `samples` to `path` through the file sink; `end` false leaves the
// recording unended.
void WriteFile(const std::string& path, const FileInfo& info, const std::vector<Sample>& samples,
               bool end = true) {
  Status status = kFailed;
  std::unique_ptr<ByteSink> sink = OpenFileSink(path, &status);
  ASSERT_EQ(status, kOk);
  Muxer muxer(*sink, info);
  testing::WriteAll(muxer, samples, end);
}

std::vector<ProbedPacket> ProbePackets(const std::string& path, const std::string& options = "") {
  const std::string out = testing::RunCommand(
      "ffprobe -v error " + options +
      " -select_streams v:0 -show_entries packet=pts,size,flags -of csv=p=0 '" + path + "'");
  std::vector<ProbedPacket> packets;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    ProbedPacket p;
    char flags[8] = {};
    if (std::sscanf(line.c_str(), "%" SCNd64 ",%zu,%7s", &p.pts_ms, &p.size, flags) == 3) {
      p.key = flags[0] == 'K';
      packets.push_back(p);
    }
  }
  return packets;
}

// Every sample's bytes as ffmpeg copies them out, concatenated.
std::string CopiedBytes(const std::string& path, const std::string& before_input = "") {
  return testing::RunCommand("ffmpeg -v error " + before_input + " -i '" + path +
                             "' -map 0:0 -c copy -f data - 2>/dev/null");
}

std::map<std::string, std::string> ProbeFields(const std::string& path) {
  const std::string out = testing::RunCommand(
      "ffprobe -v error -show_entries "
      "stream=codec_tag_string,width,height,extradata_size:format=duration:format_tags "
      "-of default=nw=1 '" +
      path + "'");
  std::map<std::string, std::string> fields;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return fields;
}

// The packets must be the first `count` samples, byte for byte.
void ExpectPrefix(const std::string& path, const std::vector<Sample>& samples, size_t count) {
  const std::vector<ProbedPacket> packets = ProbePackets(path);
  ASSERT_EQ(packets.size(), count);
  std::string expected_bytes;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(packets[i].pts_ms, static_cast<int64_t>(samples[i].time / 10'000)) << i;
    EXPECT_EQ(packets[i].size, samples[i].bytes.size()) << i;
    EXPECT_EQ(packets[i].key, samples[i].key) << i;
    expected_bytes.append(samples[i].bytes.begin(), samples[i].bytes.end());
  }
  EXPECT_TRUE(CopiedBytes(path) == expected_bytes);
}

class RealFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::HaveTool("ffprobe") || !testing::HaveTool("ffmpeg")) {
      GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    }
  }
  std::mt19937 rng_{41};
};

class PacketSizeFileTest : public RealFileTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(PacketSizeFileTest, FfprobeReadsEverySampleAndTheHeader) {
  const std::string path = testing::TempPath("probe_" + std::to_string(GetParam()) + ".asf");
  std::vector<Sample> samples = testing::VideoSamples(rng_, 75, 1, 120'000);
  // One sample that fills a packet exactly (with 0, the 512 kbit/s declared
  // give 16000-byte packets).
  samples[10].bytes.resize((GetParam() == 0 ? 16000 : GetParam()) - 28);
  WriteFile(path, testing::VideoFileInfo(GetParam()), samples);
  ExpectPrefix(path, samples, samples.size());
  std::map<std::string, std::string> f = ProbeFields(path);
  EXPECT_EQ(f["codec_tag_string"], "XQV4");
  EXPECT_EQ(f["width"], "704");
  EXPECT_EQ(f["height"], "576");
  EXPECT_EQ(f["extradata_size"], "40");
  EXPECT_EQ(f["TAG:title"], "My Title");
  EXPECT_EQ(f["TAG:comment"], "My Description");
  EXPECT_EQ(f["duration"], "3.000000");  // 75 samples of 40 ms
}

INSTANTIATE_TEST_SUITE_P(Sizes, PacketSizeFileTest, ::testing::Values(0u, 65536u, 1440u));

TEST_F(RealFileTest, UnendedRecordingIsReadToItsLastSample) {
  const std::string path = testing::TempPath("unended.asf");
  const std::vector<Sample> samples = testing::VideoSamples(rng_, 60, 1'000, 40'000);
  WriteFile(path, testing::VideoFileInfo(), samples, /*end=*/false);
  ExpectPrefix(path, samples, samples.size());
}

#ifndef _WIN32  // a child process killed mid-recording
TEST_F(RealFileTest, KilledRecordingLosesOnlyItsLastSecond) {
  const std::string path = testing::TempPath("killed.asf");
  const std::vector<Sample> samples = testing::VideoSamples(rng_, 300, 5'000, 30'000);  // 12 s
  const size_t written = 280;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Status status = kFailed;
    std::unique_ptr<ByteSink> sink = OpenFileSink(path, &status);
    Muxer muxer(*sink, testing::VideoFileInfo());
    (void)muxer.Begin();
    for (size_t i = 0; i < written; ++i) {
      const Sample& s = samples[i];
      (void)muxer.WriteSample(8, s.time, testing::kFrameTime, s.key, s.bytes.data(), s.bytes.size());
    }
    ::raise(SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status));
  const size_t count = ProbePackets(path).size();
  // Every sample that began more than 1 s before the last one written ended
  // has reached the file.
  const uint64_t last_end = samples[written - 1].time + testing::kFrameTime;
  size_t surely_flushed = 0;
  while (samples[surely_flushed].time + 10'000'000 < last_end) ++surely_flushed;
  EXPECT_GE(count, surely_flushed);
  EXPECT_LE(count, written);
  ExpectPrefix(path, samples, count);
}
#endif

TEST_F(RealFileTest, SeekLandsOnTheKeyFrameAtOrBefore) {
  const std::string path = testing::TempPath("seek.asf");
  const std::vector<Sample> samples = testing::VideoSamples(rng_, 250, 10'000, 60'000);  // 10 s
  WriteFile(path, testing::VideoFileInfo(), samples);
  for (int second : {2, 5, 8}) {
    const std::vector<ProbedPacket> packets =
        ProbePackets(path, "-read_intervals " + std::to_string(second) + ".5%+0.5");
    ASSERT_FALSE(packets.empty()) << second;
    EXPECT_EQ(packets.front().pts_ms, second * 1000);
    EXPECT_TRUE(packets.front().key);
  }
  // ffmpeg -ss copies from the same key frame on.
  std::string from_five;
  for (size_t i = 125; i < samples.size(); ++i) {
    from_five.append(samples[i].bytes.begin(), samples[i].bytes.end());
  }
  EXPECT_TRUE(CopiedBytes(path, "-ss 5.5") == from_five);
}

TEST_F(RealFileTest, MediainfoReadsFormatStreamAndDuration) {
  if (!testing::HaveTool("mediainfo")) GTEST_SKIP() << "mediainfo not installed";
  const std::string path = testing::TempPath("mediainfo.asf");
  WriteFile(path, testing::VideoFileInfo(), testing::VideoSamples(rng_, 100, 1'000, 20'000));
  const std::string out = testing::RunCommand(
      "mediainfo --Inform='General;%Format%|%Duration%|%Title%' '" + path +
      "'; mediainfo --Inform='Video;%ID%|%CodecID%|%Width%|%Height%|%BitRate%' '" + path + "'");
  EXPECT_EQ(out, "Windows Media|4000|My Title\n8|XQV4|704|576|512000\n");
}

}  // namespace
}  // namespace kestrum::asf
