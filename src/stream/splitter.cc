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

// What the search over the held bytes came to.
enum class Outcome { kNoStart, kIncomplete, kComplete, kMalformed };

Outcome FromParseResult(ParseResult result) {
  switch (result) {
    case ParseResult::Complete:
      return Outcome::kComplete;
    case ParseResult::Incomplete:
      return Outcome::kIncomplete;
    case ParseResult::Malformed:
      break;
  }
  return Outcome::kMalformed;
}

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
      writer_ready != 0 || (file_name != nullptr && SUCCEEDED(PrepareWriter(file_name)));
  if (!ready) {
    OutputDebugStringA(lines::kNotReady);
    return;
  }

  const uint8_t* position = data;
  const uint8_t* const end = data + length;

  // Hands a complete group on under the start rule.
  auto hand_on = [this](const GroupView& group) {
    if (wait_for_start != 0) {
      if (!IsStartGroup(group.header)) return;
      wait_for_start = 0;
    }
    processgroup(group);
  };

  if (synchronised == 0) {
    wait_for_start = 1;
    FindGroupStart(position, length);
    synchronised = 1;
  }

  if (bytes_held > 0) {
    const int32_t held_before = bytes_held;
    int32_t consumed = 0;
    Outcome outcome = Outcome::kNoStart;
    GroupView group;
    while (bytes_held < buffer_capacity && consumed < length) {
      const int32_t chunk =
          std::min({kAppendChunk, buffer_capacity - bytes_held, length - consumed});
      if (!CopyFromHost(buffer + bytes_held, data + consumed, static_cast<size_t>(chunk))) {
        OutputDebugStringA(lines::kMemMoveError);
      }
      bytes_held += chunk;
      consumed += chunk;
      const uint8_t* start = buffer;
      const int32_t found = FindGroupStart(start, bytes_held);
      if (found == -2) {
        outcome = Outcome::kNoStart;
        continue;
      }
      if (found == -1) {
        outcome = Outcome::kIncomplete;
        continue;
      }
      outcome = FromParseResult(ParseGroup(group, start, buffer + bytes_held));
      if (outcome != Outcome::kIncomplete) break;
    }

    switch (outcome) {
      case Outcome::kComplete: {
        // The first byte of the piece after the completed group. A group
        // completed in the buffer always ends past the bytes held before.
        const auto group_end = static_cast<int32_t>(group.end - buffer);
        position = data + std::max(0, group_end - held_before);
        bytes_held = 0;
        hand_on(group);
        break;
      }
      case Outcome::kIncomplete:
        if (bytes_held == buffer_capacity) {
          OutputDebugStringA(lines::kBufferFull);
          bytes_held = 0;
          wait_for_start = 1;
        }
        return;
      case Outcome::kNoStart:
      case Outcome::kMalformed:
        OutputDebugStringA(lines::kHeldFail);
        if (bytes_held >= static_cast<int32_t>(kGroupHeaderSize)) {
          bytes_held = 0;
          wait_for_start = 1;
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
          bytes_held = 0;
          wait_for_start = 1;
          return;
        }
        if (!CopyFromHost(buffer, position, static_cast<size_t>(rest)) && found == -1) {
          OutputDebugStringA(lines::kMemMoveError);
        }
        bytes_held = rest;
        return;
      }
      case ParseResult::Malformed:
        wait_for_start = 1;
        OutputDebugStringA(lines::kProcessFails);
        Sleep(kMalformedPauseMs);
        return;
    }
  }
}

}  // namespace kestrum
