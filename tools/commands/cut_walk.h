// The walk of `kestrum cut` over a recording's files: their samples on one
// timeline, and of them those of the range asked for.
//
// The timeline: the first input's times as they are; each next input's
// times follow on 40 ms after the last sample before it, or, where the
// start times say the next file began more than a second later than that
// (the recording stopped meanwhile), as far after the first input's start
// as the start times say. A wall-clock time is placed in the first input
// whose samples reach it (its start time plus their times), as far after
// that input's start; between inputs, at the start of the next.
//
// The range: from the last group that may start a recording at or before
// FROM (or, when there is none, the first after it) up to the last sample
// before TO.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "asf_format/reader.h"
#include "commands/cut_inputs.h"
#include "frame/wall_clock.h"

namespace kestrum_cli {

// A bound of the range: media time from the first input's start, or a
// wall-clock time.
struct CutTime {
  bool wall = false;
  uint64_t ms = 0;  // media
  UnixMs at = 0;    // wall clock
};

// Where the samples kept go, in order.
class CutOutput {
 public:
  virtual ~CutOutput() = default;
  // Before the first sample: its wall-clock time, where the inputs tell it.
  virtual bool Begin(std::optional<UnixMs> start) = 0;
  // A sample at `ms` from the first one kept; false ends the walk.
  virtual bool Sample(uint64_t ms, const kestrum::asf::MediaObject& sample) = 0;
};

// What the walk met.
struct CutCounts {
  uint64_t kept = 0;
  uint64_t bytes = 0;     // of the samples kept
  uint64_t first_ms = 0;  // the first kept sample on the timeline
  uint64_t last_ms = 0;   // the last one
  uint64_t end_ms = 0;    // 40 ms after the last sample walked
  uint64_t cut = 0;       // samples in the range not whole in their file
  uint64_t damaged = 0;   // samples in the range that are not the packer's
  // Inputs that could not be opened again: "NAME' again: why".
  std::vector<std::string> unreadable;
};

class CutWalk {
 public:
  CutWalk(const CutInputs& inputs, std::optional<CutTime> from, std::optional<CutTime> to,
          CutOutput& out);
  // Walks the inputs in order until the range ends, a signal comes
  // (StopOnSignals) or the output fails (false).
  bool Run();
  const CutCounts& counts() const { return counts_; }

 private:
  // A bound placed on the timeline once the walk reaches its input.
  struct Bound {
    bool none = false;           // no bound: to the end
    std::optional<uint64_t> ms;  // on the timeline, once known
    std::optional<UnixMs> wall;  // a wall-clock bound
  };
  static Bound Place(const std::optional<CutTime>& time);
  // A wall-clock bound before an input that starts after it: at its start.
  static void SettleBefore(Bound& bound, std::optional<UnixMs> start, uint64_t offset);
  // One that a sample of an input reaches: as far into it.
  static void SettleAt(Bound& bound, std::optional<UnixMs> start, uint64_t into, uint64_t offset);
  uint64_t OffsetOf(size_t file) const;
  // One input's samples; false when the walk ends here.
  bool WalkFile(size_t file);
  // One sample at `ms` on the timeline; false when the walk ends here.
  bool Take(kestrum::asf::MediaObject& sample, uint64_t ms, std::optional<UnixMs> wall);
  bool Emit(const kestrum::asf::MediaObject& sample, uint64_t ms);
  // The samples held from before FROM go out, the first with `wall`.
  bool Release();
  bool BeforeTo(uint64_t ms) const { return to_.none || !to_.ms || ms < *to_.ms; }
  bool AtOrBeforeFrom(uint64_t ms) const { return !from_.ms || ms <= *from_.ms; }

  const CutInputs& inputs_;
  const std::optional<CutTime> from_time_, to_time_;
  CutOutput& out_;
  Bound from_, to_;
  enum class State { kBefore, kWaiting, kCopying, kDone } state_ = State::kBefore;
  // The samples from the last group that may start a recording at or
  // before FROM, while the walk is there: their times, and the first's wall
  // clock.
  std::vector<std::pair<uint64_t, kestrum::asf::MediaObject>> held_;
  std::optional<UnixMs> held_wall_;
  // The group the last sample was of.
  std::vector<uint8_t> group_;
  uint32_t last_index_ = 0;
  bool in_group_ = false;
  CutCounts counts_;
  bool output_failed_ = false;
};

}  // namespace kestrum_cli
