// Fixed-size ASF data packets: samples become payloads, several to a packet
// when they are small, fragmented across consecutive packets when they are
// not. Completed packets collect in a batch of about kBatchBytes and go to the
// sink in one Write when the batch is full or on Drain, so each sample byte is
// copied once, into the batch, and the sink sees large writes.
//
// Packet layout (every packet exactly packet_size bytes):
//   82 00 00          error correction present, 2 bytes of zero data
//   length type       0x10 single payload / 0x11 multiple payloads; padding
//                     length as WORD, no packet length, no sequence
//   0x5D              property flags: replicated data length BYTE, offset
//                     into object DWORD, object number BYTE, stream BYTE
//   padding length    WORD
//   send time         DWORD, ms
//   duration          WORD, ms (0)
//   [payload flags]   multiple only: 0x80 | payload count (WORD lengths)
//   payloads          stream|key, object number, offset, 8, object size,
//                     presentation time, [WORD length], data
//   padding           zero bytes
// A packet that a fragment fills completely by itself is a single-payload
// packet; every other packet uses the multiple-payload layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "asf_format/objects.h"
#include "asf_format/status.h"
#include "asf_format/byte_sink.h"

namespace kestrum::asf {

inline constexpr size_t kPacketHeaderSize = 13;
inline constexpr size_t kSinglePayloadHeaderSize = 15;
inline constexpr size_t kMultiPayloadHeaderSize = 17;
inline constexpr uint32_t kMaxPayloadsPerPacket = 63;
inline constexpr size_t kBatchBytes = size_t{1} << 20;

// What every payload of one sample repeats.
struct PayloadInfo {
  uint8_t stream_byte = 0;       // stream number, with kKeyFrameBit for a key frame
  uint8_t object_number = 0;     // the sample's number in its stream, mod 256
  uint32_t presentation_ms = 0;  // preroll included
  uint32_t send_ms = 0;
};

// The packets, numbered from 0 at the Data Object's first packet, that hold a
// sample's first and last byte, and where in the first one its first payload
// begins: after `payloads_before` payloads of earlier samples, at byte
// `payload_offset` (both 0 when the sample begins the packet).
struct SamplePlacement {
  uint64_t first_packet = 0;
  uint64_t last_packet = 0;
  uint32_t payloads_before = 0;
  uint32_t payload_offset = 0;
};

// Cuts a multiple-payload packet, as the builder writes them, after its
// first `payloads` payloads, which end at byte `end`: the rest becomes
// padding.
void TrimPacket(uint8_t* packet, uint32_t packet_size, uint32_t payloads, uint32_t end);

class PacketBuilder {
 public:
  // `packet_size` in kMinPacketSize..kMaxPacketSize (header.h). Allocates the
  // batch (throws std::bad_alloc when it cannot).
  PacketBuilder(ByteSink& sink, uint32_t packet_size);
  PacketBuilder(const PacketBuilder&) = delete;
  PacketBuilder& operator=(const PacketBuilder&) = delete;

  // Appends a sample of 1 .. 2^32-1 bytes. Fails only when the sink fails a
  // batch write; the builder is then unusable.
  Status AddSample(const PayloadInfo& info, const uint8_t* data, uint32_t size,
                    SamplePlacement* placement);
  // Pads and completes the packet being filled, if any. Fails only when
  // that completes the batch and the sink fails its write.
  Status FinishPacket();
  // Hands every completed packet to the sink; the packet being filled stays.
  Status Drain();
  // Forgets every packet not handed to the sink, and the packet being
  // filled: the next packet is number `packets` (after the sink was cut
  // back to that many).
  void Restart(uint64_t packets);

  uint32_t packet_size() const { return packet_size_; }
  // Packets completed so far, drained or not.
  uint64_t completed_packets() const { return completed_total_; }
  // Completed packets not yet handed to the sink.
  uint32_t batched_packets() const { return batched_; }
  bool has_open_packet() const { return open_; }

 private:
  uint8_t* Slot() { return batch_.get() + size_t{batched_} * packet_size_; }
  uint32_t NextSendTime(uint32_t send_ms) const;
  void WritePacketHeader(uint8_t* p, bool multiple, uint32_t send_ms) const;
  Status CompletePacket(uint32_t send_ms);

  ByteSink& sink_;
  const uint32_t packet_size_;
  const uint32_t batch_packets_;
  const uint32_t single_capacity_;  // data bytes of a single-payload packet
  std::unique_ptr<uint8_t[]> batch_;
  uint32_t batched_ = 0;
  uint64_t completed_total_ = 0;
  uint32_t last_send_ms_ = 0;  // send times never decrease over packets
  // The packet being filled (multiple-payload layout), at Slot().
  bool open_ = false;
  size_t pos_ = 0;
  uint32_t payloads_ = 0;
  uint32_t open_send_ms_ = 0;
};

}  // namespace kestrum::asf
