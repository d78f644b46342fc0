// A one-line progress display on a terminal, counted on the input: percent
// of the input read (when its size is known), megabytes read, then frames,
// media time and speed (media time over wall time) and the rate:
//   convert:  45.2%  452.0 of 1000.0 MB  frame=12340  time=00:08:13.60  speed=130x  95.3 MB/s
// Shown only when stderr is a terminal and the run has lasted a second;
// redrawn at most five times a second. The line never wraps: it is kept
// within the terminal's width (the fields after the first dropped, the rate
// first, as it narrows), and erased with spaces before anything else is
// printed.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "kestrum.h"
#include "report/progress_report.h"

namespace kestrum_cli {

// Bytes as "12.3 MB" (10^6 bytes) and a rate as "45.6 MB/s".
std::string FormatMegabytes(uint64_t bytes);
std::string FormatRate(uint64_t bytes, double seconds);

// The columns of the terminal on stderr; $COLUMNS when it tells none; 80.
size_t TerminalColumns();

class Progress {
 public:
  static constexpr uint64_t kUnknownBytes = UINT64_MAX;

  // `total`: input bytes expected, 0 when unknown. `allowed`: false turns the
  // display off (e.g. while diagnostic lines go to stderr); so do -nostats
  // and a -loglevel below info (StatusLineWanted). The running command's
  // ProgressReport, if any, gets a block whenever the line would be drawn.
  Progress(std::string label, uint64_t total, bool allowed);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done`: input bytes read (kUnknownBytes where that cannot be told);
  // `frames` and `media_seconds`: what has been handed to the writer so far.
  void Update(uint64_t done, uint64_t frames, double media_seconds);
  // The frames and media time the report tells at Finish, without drawing.
  void Tally(uint64_t frames, double media_seconds) {
    frames_ = frames;
    media_seconds_ = media_seconds;
  }
  // Bytes alone (no frames or media time to tell).
  void Update(uint64_t done) { Update(done, kNoFrames, 0); }
  // Erases the line if one was drawn, and ends this part of the
  // ProgressReport, with the bytes and groups dropped of `final_stats` when
  // given (else as last fetched).
  void Finish(const KestrumRecordStats* final_stats = nullptr);
  // The ProgressReport's bytes written and groups dropped are those of
  // `handle`'s stats (KestrumGetRecordStats; null: the conversion under way),
  // fetched when a block is due; `handle` stays valid until Finish.
  void FollowStats(KestrumHandle handle) { stats_of_ = handle; }

  double elapsed_seconds() const;

 private:
  static constexpr uint64_t kNoFrames = UINT64_MAX;
  // The status line.
  void Draw(uint64_t done, uint64_t frames, double media_seconds, double seconds);
  // The counts of the report, with the stats fetched anew from `stats`
  // or from stats_of_.
  ProgressCounts Counts(const KestrumRecordStats* stats);

  std::string label_;
  uint64_t total_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
  bool drawn_ = false;
  size_t drawn_width_ = 0;  // the widest line drawn since the last erase
  ProgressReport* report_;  // null: none
  std::optional<KestrumHandle> stats_of_;
  uint64_t frames_ = 0;  // as last given to Update, for the report
  double media_seconds_ = 0;
  uint64_t bytes_ = 0;    // as last fetched
  uint64_t dropped_ = 0;
};

}  // namespace kestrum_cli
