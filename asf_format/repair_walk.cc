#include "asf_format/repair_walk.h"

#include <algorithm>
#include <iterator>

#include "asf_format/objects.h"
#include "asf_format/packet_layout.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

// The latest time a sample may end, in ms with the preroll: the muxer takes
// no sample that ends later.
constexpr uint64_t kMaxMs = 0xFFFF'FFFFu;
// The bytes read at the start of every packet: its header and the first
// payload's (a multiple-payload packet's first payload header ends at 31).
constexpr size_t kPeekSize = 64;
// What the system writes back at once: a page lost to a power cut is lost
// whole.
constexpr uint64_t kPageSize = 4096;
// The stretches CountingFile keeps apart.
constexpr size_t kStretchesKept = 4096;

}  // namespace

Status CountingFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  const Status status = file.ReadAt(offset, data, size);
  if (Succeeded(status) && size > 0) Count(offset, offset + size);
  return status;
}

void CountingFile::Count(uint64_t begin, uint64_t end) {
  auto it = read_.upper_bound(begin);
  if (it != read_.begin() && std::prev(it)->second >= begin) --it;
  while (it != read_.end() && it->first <= end) {
    begin = std::min(begin, it->first);
    end = std::max(end, it->second);
    bytes_read_ -= it->second - it->first;
    it = read_.erase(it);
  }
  read_.emplace(begin, end);
  bytes_read_ += end - begin;
  if (read_.size() > kStretchesKept) read_.erase(read_.begin());
}

Walk::Walk(CountingFile& file, const FileInfo& info, uint64_t data_start, uint64_t packets,
           uint64_t at_risk, uint64_t file_size, uint64_t index_limit)
    : file_(file),
      info_(info),
      data_start_(data_start),
      available_(packets),
      ps_(info.packet_size),
      at_risk_(at_risk),
      file_size_(file_size) {
  slot_.fill(-1);
  for (size_t i = 0; i < info.streams.size(); ++i) {
    slot_[info.streams[i].number] = static_cast<int>(i);
  }
  tally_.Begin(info.streams, index_limit);
}

bool Walk::Run(Status* status) {
  uint8_t head[kPeekSize];
  stopped_at_ = available_;
  for (uint64_t p = 0; p < available_; ++p) {
    const size_t n = std::min<size_t>(sizeof head, ps_);
    *status = file_.ReadAt(Offset(p), head, n);
    if (Failed(*status)) return false;
    const int lost = LostPage(p, head, n, status);
    if (lost < 0) return false;
    if (lost > 0) {
      cut_ = {p, 0, 0};
      stopped_at_ = p;
      break;
    }
    uint32_t stop_payload = 0, stop_offset = 0;
    const int parsed = Packet(p, head, n, &stop_payload, &stop_offset, status);
    if (parsed < 0) return false;
    if (parsed == 0) {
      cut_ = {p, stop_payload, stop_offset};
      stopped_at_ = p;
      break;
    }
    cut_ = {p + 1, 0, 0};
  }
  if (open_.open) {
    ++dropped_;
    cut_ = {open_.first_packet, open_.payload_index, open_.payload_offset};
  }
  return true;
}

// 1 when packet `p` (whose first `n` bytes are `head`) has bytes in a page
// that a power cut lost: where the file may not be durable, a page whose
// bytes there are all zeros. The packets' data never fills a page with zeros
// in practice, and a packet's padding is zeros by right, so only the bytes
// its header and payloads fill are looked at. 0 when it has none (or lies
// where the file was durable); -1 when a read fails.
int Walk::LostPage(uint64_t p, const uint8_t* head, size_t n, Status* status) {
  const uint64_t begin = Offset(p);
  uint64_t used = ps_;
  if (n > kPaddingLengthOffset + 1 && HasMultiplePayloads(head)) {
    used -= std::min<uint64_t>(PaddingLength(head), ps_ - 1);
  }
  const uint64_t end = begin + used;
  const uint64_t from = std::max(begin, at_risk_);
  if (from >= end) return 0;
  const uint64_t first = from / kPageSize * kPageSize;
  const uint64_t last = std::min(file_size_, (end + kPageSize - 1) / kPageSize * kPageSize);
  pages_.resize(static_cast<size_t>(last - first));
  *status = file_.ReadAt(first, pages_.data(), pages_.size());
  if (Failed(*status)) return -1;
  for (uint64_t page = first; page < end; page += kPageSize) {
    const uint64_t lo = std::max(page, at_risk_);
    const uint64_t hi = std::min(page + kPageSize, last);
    if (lo >= hi) continue;
    const uint8_t* bytes = pages_.data() + (lo - first);
    if (std::all_of(bytes, bytes + (hi - lo), [](uint8_t b) { return b == 0; })) return 1;
  }
  return 0;
}

// 1: the packet is whole and laid out as the builder lays it out; 0: the
// walk ends in it, before payload *stop (at byte *stop_offset); -1: a read
// failed.
int Walk::Packet(uint64_t p, const uint8_t* head, size_t n, uint32_t* stop, uint32_t* stop_offset,
                 Status* status) {
  *stop = 0;
  *stop_offset = 0;
  const uint8_t length_type = head[kLengthTypeOffset];
  if (n < kFirstMultiPayloadOffset || head[0] != kErrorCorrectionFlags || head[1] != 0 ||
      head[2] != 0 || (length_type != kLengthTypeSingle && length_type != kLengthTypeMultiple) ||
      head[kPropertyFlagsOffset] != kPropertyFlags || load_u16le(head + kDurationOffset) != 0) {
    return 0;
  }
  if (HasMultiplePayloads(head)) return MultiplePayloads(p, head, n, stop, stop_offset, status);
  if (PaddingLength(head) != 0 || n < kPacketHeaderSize + kSinglePayloadHeaderSize) {
    return 0;
  }
  const uint32_t length = ps_ - static_cast<uint32_t>(kPacketHeaderSize + kSinglePayloadHeaderSize);
  return Payload(p, 0, kPacketHeaderSize, head + kPacketHeaderSize, length) ? 1 : 0;
}

int Walk::MultiplePayloads(uint64_t p, const uint8_t* head, size_t n, uint32_t* stop,
                           uint32_t* stop_offset, Status* status) {
  const uint32_t padding = PaddingLength(head);
  const uint32_t count = PayloadCount(head);
  if ((head[kPayloadFlagsOffset] & kPayloadLengthTypeMask) != kPayloadLengthWord || count == 0 ||
      padding > ps_ - kFirstMultiPayloadOffset) {
    return 0;
  }
  const uint32_t used = ps_ - padding;
  uint32_t at = kFirstMultiPayloadOffset;
  uint8_t h[kMultiPayloadHeaderSize];
  for (uint32_t k = 0; k < count; ++k) {
    *stop = k;
    *stop_offset = at;
    if (used - at < kMultiPayloadHeaderSize + 1) return 0;
    const uint8_t* ph = head + at;
    if (at + kMultiPayloadHeaderSize > n) {
      *status = file_.ReadAt(Offset(p) + at, h, sizeof h);
      if (Failed(*status)) return -1;
      ph = h;
    }
    const uint32_t length = load_u16le(ph + kPayloadLengthOffset);
    if (length == 0 || length > used - at - kMultiPayloadHeaderSize) return 0;
    if (!Payload(p, k, at, ph, length)) return 0;
    at += static_cast<uint32_t>(kMultiPayloadHeaderSize) + length;
  }
  if (at != used) {
    // What stands after the last payload is not padding the header counts.
    *stop = count;
    *stop_offset = at;
    return 0;
  }
  return 1;
}

// One payload of `length` data bytes: false when it is not one the builder
// writes at this point (its sample is then not taken).
bool Walk::Payload(uint64_t p, uint32_t k, uint32_t at, const uint8_t* h, uint32_t length) {
  const uint8_t stream_byte = h[0];
  const uint8_t object_number = h[kPayloadObjectNumberOffset];
  const uint32_t offset = load_u32le(h + kPayloadObjectOffsetOffset);
  const uint32_t size = load_u32le(h + kPayloadObjectSizeOffset);
  const uint32_t presentation = load_u32le(h + kPayloadPresentationOffset);
  if (h[kPayloadReplicatedSizeOffset] != kReplicatedDataSize ||
      slot_[stream_byte & kStreamNumberMask] < 0 || size == 0 || size >= kMaxSampleSize) {
    return false;
  }
  if (offset == 0) {
    if (open_.open || length > size) return false;
    open_ = Sample{true, stream_byte, object_number, size, 0, presentation, p, k, k == 0 ? 0 : at};
  } else if (!open_.open || offset != open_.have || stream_byte != open_.stream_byte ||
             object_number != open_.object_number || size != open_.size ||
             presentation != open_.presentation_ms || length > size - open_.have) {
    return false;
  }
  open_.have += length;
  if (open_.have == open_.size) Complete(p);
  return true;
}

// A sample whose last byte is in packet `p`: it counts in the totals and
// the index, as the muxer counts a sample once its packets are written. Its
// end is its time plus the declared frame time, but never later than the
// muxer lets a sample end.
void Walk::Complete(uint64_t p) {
  const Sample s = open_;
  open_ = Sample{};
  const auto index = static_cast<size_t>(slot_[s.stream_byte & kStreamNumberMask]);
  const uint64_t ms =
      s.presentation_ms >= info_.preroll_ms ? s.presentation_ms - info_.preroll_ms : 0;
  const uint64_t latest =
      (kMaxMs - std::min<uint64_t>(kMaxMs, info_.preroll_ms)) * kTicksPerMs + kTicksPerMs - 1;
  const uint64_t start = std::min(ms * kTicksPerMs, latest);
  const uint64_t frame_time = info_.streams[index].avg_time_per_frame;
  tally_.Add(index, s.size, (s.stream_byte & kKeyFrameBit) != 0, s.presentation_ms, s.first_packet,
             p, start + std::min(frame_time, latest - start));
  ++samples_;
}

}  // namespace kestrum::asf
