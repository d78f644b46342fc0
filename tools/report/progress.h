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
#include <string>

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
  // display off (e.g. while diagnostic lines go to stderr).
  Progress(std::string label, uint64_t total, bool allowed);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // `done`: input bytes read (kUnknownBytes where that cannot be told);
  // `frames` and `media_seconds`: what has been handed to the writer so far.
  void Update(uint64_t done, uint64_t frames, double media_seconds);
  // Bytes alone (no frames or media time to tell).
  void Update(uint64_t done) { Update(done, kNoFrames, 0); }
  // Erases the line if one was drawn.
  void Finish();

  double elapsed_seconds() const;

 private:
  static constexpr uint64_t kNoFrames = UINT64_MAX;
  std::string label_;
  uint64_t total_;
  bool enabled_;
  bool drawn_ = false;
  size_t drawn_width_ = 0;  // the widest line drawn since the last erase
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace kestrum_cli
