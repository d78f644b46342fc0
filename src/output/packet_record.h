// The record the packet source fills for each packet, and the sample packer
// takes (processpacket): on 32-bit builds exactly 40 bytes. `data` is the
// packet source's own, valid until its next call. The packet source's two
// operations and the kinds of packets are in convert/packet_source.h.
#pragma once

#include <cstdint>

namespace kestrum {

struct PacketRecord {
  uint32_t kind;
  const uint8_t* data;
  uint32_t length;
  uint8_t reserved[24];
  uint32_t time_ms;
};

}  // namespace kestrum
