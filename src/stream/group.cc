#include "stream/group.h"

#include <cstddef>

#include "base/bytes.h"
#include "diagnostics/lines.h"
#include "platform/debug_output.h"

namespace kestrum {
namespace {

using stream_format::BlockWalk;

void LogBlockMessage(const BlockWalk& walk) {
  // The length is shown as the signed 32-bit number it is on the wire; long
  // is wide enough for it on every platform.
  DebugLine(lines::kBlockRefusedFormat, static_cast<long>(static_cast<int32_t>(walk.length)),
            static_cast<unsigned>(walk.kind));
}

// The live road's reading of a walk: a refused block is logged.
ParseResult Logged(const BlockWalk& walk) {
  if (walk.result == ParseResult::Malformed) LogBlockMessage(walk);
  return walk.result;
}

size_t Available(const uint8_t* begin, const uint8_t* end) {
  return end > begin ? static_cast<size_t>(end - begin) : 0;
}

}  // namespace

ParseResult ParseBlock(BlockView& view, const uint8_t* begin, const uint8_t* end) {
  const BlockWalk walk = stream_format::WalkBlocks(begin, Available(begin, end), 0, 1);
  const ParseResult result = Logged(walk);
  if (result == ParseResult::Complete) view = BlockView{begin, begin + kBlockHeaderSize, begin + walk.size};
  return result;
}

ParseResult ParseGroup(GroupView& view, const uint8_t* begin, const uint8_t* end) {
  const size_t available = Available(begin, end);
  if (available < kGroupHeaderSize) return ParseResult::Incomplete;
  if (load_u32le(begin) != kGroupStartCode) {
    OutputDebugStringA(lines::kNoGroupStartCode);
    return ParseResult::Malformed;
  }
  const BlockWalk walk = stream_format::WalkBlocks(begin, available, kGroupHeaderSize,
                                                   stream_format::LiveRoadBlockCount(begin));
  const ParseResult result = Logged(walk);
  if (result == ParseResult::Complete) {
    view = GroupView{begin, begin + kGroupHeaderSize, begin + walk.size};
  }
  return result;
}

bool IsVideoBlock(const BlockView& block) {
  return block.valid() && stream_format::IsVideoBlockKind(load_u16le(block.header));
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
