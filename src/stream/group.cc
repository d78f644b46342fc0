#include "stream/group.h"

#include <bit>
#include <cstddef>

#include "base/bytes.h"
#include "platform/debug_output.h"
#include "stream/start_code_scan.h"

namespace kestrum {
namespace {

constexpr uint32_t kGroupTypeIntra = 0x1000;
constexpr uint32_t kGroupTypeOther = 0x1001;
constexpr int kBlockPayloadLengthOffset = 16;
constexpr uint32_t kBlockCountMask = 0xFF;  // the count lives in the low 8 bits only

bool IsGroupType(uint32_t group_type) {
  return group_type == kGroupTypeIntra || group_type == kGroupTypeOther;
}

void LogBlockMessage(uint32_t payload_length, uint16_t kind) {
  // The length is shown as the signed 32-bit number it is on the wire; long
  // is wide enough for it on every platform.
  DebugLine("-----------Splitter : block_size = %ld %08x",
            static_cast<long>(static_cast<int32_t>(payload_length)), static_cast<unsigned>(kind));
}

// Delimits the block that [begin, end) begins with; on Complete `next` is one
// past its payload. The header is looked at only once it is whole, and the
// payload length is checked before it is trusted to bound anything.
ParseResult DelimitBlock(const uint8_t* begin, const uint8_t* end, const uint8_t*& next) {
  if (end - begin < kBlockHeaderSize) return ParseResult::Incomplete;
  const uint16_t kind = load_u16le(begin);
  const uint32_t payload_length = load_u32le(begin + kBlockPayloadLengthOffset);
  if (kind < kBlockKindFirst || kind > kBlockKindLast || payload_length >= kPayloadLengthLimit) {
    LogBlockMessage(payload_length, kind);
    return ParseResult::Malformed;
  }
  // Compared as lengths so no pointer is formed past `end`.
  if (end - begin - kBlockHeaderSize < static_cast<ptrdiff_t>(payload_length)) {
    return ParseResult::Incomplete;
  }
  next = begin + kBlockHeaderSize + payload_length;
  return ParseResult::Complete;
}

}  // namespace

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
    if (count - at < kGroupHeaderSize) {
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

ParseResult ParseBlock(BlockView& view, const uint8_t* begin, const uint8_t* end) {
  const uint8_t* next = nullptr;
  const ParseResult result = DelimitBlock(begin, end, next);
  if (result == ParseResult::Complete) view = BlockView{begin, begin + kBlockHeaderSize, next};
  return result;
}

ParseResult ParseGroup(GroupView& view, const uint8_t* begin, const uint8_t* end) {
  if (end - begin < kGroupHeaderSize) return ParseResult::Incomplete;
  if (load_u32le(begin) != kGroupStartCode) {
    OutputDebugStringA("Splitter : 1");
    return ParseResult::Malformed;
  }
  const uint32_t blocks = load_u32le(begin + kGroupBlockCountOffset) & kBlockCountMask;
  const uint8_t* cursor = begin + kGroupHeaderSize;
  for (uint32_t k = 0; k < blocks; ++k) {
    const uint8_t* next = nullptr;
    const ParseResult result = DelimitBlock(cursor, end, next);
    if (result != ParseResult::Complete) return result;
    cursor = next;
  }
  view = GroupView{begin, begin + kGroupHeaderSize, cursor};
  return ParseResult::Complete;
}

bool IsVideoBlock(const BlockView& block) {
  if (!block.valid()) return false;
  const uint16_t kind = load_u16le(block.header);
  return kind == 0x1003 || kind == 0x1004 || kind == 0x1005;
}

// A view whose blocks no longer parse (not from a Complete parse, or its
// bytes changed) yields the empty view once the walk meets the bad block;
// nothing past the group's end is read.
BlockView FindVideoBlock(const GroupView& group, int32_t n) {
  if (!group.valid() || group.first_block == group.end || n < 0) return BlockView{};
  const uint8_t* cursor = group.first_block;
  while (cursor != group.end) {
    BlockView block;
    if (ParseBlock(block, cursor, group.end) != ParseResult::Complete) return BlockView{};
    if (IsVideoBlock(block)) {
      if (n == 0) return block;
      --n;
    }
    cursor = block.end;
  }
  return BlockView{};
}

}  // namespace kestrum
