#include "asf_format/end_totals.h"

#include <algorithm>

#include "asf_format/objects.h"

namespace kestrum::asf {

void Tally::Begin(const std::vector<StreamInfo>& streams, uint64_t index_limit) {
  streams_.clear();
  streams_.resize(streams.size());
  for (size_t i = 0; i < streams.size(); ++i) {
    streams_[i].video = streams[i].kind == MediaKind::kVideo;
  }
  index_limit_ = index_limit;
  any_sample_ = false;
  end_time_ = 0;
}

void Tally::Add(size_t stream, uint32_t size, bool key, uint32_t presentation_ms,
                uint64_t first_packet, uint64_t last_packet, uint64_t end) {
  StreamTally& st = streams_[stream];
  st.max_object_size = std::max(st.max_object_size, size);
  any_sample_ = true;
  end_time_ = std::max(end_time_, end);
  if (!st.video || !key || st.index_lost) return;
  if (kSimpleIndexFixedSize + EntriesBefore(presentation_ms) * kIndexEntrySize > index_limit_) {
    st.index_past_limit = true;
    return;
  }
  st.index.AddKeyFrame(presentation_ms, first_packet, last_packet);
}

bool Tally::EndTotals(const FileInfo& info, uint64_t header_size, uint32_t packet_size,
                      uint64_t packets, HeaderTotals* totals, std::vector<size_t>* indexed) const {
  const uint64_t preroll = uint64_t{info.preroll_ms} * kTicksPerMs;
  totals->finished = true;
  totals->seekable = false;
  totals->data_packets = packets;
  totals->play_duration = (any_sample_ ? end_time_ : 0) + preroll;
  totals->send_duration = totals->play_duration - preroll;
  totals->file_size = header_size + packets * packet_size;
  totals->max_object_size.clear();
  for (const StreamTally& s : streams_) totals->max_object_size.push_back(s.max_object_size);
  indexed->clear();
  bool all_video_indexed = true;
  for (size_t number = 1; number <= kStreamNumberMask; ++number) {
    for (size_t i = 0; i < info.streams.size(); ++i) {
      const StreamTally& s = streams_[i];
      if (info.streams[i].number != number || !s.video) continue;
      if (s.index_lost || (s.index.empty() && !s.index_past_limit)) {
        all_video_indexed = false;
      } else {
        indexed->push_back(i);
      }
    }
  }
  return all_video_indexed;
}

}  // namespace kestrum::asf
