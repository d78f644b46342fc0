#include "stream_format/group_scan.h"

#include <bit>

#include "stream_format/start_code_scan.h"

namespace kestrum::stream_format {

// The result and final position are those of a walk that steps one byte at a
// time and tests the u32 at every offset i < count - 4 (stopping at the first
// start code that is either too close to the end or carries a group type).
// Here the start codes among 16 offsets are found at once, and the few last
// offsets are walked one by one.
int32_t FindGroupStart(const uint8_t*& position, int32_t count) {
  if (count <= 4) return -2;
  const uint8_t* const base = position;
  const int32_t limit = count - 4;  // offsets examined: [0, limit)
  // Decides on a start code at `at`; false to go on searching.
  auto stop_at = [&](int32_t at, int32_t& result) {
    if (count - at < static_cast<int32_t>(kGroupHeaderSize)) {
      result = -1;  // a start whose header is not all there yet
    } else if (IsGroupType(load_u32le(base + at + kGroupTypeOffset))) {
      result = at;
    } else {
      return false;
    }
    position = base + at;
    return true;
  };

  int32_t i = 0;
  int32_t result = 0;
  // i + 16 <= count - 4 keeps the 19 bytes a step reads in range.
  static_assert(scan::kScanReach <= scan::kScanStride + 4);
  for (; limit - i >= scan::kScanStride; i += scan::kScanStride) {
    for (uint32_t mask = scan::StartCodeMask(base + i); mask != 0; mask &= mask - 1) {
      if (stop_at(i + std::countr_zero(mask), result)) return result;
    }
  }
  for (; i < limit; ++i) {
    if (load_u32le(base + i) == kGroupStartCode && stop_at(i, result)) return result;
  }
  position = base + limit;
  return -2;
}

const uint8_t* FindNextGroupStart(const uint8_t* begin, const uint8_t* end) {
  if (end - begin < static_cast<ptrdiff_t>(kGroupStartProbe)) return nullptr;
  const size_t size = static_cast<size_t>(end - begin);
  const size_t limit = size - kGroupStartProbe + 1;  // positions with a whole probe
  size_t i = 0;
  for (; i + scan::kScanReach <= size && i + scan::kScanStride <= limit; i += scan::kScanStride) {
    for (uint32_t mask = scan::StartCodeMask(begin + i); mask != 0; mask &= mask - 1) {
      const uint8_t* p = begin + i + static_cast<size_t>(std::countr_zero(mask));
      if (IsGroupType(load_u32le(p + kGroupTypeOffset))) return p;
    }
  }
  for (; i < limit; ++i) {
    if (IsGroupStart(begin + i)) return begin + i;
  }
  return nullptr;
}

const char* ProblemText(Problem problem) {
  switch (problem) {
    case Problem::kNone:
      return "none";
    case Problem::kNoGroupStart:
      return "no group start";
    case Problem::kBadGroupType:
      return "group type is not 0x1000 or 0x1001";
    case Problem::kBadBlockKind:
      return "block kind outside 0x1001..0x1005";
    case Problem::kPayloadTooLong:
      return "payload length of 500000 or more";
    case Problem::kTruncated:
      return "the file ends inside the group";
  }
  return "unknown";
}

}  // namespace kestrum::stream_format
