// The layout of groups and blocks in a stored stream, and the checks that
// find and delimit them. Shared by the packet-source library and the kestrum
// program; depends on nothing but the byte helpers, writes no diagnostics.
//
// GroupHeader, 48 bytes: u32 start code (1) at 0, u32 group type (0x1000 or
// 0x1001) at 12, u32 block count + 0x1000 at 16 (only its low 8 bits count),
// u32 frame type at 24. BlockHeader, 20 bytes: u16 block kind (0x1001..0x1005)
// at 0, u32 payload length (below 500000) at 16; the payload follows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/bytes.h"

namespace quarnel {

inline constexpr size_t kFileHeaderSize = 40;
inline constexpr size_t kGroupHeaderSize = 48;
inline constexpr size_t kBlockHeaderSize = 20;
inline constexpr uint32_t kPayloadLengthLimit = 500000;  // a payload length must be below this

inline constexpr uint32_t kGroupStartCode = 1;
inline constexpr size_t kGroupTypeOffset = 12;
inline constexpr size_t kBlockCountOffset = 16;
inline constexpr size_t kFrameTypeOffset = 24;
inline constexpr size_t kBlockLengthOffset = 16;
inline constexpr uint16_t kBlockKindFirst = 0x1001;
inline constexpr uint16_t kBlockKindLast = 0x1005;

// Bytes needed to tell whether a position is a group start.
inline constexpr size_t kGroupStartProbe = kGroupTypeOffset + 4;

// The largest whole group: 255 blocks of the largest payload.
inline constexpr size_t kMaxGroupSize =
    kGroupHeaderSize + 255 * (kBlockHeaderSize + kPayloadLengthLimit - 1);

inline bool IsVideoBlockKind(uint16_t kind) { return kind >= 0x1003 && kind <= 0x1005; }

// True when the kGroupStartProbe bytes at `p` are a group start: start code 1
// and group type 0x1000 or 0x1001.
inline bool IsGroupStart(const uint8_t* p) {
  if (kestrum::load_u32le(p) != kGroupStartCode) return false;
  const uint32_t type = kestrum::load_u32le(p + kGroupTypeOffset);
  return type == 0x1000 || type == 0x1001;
}

// The first group start in [begin, end) whose kGroupStartProbe bytes all lie
// in the range, or null. Looks for the start code's first byte with memchr,
// so runs of bytes other than 0x01 (zeros, mostly) pass at memory speed.
inline const uint8_t* FindGroupStart(const uint8_t* begin, const uint8_t* end) {
  if (end - begin < static_cast<ptrdiff_t>(kGroupStartProbe)) return nullptr;
  const uint8_t* const last = end - kGroupStartProbe;  // last position with a whole probe
  const uint8_t* p = begin;
  while (p <= last) {
    const void* hit = std::memchr(p, 0x01, static_cast<size_t>(last - p) + 1);
    if (hit == nullptr) return nullptr;
    p = static_cast<const uint8_t*>(hit);
    if (IsGroupStart(p)) return p;
    ++p;
  }
  return nullptr;
}

// Why bytes at a position are not a whole group.
enum class Problem : uint8_t {
  kNone = 0,
  kNoGroupStart,    // no start code 1 here
  kBadGroupType,    // start code 1, but the group type is not 0x1000 or 0x1001
  kBadBlockKind,    // a block kind outside 0x1001..0x1005
  kPayloadTooLong,  // a payload length of 500000 or more
  kTruncated,       // the bytes end inside the group
};

const char* ProblemText(Problem problem);

struct GroupCheck {
  enum class Status : uint8_t {
    kComplete,   // a whole group of `size` bytes
    kNeedMore,   // undecided: at least `size` bytes are needed to go on
    kMalformed,  // never a group; `problem` says why
  };
  Status status;
  Problem problem = Problem::kNone;
  size_t size = 0;             // kComplete: the group's size; kNeedMore: bytes needed
  size_t problem_offset = 0;   // kMalformed: offset of the offending field's block or group
  uint32_t problem_value = 0;  // kMalformed: the offending group type, block kind or length
};

// Checks whether the `available` bytes at `p` begin with a whole group, with
// the rules of the live road's group parser plus its search's group start
// rule: start code 1, group type 0x1000 or 0x1001, the block count's low 8
// bits, each block of kind 0x1001..0x1005 with a payload length below 500000.
// Reads nothing past `available`; the answer never depends on bytes past the
// group, and kNeedMore grows monotonically as more bytes are offered.
inline GroupCheck CheckGroup(const uint8_t* p, size_t available) {
  using Status = GroupCheck::Status;
  if (available >= 4 && kestrum::load_u32le(p) != kGroupStartCode) {
    return {Status::kMalformed, Problem::kNoGroupStart, 0, 0, kestrum::load_u32le(p)};
  }
  if (available < kGroupStartProbe) return {Status::kNeedMore, Problem::kNone, kGroupStartProbe};
  const uint32_t type = kestrum::load_u32le(p + kGroupTypeOffset);
  if (type != 0x1000 && type != 0x1001) {
    return {Status::kMalformed, Problem::kBadGroupType, 0, kGroupTypeOffset, type};
  }
  if (available < kGroupHeaderSize) return {Status::kNeedMore, Problem::kNone, kGroupHeaderSize};
  const unsigned blocks = p[kBlockCountOffset];  // the low 8 bits of the little-endian field
  size_t cur = kGroupHeaderSize;
  for (unsigned i = 0; i < blocks; ++i) {
    if (available - cur < kBlockHeaderSize) {
      return {Status::kNeedMore, Problem::kNone, cur + kBlockHeaderSize};
    }
    const uint16_t kind = kestrum::load_u16le(p + cur);
    if (kind < kBlockKindFirst || kind > kBlockKindLast) {
      return {Status::kMalformed, Problem::kBadBlockKind, 0, cur, kind};
    }
    const uint32_t length = kestrum::load_u32le(p + cur + kBlockLengthOffset);
    if (length >= kPayloadLengthLimit) {
      return {Status::kMalformed, Problem::kPayloadTooLong, 0, cur, length};
    }
    cur += kBlockHeaderSize + length;
    if (cur > available) return {Status::kNeedMore, Problem::kNone, cur};
  }
  return {Status::kComplete, Problem::kNone, cur};
}

}  // namespace quarnel
