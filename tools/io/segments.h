// Recording into a series of files (--segment-time): the files of a series
// that exist, and the rule that says at which group a new file begins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/output_pattern.h"

namespace kestrum_cli {

// The series' files that exist already, from the first on until a
// thousand numbers in a row are free: the message of the first one a
// command writing `kind` may not rewrite by default (ForeignOutput), ""
// when none. So that a series is refused before its first byte rather than
// part way. A file that is one of `inputs` (as given, "-" standard input) is
// left to the check that refuses it as such.
std::string ForeignInSeries(const OutputPattern& pattern, OutputKind kind,
                            const std::vector<std::string>& inputs);

// No file of a series is written twice: refused as a usage error ("OUTPUT
// 'NAME' is a file this series has written already") when `name` is one of
// `written`, the series' files so far, under any name; else not refused.
OutputRefusal RepeatInSeries(const std::string& name, const std::vector<std::string>& written);

// Parses --segment-time: seconds, whole or with a fraction, above 0.
bool ParseSegmentTime(const std::string& text, uint64_t& milliseconds, std::string& error);

// --segment-atclocktime: the first multiple of `period_ms` of the local
// wall clock since midnight that comes after `now_ms` (milliseconds since
// the epoch), as milliseconds since the epoch.
int64_t NextClockCut(int64_t now_ms, uint64_t period_ms);
// The wall clock, in milliseconds since the epoch.
int64_t WallClockMs();

// Watches the groups of a stream as they go out and tells where a new file
// begins: at the first group that may start a recording once the file has
// `milliseconds` of media. Media time as each road counts it: on the live
// road 40 ms a video block from the group that started the file on, on the
// file road 40 ms a group.
class SegmentClock {
 public:
  enum class Road { kLive, kFile };
  SegmentClock(Road road, uint16_t stream_type, uint64_t milliseconds)
      : road_(road), stream_type_(stream_type), limit_ms_(milliseconds) {}

  // `piece` is what goes out next; true when it is a whole group that
  // begins a new file (it then counts toward the new file).
  bool StartsNewFile(const uint8_t* piece, size_t size);

  // The live road, whose recording goes on in the next file at the first
  // group that may start one after the switch was asked for: what a piece
  // read whole tells the clock, measured as it is read...
  struct Group {
    bool whole = false;      // a whole group (else bytes in none)
    bool may_start = false;  // it may start a recording
    uint64_t ms = 0;         // its media: 40 ms a video block
  };
  Group Measure(const uint8_t* piece, size_t size) const;
  // ...and taken once the live road has it whole, with `switching` true
  // while a switch waits for it: true when the group begins a new file.
  bool Take(const Group& group, bool switching);
  // The file holds the media it should: the next file is due.
  bool Due() const { return file_ms_ >= limit_ms_; }

 private:
  Road road_;
  uint16_t stream_type_;
  uint64_t limit_ms_;
  uint64_t file_ms_ = 0;
  bool started_ = false;  // live road: a group has started this file
};

}  // namespace kestrum_cli
