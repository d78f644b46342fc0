// The file road: converts a stored stream, pulled packet by packet from the
// packet source, into an ASF file.
#pragma once

#include <cstdint>
#include <functional>

#include "convert/packet_source.h"

namespace kestrum {

class RecordInstance;
class TransferProgress;

// The packet source's operations. The exports pass the packet-source
// library's own; tests script packets (and may leave the last two out: the
// position is then the end of the last packet, and a stopped conversion
// leaves the source open).
struct PacketSource {
  std::function<int32_t(int32_t channel, intptr_t source)> open;
  std::function<int32_t(int32_t channel, PacketRecord* record)> get_packet;
  std::function<int32_t(int32_t channel, uint64_t* bytes)> get_position = nullptr;
  std::function<int32_t(int32_t channel)> end_stream = nullptr;

  // The packet-source library's own exports.
  static PacketSource Library();
};

// Runs one conversion on `instance`. Returns 0 when the source did not open,
// 1 when the conversion ran to its end, or the negative status of a refused
// header, of a failed writer preparation, of a failed write, or
// E_READ_FAULT when the source reported it could not be read to its end
// (kPacketReadError; a source that never reports it converts as before).
// With `progress`, it is told after each packet, and a stop it asks for ends
// the file with what it holds, closes the source and returns kCancelled.
int32_t TransferToAsf(RecordInstance& instance, const PacketSource& packets, intptr_t source,
                      const char* destination, TransferProgress* progress = nullptr);

}  // namespace kestrum
