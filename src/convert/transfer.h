// The file road: converts a stored stream, pulled packet by packet from the
// packet source, into an ASF file.
#pragma once

#include <cstdint>
#include <functional>

#include "convert/packet_source.h"

namespace kestrum {

class RecordInstance;

// The packet source's two operations. The exports pass the packet-source
// library's own; tests script packets.
struct PacketSource {
  std::function<int32_t(int32_t channel, intptr_t source)> open;
  std::function<int32_t(int32_t channel, PacketRecord* record)> get_packet;

  // The packet-source library's own exports.
  static PacketSource Library();
};

// Runs one conversion on `instance`. Returns 0 when the source did not open,
// 1 when the conversion ran to its end, or the negative status of a refused
// header, of a failed writer preparation, of a failed write, or
// E_READ_FAULT when the source reported it could not be read to its end
// (kPacketReadError; a source that never reports it converts as before).
int32_t TransferToAsf(RecordInstance& instance, const PacketSource& packets, intptr_t source,
                      const char* destination);

}  // namespace kestrum
