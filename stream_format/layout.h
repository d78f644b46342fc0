// The input stream's layout, defined once for the live road (src/stream),
// the packet source (quarnel/) and the kestrum program. All fields are
// little-endian and may stand at any byte address.
//
// FileHeader, 40 bytes:
//   0 u32 tag (1)   8 u32 version (0xYYYYMMDD)   16 u16 stream_type
//  18 u16 video_standard   22 u16 rate_factor   24 u32 rate_base
//  28 u32 resolution (older headers) or u16 width, u16 height (0x20040308 on)
//  Every other byte is carried unread.
// GroupHeader, 48 bytes (u32 fields):
//   0 start code (1)      4 frame number + 0x1000   8 -
//  12 group type (0x1000 or 0x1001)                 16 block count + 0x1000
//     (read one way by each road: LiveRoadBlockCount, FileRoadBlockCount)
//  20 -   24 frame type   28 value + 0x1000   32, 36, 40 carried   44 -
// BlockHeader, 20 bytes: u16 block kind (0x1001..0x1005) at 0, u32 payload
// length (below 500000) at 16; the payload follows the header.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/bytes.h"

namespace kestrum::stream_format {

inline constexpr size_t kFileHeaderSize = 40;
inline constexpr size_t kFileHeaderTagOffset = 0;
inline constexpr size_t kFileHeaderVersionOffset = 8;
inline constexpr size_t kFileHeaderStreamTypeOffset = 16;
inline constexpr size_t kFileHeaderVideoStandardOffset = 18;
inline constexpr size_t kFileHeaderRateFactorOffset = 22;
inline constexpr size_t kFileHeaderRateBaseOffset = 24;
inline constexpr size_t kFileHeaderResolutionOffset = 28;
inline constexpr size_t kFileHeaderWidthOffset = 28;
inline constexpr size_t kFileHeaderHeightOffset = 30;
inline constexpr uint32_t kFileHeaderTag = 1;
// Headers of this version or later carry the picture size explicitly.
inline constexpr uint32_t kExplicitSizeVersion = 0x20040308;

inline constexpr size_t kGroupHeaderSize = 48;
inline constexpr uint32_t kGroupStartCode = 1;
inline constexpr size_t kGroupFrameNumberOffset = 4;
inline constexpr size_t kGroupTypeOffset = 12;
inline constexpr size_t kGroupBlockCountOffset = 16;
inline constexpr size_t kGroupFrameTypeOffset = 24;
inline constexpr size_t kGroupValueOffset = 28;    // a value + kFieldBias
inline constexpr size_t kGroupCarriedOffset = 32;  // three words carried unread: 32, 36, 40
inline constexpr size_t kGroupCarriedWords = 3;
inline constexpr uint32_t kGroupTypeIntra = 0x1000;
inline constexpr uint32_t kGroupTypeOther = 0x1001;
inline constexpr uint32_t kBlockCountMask = 0xFF;  // the live road's count: the low 8 bits
// Bias of the counted fields (block count, frame number, kinds start at 0x1001).
inline constexpr uint32_t kFieldBias = 0x1000;

inline constexpr size_t kBlockHeaderSize = 20;
inline constexpr size_t kBlockLengthOffset = 16;
inline constexpr uint16_t kBlockKindFirst = 0x1001;
inline constexpr uint16_t kBlockKindLast = 0x1005;
inline constexpr uint16_t kBlockKindVideoFirst = 0x1003;  // 0x1003..0x1005 carry video
// A payload length must be below this.
inline constexpr uint32_t kPayloadLengthLimit = 500000;

// Bytes needed to tell whether a position is a group start.
inline constexpr size_t kGroupStartProbe = kGroupTypeOffset + 4;
// The largest whole group: 255 blocks of the largest payload.
inline constexpr size_t kMaxGroupSize =
    kGroupHeaderSize + 255 * (kBlockHeaderSize + kPayloadLengthLimit - 1);

inline bool IsGroupType(uint32_t group_type) {
  return group_type == kGroupTypeIntra || group_type == kGroupTypeOther;
}
inline bool IsBlockKind(uint16_t kind) { return kind >= kBlockKindFirst && kind <= kBlockKindLast; }
inline bool IsVideoBlockKind(uint16_t kind) {
  return kind >= kBlockKindVideoFirst && kind <= kBlockKindLast;
}

// The block count field holds 0x1000 plus the number of blocks after the
// group header, and the two roads read it differently, by design; both
// give the same number whenever the field holds 0x1000 plus at most 255.
// `group` points at a whole 48-byte group header.
//
// The live road's reading (ParseGroup, and every reader that delimits
// groups as the splitter does): the field's low 8 bits alone, 0 to 255.
inline uint32_t LiveRoadBlockCount(const uint8_t* group) {
  return load_u32le(group + kGroupBlockCountOffset) & kBlockCountMask;
}
// The file road's reading (processpacket): the whole field as a signed
// number, less 0x1000, without wrapping, so that 0x80000000 and up count no
// blocks. 0 or less writes nothing.
inline int32_t FileRoadBlockCount(const uint8_t* group) {
  const int64_t count = int64_t{static_cast<int32_t>(load_u32le(group + kGroupBlockCountOffset))} -
                        int64_t{kFieldBias};
  return count < INT32_MIN ? INT32_MIN : static_cast<int32_t>(count);
}

// True when the kGroupStartProbe bytes at `p` are a group start: start code 1
// and group type 0x1000 or 0x1001.
inline bool IsGroupStart(const uint8_t* p) {
  return load_u32le(p) == kGroupStartCode && IsGroupType(load_u32le(p + kGroupTypeOffset));
}

}  // namespace kestrum::stream_format
