#include "asf_format/repair.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "asf_format/byte_sink.h"
#include "asf_format/header.h"
#include "asf_format/header_objects.h"
#include "asf_format/objects.h"
#include "asf_format/packet_builder.h"
#include "asf_format/packet_layout.h"
#include "asf_format/repair_damage.h"
#include "asf_format/repair_header.h"
#include "asf_format/repair_walk.h"
#include "asf_format/simple_index.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

constexpr uint64_t kMaxHeaderSize = uint64_t{64} << 20;
constexpr uint64_t kPageSize = 4096;
// The index a file may have whatever its packets' bytes (2 days of play).
constexpr uint64_t kIndexAllowance = uint64_t{1} << 20;
constexpr size_t kCompareChunk = size_t{64} << 10;

// The index objects' bytes, written into the file from an offset on.
class FileAppender final : public ByteSink {
 public:
  FileAppender(RepairFile& file, uint64_t at) : file_(file), at_(at) {}
  Status Write(const uint8_t* data, size_t size) override {
    const Status status = file_.WriteAt(at_, data, size);
    if (Succeeded(status)) at_ += size;
    return status;
  }
  Status WriteAt(uint64_t, const uint8_t*, size_t) override { return kNotSeekable; }
  uint64_t Size() const override { return at_; }
  Status Flush() override { return kOk; }

 private:
  RepairFile& file_;
  uint64_t at_;
};

// The index objects' bytes compared with the file's from an offset on.
class FileComparer final : public ByteSink {
 public:
  FileComparer(CountingFile& file, uint64_t at) : file_(file), at_(at) {}
  Status Write(const uint8_t* data, size_t size) override {
    while (size > 0 && state_ == IndexState::kSame) {
      const size_t n = std::min(size, kCompareChunk);
      if (at_ > file_.file.Size() || n > file_.file.Size() - at_) {
        state_ = IndexState::kCut;
        break;
      }
      there_.resize(n);
      const Status status = file_.ReadAt(at_, there_.data(), n);
      if (Failed(status)) return status;
      if (std::memcmp(there_.data(), data, n) != 0) state_ = IndexState::kDiffers;
      at_ += n;
      data += n;
      size -= n;
    }
    return kOk;
  }
  Status WriteAt(uint64_t, const uint8_t*, size_t) override { return kNotSeekable; }
  uint64_t Size() const override { return at_; }
  Status Flush() override { return kOk; }
  IndexState state() const { return state_; }

 private:
  CountingFile& file_;
  uint64_t at_;
  std::vector<uint8_t> there_;
  IndexState state_ = IndexState::kSame;
};

// The most the index of `packet_bytes` bytes of packets may take.
uint64_t IndexLimit(uint64_t packet_bytes) { return std::max(packet_bytes, kIndexAllowance); }

// What the repair works out before it writes anything.
struct Plan {
  std::vector<uint8_t> header;  // as it stands, with the Data Object's header
  FileInfo info;
  HeaderNotes notes;
  uint64_t data_start = 0;
  uint64_t at_risk = 0;  // where a power cut may have lost pages
  uint64_t packets = 0, data_end = 0;
  std::vector<uint8_t> last;  // the last packet kept, as it is to stand
  bool rewrite = false;       // which is not as it stands
  HeaderTotals totals;
  std::vector<uint8_t> ended;         // the header a clean end gives
  std::vector<SimpleIndex*> indexes;  // one a video stream, in stream-number order
  uint64_t index_bytes = 0;
};

RepairReport Foreign(RepairReport report, const std::string& why) {
  report.outcome = RepairOutcome::kForeign;
  report.why = why;
  return report;
}

RepairReport Error(RepairReport report, Status status) {
  report.outcome = RepairOutcome::kError;
  report.status = status;
  return report;
}

// The header and the Data Object's header, if they are the muxer's: kOk and
// an empty `why`, or the reason they are not.
Status ReadHeader(CountingFile& file, Plan& plan, std::string* why) {
  const uint64_t size = file.file.Size();
  uint8_t top[kHeaderObjectFixedSize];
  if (size < sizeof top + kDataObjectHeaderSize) {
    return (*why = "it is too short for an ASF header", kOk);
  }
  Status status = file.ReadAt(0, top, sizeof top);
  if (Failed(status)) return status;
  if (LoadGuid(top) != kHeaderObject) return (*why = "it has no ASF header", kOk);
  const uint64_t header_object = load_u64le(top + kObjectSizeOffset);
  if (header_object < sizeof top || header_object > kMaxHeaderSize ||
      header_object > size - kDataObjectHeaderSize) {
    return (*why = "its ASF header's size is impossible", kOk);
  }
  plan.header.resize(static_cast<size_t>(header_object) + kDataObjectHeaderSize);
  status = file.ReadAt(0, plan.header.data(), plan.header.size());
  if (Failed(status)) return status;
  if (LoadGuid(plan.header.data() + header_object) != kDataObject) {
    return (*why = "no Data Object follows its header", kOk);
  }
  if (!ReadDeclaredHeader(plan.header, &plan.info, why)) return kOk;
  std::vector<uint8_t> expected = BuildHeader(plan.info, plan.info.packet_size, HeaderTotals{});
  std::vector<uint8_t> found = plan.header;
  ClearTotals(expected);
  ClearTotals(found);
  if (expected != found) *why = "its header is not laid out as Kestrum's writer lays it out";
  plan.notes = ReadHeaderNotes(plan.header);
  plan.data_start = plan.header.size();
  // Where a power cut may have lost what the file holds: nowhere when the
  // header says the file ended (a writer that syncs makes the packets
  // durable before it ends the header); else from the count of durable
  // bytes the writer noted (Muxer::MarkDurable), or from the first packet
  // when it noted none.
  const uint64_t durable = plan.notes.file_size;
  if (plan.notes.ended) {
    plan.at_risk = size;
  } else {
    plan.at_risk = durable >= plan.data_start && durable <= size ? durable : plan.data_start;
  }
  return kOk;
}

// The last packet kept, whole: a multiple-payload packet loses its payloads
// from the cut on, and its padding must be zeros.
Status TrimLast(CountingFile& file, const Walk& walk, Plan& plan) {
  const Cut& cut = walk.cut();
  plan.packets = cut.packet + (cut.payload > 0 ? 1 : 0);
  if (plan.packets == 0) return kOk;
  const uint32_t ps = plan.info.packet_size;
  std::vector<uint8_t>& last = plan.last;
  last.resize(ps);
  const Status status = file.ReadAt(walk.Offset(plan.packets - 1), last.data(), ps);
  if (Failed(status) || !HasMultiplePayloads(last.data())) return status;
  const uint32_t count = PayloadCount(last.data());
  const uint32_t used = ps - PaddingLength(last.data());
  uint32_t keep = count, end = used;
  if (cut.payload > 0) {
    keep = cut.payload;
    end = cut.offset;
  }
  plan.rewrite = keep != count || end != used ||
                 !std::all_of(last.begin() + static_cast<std::ptrdiff_t>(end), last.end(),
                              [](uint8_t b) { return b == 0; });
  if (plan.rewrite) TrimPacket(last.data(), ps, keep, end);
  return kOk;
}

// The totals and the indexes, as Muxer::End makes them; false, with the
// report kUnbounded, when the index would outweigh the packets it indexes.
bool Totals(Walk& walk, Plan& plan, RepairReport& report) {
  const uint32_t ps = plan.info.packet_size;
  HeaderTotals& totals = plan.totals;
  Tally& tally = walk.tally();
  std::vector<size_t> indexed;
  const bool all_video_indexed =
      tally.EndTotals(plan.info, plan.data_start, ps, plan.packets, &totals, &indexed);
  plan.data_end = totals.file_size;
  const uint64_t entries = std::min<uint64_t>(totals.play_duration / kIndexInterval + 1,
                                              std::numeric_limits<uint32_t>::max());
  for (const StreamInfo& s : plan.info.streams) {
    report.frame_time = std::max(report.frame_time, s.avg_time_per_frame);
  }
  for (size_t i : indexed) {
    SimpleIndex& index = tally.stream(i).index;
    plan.indexes.push_back(&index);
    plan.index_bytes +=
        kSimpleIndexFixedSize + std::max<uint64_t>(entries, index.entry_count()) * kIndexEntrySize;
  }
  report.packet_bytes = plan.packets * ps;
  if (plan.index_bytes > IndexLimit(report.packet_bytes)) {
    report.outcome = RepairOutcome::kUnbounded;
    report.index_bytes = plan.index_bytes;
    report.play_duration = totals.play_duration;
    return false;
  }
  for (SimpleIndex* index : plan.indexes) index->Finish(totals.play_duration);
  totals.file_size = plan.data_end + plan.index_bytes;
  totals.seekable = all_video_indexed;
  plan.ended = BuildHeader(plan.info, ps, totals);
  return true;
}

// Whether the file holds, after its packets, the indexes a clean end writes.
Status CompareIndex(CountingFile& file, const Plan& plan, IndexState* state) {
  FileComparer compare(file, plan.data_end);
  for (const SimpleIndex* index : plan.indexes) {
    const Status status = index->WriteObject(compare, plan.info.file_id);
    if (Failed(status)) return status;
  }
  *state = compare.state();
  if (*state == IndexState::kSame && file.file.Size() < plan.totals.file_size) {
    *state = IndexState::kCut;
  }
  return kOk;
}

// Whether the file is as the muxer ends one whose index did not fit (a
// full disk, no memory): its packets whole, the header's totals but for
// Seekable and the size, no index.
bool EndedWithoutIndex(const Plan& plan, uint64_t size) {
  if (plan.rewrite || plan.indexes.empty() || size != plan.data_end) return false;
  HeaderTotals totals = plan.totals;
  totals.seekable = false;
  totals.file_size = plan.data_end;
  return BuildHeader(plan.info, plan.info.packet_size, totals) == plan.header;
}

// An ended file that is not whole: `what` is wrong with it.
void TellDamaged(CountingFile& file, const Walk& walk, const Plan& plan, const std::string& what,
                 RepairReport& report) {
  report.outcome = RepairOutcome::kDamaged;
  report.damage = what;
  report.size_after = report.size_before;
  // Whole packets give a reader the samples the walk found; damaged ones
  // are read past as a reader reads them.
  if (walk.stopped_at() >= plan.notes.data_packets && walk.dropped() == 0) {
    report.readable_samples = walk.samples();
  } else {
    report.readable_samples = CountReadableSamples(file, &report.cut_packet_not_read);
  }
}

// What is wrong with an ended file that is not whole.
void TellDamage(CountingFile& file, const Walk& walk, const Plan& plan, IndexState index,
                RepairReport& report) {
  DamageFacts f;
  f.size = file.file.Size();
  f.data_start = plan.data_start;
  f.packet_size = plan.info.packet_size;
  f.declared_packets = plan.notes.data_packets;
  f.declared_size = plan.notes.file_size;
  f.stopped_at = walk.stopped_at();
  f.sample_left_open = walk.dropped() > 0;
  f.open_sample_packet = walk.cut().packet;
  f.packets_kept = plan.packets;
  f.last_rewritten = plan.rewrite;
  f.header_matches = plan.ended == plan.header;
  f.index = index;
  f.data_end = plan.data_end;
  f.index_end = plan.totals.file_size;
  TellDamaged(file, walk, plan, DescribeDamage(f), report);
}

// Step 2 of repair.h: all but the packet's header (whose payload count ends
// it), then the header page by page in order.
Status RewriteLast(RepairFile& out, uint64_t at, const std::vector<uint8_t>& packet) {
  Status status =
      out.WriteAt(at + kFirstMultiPayloadOffset, packet.data() + kFirstMultiPayloadOffset,
                  packet.size() - kFirstMultiPayloadOffset);
  if (Succeeded(status)) status = out.Sync();
  for (uint64_t from = at; Succeeded(status) && from < at + kFirstMultiPayloadOffset;) {
    const uint64_t to = std::min(at + kFirstMultiPayloadOffset, (from / kPageSize + 1) * kPageSize);
    status = out.WriteAt(from, packet.data() + (from - at), static_cast<size_t>(to - from));
    if (Succeeded(status)) status = out.Sync();
    from = to;
  }
  return status;
}

// The writes, in the order repair.h gives; *wrote once the first began.
Status WriteRepair(RepairFile& out, const Walk& walk, Plan& plan, bool* wrote) {
  // The header of step 4, made before anything is written.
  const size_t field = plan.notes.file_size_field;
  std::vector<uint8_t> unconfirmed = plan.ended;
  LeaveEndUnconfirmed(unconfirmed.data() + field, plan.totals.file_size);

  Status status = kOk;
  *wrote = true;
  if (plan.rewrite && plan.at_risk < plan.data_end) {
    uint8_t durable[8];
    store_u64le(durable, plan.data_end);
    status = out.Sync();
    if (Succeeded(status)) {
      status = out.WriteAt(plan.notes.file_size_field, durable, sizeof durable);
    }
    if (Succeeded(status)) status = out.Sync();
  }
  if (Succeeded(status) && out.Size() > plan.data_end) {
    status = out.Truncate(plan.data_end);
    if (Succeeded(status)) status = out.Sync();
  }
  if (Succeeded(status) && plan.rewrite) {
    status = RewriteLast(out, walk.Offset(plan.packets - 1), plan.last);
  }
  if (Succeeded(status) && !plan.indexes.empty()) {
    FileAppender append(out, plan.data_end);
    for (const SimpleIndex* index : plan.indexes) {
      if (Succeeded(status)) status = index->WriteObject(append, plan.info.file_id);
    }
    if (Succeeded(status)) status = out.Sync();
  }
  if (Failed(status)) return status;
  status = out.WriteAt(0, unconfirmed.data(), unconfirmed.size());
  if (Succeeded(status)) status = out.Sync();
  if (Succeeded(status)) {
    status = out.WriteAt(field, plan.ended.data() + field, kFileSizeThroughFlags);
  }
  if (Succeeded(status)) status = out.Sync();
  return status;
}

// The walk's packets: those the file holds whole, and no more than its Data
// Object counts where its header says it ended.
uint64_t PacketsToWalk(const Plan& plan, uint64_t size) {
  const uint64_t packets = (size - plan.data_start) / plan.info.packet_size;
  return plan.notes.ended ? std::min(packets, plan.notes.data_packets) : packets;
}

// Walks the packets, trims the last one kept and works out the totals of a
// clean end for them. False when that is the report's end: a read failed,
// or the index would outweigh the packets.
bool Keep(CountingFile& file, Walk& walk, Plan& plan, RepairReport& report) {
  Status status = kOk;
  if (!walk.Run(&status)) return (report = Error(report, status), false);
  status = TrimLast(file, walk, plan);
  if (Failed(status)) return (report = Error(report, status), false);
  if (!Totals(walk, plan, report)) {
    // Ended, it is told as damaged (its header's frame time, or a sample's
    // time, is not what its writer wrote).
    if (plan.notes.ended) {
      TellDamaged(file, walk, plan,
                  "its header's frame time, or its samples' times, would give it an index of " +
                      std::to_string(report.index_bytes) + " bytes for the " +
                      std::to_string(report.packet_bytes) + " bytes of its packets",
                  report);
    }
    return false;
  }
  report.packets = plan.packets;
  report.samples = walk.samples();
  report.samples_dropped = walk.dropped();
  report.play_duration = plan.totals.play_duration;
  report.packet_trimmed = plan.rewrite;
  report.size_after = plan.totals.file_size;
  return true;
}

// Whether the file already stands as a clean end leaves it (kWhole), or its
// header says it ended and it does not (kDamaged): true when that is the
// report's end; false when it is to be repaired.
bool AlreadyEnded(CountingFile& file, const Walk& walk, const Plan& plan, RepairReport& report) {
  // The index is read where the file may be whole, or its header says so.
  IndexState index = IndexState::kDiffers;
  const bool may_be_whole =
      !plan.rewrite && report.size_before == plan.totals.file_size && plan.ended == plan.header;
  if (may_be_whole || plan.notes.ended) {
    const Status status = CompareIndex(file, plan, &index);
    if (Failed(status)) return (report = Error(report, status), true);
  }
  if (may_be_whole && index == IndexState::kSame) {
    report.outcome = RepairOutcome::kWhole;
  } else if (plan.notes.ended && EndedWithoutIndex(plan, report.size_before)) {
    report.outcome = RepairOutcome::kWhole;
    report.without_index = true;
    report.size_after = report.size_before;
  } else if (plan.notes.ended) {
    TellDamage(file, walk, plan, index, report);
  } else {
    return false;
  }
  return true;
}

// The header, the walk over the packets, what is kept, and the writes.
RepairReport RepairIn(CountingFile& file, bool check_only) {
  RepairReport report;
  report.size_before = report.size_after = file.file.Size();
  Plan plan;
  std::string why;
  Status status = ReadHeader(file, plan, &why);
  if (Failed(status)) return Error(report, status);
  if (!why.empty()) return Foreign(report, why);

  const uint64_t packets = PacketsToWalk(plan, report.size_before);
  Walk walk(file, plan.info, plan.data_start, packets, plan.at_risk, report.size_before,
            IndexLimit(packets * plan.info.packet_size));
  if (!Keep(file, walk, plan, report) || AlreadyEnded(file, walk, plan, report)) return report;
  report.outcome = RepairOutcome::kRepaired;
  if (check_only) return report;
  status = WriteRepair(file.file, walk, plan, &report.wrote);
  if (Failed(status)) return Error(report, status);
  return report;
}

}  // namespace

RepairReport Repair(RepairFile& file, bool check_only) {
  CountingFile counting(file);
  RepairReport report;
  report.size_before = report.size_after = file.Size();
  try {
    report = RepairIn(counting, check_only);
  } catch (const std::bad_alloc&) {
    report.outcome = RepairOutcome::kError;
    report.status = kOutOfMemory;
  }
  report.bytes_read = counting.bytes_read();
  return report;
}

}  // namespace kestrum::asf
