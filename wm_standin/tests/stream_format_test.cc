// What the writer makes of a profile's stream for the ASF header.
#include <gtest/gtest.h>

#include <vector>

#include "base/bytes.h"
#include "wm_standin/stream_format.h"
#include "wm_standin/tests/wm_fixtures.h"

namespace kestrum::testing {
namespace {

using wmsdk::DescribeStream;
using wmsdk::MediaType;
using wmsdk::ProfileStream;

ProfileStream Stream(const GUID& stream_type, WM_MEDIA_TYPE type) {
  ProfileStream stream;
  stream.stream_type = stream_type;
  stream.number = 8;
  stream.bitrate = 1013760;
  stream.buffer_window_ms = 3000;
  EXPECT_EQ(MediaType::CopyFrom(type, &stream.media_type), S_OK);
  return stream;
}

class VideoCodecDataTest : public ::testing::TestWithParam<size_t> {};

// The BITMAPINFOHEADER and everything behind it, with biSize saying how much
// that is, so that readers find the codec data.
TEST_P(VideoCodecDataTest, BitmapHeaderCarriesTheCodecData) {
  const size_t codec_bytes = GetParam();
  std::vector<uint8_t> block = VideoFormatBlock(704, 576, 0x21);
  block.resize(88 + codec_bytes, 0xC5);
  WM_MEDIA_TYPE type = VideoMediaType(block);
  asf::StreamInfo info;
  ASSERT_EQ(DescribeStream(Stream(kWmMediaTypeVideo, type), &info), S_OK);

  EXPECT_EQ(info.kind, asf::MediaKind::kVideo);
  EXPECT_EQ(info.number, 8);
  EXPECT_EQ(info.bitrate, 1013760u);
  EXPECT_EQ(info.buffer_window_ms, 3000u);
  EXPECT_EQ(info.avg_time_per_frame, 400000u);
  ASSERT_EQ(info.format.size(), 40 + codec_bytes);
  EXPECT_EQ(load_u32le(info.format.data()), 40 + codec_bytes);
  EXPECT_TRUE(std::equal(info.format.begin() + 4, info.format.end(), block.begin() + 52));
}

INSTANTIATE_TEST_SUITE_P(CodecBytes, VideoCodecDataTest, ::testing::Values(0, 40, 1000));

TEST(StreamFormatTest, NonPositiveFrameTimeIsLeftOut) {
  std::vector<uint8_t> block = VideoFormatBlock(352, 288, 1);
  store_u64le(&block[40], static_cast<uint64_t>(-400000));
  asf::StreamInfo info;
  ASSERT_EQ(DescribeStream(Stream(kWmMediaTypeVideo, VideoMediaType(block)), &info), S_OK);
  EXPECT_EQ(info.avg_time_per_frame, 0u);
}

TEST(StreamFormatTest, AudioFormatIsCarriedVerbatim) {
  std::vector<uint8_t> block = WaveFormatBlock(4);
  asf::StreamInfo info;
  ASSERT_EQ(DescribeStream(Stream(kWmMediaTypeAudio, AudioMediaType(block)), &info), S_OK);
  EXPECT_EQ(info.kind, asf::MediaKind::kAudio);
  EXPECT_EQ(info.format, block);
}

TEST(StreamFormatTest, FormatsTheFileCannotDescribeAreRefused) {
  asf::StreamInfo info;
  // cbSize announces more bytes than the block holds.
  std::vector<uint8_t> wave = WaveFormatBlock(4);
  store_u16le(&wave[16], 5);
  EXPECT_EQ(DescribeStream(Stream(kWmMediaTypeAudio, AudioMediaType(wave)), &info),
            NS_E_INVALID_INPUT_FORMAT);
  // A video media type in an audio stream.
  std::vector<uint8_t> video = VideoFormatBlock(352, 288, 1);
  ProfileStream mismatched = Stream(kWmMediaTypeVideo, VideoMediaType(video));
  mismatched.stream_type = kWmMediaTypeAudio;
  EXPECT_EQ(DescribeStream(mismatched, &info), NS_E_INVALID_INPUT_FORMAT);
  // Format data beyond what the header's 16-bit size field can say.
  video.resize(48 + 0x10000);
  EXPECT_EQ(DescribeStream(Stream(kWmMediaTypeVideo, VideoMediaType(video)), &info),
            NS_E_INVALID_INPUT_FORMAT);
  video.resize(48 + 0xFFFF);
  EXPECT_EQ(DescribeStream(Stream(kWmMediaTypeVideo, VideoMediaType(video)), &info), S_OK);
}

}  // namespace
}  // namespace kestrum::testing
