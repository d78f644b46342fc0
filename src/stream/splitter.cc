// The live road: rebuilds whole groups from pieces of any size and hands each
// one to the sample packer, in stream order.
//
// Groups that lie whole inside a piece are handed on where they are; only the
// tail of a piece that ends inside a group is copied into the reassembly
// buffer, and that group is completed from the following pieces in appends of
// at most 10,240 bytes, searching the held bytes again from their first byte
// after each append.
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


}  // namespace

void RecordInstance::SendOneFrame(const uint8_t* data, int32_t length) {
  if (data == nullptr || length < 0) length = 0;

  // A piece of exactly 40 bytes is always the stream header.
  if (length == kFileHeaderSize) {
    if (FAILED(ParseFileHeader(data))) OutputDebugStringA(lines::kWrongFileHeader);
    return;
  }
  // Without a name from StartRecord there is nothing to prepare the writer
  // for; once writing has begun the name is not looked at again.
  const bool ready =
      session.writer_ready != 0 || (file_name != nullptr && SUCCEEDED(PrepareWriter(file_name)));
  if (!ready) {
    OutputDebugStringA(lines::kNotReady);
    return;
  }

  const uint8_t* position = data;
  const uint8_t* const end = data + length;

  // Hands a complete group on under the start rule.
  auto hand_on = [this](const GroupView& group) {
    if (splitter.wait_for_start != 0) {
      if (!IsStartGroup(group.header)) return;
      splitter.wait_for_start = 0;
    }
    processgroup(group);
  };

  if (splitter.synchronised == 0) {
    splitter.wait_for_start = 1;
    FindGroupStart(position, length);
    splitter.synchronised = 1;
  }

  if (splitter.bytes_held > 0) {
    const int32_t held_before = splitter.bytes_held;
    int32_t consumed = 0;
    // No group start in the held bytes counts as Malformed: both drop them.
    ParseResult outcome = ParseResult::Malformed;
    GroupView group;
    while (splitter.bytes_held < splitter.buffer_capacity && consumed < length) {
      const int32_t chunk = std::min(
          {kAppendChunk, splitter.buffer_capacity - splitter.bytes_held, length - consumed});
      if (!CopyFromHost(splitter.buffer + splitter.bytes_held, data + consumed,
                        static_cast<size_t>(chunk))) {
        OutputDebugStringA(lines::kMemMoveError);
      }
      splitter.bytes_held += chunk;
      consumed += chunk;
      const uint8_t* start = splitter.buffer;
      const int32_t found = FindGroupStart(start, splitter.bytes_held);
      if (found == -2) {
        outcome = ParseResult::Malformed;
        continue;
      }
      if (found == -1) {
        outcome = ParseResult::Incomplete;
        continue;
      }
      outcome = ParseGroup(group, start, splitter.buffer + splitter.bytes_held);
      if (outcome != ParseResult::Incomplete) break;
    }

    switch (outcome) {
      case ParseResult::Complete: {
        // The first byte of the piece after the completed group. A group
        // completed in the buffer always ends past the bytes held before.
        const auto group_end = static_cast<int32_t>(group.end - splitter.buffer);
        position = data + std::max(0, group_end - held_before);
        splitter.bytes_held = 0;
        hand_on(group);
        break;
      }
      case ParseResult::Incomplete:
        if (splitter.bytes_held == splitter.buffer_capacity) {
          OutputDebugStringA(lines::kBufferFull);
          splitter.bytes_held = 0;
          splitter.wait_for_start = 1;
        }
        return;
      case ParseResult::Malformed:
        OutputDebugStringA(lines::kHeldFail);
        if (splitter.bytes_held >= static_cast<int32_t>(kGroupHeaderSize)) {
          splitter.bytes_held = 0;
          splitter.wait_for_start = 1;
        } else {
          OutputDebugStringA(lines::kSmallLeft);
        }
        return;
    }
  }

  while (position < end) {
    const int32_t found = FindGroupStart(position, static_cast<int32_t>(end - position));
    GroupView group;
    switch (ParseGroup(group, position, end)) {
      case ParseResult::Complete:
        position = group.end;
        hand_on(group);
        break;
      case ParseResult::Incomplete: {
        const auto rest = static_cast<int32_t>(end - position);
        if (rest > kLongestRest) {
          splitter.bytes_held = 0;
          splitter.wait_for_start = 1;
          return;
        }
        if (!CopyFromHost(splitter.buffer, position, static_cast<size_t>(rest)) && found == -1) {
          OutputDebugStringA(lines::kMemMoveError);
        }
        splitter.bytes_held = rest;
        return;
      }
      case ParseResult::Malformed:
        splitter.wait_for_start = 1;
        OutputDebugStringA(lines::kProcessFails);
        Sleep(kMalformedPauseMs);
        return;
    }
  }
}

}  // namespace kestrum
