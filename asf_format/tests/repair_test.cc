// Repair as a table: a file the muxer began (ended, left by a writer killed
// after its last sample, written as a stream and never ended), what befell
// it, and what the repair keeps and says. Nothing is written but to end a
// file left unended, --check writes nothing and comes to the same, a file
// it ends is the very file the muxer ends with the samples kept, and a
// second repair finds that whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "asf_format/repair.h"
#include "asf_format/tests/test_support.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

constexpr size_t kSamples = 60;
constexpr uint64_t kNone = UINT64_MAX;

// What the muxer writes of the first `count` of 60 samples of 50 to 3000
// bytes (packets of one payload and of many, samples across packets).
std::vector<uint8_t> Muxed(uint64_t count, bool end = true, bool streamed = false) {
  static const std::vector<testing::Sample> samples = [] {
    std::mt19937 rng(3434);
    return testing::VideoSamples(rng, kSamples, 50, 3000);
  }();
  const std::vector<testing::Sample> first(samples.begin(),
                                           samples.begin() + static_cast<std::ptrdiff_t>(count));
  return testing::MuxedFile(testing::VideoFileInfo(1000), first, end, streamed);
}

const AsfFile& Ended() {
  static const AsfFile file = ReadAsfFile(Muxed(kSamples));
  return file;
}
size_t Packet(uint64_t k) {
  return static_cast<size_t>(Ended().data_offset + kDataObjectHeaderSize + k * 1000);
}

// The samples with no byte in packets `from` to `to`.
uint64_t SamplesOutside(uint64_t from, uint64_t to = kNone) {
  return static_cast<uint64_t>(std::count_if(
      Ended().samples.begin(), Ended().samples.end(),
      [&](const MediaObject& m) { return m.last_packet < from || m.first_packet > to; }));
}

enum class Source { kEnded, kKilled, kStreamed };

struct RepairCase {
  const char* name;
  Source source;
  void (*damage)(std::vector<uint8_t>& bytes);
  RepairOutcome outcome;
  // kForeign: why; kDamaged: the damage. {end}: the size undamaged, {size}
  // damaged; {packet 2}: where that packet begins; {packets}: how many.
  std::string says;
  uint64_t lost_from = kNone, lost_to = kNone;  // packets whose samples are not kept or read
  bool without_index = false;
};

void PrintTo(const RepairCase& c, std::ostream* os) { *os << c.name; }

const RepairCase kCases[] = {
    {"KilledIsEndedAsTheMuxerEndsIt", Source::kKilled, [](auto&) {}, RepairOutcome::kRepaired, ""},
    {"EndedWithoutItsIndexIsWhole", Source::kEnded,
     [](auto& b) {
       b.resize(Packet(Ended().packets.size()));
       store_u64le(b.data() + Ended().file_properties.offset + kFilePropertiesFileSizeOffset,
                   b.size());
       b[static_cast<size_t>(Ended().file_properties.offset + kFilePropertiesFlagsOffset)] =
           0;  // not Seekable
     },
     RepairOutcome::kWhole, "", kNone, kNone, true},
    {"EndedPacketNotLaidOut", Source::kEnded, [](auto& b) { b[Packet(2)] = 0; },
     RepairOutcome::kDamaged,
     "packet 2 (at byte {packet 2}) is not laid out as Kestrum's writer lays it out", 2, 2},
    {"EndedBytesAppended", Source::kEnded, [](auto& b) { b.resize(b.size() + 3000, 0x47); },
     RepairOutcome::kDamaged, "3000 bytes follow its objects, from byte {end}"},
    {"EndedIndexCutShort", Source::kEnded, [](auto& b) { b.resize(b.size() - 3); },
     RepairOutcome::kDamaged,
     "its index is cut short: the file ends at byte {size}, before the index's end at byte {end}"},
    {"EndedCutInItsPackets", Source::kEnded, [](auto& b) { b.resize(Packet(2) + 100); },
     RepairOutcome::kDamaged,
     "it ends at byte {size}, inside packet 2 of the {packets} its header counts", 2},
    // A frame time of 2^49 (1784 years) declared.
    {"IndexWouldOutweighThePackets", Source::kStreamed,
     [](auto& b) {
       b[static_cast<size_t>(Ended().Find(kExtendedStreamPropertiesObject)->offset +
                             kExtendedStreamFrameTimeOffset + 6)] = 2;
     },
     RepairOutcome::kUnbounded, "", 0},
    {"NotAsf", Source::kEnded, [](auto& b) { b[0] ^= 1; }, RepairOutcome::kForeign,
     "it has no ASF header", 0},
    {"TooShort", Source::kEnded, [](auto& b) { b.resize(60); }, RepairOutcome::kForeign,
     "it is too short for an ASF header", 0},
    {"HeaderNotTheWriters", Source::kKilled,
     // The bit rate.
     [](auto& b) {
       ++b[static_cast<size_t>(Ended().file_properties.offset + kFilePropertiesSize - 1)];
     },
     RepairOutcome::kForeign, "its header is not laid out as Kestrum's writer lays it out", 0},
};

void Replace(std::string& s, const std::string& name, uint64_t value) {
  const size_t at = s.find(name);
  if (at != std::string::npos) s.replace(at, name.size(), std::to_string(value));
}

class RepairTest : public ::testing::TestWithParam<RepairCase> {};

TEST_P(RepairTest, KeepsAndSays) {
  const RepairCase& c = GetParam();
  std::vector<uint8_t> bytes =
      Muxed(kSamples, c.source != Source::kKilled, c.source == Source::kStreamed);
  std::string says = c.says;
  Replace(says, "{end}", bytes.size());
  c.damage(bytes);
  Replace(says, "{size}", bytes.size());
  Replace(says, "{packet 2}", Packet(2));
  Replace(says, "{packets}", Ended().packets.size());
  MemoryRepairFile checked(bytes), file(bytes);
  const RepairReport check = Repair(checked, true);
  const RepairReport report = Repair(file, false);
  EXPECT_EQ(checked.writes, 0u);
  EXPECT_FALSE(checked.read_past || file.read_past);
  EXPECT_EQ(check.outcome, report.outcome);
  EXPECT_EQ(check.samples, report.samples);
  ASSERT_EQ(report.outcome, c.outcome) << report.why << report.damage;
  EXPECT_EQ(report.why + report.damage, says);
  EXPECT_EQ(report.without_index, c.without_index);
  EXPECT_EQ(report.outcome == RepairOutcome::kDamaged ? report.readable_samples : report.samples,
            SamplesOutside(c.lost_from, c.lost_to));
  if (report.outcome != RepairOutcome::kRepaired) {
    EXPECT_EQ(file.writes, 0u);
    return;
  }
  EXPECT_TRUE(file.bytes == Muxed(report.samples)) << "not as the muxer ends it";
  MemoryRepairFile again(file.bytes);
  EXPECT_EQ(Repair(again, false).outcome, RepairOutcome::kWhole);
  EXPECT_EQ(again.writes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RepairTest, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

// A stream's output saved to a file, never ended, cut at a byte anywhere
// from its first packet on, or a page of it lost to a power cut there (the
// writer noted nothing durable): ended with the samples whole in the
// packets before, as the muxer ends them.
TEST(RepairTest, CutOrPageLostIsEndedWithTheSamplesBefore) {
  const std::vector<uint8_t> streamed = Muxed(kSamples, true, true);
  const auto expect = [](std::vector<uint8_t> bytes, uint64_t packet, const std::string& what) {
    MemoryRepairFile file(std::move(bytes));
    const RepairReport report = Repair(file, false);
    ASSERT_EQ(report.outcome, RepairOutcome::kRepaired) << what;
    EXPECT_EQ(report.samples, SamplesOutside(packet)) << what;
    EXPECT_TRUE(file.bytes == Muxed(report.samples)) << what;
  };
  for (size_t at = Packet(0); at < streamed.size() + 1777; at += 1777) {
    const size_t cut = std::min(at, streamed.size());
    expect({streamed.begin(), streamed.begin() + static_cast<std::ptrdiff_t>(cut)},
           (cut - Packet(0)) / 1000, "cut at " + std::to_string(cut));
    const size_t page = (cut + 4095) / 4096 * 4096;
    if (page + 4096 > streamed.size()) continue;
    std::vector<uint8_t> lost = streamed;
    std::fill_n(lost.begin() + static_cast<std::ptrdiff_t>(page), 4096, 0);
    // The packet the page is in, or the next where the page begins in its padding.
    const uint64_t in = (page - Packet(0)) / 1000;
    expect(
        lost,
        in + (page - Packet(in) >= 1000 - Ended().packets[static_cast<size_t>(in)].padding ? 1 : 0),
        "page lost at " + std::to_string(page));
  }
}

}  // namespace
}  // namespace kestrum::asf
