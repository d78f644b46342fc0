#include "asf_format/packet_builder.h"

#include <algorithm>
#include <cstring>

#include "asf_format/header.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

// Padding: the packets' zero bytes all come from here.
uint8_t kZeros[kMaxPacketSize] = {};

// The payload header both layouts share (its first kSinglePayloadHeaderSize
// bytes).
void StorePayloadHeader(uint8_t* p, const PayloadInfo& info, uint32_t offset, uint32_t size) {
  p[0] = info.stream_byte;
  p[kPayloadObjectNumberOffset] = info.object_number;
  store_u32le(p + kPayloadObjectOffsetOffset, offset);
  p[kPayloadReplicatedSizeOffset] = kReplicatedDataSize;
  store_u32le(p + kPayloadObjectSizeOffset, size);
  store_u32le(p + kPayloadPresentationOffset, info.presentation_ms);
}

}  // namespace

PacketBuilder::PacketBuilder(ByteSink& sink, uint32_t packet_size, size_t batch_bytes)
    : sink_(sink),
      packet_size_(packet_size),
      batch_packets_(static_cast<uint32_t>(
          std::clamp<size_t>(batch_bytes / packet_size, 1, kBatchBytes / kMinPacketSize))),
      single_capacity_(
          static_cast<uint32_t>(packet_size - kPacketHeaderSize - kSinglePayloadHeaderSize)) {
  // What a batch takes at most, so that the lists do not grow: a packet
  // takes two segments and its headers, and every payload in a multiple-
  // payload packet two segments and 17 bytes more; a sample has at most two
  // such payloads (its first and last fragments), and a batch holds at most
  // kMaxHeldSamples + 1 samples besides the open packet's.
  const size_t payloads = 2 * (kMaxHeldSamples + 1) + 2 * kMaxPayloadsPerPacket;
  segments_.reserve((size_t{batch_packets_} + 1) * 2 + 2 * payloads);
  spans_.reserve(segments_.capacity());
  arena_.reserve((size_t{batch_packets_} + 1) * (kPacketHeaderSize + kSinglePayloadHeaderSize) +
                 payloads * kMultiPayloadHeaderSize);
  held_.reserve(kMaxHeldSamples + kMaxPayloadsPerPacket + 2);
}

// `size` bytes of the packets' own, at the end of the arena and of the
// segments; the pointer is good until the arena next grows.
uint8_t* PacketBuilder::ArenaBytes(size_t size) {
  const size_t at = arena_.size();
  arena_.resize(at + size);
  if (segments_.size() > merge_floor_ && segments_.back().data == nullptr &&
      segments_.back().arena_offset + segments_.back().size == at) {
    segments_.back().size += size;
  } else {
    segments_.push_back(Segment{nullptr, at, size});
  }
  return arena_.data() + at;
}

void PacketBuilder::AddBytes(const uint8_t* data, size_t size) {
  if (size != 0) segments_.push_back(Segment{data, 0, size});
}

uint32_t PacketBuilder::NextSendTime(uint32_t send_ms) const {
  return std::max(last_send_ms_, send_ms);
}

void PacketBuilder::WritePacketHeader(uint8_t* p, bool multiple, uint32_t send_ms) const {
  p[0] = kErrorCorrectionFlags;
  p[1] = 0;
  p[2] = 0;
  p[kLengthTypeOffset] = multiple ? kLengthTypeMultiple : kLengthTypeSingle;
  p[kPropertyFlagsOffset] = kPropertyFlags;
  store_u16le(p + kPaddingLengthOffset, 0);
  store_u32le(p + kSendTimeOffset, send_ms);
  store_u16le(p + kDurationOffset, 0);
}

Status PacketBuilder::AddSample(const PayloadInfo& info, const uint8_t* data, uint32_t size,
                                 SamplePlacement* placement, SampleHold hold) {
  // Held from the start, and not released by a batch written on the way:
  // only once its last packet is known and written. A batch written on the
  // way erases the holds before it from the list, so this one is found
  // again by its number, not by a reference into the list.
  const uint64_t mine = holds_erased_ + held_.size();
  held_.push_back(Held{UINT64_MAX, std::move(hold)});
  const auto ends_in = [this, mine](uint64_t packet) {
    held_[static_cast<size_t>(mine - holds_erased_)].last_packet = packet;
  };
  uint32_t offset = 0;
  bool first = true;
  while (offset < size) {
    const uint32_t remaining = size - offset;
    if (!open_ && remaining >= single_capacity_) {
      // The fragment fills a packet by itself: single-payload layout, no padding.
      const uint32_t send_ms = NextSendTime(info.send_ms);
      uint8_t* p = ArenaBytes(kPacketHeaderSize + kSinglePayloadHeaderSize);
      WritePacketHeader(p, false, send_ms);
      StorePayloadHeader(p + kPacketHeaderSize, info, offset, size);
      AddBytes(data + offset, single_capacity_);
      offset += single_capacity_;
      if (first) *placement = SamplePlacement{completed_total_, completed_total_, 0, 0};
      first = false;
      placement->last_packet = completed_total_;
      if (offset == size) ends_in(completed_total_);
      const Status status = CompletePacket(send_ms);
      if (Failed(status)) return status;
      continue;
    }
    if (!open_) {
      open_ = true;
      open_send_ms_ = NextSendTime(info.send_ms);
      merge_floor_ = open_segment_ = segments_.size();
      open_arena_ = arena_.size();
      (void)ArenaBytes(kFirstMultiPayloadOffset);  // the header, filled in when it completes
      pos_ = kFirstMultiPayloadOffset;
      payloads_ = 0;
    }
    // An open packet always has room for a payload header and one byte.
    const uint32_t room = static_cast<uint32_t>(packet_size_ - pos_ - kMultiPayloadHeaderSize);
    const uint32_t n = std::min(room, remaining);
    uint8_t* h = ArenaBytes(kMultiPayloadHeaderSize);
    StorePayloadHeader(h, info, offset, size);
    store_u16le(h + kPayloadLengthOffset, static_cast<uint16_t>(n));
    AddBytes(data + offset, n);
    if (first) {
      *placement = SamplePlacement{completed_total_, completed_total_, payloads_,
                                   payloads_ == 0 ? 0 : static_cast<uint32_t>(pos_)};
    }
    pos_ += kMultiPayloadHeaderSize + n;
    ++payloads_;
    offset += n;
    first = false;
    placement->last_packet = completed_total_;
    if (offset == size) ends_in(completed_total_);
    if (payloads_ == kMaxPayloadsPerPacket || packet_size_ - pos_ < kMultiPayloadHeaderSize + 1) {
      const Status status = FinishPacket();
      if (Failed(status)) return status;
    }
  }
  return kOk;
}

Status PacketBuilder::FinishPacket() {
  if (!open_) return kOk;
  const size_t padding = packet_size_ - pos_;
  AddBytes(kZeros, padding);
  uint8_t* p = arena_.data() + open_arena_;
  WritePacketHeader(p, true, open_send_ms_);
  store_u16le(p + kPaddingLengthOffset, static_cast<uint16_t>(padding));
  p[kPayloadFlagsOffset] = static_cast<uint8_t>(kPayloadLengthWord | payloads_);
  open_ = false;
  merge_floor_ = segments_.size();
  return CompletePacket(open_send_ms_);
}

Status PacketBuilder::CompletePacket(uint32_t send_ms) {
  last_send_ms_ = send_ms;
  ++batched_;
  ++completed_total_;
  if (batched_ == batch_packets_ || held_.size() > kMaxHeldSamples) return Drain();
  return kOk;
}

void PacketBuilder::Restart(uint64_t packets) {
  batched_ = 0;
  completed_total_ = packets;
  open_ = false;
  segments_.clear();
  arena_.clear();
  merge_floor_ = 0;
  holds_erased_ += held_.size();
  held_.clear();  // releases every sample: no packet needs their bytes any more
}

void TrimPacket(uint8_t* packet, uint32_t packet_size, uint32_t payloads, uint32_t end) {
  std::memset(packet + end, 0, packet_size - end);
  store_u16le(packet + kPaddingLengthOffset, static_cast<uint16_t>(packet_size - end));
  packet[kPayloadFlagsOffset] = static_cast<uint8_t>(kPayloadLengthWord | payloads);
}

Status PacketBuilder::Drain() {
  if (batched_ == 0) return kOk;
  const size_t count = open_ ? open_segment_ : segments_.size();
  spans_.clear();
  for (size_t i = 0; i < count; ++i) {
    const Segment& segment = segments_[i];
    spans_.push_back(ByteSpan{
        segment.data != nullptr ? segment.data : arena_.data() + segment.arena_offset,
        segment.size});
  }
  const Status status = sink_.WriteGather(spans_.data(), spans_.size());
  // Written or failed, the completed packets are gone from here; the packet
  // being filled moves to the front.
  segments_.erase(segments_.begin(), segments_.begin() + static_cast<std::ptrdiff_t>(count));
  const size_t arena_gone = open_ ? open_arena_ : arena_.size();
  arena_.erase(arena_.begin(), arena_.begin() + static_cast<std::ptrdiff_t>(arena_gone));
  for (Segment& segment : segments_) {
    if (segment.data == nullptr) segment.arena_offset -= arena_gone;
  }
  open_segment_ = open_arena_ = merge_floor_ = 0;
  batched_ = 0;
  size_t written = 0;
  while (written < held_.size() && held_[written].last_packet < completed_total_) ++written;
  held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(written));
  holds_erased_ += written;
  return status;
}

}  // namespace kestrum::asf
