// The live road: rebuilds whole groups from pieces of any size and hands each
// one to the sample packer, in stream order.
//
// Groups that lie whole inside a piece are handed on where they are; only the
// tail of a piece that ends inside a group is copied into the reassembly
// buffer, and that group is completed from the following pieces in appends of
// at most 10,240 bytes. After each append the held bytes are searched for a
// group start and the group found is parsed, with the answers a search from
// their first byte would give: the held bytes only grow between two appends,
// so the search goes on from where the last one stopped and the parse from
// the last block it found whole, and each held byte is looked at a bounded
// number of times however finely the stream is cut.
#include <algorithm>

#include "api/record_instance.h"
#include "diagnostics/lines.h"
#include "platform/debug_output.h"
#include "platform/host_memory.h"
#include "platform/sleep.h"

namespace kestrum {
namespace {

constexpr int32_t kAppendChunk = 10240;
// Longest incomplete rest of a piece that is kept for the next piece: all
// the reassembly buffer holds.
constexpr int32_t kLongestRest = kReassemblyBufferSize;
constexpr DWORD kMalformedPauseMs = 200;

// Hands a complete group on under the start rule; a switch of the output
// waiting for a start group is made before the group is written.
void HandOn(RecordInstance& instance, const GroupView& group) {
  if (instance.output_switch.pending && instance.IsStartGroup(group.header)) {
    if (FAILED(instance.SwitchFile())) {
      instance.stats.GroupDropped();
      return;
    }
    instance.splitter.wait_for_start = 0;
  }
  if (instance.splitter.wait_for_start != 0) {
    if (!instance.IsStartGroup(group.header)) {
      instance.stats.GroupDropped();
      return;
    }
    instance.splitter.wait_for_start = 0;
  }
  instance.processgroup(group);
}

// Searches the held bytes for a group start from where the last search of
// them stopped: what that search stepped over holds no group start whatever
// bytes follow, and the start it stopped on (one whose header is not all
// there yet, or a group start) is looked at again. Returns -1 or -2 as
// FindGroupStart does, or 0 with `start` on the group start.
int32_t SearchHeld(RecordInstance::Splitter& splitter, const uint8_t*& start) {
  start = splitter.buffer + splitter.search_from;
  const int32_t found = FindGroupStart(start, splitter.bytes_held - splitter.search_from);
  splitter.search_from = static_cast<int32_t>(start - splitter.buffer);
  return found < 0 ? found : 0;
}

// Appends the piece to the held bytes, kAppendChunk bytes at a time, and
// after each append searches them and parses the group found, until the
// group is complete or malformed or the piece or the buffer runs out. No
// group start counts as Malformed: both drop the held bytes.
ParseResult AppendToHeld(RecordInstance::Splitter& splitter, const uint8_t* data, int32_t length,
                         GroupView& group) {
  int32_t consumed = 0;
  ParseResult outcome = ParseResult::Malformed;
  while (splitter.bytes_held < splitter.buffer_capacity && consumed < length) {
    const int32_t chunk = std::min(
        {kAppendChunk, splitter.buffer_capacity - splitter.bytes_held, length - consumed});
    if (!CopyFromHost(splitter.buffer + splitter.bytes_held, data + consumed,
                      static_cast<size_t>(chunk))) {
      OutputDebugStringA(lines::kMemMoveError);
    }
    splitter.bytes_held += chunk;
    consumed += chunk;
    const uint8_t* start = nullptr;
    const int32_t found = SearchHeld(splitter, start);
    if (found < 0) {
      outcome = found == -2 ? ParseResult::Malformed : ParseResult::Incomplete;
      continue;
    }
    outcome = ParseGroupFrom(splitter.group, group, start, splitter.buffer + splitter.bytes_held);
    if (outcome != ParseResult::Incomplete) break;
  }
  return outcome;
}

// Completes the group held from earlier pieces with this one. True when
// the rest of the piece, from `position` on, is to be split; `position` is
// then the piece's first byte after the group completed.
bool CompleteHeldGroup(RecordInstance& instance, const uint8_t* data, int32_t length,
                       const uint8_t*& position) {
  RecordInstance::Splitter& splitter = instance.splitter;
  const int32_t held_before = splitter.bytes_held;
  GroupView group;
  switch (AppendToHeld(splitter, data, length, group)) {
    case ParseResult::Complete: {
      // A group completed in the buffer always ends past the bytes held before.
      const auto group_end = static_cast<int32_t>(group.end - splitter.buffer);
      position = data + std::max(0, group_end - held_before);
      instance.stats.BytesInNoGroup(static_cast<uint64_t>(group.header - splitter.buffer));
      splitter.HoldAnew(0);
      HandOn(instance, group);
      return true;
    }
    case ParseResult::Incomplete:
      if (splitter.bytes_held == splitter.buffer_capacity) {
        OutputDebugStringA(lines::kBufferFull);
        instance.stats.GroupDropped();
        splitter.HoldAnew(0);
        splitter.wait_for_start = 1;
      }
      return false;
    case ParseResult::Malformed:
      OutputDebugStringA(lines::kHeldFail);
      if (splitter.bytes_held >= static_cast<int32_t>(kGroupHeaderSize)) {
        instance.stats.GroupDropped();
        splitter.HoldAnew(0);
        splitter.wait_for_start = 1;
      } else {
        OutputDebugStringA(lines::kSmallLeft);
      }
      return false;
  }
  return false;
}

// The header step. True when the piece holds groups to split: it is not the
// stream header, and the writer is ready for it.
bool ReadyForGroups(RecordInstance& instance, const uint8_t* data, int32_t length) {
  // A piece of exactly 40 bytes is always the stream header.
  if (length == kFileHeaderSize) {
    if (FAILED(instance.ParseFileHeader(data))) OutputDebugStringA(lines::kWrongFileHeader);
    return false;
  }
  // After a switch that could not prepare its file, the groups go on to
  // wait for the next start group, which tries again (not after StopRecord).
  if (instance.output_switch.failed) return !instance.output_switch.stopped;
  // Without a name from StartRecord there is nothing to prepare the writer
  // for; once writing has begun the name is not looked at again.
  const bool ready = instance.session.writer_ready != 0 ||
                     (instance.file_name != nullptr &&
                      SUCCEEDED(instance.PrepareWriter(instance.file_name)));
  if (!ready) {
    OutputDebugStringA(lines::kNotReady);
    return false;
  }
  return true;
}

// The split step: hands on every whole group from `position` to `end`,
// holds an incomplete last group for the next piece, and drops the rest of
// the piece at a malformed group.
void SplitPiece(RecordInstance& instance, const uint8_t* position, const uint8_t* end) {
  RecordInstance::Splitter& splitter = instance.splitter;
  RecordStats& stats = instance.stats;
  while (position < end) {
    const uint8_t* const searched = position;
    const int32_t found = FindGroupStart(position, static_cast<int32_t>(end - position));
    stats.BytesInNoGroup(static_cast<uint64_t>(position - searched));
    GroupView group;
    switch (ParseGroup(group, position, end)) {
      case ParseResult::Complete:
        position = group.end;
        HandOn(instance, group);
        break;
      case ParseResult::Incomplete: {
        const auto rest = static_cast<int32_t>(end - position);
        if (rest > kLongestRest) {
          stats.GroupDropped();
          splitter.HoldAnew(0);
          splitter.wait_for_start = 1;
          return;
        }
        if (!CopyFromHost(splitter.buffer, position, static_cast<size_t>(rest)) && found == -1) {
          OutputDebugStringA(lines::kMemMoveError);
        }
        splitter.HoldAnew(rest);
        return;
      }
      case ParseResult::Malformed:
        stats.GroupDropped();
        splitter.wait_for_start = 1;
        OutputDebugStringA(lines::kProcessFails);
        Sleep(kMalformedPauseMs);
        return;
    }
  }
}

}  // namespace

// A piece goes through the header step, the held-group step (the group held
// from earlier pieces completed with this one) and the split step.
void RecordInstance::SendOneFrame(const uint8_t* data, int32_t length) {
  if (data == nullptr || length < 0) length = 0;
  if (!ReadyForGroups(*this, data, length)) return;

  const uint8_t* position = data;
  if (splitter.synchronised == 0) {
    splitter.wait_for_start = 1;
    FindGroupStart(position, length);
    stats.BytesInNoGroup(static_cast<uint64_t>(position - data));
    splitter.synchronised = 1;
  }

  if (splitter.bytes_held > 0 && !CompleteHeldGroup(*this, data, length, position)) return;
  SplitPiece(*this, position, data + length);
}

}  // namespace kestrum
