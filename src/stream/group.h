// Groups and blocks of the input stream, and the operations that find and
// delimit them in raw bytes. All of them work in place on bytes the caller
// owns: nothing is copied or allocated, and every view points into those bytes.
//
// GroupHeader, 48 bytes (little-endian u32 fields):
//   0 start code (1)      4 frame number + 0x1000   8 -
//  12 group type (0x1000 or 0x1001)                 16 block count + 0x1000
//  20 -   24 frame type   28 value + 0x1000   32, 36, 40 carried   44 -
// BlockHeader, 20 bytes: u16 block kind (0x1001..0x1005) at 0, u32 payload
// length at 16; the payload follows the header.
#pragma once

#include <cstdint>

namespace kestrum {

inline constexpr int32_t kGroupHeaderSize = 48;
inline constexpr int32_t kBlockHeaderSize = 20;
// A payload length must be below this.
inline constexpr uint32_t kPayloadLengthLimit = 500000;

inline constexpr uint32_t kGroupStartCode = 1;
inline constexpr int kGroupFrameTypeOffset = 24;
inline constexpr int kGroupTypeOffset = 12;
inline constexpr int kGroupBlockCountOffset = 16;

inline constexpr uint16_t kBlockKindFirst = 0x1001;
inline constexpr uint16_t kBlockKindLast = 0x1005;

enum class ParseResult : int {
  Complete = 0,    // the range begins with a whole group (block); the view is filled
  Incomplete = 1,  // the range ends before the group (block) does
  Malformed = 2,   // the bytes cannot be a group (block); a message was logged
};

// A group: its header, its first block (header + 48) and one past its last
// block. Valid when all three are non-null; the empty view has all three null.
struct GroupView {
  const uint8_t* header = nullptr;
  const uint8_t* first_block = nullptr;
  const uint8_t* end = nullptr;

  bool valid() const { return header != nullptr && first_block != nullptr && end != nullptr; }
  void Clear() { *this = GroupView{}; }
};

// A block: its header, its payload (header + 20) and one past its payload.
struct BlockView {
  const uint8_t* header = nullptr;
  const uint8_t* payload = nullptr;
  const uint8_t* end = nullptr;

  bool valid() const { return header != nullptr && payload != nullptr && end != nullptr; }
  void Clear() { *this = BlockView{}; }
};

// Searches `count` readable bytes from `position` for a group start (start
// code 1 followed, 12 bytes on, by group type 0x1000 or 0x1001), moving
// `position` forward. Returns the offset of the start found; -1 when it
// stopped on a start code with fewer than 48 bytes left; -2 when it found no
// candidate (the position then stands on the last four bytes).
int32_t FindGroupStart(const uint8_t*& position, int32_t count);

// Checks that [begin, end) begins with a whole group and fills `view` on
// Complete. Logs "Splitter : 1" or the block message on Malformed.
ParseResult ParseGroup(GroupView& view, const uint8_t* begin, const uint8_t* end);

// Checks that [begin, end) begins with a whole block and fills `view` on
// Complete. Logs the block message on Malformed.
ParseResult ParseBlock(BlockView& view, const uint8_t* begin, const uint8_t* end);

// True when the view is valid and its block kind is 0x1003, 0x1004 or 0x1005.
bool IsVideoBlock(const BlockView& block);

// The n-th video block (n from 0, counting video blocks only) of a group that
// ParseGroup returned Complete over, or the empty view.
BlockView FindVideoBlock(const GroupView& group, int32_t n);

}  // namespace kestrum
