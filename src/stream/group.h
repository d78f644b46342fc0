// The live road's group and block parsers, over the stream-format
// component's layout and walk (stream_format/): they log what they refuse.
// All of them work in place on bytes the caller owns: nothing is copied or
// allocated, and every view points into those bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_format/group_scan.h"
#include "stream_format/layout.h"

namespace kestrum {

using stream_format::FindGroupStart;
using stream_format::kBlockHeaderSize;
using stream_format::kFileHeaderSize;
using stream_format::kFileHeaderRateBaseOffset;
using stream_format::kFileHeaderRateFactorOffset;
using stream_format::kFileHeaderStreamTypeOffset;
using stream_format::kGroupBlockCountOffset;
using stream_format::kGroupFrameTypeOffset;
using stream_format::kGroupHeaderSize;
using stream_format::kGroupStartCode;
using stream_format::kGroupTypeOffset;
// On Complete the parsers below have filled the view; on Malformed they have
// logged a message.
using stream_format::ParseResult;

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

// Checks that [begin, end) begins with a whole group and fills `view` on
// Complete. Logs "Splitter : 1" or the block message on Malformed.
ParseResult ParseGroup(GroupView& view, const uint8_t* begin, const uint8_t* end);

// How far a parse of one group got: the blocks found whole so far, and how
// many bytes from the group's start the parse needs before its answer can
// change. Fresh for each group.
struct GroupProgress {
  size_t next_block = 0;  // offset of the first block not yet whole; 0 before the header
  uint32_t blocks_left = 0;
  size_t needed = 0;
};

// ParseGroup over a group whose bytes come in order: called again over the
// same bytes and more, with the same `progress`, it goes on from the block
// where it stopped instead of the first, so that a group arriving in many
// appends is walked once. The result, the view and the lines logged are
// those of ParseGroup over [begin, end).
ParseResult ParseGroupFrom(GroupProgress& progress, GroupView& view, const uint8_t* begin,
                           const uint8_t* end);

// Checks that [begin, end) begins with a whole block and fills `view` on
// Complete. Logs the block message on Malformed.
ParseResult ParseBlock(BlockView& view, const uint8_t* begin, const uint8_t* end);

// True when the view is valid and its block kind is 0x1003, 0x1004 or 0x1005.
bool IsVideoBlock(const BlockView& block);

// The n-th video block (n from 0, counting video blocks only) of a group that
// ParseGroup returned Complete over, or the empty view.
BlockView FindVideoBlock(const GroupView& group, int32_t n);

}  // namespace kestrum
