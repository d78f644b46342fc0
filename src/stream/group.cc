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
  GroupProgress progress;
  return ParseGroupFrom(progress, view, begin, end);
}

ParseResult ParseGroupFrom(GroupProgress& progress, GroupView& view, const uint8_t* begin,
                           const uint8_t* end) {
  const size_t available = Available(begin, end);
  // Fewer bytes than the step that stopped asked for: it would stop again.
  if (available < progress.needed) return ParseResult::Incomplete;
  if (progress.next_block == 0) {
    if (available < kGroupHeaderSize) {
      progress.needed = kGroupHeaderSize;
      return ParseResult::Incomplete;
    }
    if (load_u32le(begin) != kGroupStartCode) {
      OutputDebugStringA(lines::kNoGroupStartCode);
      return ParseResult::Malformed;
    }
    progress.next_block = kGroupHeaderSize;
    progress.blocks_left = stream_format::LiveRoadBlockCount(begin);
  }
  // One block at a time, keeping each one found whole.
  for (; progress.blocks_left > 0; --progress.blocks_left) {
    const BlockWalk walk = stream_format::WalkBlocks(begin, available, progress.next_block, 1);
    if (walk.result != ParseResult::Complete) {
      progress.needed = walk.size;
      return Logged(walk);
    }
    progress.next_block = walk.size;
  }
  view = GroupView{begin, begin + kGroupHeaderSize, begin + progress.next_block};
  return ParseResult::Complete;
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
