// The data packets as this system lays them out: the one description for
// the packet builder that writes them, the reader that holds a file to them
// (ReadChecks::kLayout) and the repair that walks and trims them. Every
// packet is exactly the file's packet size:
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

#include "base/bytes.h"

namespace kestrum::asf {

// Error correction: its flags (present, 2 bytes of data), as any ASF file's
// first byte says them.
inline constexpr uint8_t kErrorCorrectionFlags = 0x82;
inline constexpr uint8_t kErrorCorrectionPresent = 0x80;
inline constexpr uint8_t kErrorCorrectionLengthMask = 0x0F;

// The packet header, from the packet's start.
inline constexpr size_t kLengthTypeOffset = 3;
inline constexpr size_t kPropertyFlagsOffset = 4;
inline constexpr size_t kPaddingLengthOffset = 5;
inline constexpr size_t kSendTimeOffset = 7;
inline constexpr size_t kDurationOffset = 11;
inline constexpr size_t kPacketHeaderSize = 13;
inline constexpr uint8_t kLengthTypeSingle = 0x10;    // padding length as WORD
inline constexpr uint8_t kLengthTypeMultiple = 0x11;  // the same, multiple payloads
inline constexpr uint8_t kMultiplePayloadsBit = 0x01;
inline constexpr uint8_t kPropertyFlags = 0x5D;

// A multiple-payload packet's payload flags end its header; its payloads
// follow.
inline constexpr size_t kPayloadFlagsOffset = 13;
inline constexpr size_t kFirstMultiPayloadOffset = 14;
inline constexpr uint8_t kPayloadLengthWord = 0x80;  // in the length type bits
inline constexpr uint8_t kPayloadLengthTypeMask = 0xC0;
inline constexpr uint8_t kPayloadCountMask = 0x3F;
inline constexpr uint32_t kMaxPayloadsPerPacket = kPayloadCountMask;

// A payload's header, from the payload's start: the stream byte (with the
// key-frame bit), the object number, the offset into the object, 8 bytes of
// replicated data (the object's size and presentation time) and, in a
// multiple-payload packet, the WORD length of its data.
inline constexpr size_t kPayloadObjectNumberOffset = 1;
inline constexpr size_t kPayloadObjectOffsetOffset = 2;
inline constexpr size_t kPayloadReplicatedSizeOffset = 6;
inline constexpr size_t kPayloadObjectSizeOffset = 7;
inline constexpr size_t kPayloadPresentationOffset = 11;
inline constexpr size_t kPayloadLengthOffset = 15;
inline constexpr size_t kSinglePayloadHeaderSize = 15;
inline constexpr size_t kMultiPayloadHeaderSize = 17;
inline constexpr uint8_t kReplicatedDataSize = 8;
inline constexpr uint8_t kKeyFrameBit = 0x80;

inline bool HasMultiplePayloads(const uint8_t* packet) {
  return packet[kLengthTypeOffset] == kLengthTypeMultiple;
}
inline uint32_t PaddingLength(const uint8_t* packet) {
  return load_u16le(packet + kPaddingLengthOffset);
}
inline uint32_t PayloadCount(const uint8_t* packet) {
  return packet[kPayloadFlagsOffset] & kPayloadCountMask;
}

}  // namespace kestrum::asf
