#include "asf_format/packet_builder.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"

namespace kestrum::asf {
namespace {

constexpr uint8_t kLengthTypeSingle = 0x10;    // padding length as WORD
constexpr uint8_t kLengthTypeMultiple = 0x11;  // the same, multiple payloads
constexpr uint8_t kPropertyFlags = 0x5D;
constexpr uint8_t kPayloadLengthWord = 0x80;
constexpr size_t kPaddingLengthOffset = 5;
constexpr size_t kSendTimeOffset = 7;
constexpr size_t kPayloadFlagsOffset = 13;
constexpr size_t kFirstMultiPayloadOffset = 14;

// Payload header shared by both layouts; returns the bytes written (15).
size_t StorePayloadHeader(uint8_t* p, const PayloadInfo& info, uint32_t offset, uint32_t size) {
  p[0] = info.stream_byte;
  p[1] = info.object_number;
  store_u32le(p + 2, offset);
  p[6] = kReplicatedDataSize;
  store_u32le(p + 7, size);
  store_u32le(p + 11, info.presentation_ms);
  return kSinglePayloadHeaderSize;
}

}  // namespace

PacketBuilder::PacketBuilder(ByteSink& sink, uint32_t packet_size)
    : sink_(sink),
      packet_size_(packet_size),
      batch_packets_(std::max<uint32_t>(1, static_cast<uint32_t>(kBatchBytes / packet_size))),
      single_capacity_(
          static_cast<uint32_t>(packet_size - kPacketHeaderSize - kSinglePayloadHeaderSize)),
      // Default-initialised: nothing is zero-filled but padding.
      batch_(new uint8_t[size_t{batch_packets_} * packet_size]) {}

uint32_t PacketBuilder::NextSendTime(uint32_t send_ms) const {
  return std::max(last_send_ms_, send_ms);
}

void PacketBuilder::WritePacketHeader(uint8_t* p, bool multiple, uint32_t send_ms) const {
  p[0] = kErrorCorrectionFlags;
  p[1] = 0;
  p[2] = 0;
  p[3] = multiple ? kLengthTypeMultiple : kLengthTypeSingle;
  p[4] = kPropertyFlags;
  store_u16le(p + kPaddingLengthOffset, 0);
  store_u32le(p + kSendTimeOffset, send_ms);
  store_u16le(p + 11, 0);  // duration
}

Status PacketBuilder::AddSample(const PayloadInfo& info, const uint8_t* data, uint32_t size,
                                 SamplePlacement* placement) {
  uint32_t offset = 0;
  bool first = true;
  while (offset < size) {
    const uint32_t remaining = size - offset;
    if (!open_ && remaining >= single_capacity_) {
      // The fragment fills a packet by itself: single-payload layout, no padding.
      uint8_t* p = Slot();
      const uint32_t send_ms = NextSendTime(info.send_ms);
      WritePacketHeader(p, false, send_ms);
      StorePayloadHeader(p + kPacketHeaderSize, info, offset, size);
      std::memcpy(p + kPacketHeaderSize + kSinglePayloadHeaderSize, data + offset,
                  single_capacity_);
      offset += single_capacity_;
      if (first) *placement = SamplePlacement{completed_total_, completed_total_, 0, 0};
      first = false;
      placement->last_packet = completed_total_;
      const Status status = CompletePacket(send_ms);
      if (Failed(status)) return status;
      continue;
    }
    if (!open_) {
      open_ = true;
      open_send_ms_ = NextSendTime(info.send_ms);
      pos_ = kFirstMultiPayloadOffset;
      payloads_ = 0;
    }
    // An open packet always has room for a payload header and one byte.
    uint8_t* p = Slot();
    const uint32_t room = static_cast<uint32_t>(packet_size_ - pos_ - kMultiPayloadHeaderSize);
    const uint32_t n = std::min(room, remaining);
    uint8_t* h = p + pos_;
    h += StorePayloadHeader(h, info, offset, size);
    store_u16le(h, static_cast<uint16_t>(n));
    std::memcpy(h + 2, data + offset, n);
    if (first) {
      *placement = SamplePlacement{completed_total_, completed_total_, payloads_,
                                   payloads_ == 0 ? 0 : static_cast<uint32_t>(pos_)};
    }
    pos_ += kMultiPayloadHeaderSize + n;
    ++payloads_;
    offset += n;
    first = false;
    placement->last_packet = completed_total_;
    if (payloads_ == kMaxPayloadsPerPacket || packet_size_ - pos_ < kMultiPayloadHeaderSize + 1) {
      const Status status = FinishPacket();
      if (Failed(status)) return status;
    }
  }
  return kOk;
}

Status PacketBuilder::FinishPacket() {
  if (!open_) return kOk;
  uint8_t* p = Slot();
  const size_t padding = packet_size_ - pos_;
  std::memset(p + pos_, 0, padding);
  WritePacketHeader(p, true, open_send_ms_);
  store_u16le(p + kPaddingLengthOffset, static_cast<uint16_t>(padding));
  p[kPayloadFlagsOffset] = static_cast<uint8_t>(kPayloadLengthWord | payloads_);
  open_ = false;
  return CompletePacket(open_send_ms_);
}

Status PacketBuilder::CompletePacket(uint32_t send_ms) {
  last_send_ms_ = send_ms;
  ++batched_;
  ++completed_total_;
  if (batched_ == batch_packets_) return Drain();
  return kOk;
}

void PacketBuilder::Restart(uint64_t packets) {
  batched_ = 0;
  completed_total_ = packets;
  open_ = false;
}

void TrimPacket(uint8_t* packet, uint32_t packet_size, uint32_t payloads, uint32_t end) {
  std::memset(packet + end, 0, packet_size - end);
  store_u16le(packet + kPaddingLengthOffset, static_cast<uint16_t>(packet_size - end));
  packet[kPayloadFlagsOffset] = static_cast<uint8_t>(kPayloadLengthWord | payloads);
}

Status PacketBuilder::Drain() {
  if (batched_ == 0) return kOk;
  const Status status = sink_.Write(batch_.get(), size_t{batched_} * packet_size_);
  if (open_) {
    // The packet being filled moves to the front of the batch.
    std::memmove(batch_.get(), Slot(), pos_);
  }
  batched_ = 0;
  return status;
}

}  // namespace kestrum::asf
