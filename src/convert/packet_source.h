// The packet source's operations, as the file road calls them, and the
// kinds of packet in the record they fill (output/packet_record.h). The
// packet-source library (quarnel/) exports them; the file road declares them
// itself rather than compiling against that library's header, and a test
// holds these declarations against the library's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "output/packet_record.h"

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRUM_PACKET_SOURCE_CALL __stdcall
#else
#define KESTRUM_PACKET_SOURCE_CALL
#endif

namespace kestrum {

// What one packet is (PacketRecord::kind).
enum PacketKind : uint32_t {
  kPacketHeader = 0,   // data: the 40-byte stream header
  kPacketGroup = 1,    // data: one whole group; time_ms its time
  kPacketSkipped = 10  // bytes that belong to no group; nothing to read
};

// What fetching a packet returned.
enum PacketResult : int32_t {
  kPacketMore = 0,      // a packet was placed in the record; more may follow
  kPacketEnd = 2,       // no packet: the stream has ended
  kPacketReadError = 3  // the packet placed is the last: the stream could not be read further
};

using PacketSourceOpenFile = int32_t KESTRUM_PACKET_SOURCE_CALL(int32_t channel, intptr_t source);
using PacketSourceGetPacket = int32_t KESTRUM_PACKET_SOURCE_CALL(int32_t channel,
                                                                 PacketRecord* record);
// Ends the open stream early: the next packet fetched is the end.
using PacketSourceEndStream = int32_t KESTRUM_PACKET_SOURCE_CALL(int32_t channel);
// How far the open stream has been handed out, in bytes of the source.
using PacketSourceGetPosition = int32_t KESTRUM_PACKET_SOURCE_CALL(int32_t channel,
                                                                   uint64_t* bytes);

}  // namespace kestrum
