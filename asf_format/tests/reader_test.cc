// The reader as a table: damage done to a file the muxer wrote, and what
// the reader says of it; read past damage (ReadChecks::kDamage), every
// problem in order and the whole samples it still gets, and held to the
// muxer's layout (kLayout), the first problem.
//
// The file: 20 samples of 1944 bytes in packets of 1000, each in two
// single-payload packets of its own (sample i, from 0, in packets 2i and
// 2i + 1), then one of 100 bytes, alone in a multiple-payload packet (40).
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/packet_layout.h"
#include "asf_format/reader.h"
#include "asf_format/tests/test_support.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

const std::vector<uint8_t>& File(bool ended) {
  static const std::array<std::vector<uint8_t>, 2> files = [] {
    std::mt19937 rng(34);
    std::vector<testing::Sample> samples = testing::VideoSamples(rng, 20, 1944, 1944);
    samples.push_back(
        {testing::kVideoStream, 20 * testing::kFrameTime, false, testing::RandomBytes(rng, 100)});
    const FileInfo info = testing::VideoFileInfo(1000);
    return std::array{testing::MuxedFile(info, samples, true, true),
                      testing::MuxedFile(info, samples)};
  }();
  return files[ended ? 1 : 0];
}

const AsfFile& Whole() {
  static const AsfFile file = ReadAsfFile(File(true));
  return file;
}
size_t Packet(uint64_t k) {
  return static_cast<size_t>(Whole().data_offset + kDataObjectHeaderSize + k * 1000);
}
size_t Object(const Guid& guid) { return static_cast<size_t>(Whole().Find(guid)->offset); }

struct DamageCase {
  const char* name;
  void (*damage)(std::vector<uint8_t>& bytes);  // to the ended file
  // In order, a line each; or why the file is refused. {end}: its size undamaged.
  std::string problems;
  size_t whole_samples;
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

const DamageCase kDamageCases[] = {
    {"CutInsideASample", [](auto& b) { b.resize(Packet(5) + 100); },
     "data object size does not match the file\n100 bytes of a cut packet at the end\n"
     "sample 3 of stream 8 is cut: 972 of its 1944 bytes are in the file\n",
     2},
    // Sample 3 began in packet 6, so sample 4 is the fourth its stream began.
    {"PacketsThatDoNotParseToldOnce",
     [](auto& b) {
       store_u16le(b.data() + Packet(6) + kPaddingLengthOffset, 0xFFFF);
       store_u16le(b.data() + Packet(9) + kPaddingLengthOffset, 0xFFFF);
     },
     "packet 6 does not parse\n"
     "sample 4 of stream 8 is cut: 972 of its 1944 bytes are in the file\n",
     19},
    {"NotAsf", [](auto& b) { b[0] ^= 1; }, "no ASF header object\n", 0},
    {"HeaderPastTheFile", [](auto& b) { store_u64le(b.data() + kObjectSizeOffset, 1u << 30); },
     "ASF header object size 1073741824 is impossible\n", 0},
    {"HeaderChildOfNoSize",
     [](auto& b) { store_u64le(b.data() + kHeaderObjectFixedSize + kObjectSizeOffset, 0); },
     "header object at offset 30 has a bad size\nno usable fixed packet size\n", 0},
    {"NoDataObject", [](auto& b) { b[static_cast<size_t>(Whole().data_offset)] ^= 1; },
     "no data object after the header\n", 0},
    {"ContentDescriptionPastItsObject",
     [](auto& b) { b[Object(kContentDescriptionObject) + kObjectHeaderSize + 1] = 0xFF; },
     "content description strings run past the object\n", 21},
    {"VideoFormatPastItsObject",
     [](auto& b) { b[Object(kStreamPropertiesObject) + kTypeSpecificLengthOffset + 1] = 0xFF; },
     "video format of stream 8 too short\n", 21},
    {"PacketSizesDiffer",
     [](auto& b) { ++b[Object(kFilePropertiesObject) + kFilePropertiesMaxPacketOffset]; },
     "no usable fixed packet size\n", 0},
    {"ObjectOfBadSizeAfterTheIndex", [](auto& b) { b.insert(b.end(), kObjectHeaderSize, 0xFF); },
     "object at offset {end} has a bad size\n", 21},
};

class ReaderDamageTest : public ::testing::TestWithParam<DamageCase> {};

TEST_P(ReaderDamageTest, ToldInOrderAndReadPast) {
  std::vector<uint8_t> bytes = File(true);
  std::string want = GetParam().problems;
  if (const size_t at = want.find("{end}"); at != std::string::npos) {
    want.replace(at, 5, std::to_string(bytes.size()));
  }
  GetParam().damage(bytes);
  MemorySource source(bytes.data(), bytes.size());
  Reader reader(source);
  const bool opened = reader.Open();
  size_t whole = 0;
  for (MediaObject sample; opened && reader.NextSample(&sample);) whole += sample.cut ? 0 : 1;
  std::string said = opened ? "" : reader.error() + "\n";
  for (const std::string& problem : reader.problems()) said += problem + "\n";
  EXPECT_EQ(said, want);
  EXPECT_EQ(whole, GetParam().whole_samples);
}

INSTANTIATE_TEST_SUITE_P(Damage, ReaderDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& test) { return std::string(test.param.name); });

struct LayoutCase {
  const char* name;
  bool ended;
  void (*damage)(std::vector<uint8_t>& bytes);
  const char* first_problem;  // "": none
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

const LayoutCase kLayoutCases[] = {
    {"NeverEndedMayEndInACutSample", false, [](auto& b) { b.resize(Packet(5) + 100); }, ""},
    {"EndedCutInItsPackets", true, [](auto& b) { b.resize(Packet(5) + 100); },
     "data size past the end"},
    {"ErrorCorrection", true, [](auto& b) { b[Packet(3) + 1] = 1; }, "packet 3: error correction"},
    {"ReplicatedData", true,
     [](auto& b) { b[Packet(2) + kPacketHeaderSize + kPayloadReplicatedSizeOffset] = 7; },
     "packet 2: replicated data"},
    {"Padding", true, [](auto& b) { b[Packet(41) - 1] = 1; }, "packet 40: non-zero padding"},
    {"HeaderReserved", true, [](auto& b) { b[kHeaderObjectReservedOffset] = 0; },
     "header reserved bytes"},
    {"HeaderObjectCount", true, [](auto& b) { ++b[kHeaderObjectCountOffset]; },
     "header object count"},
    {"DataReserved", true,
     [](auto& b) { b[static_cast<size_t>(Whole().data_offset + kDataObjectReservedOffset)] = 0; },
     "data reserved"},
    {"FileIds", true,
     [](auto& b) { b[static_cast<size_t>(Whole().data_offset + kFileIdOffset)] ^= 1; },
     "file IDs differ"},
    {"IndexPastThePackets", true,
     [](auto& b) {
       b[static_cast<size_t>(Whole().indexes[0].offset + kSimpleIndexFixedSize)] = 41;
     },
     "index entry past the packets"},
};

class ReaderLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ReaderLayoutTest, FirstProblem) {
  std::vector<uint8_t> bytes = File(GetParam().ended);
  GetParam().damage(bytes);
  EXPECT_EQ(ReadAsfFile(bytes).error, GetParam().first_problem);
}

INSTANTIATE_TEST_SUITE_P(Layout, ReaderLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kestrum::asf
