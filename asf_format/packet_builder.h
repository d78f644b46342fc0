// Fixed-size ASF data packets: samples become payloads, several to a packet
// when they are small, fragmented across consecutive packets when they are
// not. The builder copies no sample byte: a packet is a list of spans, its
// own packet and payload headers (in a small arena) and padding between
// stretches of the samples' own buffers, which stay held until written.
// Completed packets collect in a batch of about kBatchBytes and go to the
// sink in one gathered write (ByteSink::WriteGather) when the batch is full,
// when it holds kMaxHeldSamples samples, or on Drain, so the sink sees large
// writes.
//
// The packets are laid out as packet_layout.h describes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf_format/byte_sink.h"
#include "asf_format/objects.h"
#include "asf_format/packet_layout.h"
#include "asf_format/sample_hold.h"
#include "asf_format/status.h"

namespace kestrum::asf {

inline constexpr size_t kBatchBytes = size_t{1} << 20;
// Samples whose bytes the completed packets hold, past which they are
// written whatever the batch's size: bounds the sample buffers kept alive.
inline constexpr size_t kMaxHeldSamples = 32;

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
  // `packet_size` in kMinPacketSize..kMaxPacketSize (header.h); completed
  // packets are written once they make `batch_bytes` (at least one packet).
  // Throws std::bad_alloc when memory for its lists cannot be had, here and
  // in AddSample and FinishPacket.
  PacketBuilder(ByteSink& sink, uint32_t packet_size, size_t batch_bytes = kBatchBytes);
  PacketBuilder(const PacketBuilder&) = delete;
  PacketBuilder& operator=(const PacketBuilder&) = delete;

  // Appends a sample of 1 .. 2^32-1 bytes, taken in place: `data` must stay
  // as it is until the packet holding its last byte has gone to the sink (or
  // Restart forgets it, or the builder goes); `hold` is released then. Fails
  // only when the sink fails a batch write; the builder is then unusable.
  Status AddSample(const PayloadInfo& info, const uint8_t* data, uint32_t size,
                    SamplePlacement* placement, SampleHold hold = {});
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
  // One span of the packets: `size` bytes at `data`, or in the arena at
  // `arena_offset` when `data` is null.
  struct Segment {
    const uint8_t* data;
    size_t arena_offset;
    size_t size;
  };
  struct Held {
    uint64_t last_packet;
    SampleHold hold;
  };

  uint8_t* ArenaBytes(size_t size);
  void AddBytes(const uint8_t* data, size_t size);
  uint32_t NextSendTime(uint32_t send_ms) const;
  void WritePacketHeader(uint8_t* p, bool multiple, uint32_t send_ms) const;
  Status CompletePacket(uint32_t send_ms);

  ByteSink& sink_;
  const uint32_t packet_size_;
  const uint32_t batch_packets_;
  const uint32_t single_capacity_;  // data bytes of a single-payload packet
  std::vector<Segment> segments_;   // the completed packets, then the open one
  std::vector<uint8_t> arena_;      // their headers
  std::vector<ByteSpan> spans_;     // Drain's list, kept for its capacity
  // In the order added; its capacity, set aside at construction, holds
  // what a batch holds (kMaxHeldSamples and the open packet's), so that
  // steady writing needs no memory for it.
  std::vector<Held> held_;
  uint64_t holds_erased_ = 0;  // taken off the front of held_ so far
  uint32_t batched_ = 0;
  uint64_t completed_total_ = 0;
  uint32_t last_send_ms_ = 0;  // send times never decrease over packets
  // Segments from here on may not be merged with an earlier one.
  size_t merge_floor_ = 0;
  // The packet being filled (multiple-payload layout): its segments and
  // arena bytes begin at open_segment_ and open_arena_, its packet header
  // at open_arena_; pos_ counts its bytes.
  bool open_ = false;
  size_t open_segment_ = 0;
  size_t open_arena_ = 0;
  size_t pos_ = 0;
  uint32_t payloads_ = 0;
  uint32_t open_send_ms_ = 0;
};

}  // namespace kestrum::asf
