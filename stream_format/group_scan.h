// Finding and delimiting groups and blocks in raw bytes, without
// diagnostics: the live road's parsers (src/stream) and the stored-stream
// scanner are built on these. Nothing is copied; nothing past the bytes
// given is read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_format/layout.h"

namespace kestrum::stream_format {

// The live road's search. Searches `count` readable bytes from `position`
// for a group start (start code 1 followed, 12 bytes on, by group type
// 0x1000 or 0x1001), moving `position` forward. Returns the offset of the
// start found; -1 when it stopped on a start code with fewer than 48 bytes
// left; -2 when it found no candidate (the position then stands on the last
// four bytes).
int32_t FindGroupStart(const uint8_t*& position, int32_t count);

// The first group start in [begin, end) whose kGroupStartProbe bytes all lie
// in the range, or null.
const uint8_t* FindNextGroupStart(const uint8_t* begin, const uint8_t* end);

// Whether bytes begin with a whole group (or block): the one answer every
// reader of groups gives, the live road's parsers, the stored-stream scanner
// and the kestrum program alike.
enum class ParseResult : int {
  Complete = 0,    // the bytes begin with a whole group (block)
  Incomplete = 1,  // undecided: the bytes end before the group (block) does
  Malformed = 2,   // the bytes cannot be a group (block)
};

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

// The walk over `blocks` blocks from offset `at` of the `available` bytes at
// `p`. A block header is looked at only once it is whole, and a payload
// length is checked before it is trusted to bound anything.
struct BlockWalk {
  ParseResult result;
  // Complete: one past the last block. Incomplete: the bytes needed to go on.
  size_t size = 0;
  // Malformed: the block at `block_offset` has a kind outside 0x1001..0x1005
  // (kBadBlockKind) or a payload length of 500000 or more (kPayloadTooLong).
  Problem problem = Problem::kNone;
  size_t block_offset = 0;
  uint16_t kind = 0;    // of the bad block
  uint32_t length = 0;  // of the bad block
};

inline BlockWalk WalkBlocks(const uint8_t* p, size_t available, size_t at, uint32_t blocks) {
  for (uint32_t k = 0; k < blocks; ++k) {
    if (available - at < kBlockHeaderSize) return {ParseResult::Incomplete, at + kBlockHeaderSize};
    const uint16_t kind = load_u16le(p + at);
    const uint32_t length = load_u32le(p + at + kBlockLengthOffset);
    if (!IsBlockKind(kind)) {
      return {ParseResult::Malformed, 0, Problem::kBadBlockKind, at, kind, length};
    }
    if (length >= kPayloadLengthLimit) {
      return {ParseResult::Malformed, 0, Problem::kPayloadTooLong, at, kind, length};
    }
    // Compared as lengths so that no offset passes `available`.
    if (available - at - kBlockHeaderSize < length) {
      return {ParseResult::Incomplete, at + kBlockHeaderSize + length};
    }
    at += kBlockHeaderSize + length;
  }
  return {ParseResult::Complete, at};
}

struct GroupCheck {
  ParseResult result;
  Problem problem = Problem::kNone;  // Malformed: why
  size_t size = 0;                   // Complete: the group's size; Incomplete: bytes needed
  size_t problem_offset = 0;         // Malformed: offset of the offending field's block or group
  uint32_t problem_value = 0;        // Malformed: the offending group type, block kind or length
};

// Whether the `available` bytes at `p` begin with a whole group, by the
// rules of the live road's group parser plus its search's group start rule:
// start code 1, group type 0x1000 or 0x1001, then the blocks. The answer
// never depends on bytes past the group, and the size an Incomplete answer
// asks for grows monotonically as more bytes are offered.
inline GroupCheck CheckGroup(const uint8_t* p, size_t available) {
  if (available >= 4 && load_u32le(p) != kGroupStartCode) {
    return {ParseResult::Malformed, Problem::kNoGroupStart, 0, 0, load_u32le(p)};
  }
  if (available < kGroupStartProbe) {
    return {ParseResult::Incomplete, Problem::kNone, kGroupStartProbe};
  }
  const uint32_t type = load_u32le(p + kGroupTypeOffset);
  if (!IsGroupType(type)) {
    return {ParseResult::Malformed, Problem::kBadGroupType, 0, kGroupTypeOffset, type};
  }
  if (available < kGroupHeaderSize) {
    return {ParseResult::Incomplete, Problem::kNone, kGroupHeaderSize};
  }
  const BlockWalk walk = WalkBlocks(p, available, kGroupHeaderSize, LiveRoadBlockCount(p));
  if (walk.result != ParseResult::Malformed) return {walk.result, Problem::kNone, walk.size};
  return {ParseResult::Malformed, walk.problem, 0, walk.block_offset,
          walk.problem == Problem::kBadBlockKind ? walk.kind : walk.length};
}

// The file road's reading of a group, whose header lies at `p` with
// `available` bytes (at least kGroupHeaderSize) from there: `count` is
// FileRoadBlockCount, and `blocks_size` the bytes of that many blocks after
// the header, each 20 bytes plus its payload length whatever its kind; 0
// when the count is 0 or less or the blocks run past the bytes available.
// The file road writes nothing for such a group.
struct FileRoadGroup {
  uint32_t field = 0;
  int32_t count = 0;
  uint32_t live_count = 0;  // LiveRoadBlockCount of the same group
  uint64_t blocks_size = 0;
  // Nothing is written for a group that holds blocks, or counts some: the
  // file road refuses it (a group whose field counts none, such as 0x1000,
  // has nothing to write on either road).
  bool refused() const { return blocks_size == 0 && (count > 0 || live_count != 0); }
};

inline FileRoadGroup ReadFileRoadGroup(const uint8_t* p, size_t available) {
  FileRoadGroup g;
  g.field = load_u32le(p + kGroupBlockCountOffset);
  g.count = FileRoadBlockCount(p);
  g.live_count = LiveRoadBlockCount(p);
  const uint64_t room = available - kGroupHeaderSize;
  const uint8_t* const blocks = p + kGroupHeaderSize;
  uint64_t size = 0;
  for (int32_t i = 0; i < g.count; ++i) {
    if (room - size < kBlockHeaderSize) return g;
    const uint64_t block = kBlockHeaderSize + uint64_t{load_u32le(blocks + size + kBlockLengthOffset)};
    if (block > room - size) return g;
    size += block;
  }
  g.blocks_size = size;
  return g;
}

}  // namespace kestrum::stream_format
