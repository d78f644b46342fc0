// A one-line progress display on a terminal: percent (when the total is
// known), megabytes done and the rate. Shown only when stderr is a terminal
// and the run has lasted a second; redrawn at most five times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace kestrum_cli {

class Progress {
 public:
  // `total`: bytes expected, 0 when unknown. `allowed`: false turns the
  // display off (e.g. while diagnostic lines go to stderr).
  Progress(std::string label, uint64_t total, bool allowed);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Update(uint64_t done);
  // Erases the line if one was drawn.
  void Finish();

  double elapsed_seconds() const;

 private:
  std::string label_;
  uint64_t total_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

}  // namespace kestrum_cli
