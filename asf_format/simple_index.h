// The Simple Index of one video stream, built while samples are written.
//
// Entry i stands for time i × interval on the preroll-shifted timeline (the
// one payload presentation times use) and names the packet where the latest
// key frame at or before that time starts, and how many packets it spans.
// Entries before the first key frame name the first key frame. Entries are
// kept in their on-disk form (6 bytes each), so memory grows with the
// recording's duration, not with its sample count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/status.h"
#include "asf_format/byte_sink.h"

namespace kestrum::asf {

inline constexpr uint64_t kIndexInterval = 10'000'000;  // 1 s in 100-ns units
inline constexpr uint64_t kIndexIntervalMs = kIndexInterval / kTicksPerMs;

// The entries before a key frame presented at `presentation_ms`, which
// name an earlier one: those of the times before it.
inline uint64_t EntriesBefore(uint32_t presentation_ms) {
  return (uint64_t{presentation_ms} + kIndexIntervalMs - 1) / kIndexIntervalMs;
}

class SimpleIndex {
 public:
  // Records a key frame presented at `presentation_ms` (preroll included)
  // that starts in packet `first_packet` and ends in `last_packet`. Key
  // frames are expected in presentation order; one that goes back in time
  // only names the entries after the latest filled one. Throws
  // std::bad_alloc when the entries cannot grow.
  void AddKeyFrame(uint32_t presentation_ms, uint64_t first_packet, uint64_t last_packet);

  bool empty() const { return !has_key_frame_; }

  // Fills the entries up to the one covering `play_duration` (100-ns units,
  // preroll included): floor(play_duration / interval) + 1 entries in all.
  // Throws std::bad_alloc when they cannot grow.
  void Finish(uint64_t play_duration);

  // Writes the Simple Index Object (call after Finish): its 56-byte fixed
  // part, then the entries straight from memory.
  Status WriteObject(ByteSink& sink, const Guid& file_id) const;
  uint64_t object_size() const { return kSimpleIndexFixedSize + entries_.size(); }
  uint32_t entry_count() const { return static_cast<uint32_t>(entries_.size() / kIndexEntrySize); }

 private:
  void FillTo(uint64_t end_entry);

  bool has_key_frame_ = false;
  uint32_t key_packet_ = 0;  // the latest key frame
  uint16_t key_count_ = 0;
  uint16_t max_count_ = 0;
  std::vector<uint8_t> entries_;
};

}  // namespace kestrum::asf
