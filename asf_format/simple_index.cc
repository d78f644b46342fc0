#include "asf_format/simple_index.h"

#include <algorithm>
#include <limits>

#include "base/bytes.h"
#include "asf_format/objects.h"

namespace kestrum::asf {
namespace {

// Entry numbers and packet numbers are DWORDs, packet counts WORDs: larger
// values are clamped (a recording would need to run for over a century, or a
// sample to span 65536 packets, to reach them).
uint32_t ClampDword(uint64_t v) {
  return static_cast<uint32_t>(std::min<uint64_t>(v, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

void SimpleIndex::FillTo(uint64_t end_entry) {
  end_entry = std::min<uint64_t>(end_entry, std::numeric_limits<uint32_t>::max());
  const uint64_t have = entries_.size() / kIndexEntrySize;
  if (end_entry <= have) return;
  const size_t old_size = entries_.size();
  entries_.resize(static_cast<size_t>(end_entry) * kIndexEntrySize);
  for (size_t at = old_size; at < entries_.size(); at += kIndexEntrySize) {
    store_u32le(entries_.data() + at, key_packet_);
    store_u16le(entries_.data() + at + 4, key_count_);
  }
}

void SimpleIndex::AddKeyFrame(uint32_t presentation_ms, uint64_t first_packet,
                              uint64_t last_packet) {
  const uint32_t packet = ClampDword(first_packet);
  const uint16_t count = static_cast<uint16_t>(
      std::min<uint64_t>(last_packet - first_packet + 1, std::numeric_limits<uint16_t>::max()));
  if (!has_key_frame_) {
    // Entries before the first key frame name it too.
    has_key_frame_ = true;
    key_packet_ = packet;
    key_count_ = count;
  }
  // Entries strictly before this key frame's time keep the previous one.
  FillTo(EntriesBefore(presentation_ms));
  key_packet_ = packet;
  key_count_ = count;
  max_count_ = std::max(max_count_, count);
}

void SimpleIndex::Finish(uint64_t play_duration) { FillTo(play_duration / kIndexInterval + 1); }

Status SimpleIndex::WriteObject(ByteSink& sink, const Guid& file_id) const {
  uint8_t fixed[kSimpleIndexFixedSize];
  StoreGuid(fixed, kSimpleIndexObject);
  store_u64le(fixed + kObjectSizeOffset, object_size());
  StoreGuid(fixed + kFileIdOffset, file_id);
  store_u64le(fixed + kIndexIntervalOffset, kIndexInterval);
  store_u32le(fixed + kIndexMaxPacketCountOffset, max_count_);
  store_u32le(fixed + kIndexEntryCountOffset, entry_count());
  Status status = sink.Write(fixed, sizeof fixed);
  if (Failed(status) || entries_.empty()) return status;
  return sink.Write(entries_.data(), entries_.size());
}

}  // namespace kestrum::asf
