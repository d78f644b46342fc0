// The group and block parsers, the group start search and the start rule on
// arbitrary byte ranges. Input: one byte choosing the stream type the start
// rule reads, then the range itself. Checks that every result and view stays
// within the range and agrees with the other operations, and that the
// search and the parse resumed over a growing range, as the splitter runs
// them, answer as they do from the start.
#include <algorithm>
#include <cstring>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "fuzz/fuzz_input.h"
#include "stream/group.h"

namespace {

using namespace kestrum;

bool Within(const uint8_t* p, const uint8_t* begin, const uint8_t* end) {
  return p != nullptr && p >= begin && p <= end;
}

void CheckSearch(const uint8_t* begin, const uint8_t* end) {
  const auto count = static_cast<int32_t>(end - begin);
  const uint8_t* position = begin;
  const int32_t found = FindGroupStart(position, count);
  if (!Within(position, begin, end)) fuzz::Fail("search left the range");
  if (found >= 0) {
    if (position != begin + found || count - found < static_cast<int32_t>(kGroupHeaderSize)) {
      fuzz::Fail("group start offset disagrees with the position");
    }
    if (load_u32le(position) != kGroupStartCode) fuzz::Fail("group start without a start code");
  } else if (found == -1) {
    if (end - position >= static_cast<ptrdiff_t>(kGroupHeaderSize) || end - position < 4 ||
        load_u32le(position) != kGroupStartCode) {
      fuzz::Fail("-1 not on a start code near the end");
    }
  } else if (found != -2) {
    fuzz::Fail("search result out of range");
  }
}

void CheckGroup(RecordInstance& instance, const uint8_t* begin, const uint8_t* end) {
  GroupView group;
  if (ParseGroup(group, begin, end) != ParseResult::Complete) return;
  if (group.header != begin || group.first_block != begin + kGroupHeaderSize ||
      !Within(group.end, group.first_block, end)) {
    fuzz::Fail("group view outside the range");
  }
  // Every block parses, back to back up to the group's end; the video blocks
  // FindVideoBlock returns are exactly those, in order.
  int32_t videos = 0;
  BlockView block;
  for (const uint8_t* cursor = group.first_block; cursor != group.end; cursor = block.end) {
    if (ParseBlock(block, cursor, group.end) != ParseResult::Complete) {
      fuzz::Fail("a block of a complete group does not parse");
    }
    if (!Within(block.end, block.payload, group.end)) fuzz::Fail("block view outside the group");
    if (IsVideoBlock(block)) {
      const BlockView found = FindVideoBlock(group, videos);
      if (found.header != block.header || found.end != block.end) {
        fuzz::Fail("FindVideoBlock disagrees with the walk");
      }
      ++videos;
    }
  }
  if (FindVideoBlock(group, videos).valid() || FindVideoBlock(group, -1).valid()) {
    fuzz::Fail("FindVideoBlock past the last video block");
  }
  instance.IsStartGroup(group.header);
}

// The splitter's way with held bytes that grow: a search resumed where the
// last one over fewer of the same bytes stopped, and the parse of the group
// it found resumed where the last one stopped, answer as a search and a
// parse from the first byte do, for every length up to `end`.
void CheckResumed(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* resume = begin;
  GroupProgress progress;
  for (const uint8_t* held = begin; held <= end; ++held) {
    const uint8_t* position = begin;
    const int32_t found = FindGroupStart(position, static_cast<int32_t>(held - begin));
    const uint8_t* start = resume;
    const int32_t resumed = FindGroupStart(start, static_cast<int32_t>(held - resume));
    resume = start;
    if ((found < 0 || resumed < 0 ? found != resumed : start != position)) {
      fuzz::Fail("a resumed search disagrees with one from the first byte");
    }
    if (found < 0) continue;
    GroupView fresh, going_on;
    const ParseResult result = ParseGroup(fresh, position, held);
    if (ParseGroupFrom(progress, going_on, start, held) != result ||
        (result == ParseResult::Complete && going_on.end != fresh.end)) {
      fuzz::Fail("a resumed parse disagrees with one from the group's start");
    }
    if (result != ParseResult::Incomplete) return;  // the splitter empties its buffer
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Ranges are signed 32-bit counts; the harness stays far below that.
  if (size > (size_t{1} << 16)) return 0;
  fuzz::FuzzInput in(data, size);
  RecordInstance instance{WmFactories{}};
  const uint8_t type = in.U8();
  store_u16le(instance.stream_header.file_header + kFileHeaderStreamTypeOffset,
              static_cast<uint16_t>(0x1000 + (type & 7)));
  const std::span<const uint8_t> range = in.Rest();
  const uint8_t* const begin = range.data();
  const uint8_t* const end = begin + range.size();

  CheckSearch(begin, end);
  CheckGroup(instance, begin, end);
  // A byte at a time: quadratic, so over a bounded start of the range.
  CheckResumed(begin, begin + std::min<ptrdiff_t>(end - begin, 4096));
  BlockView block;
  if (ParseBlock(block, begin, end) == ParseResult::Complete &&
      (block.header != begin || !Within(block.end, block.payload, end))) {
    fuzz::Fail("block view outside the range");
  }
  // Group parsing from every group start the search finds, as the splitter does.
  const uint8_t* position = begin;
  while (position < end) {
    const int32_t found = FindGroupStart(position, static_cast<int32_t>(end - position));
    if (found < 0) break;
    CheckGroup(instance, position, end);
    ++position;
  }
  return 0;
}
