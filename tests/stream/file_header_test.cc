#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <ostream>
#include <string>

#include "api/record_instance.h"
#include "support/debug_capture.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using testing::DebugCapture;
using testing::FileHeaderBuilder;
using testing::kResolutionCodeVersion;

constexpr uint16_t kTall = 0x1001;   // base height 288
constexpr uint16_t kShort = 0x1002;  // base height 240

struct HeaderCase {
  std::string name;
  FileHeaderBuilder header;
  HRESULT result;
  int32_t width;
  int32_t height;
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class FileHeaderTest : public ::testing::TestWithParam<HeaderCase> {
 protected:
  RecordInstance instance_{WmFactories{}};
};

TEST_P(FileHeaderTest, ResultAndPictureSize) {
  const HeaderCase& c = GetParam();
  DebugCapture capture;
  // An earlier size, which every case here must overwrite.
  instance_.stream_header.picture_width = -7;
  instance_.stream_header.picture_height = -9;

  EXPECT_EQ(instance_.ParseFileHeader(c.header.data()), c.result);
  EXPECT_EQ(instance_.stream_header.picture_width, c.width);
  EXPECT_EQ(instance_.stream_header.picture_height, c.height);
  EXPECT_EQ(0, std::memcmp(instance_.stream_header.file_header, c.header.data(), kFileHeaderSize));
  EXPECT_TRUE(capture.lines().empty());
}

FileHeaderBuilder Explicit(uint16_t width, uint16_t height, uint16_t standard = kTall) {
  return FileHeaderBuilder().Version(0x20040308).VideoStandard(standard).Size(width, height);
}

FileHeaderBuilder Coded(uint32_t resolution, uint16_t standard) {
  return FileHeaderBuilder()
      .Version(kResolutionCodeVersion)
      .VideoStandard(standard)
      .Resolution(resolution);
}

INSTANTIATE_TEST_SUITE_P(
    ExplicitSize, FileHeaderTest,
    ::testing::Values(
        HeaderCase{"FirstExplicitVersion", Explicit(704, 576), S_OK, 704, 576},
        // One version below reads bytes 28..31 (0x024002C0) as a code, which
        // is not in the table.
        HeaderCase{"VersionOneBelow", Explicit(704, 576).Version(0x20040307), S_OK, 352, 288},
        HeaderCase{"VersionOneBelowShort", Explicit(704, 576, kShort).Version(0x20040307), S_OK,
                   352, 240},
        // Compared unsigned: a version with its top bit set is later, not older.
        HeaderCase{"VersionTopBitSet", Explicit(320, 200).Version(0x80000000), S_OK, 320, 200},
        HeaderCase{"VersionMax", Explicit(320, 200).Version(0xFFFFFFFF), S_OK, 320, 200},
        HeaderCase{"Doubles704x240", Explicit(704, 240), S_OK, 704, 480},
        HeaderCase{"Doubles704x288", Explicit(704, 288), S_OK, 704, 576},
        HeaderCase{"DoublingShortStandard", Explicit(704, 288, kShort), S_OK, 704, 576},
        HeaderCase{"Keeps704x480", Explicit(704, 480), S_OK, 704, 480},
        HeaderCase{"Keeps704x576", Explicit(704, 576), S_OK, 704, 576},
        HeaderCase{"NoDoubling352x240", Explicit(352, 240), S_OK, 352, 240},
        HeaderCase{"NoDoubling352x288", Explicit(352, 288), S_OK, 352, 288},
        HeaderCase{"NoDoubling704x289", Explicit(704, 289), S_OK, 704, 289},
        HeaderCase{"NoDoubling703x288", Explicit(703, 288), S_OK, 703, 288},
        HeaderCase{"Smallest", Explicit(1, 1), S_OK, 1, 1},
        // Rejected sizes stay in the instance.
        HeaderCase{"TooWide", Explicit(705, 576), E_FAIL, 705, 576},
        HeaderCase{"TooHigh", Explicit(704, 577), E_FAIL, 704, 577},
        HeaderCase{"ZeroWidth", Explicit(0, 288), E_FAIL, 0, 288},
        HeaderCase{"ZeroHeight", Explicit(352, 0), E_FAIL, 352, 0},
        HeaderCase{"WidthUnsigned", Explicit(0xFFFF, 288), E_FAIL, 65535, 288},
        HeaderCase{"HeightUnsigned", Explicit(352, 0x8000), E_FAIL, 352, 32768}),
    [](const auto& param_info) { return param_info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    ResolutionCode, FileHeaderTest,
    ::testing::Values(HeaderCase{"Code1001Tall", Coded(0x1001, kTall), S_OK, 352, 288},
                      HeaderCase{"Code1001Short", Coded(0x1001, kShort), S_OK, 352, 240},
                      HeaderCase{"Code1002Tall", Coded(0x1002, kTall), S_OK, 176, 144},
                      HeaderCase{"Code1002Short", Coded(0x1002, kShort), S_OK, 176, 120},
                      HeaderCase{"Code1003Tall", Coded(0x1003, kTall), S_OK, 704, 576},
                      HeaderCase{"Code1003Short", Coded(0x1003, kShort), S_OK, 704, 480},
                      HeaderCase{"Code1004Tall", Coded(0x1004, kTall), S_OK, 704, 576},
                      HeaderCase{"Code1004Short", Coded(0x1004, kShort), S_OK, 704, 480},
                      HeaderCase{"Code1005Tall", Coded(0x1005, kTall), S_OK, 88, 72},
                      HeaderCase{"Code1005Short", Coded(0x1005, kShort), S_OK, 88, 60},
                      HeaderCase{"Code1006Tall", Coded(0x1006, kTall), S_OK, 320, 240},
                      HeaderCase{"Code1006Short", Coded(0x1006, kShort), S_OK, 320, 240},
                      HeaderCase{"Code1007Tall", Coded(0x1007, kTall), S_OK, 160, 120},
                      HeaderCase{"Code1007Short", Coded(0x1007, kShort), S_OK, 160, 120},
                      HeaderCase{"Code1008Tall", Coded(0x1008, kTall), S_OK, 528, 384},
                      HeaderCase{"Code1008Short", Coded(0x1008, kShort), S_OK, 528, 320},
                      // Any standard other than 0x1001 means the 240-line base.
                      HeaderCase{"StandardZero", Coded(0x1003, 0), S_OK, 704, 480},
                      HeaderCase{"Standard1000", Coded(0x1002, 0x1000), S_OK, 176, 120},
                      HeaderCase{"Code0", Coded(0, kTall), S_OK, 352, 288},
                      HeaderCase{"Code1000", Coded(0x1000, kShort), S_OK, 352, 240},
                      HeaderCase{"Code1009", Coded(0x1009, kTall), S_OK, 352, 288},
                      HeaderCase{"Code2000Tall", Coded(0x2000, kTall), S_OK, 352, 288},
                      HeaderCase{"Code2000Short", Coded(0x2000, kShort), S_OK, 352, 240},
                      // The code is the whole u32: a high half makes it unknown.
                      HeaderCase{"HighHalfSetTall", Coded(0x00011003, kTall), S_OK, 352, 288},
                      HeaderCase{"HighHalfSetShort", Coded(0x80001002, kShort), S_OK, 352, 240},
                      // Sizes from codes are never rejected: a huge "width"
                      // is just an unknown code here.
                      HeaderCase{"CodeNeverRejected", Coded(0xFFFFFFFF, kTall), S_OK, 352, 288}),
    [](const auto& param_info) { return param_info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Acceptance, FileHeaderTest,
    ::testing::Values(
        HeaderCase{"StreamType1001", FileHeaderBuilder().StreamType(0x1001), S_OK, 352, 288},
        HeaderCase{"StreamType1002", FileHeaderBuilder().StreamType(0x1002), S_OK, 352, 288},
        HeaderCase{"StreamType1003", FileHeaderBuilder().StreamType(0x1003), S_OK, 352, 288}),
    [](const auto& param_info) { return param_info.param.name; });

// Headers refused for their tag or stream type: stored anyway, picture size
// untouched, whatever size they carry.
struct RefusedCase {
  std::string name;
  FileHeaderBuilder header;
};

class RefusedHeaderTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedHeaderTest, StoredButSizeKept) {
  RecordInstance instance{WmFactories{}};
  const FileHeaderBuilder accepted = FileHeaderBuilder().Size(176, 144);
  ASSERT_EQ(instance.ParseFileHeader(accepted.data()), S_OK);
  ASSERT_EQ(instance.stream_header.picture_width, 176);

  DebugCapture capture;
  const FileHeaderBuilder& refused = GetParam().header;
  EXPECT_EQ(instance.ParseFileHeader(refused.data()), E_FAIL);
  EXPECT_EQ(0, std::memcmp(instance.stream_header.file_header, refused.data(), kFileHeaderSize));
  EXPECT_EQ(instance.stream_header.picture_width, 176);
  EXPECT_EQ(instance.stream_header.picture_height, 144);
  EXPECT_TRUE(capture.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(
    TagAndStreamType, RefusedHeaderTest,
    ::testing::Values(
        RefusedCase{"TagZero", FileHeaderBuilder().Tag(0).Size(704, 576)},
        RefusedCase{"TagTwo", FileHeaderBuilder().Tag(2).Size(704, 576)},
        // The tag is compared as 32 bits, not just its low half.
        RefusedCase{"TagHighHalf", FileHeaderBuilder().Tag(0x00010001).Size(704, 576)},
        RefusedCase{"StreamType1000", FileHeaderBuilder().StreamType(0x1000).Size(704, 576)},
        RefusedCase{"StreamType1004", FileHeaderBuilder().StreamType(0x1004).Size(704, 576)},
        RefusedCase{"StreamType0", FileHeaderBuilder().StreamType(0).Size(704, 576)},
        RefusedCase{"CodedStreamType1004",
                    FileHeaderBuilder().Version(kResolutionCodeVersion).StreamType(0x1004)}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(FileHeaderStorageTest, EveryByteCarriedIncludingUnreadOnes) {
  RecordInstance instance{WmFactories{}};
  FileHeaderBuilder header;
  for (int offset : {4, 5, 6, 7, 12, 13, 14, 15, 20, 21, 32, 33, 34, 35, 36, 37, 38, 39}) {
    header.U8(static_cast<size_t>(offset), static_cast<uint8_t>(0xA0 + offset));
  }
  header.RateFactor(0xBEEF).RateBase(0xCAFEF00D);
  ASSERT_EQ(instance.ParseFileHeader(header.data()), S_OK);
  EXPECT_EQ(0, std::memcmp(instance.stream_header.file_header, header.data(), kFileHeaderSize));
}

TEST(FileHeaderStorageTest, LastHeaderWinsAndSizeFollowsIt) {
  RecordInstance instance{WmFactories{}};
  ASSERT_EQ(instance.ParseFileHeader(FileHeaderBuilder().Size(704, 288).data()), S_OK);
  EXPECT_EQ(instance.stream_header.picture_height, 576);

  // A later rejected explicit size overwrites the earlier size.
  const FileHeaderBuilder too_wide = FileHeaderBuilder().Size(800, 600);
  EXPECT_EQ(instance.ParseFileHeader(too_wide.data()), E_FAIL);
  EXPECT_EQ(instance.stream_header.picture_width, 800);
  EXPECT_EQ(instance.stream_header.picture_height, 600);

  // And a coded header afterwards sets its own.
  const FileHeaderBuilder coded =
      FileHeaderBuilder().Version(kResolutionCodeVersion).VideoStandard(kShort).Resolution(0x1005);
  EXPECT_EQ(instance.ParseFileHeader(coded.data()), S_OK);
  EXPECT_EQ(instance.stream_header.picture_width, 88);
  EXPECT_EQ(instance.stream_header.picture_height, 60);
  EXPECT_EQ(0, std::memcmp(instance.stream_header.file_header, coded.data(), kFileHeaderSize));
}

TEST(FileHeaderStorageTest, ReadsFromAnyByteAddress) {
  RecordInstance instance{WmFactories{}};
  const FileHeaderBuilder header = FileHeaderBuilder().Size(704, 240);
  std::array<uint8_t, kFileHeaderSize + 3> unaligned{};
  std::memcpy(unaligned.data() + 3, header.data(), kFileHeaderSize);
  EXPECT_EQ(instance.ParseFileHeader(unaligned.data() + 3), S_OK);
  EXPECT_EQ(instance.stream_header.picture_width, 704);
  EXPECT_EQ(instance.stream_header.picture_height, 480);
}

}  // namespace
}  // namespace kestrum
