// What a clean end writes for the samples known to be in a file: the
// header's sizes, counts and durations, each stream's largest sample, and a
// Simple Index per video stream. The muxer tallies the samples its sink has
// taken whole, a repair those its walk keeps; both end the file from the
// one tally, so a repaired file ends as the muxer would have ended it, byte
// for byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "asf_format/header.h"
#include "asf_format/muxer.h"
#include "asf_format/simple_index.h"

namespace kestrum::asf {

struct StreamTally {
  bool video = false;
  uint32_t max_object_size = 0;
  SimpleIndex index;
  // A key frame could not be added (no memory): the stream gets no index,
  // and the file is not Seekable.
  bool index_lost = false;
  // A key frame so late that the index's entries up to it would pass the
  // tally's limit was not added: the index would outweigh what it indexes.
  bool index_past_limit = false;
};

class Tally {
 public:
  // For `streams` (FileInfo::streams), each index kept within `index_limit`
  // bytes. Throws std::bad_alloc.
  void Begin(const std::vector<StreamInfo>& streams,
             uint64_t index_limit = std::numeric_limits<uint64_t>::max());

  // A sample of streams[stream], `size` bytes, presented at
  // `presentation_ms` (preroll included), whole in packets first_packet to
  // last_packet, that ends at `end` (time + duration, 100-ns units, before
  // the preroll). Throws std::bad_alloc when its stream's index cannot
  // grow; everything else is counted by then (LoseIndex tells the rest).
  void Add(size_t stream, uint32_t size, bool key, uint32_t presentation_ms, uint64_t first_packet,
           uint64_t last_packet, uint64_t end);
  void LoseIndex(size_t stream) { streams_[stream].index_lost = true; }

  // The totals of a clean end after `packets` packets of `packet_size` that
  // follow a header (with the Data Object's) of `header_size` bytes: File
  // Size the packets' end (the indexes add theirs), not Seekable. `indexed`
  // gets the streams whose index a clean end writes, in stream-number order:
  // every video stream whose index was not lost and has a key frame (or
  // went past the limit). Returns whether that is every video stream.
  // Allocates nothing when `totals` and `indexed` have room for a stream each.
  bool EndTotals(const FileInfo& info, uint64_t header_size, uint32_t packet_size, uint64_t packets,
                 HeaderTotals* totals, std::vector<size_t>* indexed) const;

  bool any_sample() const { return any_sample_; }
  StreamTally& stream(size_t i) { return streams_[i]; }
  const StreamTally& stream(size_t i) const { return streams_[i]; }

 private:
  std::vector<StreamTally> streams_;  // in FileInfo::streams order
  uint64_t index_limit_ = 0;
  bool any_sample_ = false;
  uint64_t end_time_ = 0;  // the latest sample's end
};

}  // namespace kestrum::asf
