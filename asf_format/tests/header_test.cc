// Header objects: GUID bytes, each object's fields, the unfinished and the
// finished header, and what FileInfo the header refuses.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "asf_format/tests/test_support.h"
#include "asf_format/reader.h"
#include "asf_format/objects.h"
#include "asf_format/header.h"
#include "asf_format/status.h"

namespace kestrum::asf {
namespace {

using testing::GuidFromText;

struct GuidCase {
  Guid guid;
  std::vector<uint8_t> on_disk;  // the format table's byte column
};

class GuidBytesTest : public ::testing::TestWithParam<GuidCase> {};

TEST_P(GuidBytesTest, StoresTheTableBytes) {
  uint8_t out[16];
  StoreGuid(out, GetParam().guid);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 16), GetParam().on_disk);
  EXPECT_EQ(LoadGuid(out), GetParam().guid);
}

INSTANTIATE_TEST_SUITE_P(
    AsfObjects, GuidBytesTest,
    ::testing::Values(GuidCase{kHeaderObject,
                               {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00,
                                0xAA, 0x00, 0x62, 0xCE, 0x6C}},
                      GuidCase{kFilePropertiesObject,
                               {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00,
                                0xC0, 0x0C, 0x20, 0x53, 0x65}},
                      GuidCase{kStreamPropertiesObject,
                               {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00,
                                0xC0, 0x0C, 0x20, 0x53, 0x65}},
                      GuidCase{kHeaderExtensionObject,
                               {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11, 0x8E, 0xE3, 0x00,
                                0xC0, 0x0C, 0x20, 0x53, 0x65}},
                      GuidCase{kHeaderExtensionReserved1,
                               {0x11, 0xD2, 0xD3, 0xAB, 0xBA, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00,
                                0xC0, 0x0C, 0x20, 0x53, 0x65}},
                      GuidCase{kExtendedStreamPropertiesObject,
                               {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43, 0x83, 0x99, 0xA9,
                                0x69, 0x52, 0x06, 0x5B, 0x5A}},
                      GuidCase{kContentDescriptionObject,
                               {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00,
                                0xAA, 0x00, 0x62, 0xCE, 0x6C}},
                      GuidCase{kStreamBitratePropertiesObject,
                               {0xCE, 0x75, 0xF8, 0x7B, 0x8D, 0x46, 0xD1, 0x11, 0x8D, 0x82, 0x00,
                                0x60, 0x97, 0xC9, 0xA2, 0xB2}},
                      GuidCase{kDataObject,
                               {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00,
                                0xAA, 0x00, 0x62, 0xCE, 0x6C}},
                      GuidCase{kSimpleIndexObject,
                               {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00,
                                0xA0, 0xC9, 0x03, 0x49, 0xCB}},
                      GuidCase{kVideoMedia,
                               {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                0x80, 0x5F, 0x5C, 0x44, 0x2B}},
                      GuidCase{kAudioMedia,
                               {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                0x80, 0x5F, 0x5C, 0x44, 0x2B}},
                      GuidCase{kNoErrorCorrection,
                               {0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B, 0xCF, 0x11, 0xA8, 0xFD, 0x00,
                                0x80, 0x5F, 0x5C, 0x44, 0x2B}}));

// The header alone, walked as a file without packets.
// The header as the reader sees it, with its bytes.
struct HeaderFile : AsfFile {
  std::vector<uint8_t> bytes;
};

HeaderFile WalkHeader(const FileInfo& info, const HeaderTotals& totals, uint32_t packet_size) {
  HeaderFile f;
  f.bytes = BuildHeader(info, packet_size, totals);
  static_cast<AsfFile&>(f) = ReadAsfFile(f.bytes);
  return f;
}

bool GuidIs(const std::vector<uint8_t>& b, uint64_t at, const char* text) {
  return at + kGuidSize <= b.size() && LoadGuid(b.data() + at) == GuidFromText(text);
}

TEST(HeaderTest, HasTheSizesOfAKnownGoodFile) {
  // A reference file with this title and description measured 551 bytes:
  // 30 + FP 104 + SP 169 + Header Extension 134 (ESP 88) + CD 82 + SBP 32.
  const HeaderFile f = WalkHeader(testing::VideoFileInfo(), {}, 3200);
  ASSERT_EQ(f.error, "");
  ASSERT_EQ(f.header_children.size(), 5u);
  EXPECT_EQ(f.data_offset, 551u);
  const uint64_t sizes[] = {104, 169, 134, 82, 32};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(f.header_children[i].size, sizes[i]) << i;
  ASSERT_EQ(f.extension_children.size(), 1u);
  EXPECT_EQ(f.extension_children[0].size, 88u);
}

TEST(HeaderTest, VideoStreamPropertiesCarryTheFormatVerbatim) {
  const FileInfo info = testing::VideoFileInfo();
  const HeaderFile f = WalkHeader(info, {}, 3200);
  const auto* sp = f.Find(GuidFromText("B7DC0791-A9B7-11CF-8EE6-00C00C205365"));
  ASSERT_NE(sp, nullptr);
  const uint8_t* p = f.bytes.data() + sp->offset;
  EXPECT_TRUE(GuidIs(f.bytes, sp->offset + 24, "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B"));
  EXPECT_TRUE(GuidIs(f.bytes, sp->offset + 40, "20FB5700-5B55-11CF-A8FD-00805F5C442B"));
  EXPECT_EQ(load_u32le(p + 64), 91u);  // type-specific data: 11 + 80
  EXPECT_EQ(load_u32le(p + 68), 0u);
  EXPECT_EQ(load_u16le(p + 72), 8u);
  EXPECT_EQ(load_u32le(p + 78), 704u);
  EXPECT_EQ(load_u32le(p + 82), 576u);
  EXPECT_EQ(p[86], 2u);
  EXPECT_EQ(load_u16le(p + 87), 80u);
  EXPECT_EQ(std::vector<uint8_t>(p + 89, p + 169), info.streams[0].format);
}

TEST(HeaderTest, AudioStreamPropertiesCarryTheWaveFormatVerbatim) {
  FileInfo info = testing::VideoFileInfo();
  testing::AddAudioStream(info);
  const HeaderFile f = WalkHeader(info, {}, 3200);
  ASSERT_EQ(f.error, "");
  const auto* audio = &f.header_children[2];
  ASSERT_TRUE(GuidIs(f.bytes, audio->offset + 24, "F8699E40-5B4D-11CF-A8FD-00805F5C442B"));
  const uint8_t* p = f.bytes.data() + audio->offset;
  EXPECT_EQ(audio->size, 78u + 20u);
  EXPECT_EQ(load_u32le(p + 64), 20u);
  EXPECT_EQ(load_u16le(p + 72), 6u);
  EXPECT_EQ(std::vector<uint8_t>(p + 78, p + 98), info.streams[1].format);
  // One Extended Stream Properties and one bitrate record per stream.
  ASSERT_EQ(f.extension_children.size(), 2u);
  EXPECT_EQ(load_u16le(f.bytes.data() + f.extension_children[1].offset + 72), 6u);
  const auto* sbp = f.Find(GuidFromText("7BF875CE-468D-11D1-8D82-006097C9A2B2"));
  ASSERT_NE(sbp, nullptr);
  EXPECT_EQ(load_u16le(f.bytes.data() + sbp->offset + 24), 2u);
  EXPECT_EQ(load_u32le(f.bytes.data() + sbp->offset + 34), 128'000u);
}

TEST(HeaderTest, ContentDescriptionWritesEachStringWithItsTerminator) {
  FileInfo info = testing::VideoFileInfo();
  info.title = u"T\u00e9";
  info.author.clear();
  info.copyright = u"C";
  info.description.clear();
  info.rating = u"R5";
  const HeaderFile f = WalkHeader(info, {}, 3200);
  const auto* cd = f.Find(GuidFromText("75B22633-668E-11CF-A6D9-00AA0062CE6C"));
  ASSERT_NE(cd, nullptr);
  const uint8_t* p = f.bytes.data() + cd->offset;
  EXPECT_EQ(load_u16le(p + 24), 6u);
  EXPECT_EQ(load_u16le(p + 26), 0u);
  EXPECT_EQ(load_u16le(p + 28), 4u);
  EXPECT_EQ(load_u16le(p + 30), 0u);
  EXPECT_EQ(load_u16le(p + 32), 6u);
  const std::vector<uint8_t> strings = {'T', 0, 0xE9, 0, 0, 0, 'C', 0, 0, 0, 'R', 0, '5', 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(p + 34, p + cd->size), strings);
}

TEST(HeaderTest, UnfinishedHeaderIsBroadcastWithZeroTotals) {
  HeaderTotals totals;  // as Begin writes it, whatever the other fields hold
  totals.file_size = 1234;
  totals.data_packets = 7;
  totals.play_duration = 99;
  totals.max_object_size = {5000};
  const HeaderFile f = WalkHeader(testing::VideoFileInfo(), totals, 3200);
  EXPECT_EQ(f.flags, 1u);
  EXPECT_EQ(f.file_size + f.packet_count + f.play_duration + f.send_duration, 0u);
  EXPECT_EQ(f.data_packet_count, 0u);
  EXPECT_EQ(f.data_size, 50u);  // its own header's size
  EXPECT_EQ(f.preroll, 3000u);
  EXPECT_EQ(f.packet_size, 3200u);
  EXPECT_EQ(load_u32le(f.bytes.data() + f.extension_children[0].offset + 64), 5000u);
}

TEST(HeaderTest, FinishedHeaderHasTheTotalsAndTheSameLength) {
  const FileInfo info = testing::VideoFileInfo();
  HeaderTotals totals;
  totals.finished = true;
  totals.seekable = true;
  totals.file_size = 1'000'000;
  totals.data_packets = 300;
  totals.play_duration = 130'000'000;
  totals.send_duration = 100'000'000;
  totals.max_object_size = {77'777};
  const HeaderFile f = WalkHeader(info, totals, 3200);
  EXPECT_EQ(f.bytes.size(), BuildHeader(info, 3200, {}).size());
  EXPECT_EQ(f.flags, 2u);
  EXPECT_EQ(f.file_size, 1'000'000u);
  EXPECT_EQ(f.packet_count, 300u);
  EXPECT_EQ(f.data_packet_count, 300u);
  EXPECT_EQ(f.data_size, 50u + 300u * 3200u);
  EXPECT_EQ(f.play_duration, 130'000'000u);
  EXPECT_EQ(f.send_duration, 100'000'000u);
  const uint8_t* esp = f.bytes.data() + f.extension_children[0].offset;
  EXPECT_EQ(load_u32le(esp + 40), 512'000u);
  EXPECT_EQ(load_u32le(esp + 44), 3000u);
  EXPECT_EQ(load_u32le(esp + 64), 77'777u);
  EXPECT_EQ(load_u16le(esp + 72), 8u);
  EXPECT_EQ(load_u64le(esp + 76), 400'000u);
}

struct InvalidCase {
  const char* name;
  void (*mutate)(FileInfo&);
  Status expected;
};

class InvalidFileInfoTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(InvalidFileInfoTest, IsRefused) {
  FileInfo info = testing::VideoFileInfo();
  ASSERT_EQ(ValidateFileInfo(info), kOk);
  GetParam().mutate(info);
  EXPECT_EQ(ValidateFileInfo(info), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InvalidFileInfoTest,
    ::testing::Values(
        InvalidCase{"NoStreams", [](FileInfo& i) { i.streams.clear(); }, kInvalidArgument},
        InvalidCase{"StreamZero", [](FileInfo& i) { i.streams[0].number = 0; }, kInvalidArgument},
        InvalidCase{"Stream128", [](FileInfo& i) { i.streams[0].number = 128; }, kInvalidArgument},
        InvalidCase{"SameNumberTwice", [](FileInfo& i) { i.streams.push_back(i.streams[0]); },
                    kInvalidArgument},
        InvalidCase{"PacketTooSmall", [](FileInfo& i) { i.packet_size = 99; }, kInvalidArgument},
        InvalidCase{"PacketTooLarge", [](FileInfo& i) { i.packet_size = 65537; }, kInvalidArgument},
        InvalidCase{"ShortVideoFormat", [](FileInfo& i) { i.streams[0].format.resize(39); },
                    kInvalidInputFormat},
        InvalidCase{"BiSizePastFormat", [](FileInfo& i) { i.streams[0].format.resize(79); },
                    kInvalidInputFormat},
        InvalidCase{"BiSizeBelow40", [](FileInfo& i) { i.streams[0].format[0] = 39; },
                    kInvalidInputFormat},
        InvalidCase{"ShortAudioFormat",
                    [](FileInfo& i) {
                      testing::AddAudioStream(i);
                      i.streams[1].format.resize(17);
                    },
                    kInvalidInputFormat},
        InvalidCase{"TitleTooLong", [](FileInfo& i) { i.title.assign(32767, u'x'); },
                    kInvalidArgument}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(HeaderTest, LongestTitleFitsItsWordLength) {
  FileInfo info = testing::VideoFileInfo();
  info.title.assign(32766, u'x');
  ASSERT_EQ(ValidateFileInfo(info), kOk);
  const HeaderFile f = WalkHeader(info, {}, 3200);
  ASSERT_EQ(f.error, "");
  EXPECT_EQ(
      load_u16le(f.bytes.data() + f.Find(GuidFromText("75B22633-668E-11CF-A6D9-00AA0062CE6C"))->offset + 24),
      65534u);
}

}  // namespace
}  // namespace kestrum::asf
