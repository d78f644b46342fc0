// The repair (asf_format/repair.h) over a file in memory. Script: u8 options
// (bit 0: also stop a repair at one of its writes, the write's number from
// the other bits), then the file's bytes. Whatever the file:
//  - no read past its end, and never more bytes read than it holds;
//  - a check writes nothing and comes to what the repair comes to;
//  - a file whose header says it ended, and one not repaired, is not
//    written;
//  - a repaired file is laid out as the muxer lays one out (but for the
//    padding of packets it kept as they were), ended, and holds
//    a prefix of the whole samples a reader got from the file before,
//    sample for sample; at least as many as a strict reader got before its
//    first problem, or the first sample the muxer would not have written
//    whole, unless a page of zeros stands where a power cut may have lost
//    one (which the repair takes for lost);
//  - a second repair finds it whole and writes nothing;
//  - a repair stopped at any write leaves a file the next repair ends byte
//    for byte as the one not stopped.
#include <algorithm>
#include <vector>

#include "asf_format/muxer.h"
#include "asf_format/reader.h"
#include "asf_format/repair.h"
#include "asf_format/tests/memory_sink.h"
#include "fuzz/fuzz_input.h"

namespace {

using namespace kestrum;
using namespace kestrum::asf;

constexpr size_t kMaxInput = size_t{1} << 20;
constexpr uint64_t kPage = 4096;

struct Sample {
  uint8_t stream;
  bool key;
  uint32_t presentation_ms;
  std::vector<uint8_t> bytes;
  bool operator==(const Sample&) const = default;
};

struct Read {
  bool ended = false;
  size_t problems = 0;
  uint64_t at_risk = 0;                // where the repair takes a page of zeros for lost
  std::vector<Sample> samples;         // whole, of the streams the header declares
  std::vector<uint64_t> last_packets;  // where each ends
  // The first packet where a sample begins that the muxer does not write
  // whole (cut, of a stream not declared, 16 MiB or more); with kLayout,
  // where the first problem stopped the reading.
  uint64_t damage = UINT64_MAX;
};

Read ReadSamples(const std::vector<uint8_t>& bytes, ReadChecks checks) {
  Read read;
  MemorySource source(bytes.data(), bytes.size());
  Reader reader(source, ReadOptions{checks, true});
  if (!reader.Open()) return (read.damage = 0, read);
  const HeaderInfo& h = reader.header();
  read.ended = h.has_file_properties && (h.flags & kFileFlagBroadcast) == 0;
  const uint64_t data_start = h.data_offset + 50;
  read.at_risk = read.ended                                                 ? bytes.size()
                 : h.file_size >= data_start && h.file_size <= bytes.size() ? h.file_size
                                                                            : data_start;
  bool declared[128] = {};
  for (const StreamDescription& s : h.streams) declared[s.number & 0x7F] = s.declared;
  MediaObject m;
  while (reader.NextSample(&m)) {
    if (!m.cut && declared[m.stream & 0x7F] && m.size < kMaxSampleSize) {
      read.last_packets.push_back(m.last_packet);
      read.samples.push_back({m.stream, m.key, m.presentation_ms, std::move(m.bytes)});
    } else {
      read.damage = std::min(read.damage, m.first_packet);
    }
  }
  read.problems = reader.problems().size();
  if (checks == ReadChecks::kLayout && !reader.problems().empty()) {
    read.damage = std::min(read.damage, reader.packets_read() > 0 ? reader.packets_read() - 1 : 0);
  }
  // The muxer's packets begin with the same flags, and have no duration
  // (fields a reader takes in other forms, or passes over).
  for (uint64_t p = 0; h.packet_size >= 13 && data_start + (p + 1) * h.packet_size <= bytes.size();
       ++p) {
    const uint8_t* head = bytes.data() + data_start + p * h.packet_size;
    if (p < read.damage && (head[0] != 0x82 || (head[3] != 0x10 && head[3] != 0x11) ||
                            head[4] != 0x5D || head[11] != 0 || head[12] != 0)) {
      read.damage = p;
    }
  }
  return read;
}

// A page whose bytes from `at_risk` on are all zeros.
bool ZeroPageAtRisk(const std::vector<uint8_t>& bytes, uint64_t at_risk) {
  for (uint64_t page = at_risk / kPage * kPage; page < bytes.size(); page += kPage) {
    const uint64_t from = std::max(page, at_risk);
    const uint64_t to = std::min<uint64_t>(page + kPage, bytes.size());
    if (from < to && std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                 bytes.begin() + static_cast<std::ptrdiff_t>(to),
                                 [](uint8_t b) { return b == 0; })) {
      return true;
    }
  }
  return false;
}

void CheckRepaired(const std::vector<uint8_t>& before, const MemoryRepairFile& file,
                   const RepairReport& report) {
  // The padding of a packet the repair keeps as it was is not looked at (only
  // the last packet's is made zeros): a reader passes over it.
  const AsfFile f = ReadAsfFile(file.bytes);
  if (!f.error.empty() && f.error.find("non-zero padding") == std::string::npos) {
    fuzz::Fail(("a repaired file has a problem: " + f.error).c_str());
  }
  const Read after = ReadSamples(file.bytes, ReadChecks::kDamage);
  if (!after.ended || after.problems != 0) fuzz::Fail("a repair did not end it whole");
  if (after.samples.size() != report.samples) {
    fuzz::Fail("the samples a repair tells are not there");
  }
  const Read damage = ReadSamples(before, ReadChecks::kDamage);
  const Read strict = ReadSamples(before, ReadChecks::kLayout);
  if (after.samples.size() > damage.samples.size() ||
      !std::equal(after.samples.begin(), after.samples.end(), damage.samples.begin())) {
    fuzz::Fail("a repaired file's samples are not the first ones before");
  }
  const uint64_t first_damage = std::min(damage.damage, strict.damage);
  const auto whole_before = static_cast<size_t>(
      std::count_if(damage.last_packets.begin(), damage.last_packets.end(),
                    [first_damage](uint64_t last) { return last < first_damage; }));
  if (after.samples.size() < whole_before && !ZeroPageAtRisk(before, damage.at_risk)) {
    fuzz::Fail("a repair kept fewer whole samples than a strict reader got");
  }
  MemoryRepairFile again(file.bytes);
  if (Repair(again, false).outcome != RepairOutcome::kWhole || again.writes != 0 ||
      again.read_past) {
    fuzz::Fail("a second repair changed a repaired file");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  fuzz::FuzzInput in(data, size);
  const uint8_t options = in.U8();
  const std::span<const uint8_t> rest = in.Rest();
  const std::vector<uint8_t> before(rest.begin(), rest.end());

  MemoryRepairFile checked(before);
  const RepairReport check = Repair(checked, true);
  MemoryRepairFile file(before);
  const RepairReport report = Repair(file, false);
  if (checked.writes != 0) fuzz::Fail("a check wrote");
  if (checked.read_past || file.read_past) fuzz::Fail("a read past the file");
  if (check.bytes_read > before.size() || report.bytes_read > before.size()) {
    fuzz::Fail("more bytes read than the file holds");
  }
  if (check.outcome != report.outcome || check.samples != report.samples ||
      check.size_after != report.size_after) {
    fuzz::Fail("a check and the repair disagree");
  }
  const bool ended = ReadSamples(before, ReadChecks::kDamage).ended;
  if ((report.outcome != RepairOutcome::kRepaired || ended) && file.writes != 0) {
    fuzz::Fail("a file not to be repaired was written");
  }
  if (report.outcome != RepairOutcome::kRepaired) return 0;
  CheckRepaired(before, file, report);

  if ((options & 1) == 0 || file.writes == 0) return 0;
  MemoryRepairFile stopped(before);
  stopped.fail_write = 1 + (options >> 1) % file.writes;
  if (Repair(stopped, false).outcome != RepairOutcome::kError) {
    fuzz::Fail("a failed write went untold");
  }
  MemoryRepairFile next(stopped.bytes);
  (void)Repair(next, false);
  if (stopped.read_past || next.read_past) fuzz::Fail("a read past the file");
  if (next.bytes != file.bytes) fuzz::Fail("a repair stopped part way is not ended as a whole one");
  return 0;
}
