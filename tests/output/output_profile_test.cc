#include "output/output_profile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "support/fake_wm.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeWm;
using testing::GuidText;

// An instance holding a picture size and a stream header whose declared rate
// is rate_factor x rate_base.
void SetPicture(RecordInstance& instance, int32_t width, int32_t height, uint16_t rate_factor,
                uint32_t rate_base) {
  for (size_t i = 0; i < kFileHeaderSize; ++i)
    instance.stream_header.file_header[i] = static_cast<uint8_t>(0xA0 + i);
  store_u16le(instance.stream_header.file_header + kFileHeaderRateFactorOffset, rate_factor);
  store_u32le(instance.stream_header.file_header + kFileHeaderRateBaseOffset, rate_base);
  instance.stream_header.picture_width = width;
  instance.stream_header.picture_height = height;
}

TEST(ConfigureProfileTest, VideoStreamCallsInOrder) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  wm.calls.clear();
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  EXPECT_THAT(wm.calls,
              ElementsAre("CreateEmptyProfile(0x90000)",
                          "CreateNewStream({73646976-0000-0010-8000-00AA00389B71})",
                          "QueryInterface(IWMMediaProps)", "GetPropertyByName(_COMPLEXITYEX,2)",
                          "SetProperty(_COMPLEXITYEX,5,3,2)", "SetProperty(_VBRENABLED,3,1,4)",
                          "SetProperty(_VBRQUALITY,0,97,4)", "SetProperty(_RMAX,0,0,4)",
                          "SetProperty(_BMAX,0,0,4)", "SetQuality(100)",
                          "SetMaxKeyFrameSpacing(20000000)",
                          "SetMediaType({73646976-0000-0010-8000-00AA00389B71})",
                          "SetBitrate(1013760)", "SetBufferWindow(3000)", "SetStreamNumber(8)",
                          "AddStream()"));
  // Everything but the profile and the profile manager was given back.
  EXPECT_EQ(wm.live_objects, 2);
}

TEST(ConfigureProfileTest, VideoMediaTypeAndFormatBlockFieldByField) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 704, 576, 0, 12345);  // declared rate 0: estimated
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  ASSERT_EQ(wm.profile_streams.size(), 1u);
  const auto& stream = wm.profile_streams[0];
  EXPECT_EQ(stream.number, 8);
  EXPECT_EQ(stream.bitrate, 4055040u);
  EXPECT_EQ(stream.buffer_window, 3000u);
  EXPECT_EQ(stream.quality, 100u);
  EXPECT_EQ(stream.max_key_frame_spacing, 20000000);
  const WM_MEDIA_TYPE& type = stream.media_type;
  EXPECT_EQ(GuidText(type.majortype), "{73646976-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidText(type.subtype), "{34565158-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidText(type.formattype), "{05589F80-C356-11CE-BF01-00AA0055595A}");
  EXPECT_EQ(type.bFixedSizeSamples, TRUE);
  EXPECT_EQ(type.bTemporalCompression, TRUE);
  EXPECT_EQ(type.lSampleSize, 0u);
  EXPECT_EQ(type.pUnk, nullptr);
  ASSERT_EQ(type.cbFormat, 128u);
  const uint8_t* b = stream.format.data();
  EXPECT_EQ(load_u32le(b + 0), 0u);
  EXPECT_EQ(load_u32le(b + 4), 0u);
  EXPECT_EQ(load_u32le(b + 8), 704u);
  EXPECT_EQ(load_u32le(b + 12), 576u);
  EXPECT_EQ(load_u32le(b + 16), 0u);
  EXPECT_EQ(load_u32le(b + 20), 0u);
  EXPECT_EQ(load_u32le(b + 24), 704u);
  EXPECT_EQ(load_u32le(b + 28), 576u);
  EXPECT_EQ(load_u32le(b + 32), 4055040u);  // the estimate is left in dwBitRate
  EXPECT_EQ(load_u32le(b + 36), 0u);
  EXPECT_EQ(load_u64le(b + 40), 400000u);
  EXPECT_EQ(load_u32le(b + 48), 40u);
  EXPECT_EQ(load_u32le(b + 52), 704u);
  EXPECT_EQ(load_u32le(b + 56), 576u);
  EXPECT_EQ(load_u16le(b + 60), 1u);
  EXPECT_EQ(load_u16le(b + 62), 24u);
  EXPECT_EQ(std::memcmp(b + 64, "XQV4", 4), 0);
  EXPECT_EQ(load_u32le(b + 68), 704u * 576u);
  for (int offset = 72; offset < 88; offset += 4) EXPECT_EQ(load_u32le(b + offset), 0u);
  EXPECT_EQ(std::memcmp(b + 88, instance.stream_header.file_header, 40), 0);
}

struct RateCase {
  uint16_t rate_factor;
  uint32_t rate_base;
  int32_t width, height;
  uint32_t expected;
};

class DeclaredRateTest : public ::testing::TestWithParam<RateCase> {};

TEST_P(DeclaredRateTest, BitRateIsDeclaredProductOrTenTimesPixels) {
  const RateCase& c = GetParam();
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, c.width, c.height, c.rate_factor, c.rate_base);
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  ASSERT_EQ(wm.profile_streams.size(), 1u);
  EXPECT_EQ(wm.profile_streams[0].bitrate, c.expected);
  EXPECT_EQ(load_u32le(wm.profile_streams[0].format.data() + 32), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, DeclaredRateTest,
    ::testing::Values(RateCase{8, 64000, 704, 576, 512000},       // declared, whatever the size
                      RateCase{0xFFFF, 0xFFFFFFFF, 352, 288, 0xFFFF0001u},  // modulo 2^32
                      RateCase{0, 500000, 352, 288, 1013760},    // zero factor
                      RateCase{7, 0, 704, 576, 4055040},         // zero base
                      RateCase{0x100, 0x01000000, 176, 144, 253440}));  // wraps to 0

TEST(ConfigureProfileTest, AudioStreamComesFirstWhenEnabled) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  instance.session.audio_enabled = 1;
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  ASSERT_EQ(wm.profile_streams.size(), 2u);
  const auto& audio = wm.profile_streams[0];
  EXPECT_EQ(audio.number, 6);
  EXPECT_EQ(audio.buffer_window, 3000u);
  EXPECT_EQ(GuidText(audio.stream_type), "{73647561-0000-0010-8000-00AA00389B71}");
  // 16 bits x 2 channels x 8000 Hz, and nAvgBytesPerSec filled in before the
  // media type was set.
  EXPECT_EQ(audio.bitrate, 256000u);
  ASSERT_GE(audio.format.size(), 16u);
  EXPECT_EQ(load_u32le(audio.format.data() + 8), 32000u);
  EXPECT_EQ(wm.profile_streams[1].number, 8);
  EXPECT_EQ(wm.live_objects, 2);  // the audio format block and configs are gone
}

TEST(ConfigureProfileTest, AudioOnlyProfileReturnsItsAddStream) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  instance.session.audio_enabled = 1;
  instance.session.video_enabled = 0;
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  ASSERT_EQ(wm.profile_streams.size(), 1u);
  EXPECT_EQ(wm.profile_streams[0].number, 6);
}

TEST(ConfigureProfileTest, WithoutProfileManagerFailsAndKeepsProfile) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  IWMProfile* kept = instance.session.profile;
  instance.session.profile_manager->Release();
  instance.session.profile_manager = nullptr;
  EXPECT_EQ(instance.ConfigureProfile(), E_FAIL);
  EXPECT_EQ(instance.session.profile, kept);
}

TEST(ConfigureProfileTest, SecondCallReleasesTheFirstProfile) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  ASSERT_EQ(instance.ConfigureProfile(), S_OK);
  EXPECT_EQ(wm.profiles_created, 2);
  EXPECT_EQ(wm.live_objects, 2);
}

TEST(ConfigureProfileTest, StreamIsAddedWithoutVaultOrVideoProps) {
  FakeWm wm;
  wm.offer_property_vault = false;
  wm.offer_video_media_props = false;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  wm.FailNext("AddStream", static_cast<HRESULT>(0x80040001));
  EXPECT_EQ(instance.ConfigureProfile(), static_cast<HRESULT>(0x80040001));
  EXPECT_EQ(wm.CountCalls("SetProperty"), 0u);
  EXPECT_EQ(wm.CountCalls("SetQuality"), 0u);
  EXPECT_EQ(wm.CountCalls("SetMediaType"), 1u);
  EXPECT_EQ(wm.live_objects, 2);
}

class ConfigureFailureTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ConfigureFailureTest, FailingCallEndsWithItsCodeAndReleasesWhatIsHeld) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  const auto failure = static_cast<HRESULT>(0x80070000 | 42);
  wm.FailNext(GetParam(), failure);
  EXPECT_EQ(instance.ConfigureProfile(), failure);
  // Only the profile manager and (after it was created) the profile remain.
  EXPECT_EQ(wm.live_objects, instance.session.profile != nullptr ? 2 : 1);
  EXPECT_TRUE(wm.profile_streams.empty());
}

INSTANTIATE_TEST_SUITE_P(Calls, ConfigureFailureTest,
                         ::testing::Values("CreateEmptyProfile", "CreateNewStream",
                                           "QueryInterface", "SetMediaType", "AddStream"));

TEST(ConfigureProfileTest, IgnoredResultsDoNotStopTheStream) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  SetPicture(instance, 352, 288, 0, 0);
  for (const char* call : {"GetPropertyByName", "SetProperty", "SetQuality",
                           "SetMaxKeyFrameSpacing", "SetBitrate", "SetBufferWindow"}) {
    wm.FailNext(call);
  }
  EXPECT_EQ(instance.ConfigureProfile(), S_OK);
  EXPECT_EQ(wm.profile_streams.size(), 1u);
}

// A VIDEOINFOHEADER media type for EstimateVideoBitrate.
struct VideoType {
  uint8_t block[kVideoFormatSize] = {};
  WM_MEDIA_TYPE type{};
  VideoType(const GUID& subtype, int64_t frame_time, uint32_t bitrate, uint16_t bits,
            int32_t width, int32_t height) {
    type.majortype = kWmMediaTypeVideo;
    type.subtype = subtype;
    type.formattype = kWmFormatVideoInfo;
    type.cbFormat = kVideoFormatSize;
    type.pbFormat = block;
    store_u32le(block + 32, bitrate);
    store_u64le(block + 40, static_cast<uint64_t>(frame_time));
    store_u32le(block + 52, static_cast<uint32_t>(width));
    store_u32le(block + 56, static_cast<uint32_t>(height));
    store_u16le(block + 62, bits);
  }
};

constexpr GUID kRgb24 = {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID kI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

TEST(EstimateVideoBitrateTest, UncompressedCountsBitsPerPixel) {
  VideoType v(kRgb24, 400000, 0, 24, 320, 240);
  EXPECT_EQ(EstimateVideoBitrate(&v.type), 46080000u);
  EXPECT_EQ(load_u32le(v.block + 32), 46080000u);
}

TEST(EstimateVideoBitrateTest, NonPositiveFrameTimeBecomes25FramesPerSecond) {
  VideoType v(kI420, -5, 0, 12, 100, 10);
  EXPECT_EQ(EstimateVideoBitrate(&v.type), 10000u);  // 1000 pixels x 25 x 0.4
  EXPECT_EQ(load_u64le(v.block + 40), 400000u);
  // Replaced even when a bit rate is already declared.
  VideoType declared(kI420, 0, 777, 12, 100, 10);
  EXPECT_EQ(EstimateVideoBitrate(&declared.type), 777u);
  EXPECT_EQ(load_u64le(declared.block + 40), 400000u);
}

TEST(EstimateVideoBitrateTest, FrameRateComesFromFrameTime) {
  VideoType v(kI420, 1000000, 0, 12, 100, 10);  // 10 frames per second
  EXPECT_EQ(EstimateVideoBitrate(&v.type), 4000u);
}

TEST(EstimateVideoBitrateTest, OtherFormatTypeGivesFixedRateAndWritesNothing) {
  VideoType v(kRgb24, 0, 0, 24, 320, 240);
  v.type.formattype = kWmFormatWaveFormatEx;
  uint8_t before[kVideoFormatSize];
  std::memcpy(before, v.block, sizeof before);
  EXPECT_EQ(EstimateVideoBitrate(&v.type), 500000u);
  EXPECT_THAT(v.block, ElementsAreArray(before));
}

TEST(IsUncompressedSubtypeTest, TheFourteenSubtypesAndNoOthers) {
  WM_MEDIA_TYPE type{};
  const uint32_t rgb[] = {0xE436EB7E, 0xE436EB7D, 0xE436EB7B, 0xE436EB7C,
                          0xE436EB7A, 0xE436EB79, 0xE436EB78};
  for (uint32_t d1 : rgb) {
    type.subtype = kRgb24;
    type.subtype.Data1 = d1;
    EXPECT_EQ(IsUncompressedSubtype(&type), 1) << std::hex << d1;
  }
  const uint32_t fourccs[] = {0x56555949, 0x59565955, 0x32595559, 0x32315659,
                              0x39555659, 0x55595659, 0x00000001};
  for (uint32_t d1 : fourccs) {
    type.subtype = kWmMediaSubtypeBase;
    type.subtype.Data1 = d1;
    EXPECT_EQ(IsUncompressedSubtype(&type), 1) << std::hex << d1;
  }
  for (uint32_t d1 : {0x30323449u /* I420 */, 0x32323450u /* P422 */, 0x34565158u /* XQV4 */}) {
    type.subtype = kWmMediaSubtypeBase;
    type.subtype.Data1 = d1;
    EXPECT_EQ(IsUncompressedSubtype(&type), 0) << std::hex << d1;
  }
}

}  // namespace
}  // namespace kestrum
