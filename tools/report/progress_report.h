// -progress FILE|- (convert, record): the run's progress for a program to
// read, as ffmpeg writes it: blocks of key=value lines, each ended by
// progress=continue, the last by progress=end:
//   frame=250  fps=412.50  bitrate=1843.2kbits/s  total_size=2304000
//   out_time_us=10000000  out_time_ms=10000000  out_time=00:00:10.000000
//   dup_frames=0  drop_frames=0  speed=16.5x  progress=continue
// (one a line; out_time_ms holds microseconds too, as ffmpeg's does). A
// block is written whenever the status line would be drawn, shown or not,
// and the last as the command ends. frame: the groups written; total_size:
// the bytes written; drop_frames: the groups not written.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"
#include "io/output_kind.h"

namespace kestrum_cli {

inline const OptionSpec kProgressOption = {"progress", true, 0, true};

// Counts of a run (or of one part of it: a file of a series converted
// apart).
struct ProgressCounts {
  uint64_t frames = 0;
  uint64_t bytes = 0;
  double media_seconds = 0;
  uint64_t dropped = 0;
};

class ProgressReport {
 public:
  // The report of the running command, or null.
  static ProgressReport* Current();

  // Checks `path` ("-": standard output) as an output: none of `files`
  // (the command's INPUTs and OUTPUTs, "-" standard input, and
  // `output_is_stdout` whether its OUTPUT is standard output), and by
  // `overwrite` (a file of key=value lines may be rewritten without -y);
  // then opens it and makes it Current(). An exit code when it is refused.
  std::optional<int> Open(const std::string& command, const std::string& path,
                          const std::vector<std::string>& files, bool output_is_stdout,
                          Overwrite overwrite);
  ProgressReport() = default;
  // Writes the last block (progress=end) and closes.
  ~ProgressReport();
  ProgressReport(const ProgressReport&) = delete;
  ProgressReport& operator=(const ProgressReport&) = delete;

  bool to_standard_output() const { return standard_output_; }
  // A block: the parts ended, and `part`, the one under way.
  void Tell(const ProgressCounts& part);
  // The part under way has ended with `part`.
  void PartEnded(const ProgressCounts& part);

 private:
  void Write(const ProgressCounts& counts, bool end);

  std::string command_;
  std::string shown_;
  int fd_ = -1;
  bool standard_output_ = false;
  bool failed_ = false;
  ProgressCounts ended_;  // the parts ended
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// HH:MM:SS and `decimals` (1 to 6) digits of the second, cut short: 6 as
// ffmpeg's out_time, 2 as the status line's time.
std::string ClockText(uint64_t micro, int decimals);

// Where a command's summary line goes: standard error when standard output
// carries its OUTPUT or its progress report, else standard output; null
// below -loglevel info.
FILE* SummaryStream(bool output_is_stdout);

}  // namespace kestrum_cli
