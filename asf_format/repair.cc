#include "asf_format/repair.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "asf_format/byte_sink.h"
#include "asf_format/header.h"
#include "asf_format/muxer.h"
#include "asf_format/objects.h"
#include "asf_format/packet_builder.h"
#include "asf_format/simple_index.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

constexpr uint64_t kTicksPerMs = 10'000;
constexpr uint64_t kMaxHeaderSize = uint64_t{64} << 20;
// The bytes read at the start of every packet: its header and the first
// payload's (a multiple-payload packet's first payload header ends at 31).
constexpr size_t kPeekSize = 64;
constexpr uint8_t kLengthTypeSingle = 0x10;
constexpr uint8_t kLengthTypeMultiple = 0x11;
constexpr uint8_t kPropertyFlags = 0x5D;
constexpr uint8_t kPayloadLengthWord = 0x80;
constexpr size_t kPaddingLengthOffset = 5;
constexpr size_t kPayloadFlagsOffset = 13;
constexpr size_t kFirstMultiPayloadOffset = 14;
// Extended Stream Properties fields written as the muxer writes them.
constexpr size_t kEspBitrateOffset = 40;
constexpr size_t kEspBufferWindowOffset = 44;
constexpr size_t kEspMaxObjectSizeOffset = 64;
constexpr size_t kEspFrameTimeOffset = 76;
constexpr size_t kEspSize = 88;
// What the system writes back at once: a page lost to a power cut is lost
// whole.
constexpr uint64_t kPageSize = 4096;

// Counts what the repair reads.
class CountingFile {
 public:
  explicit CountingFile(RepairFile& f) : file(f) {}
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) {
    bytes_read += size;
    return file.ReadAt(offset, data, size);
  }
  RepairFile& file;
  uint64_t bytes_read = 0;
};

// The index objects, collected in memory before they are written.
class VectorSink final : public ByteSink {
 public:
  Status Write(const uint8_t* data, size_t size) override {
    bytes.insert(bytes.end(), data, data + size);
    return kOk;
  }
  Status WriteAt(uint64_t, const uint8_t*, size_t) override { return kNotSeekable; }
  uint64_t Size() const override { return bytes.size(); }
  Status Flush() override { return kOk; }
  std::vector<uint8_t> bytes;
};

std::u16string DescriptionString(const uint8_t* p, size_t bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes; i += 2) s.push_back(static_cast<char16_t>(load_u16le(p + i)));
  if (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

// What the header declares, as the FileInfo the muxer was given; false
// (with `why`) when it is not laid out so that one can be read.
bool ReadFileInfo(const std::vector<uint8_t>& h, FileInfo* info, std::string* why) {
  struct Extended {
    uint16_t number;
    uint32_t bitrate, buffer_window;
    uint64_t frame_time;
  };
  std::vector<Extended> extended;
  bool file_properties = false;
  size_t at = kHeaderObjectFixedSize;
  const size_t end = h.size() - kDataObjectHeaderSize;
  while (at < end) {
    if (end - at < kObjectHeaderSize) return (*why = "its header objects do not add up", false);
    const uint8_t* o = h.data() + at;
    const uint64_t size = load_u64le(o + 16);
    if (size < kObjectHeaderSize || size > end - at) {
      return (*why = "its header objects do not add up", false);
    }
    const Guid id = LoadGuid(o);
    const size_t n = static_cast<size_t>(size);
    if (id == kFilePropertiesObject && n == kFilePropertiesSize) {
      file_properties = true;
      info->file_id = LoadGuid(o + kFileIdOffset);
      info->creation_time = load_u64le(o + kFilePropertiesCreationDateOffset);
      const uint64_t preroll = load_u64le(o + kFilePropertiesPrerollOffset);
      info->preroll_ms = static_cast<uint32_t>(std::min<uint64_t>(preroll, UINT32_MAX));
      info->packet_size = load_u32le(o + kFilePropertiesMinPacketOffset);
    } else if (id == kStreamPropertiesObject && n >= kStreamPropertiesFixedSize) {
      StreamInfo s;
      s.kind = LoadGuid(o + kObjectHeaderSize) == kVideoMedia ? StreamKind::kVideo : StreamKind::kAudio;
      s.number = load_u16le(o + 72) & kStreamNumberMask;
      const uint32_t specific = load_u32le(o + 64);
      const size_t skip = s.kind == StreamKind::kVideo ? kVideoTypeSpecificHeaderSize : 0;
      if (specific < skip || kStreamPropertiesFixedSize + uint64_t{specific} > n) {
        return (*why = "a stream's format does not fit its object", false);
      }
      const uint8_t* format = o + kStreamPropertiesFixedSize + skip;
      s.format.assign(format, format + (specific - skip));
      info->streams.push_back(std::move(s));
    } else if (id == kHeaderExtensionObject && n >= kHeaderExtensionFixedSize) {
      for (size_t c = kHeaderExtensionFixedSize; n - c >= kObjectHeaderSize;) {
        const uint64_t child = load_u64le(o + c + 16);
        if (child < kObjectHeaderSize || child > n - c) break;
        if (LoadGuid(o + c) == kExtendedStreamPropertiesObject && child == kEspSize) {
          const uint8_t* e = o + c;
          extended.push_back({static_cast<uint16_t>(load_u16le(e + kExtendedStreamNumberOffset)),
                              load_u32le(e + kEspBitrateOffset), load_u32le(e + kEspBufferWindowOffset),
                              load_u64le(e + kEspFrameTimeOffset)});
        }
        c += static_cast<size_t>(child);
      }
    } else if (id == kContentDescriptionObject && n >= kObjectHeaderSize + 10) {
      std::u16string* strings[5] = {&info->title, &info->author, &info->copyright,
                                    &info->description, &info->rating};
      size_t s = kObjectHeaderSize + 10;
      for (size_t i = 0; i < 5; ++i) {
        const size_t length = load_u16le(o + kObjectHeaderSize + 2 * i);
        if (length > n - s) return (*why = "its content description does not add up", false);
        *strings[i] = DescriptionString(o + s, length);
        s += length;
      }
    }
    at += n;
  }
  if (!file_properties) return (*why = "it has no file properties", false);
  for (StreamInfo& s : info->streams) {
    for (const Extended& e : extended) {
      if (e.number != s.number) continue;
      s.bitrate = e.bitrate;
      s.buffer_window_ms = e.buffer_window;
      s.avg_time_per_frame = e.frame_time;
    }
  }
  if (Failed(ValidateFileInfo(*info)) || info->packet_size == 0) {
    return (*why = "its header declares what this system's writer does not write", false);
  }
  return true;
}

// Zeroes the fields of a header image that ending the file changes.
void ClearTotals(std::vector<uint8_t>& h) {
  const auto clear = [&h](size_t at, size_t n) {
    if (at + n <= h.size()) std::memset(h.data() + at, 0, n);
  };
  const size_t end = h.size() - kDataObjectHeaderSize;
  for (size_t at = kHeaderObjectFixedSize; end - at >= kObjectHeaderSize;) {
    const uint8_t* o = h.data() + at;
    const uint64_t size = load_u64le(o + 16);
    if (size < kObjectHeaderSize || size > end - at) return;
    const Guid id = LoadGuid(o);
    if (id == kFilePropertiesObject) {
      clear(at + kFilePropertiesFileSizeOffset, 8);
      clear(at + kFilePropertiesPacketCountOffset, 8);
      clear(at + kFilePropertiesPlayDurationOffset, 8);
      clear(at + kFilePropertiesSendDurationOffset, 8);
      clear(at + kFilePropertiesFlagsOffset, 4);
    } else if (id == kHeaderExtensionObject && size >= kHeaderExtensionFixedSize) {
      for (size_t c = kHeaderExtensionFixedSize; size - c >= kObjectHeaderSize;) {
        const uint64_t child = load_u64le(o + c + 16);
        if (child < kObjectHeaderSize || child > size - c) break;
        if (LoadGuid(o + c) == kExtendedStreamPropertiesObject && child == kEspSize) {
          clear(at + c + kEspMaxObjectSizeOffset, 4);
          clear(at + c + kExtendedStreamFlagsOffset, 4);
        }
        c += static_cast<size_t>(child);
      }
    }
    at += static_cast<size_t>(size);
  }
  clear(end + 16, 8);  // the Data Object's size
  clear(end + 40, 8);  // and packet count
}

// Where a power cut may have lost what the file holds: nowhere (the file
// size) when the header says the file was ended, since the writer makes the
// packets durable before it ends the header when it syncs at all; else from
// the count of durable bytes the writer noted in the File Size field
// (Muxer::MarkDurable), or from the first packet when it noted none.
uint64_t AtRiskFrom(const std::vector<uint8_t>& h, uint64_t data_start, uint64_t size) {
  const size_t end = h.size() - kDataObjectHeaderSize;
  for (size_t at = kHeaderObjectFixedSize; end - at >= kObjectHeaderSize;) {
    const uint8_t* o = h.data() + at;
    const uint64_t object = load_u64le(o + 16);
    if (object < kObjectHeaderSize || object > end - at) break;
    if (LoadGuid(o) == kFilePropertiesObject && object >= kFilePropertiesFlagsOffset + 4) {
      if ((load_u32le(o + kFilePropertiesFlagsOffset) & kFileFlagBroadcast) == 0) return size;
      const uint64_t durable = load_u64le(o + kFilePropertiesFileSizeOffset);
      return durable >= data_start && durable <= size ? durable : data_start;
    }
    at += static_cast<size_t>(object);
  }
  return data_start;
}

// One sample as the walk meets it.
struct Sample {
  bool open = false;
  uint8_t stream_byte = 0;
  uint8_t object_number = 0;
  uint32_t size = 0, have = 0, presentation_ms = 0;
  uint64_t first_packet = 0;
  uint32_t payload_index = 0;   // its first payload's, in its first packet
  uint32_t payload_offset = 0;  // and where that begins
};

// Where the kept data ends: before payload `payload` (at byte `offset`) of
// packet `packet`; payload 0 means before the whole packet.
struct Cut {
  uint64_t packet = 0;
  uint32_t payload = 0;
  uint32_t offset = 0;
};

struct StreamTotals {
  bool video = false;
  uint32_t max_object_size = 0;
  SimpleIndex index;
};

class Walk {
 public:
  // Bytes from `at_risk` on may have been lost to a power cut (see
  // AtRiskFrom); the file holds `file_size` bytes.
  Walk(CountingFile& file, const FileInfo& info, uint64_t data_start, uint64_t packets,
       uint64_t at_risk, uint64_t file_size)
      : file_(file), info_(info), data_start_(data_start), available_(packets),
        ps_(info.packet_size), at_risk_(at_risk), file_size_(file_size) {
    slot_.fill(-1);
    streams_.resize(info.streams.size());
    for (size_t i = 0; i < info.streams.size(); ++i) {
      slot_[info.streams[i].number] = static_cast<int>(i);
      streams_[i].video = info.streams[i].kind == StreamKind::kVideo;
    }
  }

  // Walks the packets to the cut; false when a read fails.
  bool Run(Status* status) {
    uint8_t head[kPeekSize];
    for (uint64_t p = 0; p < available_; ++p) {
      const size_t n = std::min<size_t>(sizeof head, ps_);
      *status = file_.ReadAt(Offset(p), head, n);
      if (Failed(*status)) return false;
      const int lost = LostPage(p, head, n, status);
      if (lost < 0) return false;
      if (lost > 0) {
        cut_ = {p, 0, 0};
        break;
      }
      uint32_t stop_payload = 0, stop_offset = 0;
      const int parsed = Packet(p, head, n, &stop_payload, &stop_offset, status);
      if (parsed < 0) return false;
      if (parsed == 0) {
        cut_ = {p, stop_payload, stop_offset};
        break;
      }
      cut_ = {p + 1, 0, 0};
    }
    if (open_.open) {
      ++dropped_;
      cut_ = {open_.first_packet, open_.payload_index, open_.payload_offset};
    }
    return true;
  }

  const Cut& cut() const { return cut_; }
  uint64_t samples() const { return samples_; }
  uint64_t dropped() const { return dropped_; }
  bool any_sample() const { return any_; }
  uint64_t end_time() const { return end_time_; }
  std::vector<StreamTotals>& streams() { return streams_; }
  uint64_t Offset(uint64_t packet) const { return data_start_ + packet * ps_; }

 private:
  // 1 when packet `p` (whose first `n` bytes are `head`) has bytes in a
  // page that a power cut lost: where the file may not be durable, a page
  // whose bytes there are all zeros. The packets' data never fills a page
  // with zeros in practice, and a packet's padding is zeros by right, so
  // only the bytes its header and payloads fill are looked at. 0 when it has
  // none (or lies where the file was durable); -1 when a read fails.
  int LostPage(uint64_t p, const uint8_t* head, size_t n, Status* status) {
    const uint64_t begin = Offset(p);
    uint64_t used = ps_;
    if (n > kPaddingLengthOffset + 1 && head[3] == kLengthTypeMultiple) {
      used -= std::min<uint64_t>(load_u16le(head + kPaddingLengthOffset), ps_ - 1);
    }
    const uint64_t end = begin + used;
    const uint64_t from = std::max(begin, at_risk_);
    if (from >= end) return 0;
    const uint64_t first = from / kPageSize * kPageSize;
    const uint64_t last = std::min(file_size_, (end + kPageSize - 1) / kPageSize * kPageSize);
    pages_.resize(static_cast<size_t>(last - first));
    *status = file_.ReadAt(first, pages_.data(), pages_.size());
    if (Failed(*status)) return -1;
    for (uint64_t page = first; page < end; page += kPageSize) {
      const uint64_t lo = std::max(page, at_risk_);
      const uint64_t hi = std::min(page + kPageSize, last);
      if (lo >= hi) continue;
      const uint8_t* bytes = pages_.data() + (lo - first);
      if (std::all_of(bytes, bytes + (hi - lo), [](uint8_t b) { return b == 0; })) return 1;
    }
    return 0;
  }

  // 1: the packet is whole and laid out as the builder lays it out; 0: the
  // walk ends in it, before payload *stop (at byte *stop_offset); -1: a
  // read failed.
  int Packet(uint64_t p, const uint8_t* head, size_t n, uint32_t* stop, uint32_t* stop_offset,
             Status* status) {
    *stop = 0;
    *stop_offset = 0;
    if (n < kFirstMultiPayloadOffset || head[0] != kErrorCorrectionFlags || head[1] != 0 ||
        head[2] != 0 || (head[3] != kLengthTypeSingle && head[3] != kLengthTypeMultiple) ||
        head[4] != kPropertyFlags || load_u16le(head + 11) != 0) {
      return 0;
    }
    const uint32_t padding = load_u16le(head + kPaddingLengthOffset);
    if (head[3] == kLengthTypeSingle) {
      if (padding != 0 || n < kPacketHeaderSize + kSinglePayloadHeaderSize) return 0;
      const uint32_t length = ps_ - static_cast<uint32_t>(kPacketHeaderSize + kSinglePayloadHeaderSize);
      return Payload(p, 0, kPacketHeaderSize, head + kPacketHeaderSize, length) ? 1 : 0;
    }
    const uint32_t count = head[kPayloadFlagsOffset] & 0x3F;
    if ((head[kPayloadFlagsOffset] & 0xC0) != kPayloadLengthWord || count == 0 ||
        padding > ps_ - kFirstMultiPayloadOffset) {
      return 0;
    }
    const uint32_t used = ps_ - padding;
    uint32_t at = kFirstMultiPayloadOffset;
    uint8_t h[kMultiPayloadHeaderSize];
    for (uint32_t k = 0; k < count; ++k) {
      *stop = k;
      *stop_offset = at;
      if (used - at < kMultiPayloadHeaderSize + 1) return 0;
      const uint8_t* ph = head + at;
      if (at + kMultiPayloadHeaderSize > n) {
        *status = file_.ReadAt(Offset(p) + at, h, sizeof h);
        if (Failed(*status)) return -1;
        ph = h;
      }
      const uint32_t length = load_u16le(ph + kSinglePayloadHeaderSize);
      if (length == 0 || length > used - at - kMultiPayloadHeaderSize) return 0;
      if (!Payload(p, k, at, ph, length)) return 0;
      at += static_cast<uint32_t>(kMultiPayloadHeaderSize) + length;
    }
    if (at != used) {
      // What stands after the last payload is not padding the header counts.
      *stop = count;
      *stop_offset = at;
      return 0;
    }
    return 1;
  }

  // One payload of `length` data bytes: false when it is not one the
  // builder writes at this point (its sample is then not taken).
  bool Payload(uint64_t p, uint32_t k, uint32_t at, const uint8_t* h, uint32_t length) {
    const uint8_t stream_byte = h[0];
    const uint32_t offset = load_u32le(h + 2);
    const uint32_t size = load_u32le(h + 7);
    const uint32_t presentation = load_u32le(h + 11);
    if (h[6] != kReplicatedDataSize || slot_[stream_byte & kStreamNumberMask] < 0 || size == 0 ||
        size >= kMaxSampleSize) {
      return false;
    }
    if (offset == 0) {
      if (open_.open || length > size) return false;
      open_ = Sample{true, stream_byte, h[1], size, 0, presentation, p, k, k == 0 ? 0 : at};
    } else if (!open_.open || offset != open_.have || stream_byte != open_.stream_byte ||
               h[1] != open_.object_number || size != open_.size ||
               presentation != open_.presentation_ms || length > size - open_.have) {
      return false;
    }
    open_.have += length;
    if (open_.have == open_.size) Complete(p);
    return true;
  }

  // A sample whose last byte is in packet `p`: what it adds to the totals
  // and the index, as the muxer adds it once its packets are written.
  void Complete(uint64_t p) {
    const Sample s = open_;
    open_ = Sample{};
    const int index = slot_[s.stream_byte & kStreamNumberMask];
    const StreamInfo& info = info_.streams[static_cast<size_t>(index)];
    StreamTotals& st = streams_[static_cast<size_t>(index)];
    st.max_object_size = std::max(st.max_object_size, s.size);
    if (st.video && (s.stream_byte & kKeyFrameBit) != 0) {
      st.index.AddKeyFrame(s.presentation_ms, s.first_packet, p);
    }
    const uint64_t ms = s.presentation_ms >= info_.preroll_ms ? s.presentation_ms - info_.preroll_ms : 0;
    end_time_ = std::max(end_time_, ms * kTicksPerMs + info.avg_time_per_frame);
    any_ = true;
    ++samples_;
  }

  CountingFile& file_;
  const FileInfo& info_;
  const uint64_t data_start_;
  const uint64_t available_;
  const uint32_t ps_;
  const uint64_t at_risk_, file_size_;
  std::vector<uint8_t> pages_;  // the pages LostPage looks at
  std::array<int, 128> slot_{};  // stream number -> index in the streams, or -1
  std::vector<StreamTotals> streams_;
  Sample open_;
  Cut cut_;
  uint64_t samples_ = 0, dropped_ = 0, end_time_ = 0;
  bool any_ = false;
};

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

RepairReport RepairIn(CountingFile& file, bool check_only) {
  RepairReport report;
  const uint64_t size = file.file.Size();
  report.size_before = report.size_after = size;
  const auto foreign = [&report](const std::string& why) {
    report.outcome = RepairOutcome::kForeign;
    report.why = why;
    return report;
  };
  const auto failed = [&report](Status status) {
    report.outcome = RepairOutcome::kError;
    report.status = status;
    return report;
  };

  // The header and the Data Object's header.
  uint8_t top[kHeaderObjectFixedSize];
  if (size < sizeof top + kDataObjectHeaderSize) return foreign("it is too short for an ASF header");
  Status status = file.ReadAt(0, top, sizeof top);
  if (Failed(status)) return failed(status);
  if (LoadGuid(top) != kHeaderObject) return foreign("it has no ASF header");
  const uint64_t header_object = load_u64le(top + 16);
  if (header_object < sizeof top || header_object > kMaxHeaderSize ||
      header_object > size - kDataObjectHeaderSize) {
    return foreign("its ASF header's size is impossible");
  }
  std::vector<uint8_t> header(static_cast<size_t>(header_object) + kDataObjectHeaderSize);
  status = file.ReadAt(0, header.data(), header.size());
  if (Failed(status)) return failed(status);
  if (LoadGuid(header.data() + header_object) != kDataObject) {
    return foreign("no Data Object follows its header");
  }
  FileInfo info;
  std::string why;
  if (!ReadFileInfo(header, &info, &why)) return foreign(why);
  std::vector<uint8_t> expected = BuildHeader(info, info.packet_size, HeaderTotals{});
  std::vector<uint8_t> found = header;
  ClearTotals(expected);
  ClearTotals(found);
  if (expected != found) return foreign("its header is not laid out as Kestrum's writer lays it out");

  // The packets.
  const uint32_t ps = info.packet_size;
  const uint64_t data_start = header.size();
  Walk walk(file, info, data_start, (size - data_start) / ps, AtRiskFrom(header, data_start, size),
            size);
  if (!walk.Run(&status)) return failed(status);
  const Cut cut = walk.cut();
  const uint64_t packets = cut.packet + (cut.payload > 0 ? 1 : 0);

  // The last packet kept, whole: a multiple-payload packet loses its
  // payloads from the cut on, and its padding must be zeros.
  std::vector<uint8_t> last;
  bool rewrite = false;
  if (packets > 0) {
    last.resize(ps);
    status = file.ReadAt(walk.Offset(packets - 1), last.data(), ps);
    if (Failed(status)) return failed(status);
    if (last[3] == kLengthTypeMultiple) {
      uint32_t keep = last[kPayloadFlagsOffset] & 0x3F;
      uint32_t end = ps - load_u16le(last.data() + kPaddingLengthOffset);
      if (cut.payload > 0) {
        keep = cut.payload;
        end = cut.offset;
      }
      rewrite = keep != (last[kPayloadFlagsOffset] & 0x3Fu) ||
                end != ps - load_u16le(last.data() + kPaddingLengthOffset) ||
                !AllZero(last.data() + end, ps - end);
      if (rewrite) TrimPacket(last.data(), ps, keep, end);
    }
  }

  // The totals and the index, as Muxer::End makes them.
  const uint64_t preroll = uint64_t{info.preroll_ms} * kTicksPerMs;
  HeaderTotals totals;
  totals.finished = true;
  totals.data_packets = packets;
  totals.play_duration = (walk.any_sample() ? walk.end_time() : 0) + preroll;
  totals.send_duration = totals.play_duration - preroll;
  const uint64_t data_end = data_start + packets * ps;
  totals.file_size = data_end;
  bool all_video_indexed = true;
  VectorSink indexes;
  try {
    std::vector<StreamTotals>& streams = walk.streams();
    for (const StreamTotals& s : streams) totals.max_object_size.push_back(s.max_object_size);
    for (size_t number = 1; number < 128; ++number) {
      for (size_t i = 0; i < info.streams.size(); ++i) {
        if (info.streams[i].number != number || !streams[i].video) continue;
        if (streams[i].index.empty()) {
          all_video_indexed = false;
          continue;
        }
        streams[i].index.Finish(totals.play_duration);
        (void)streams[i].index.WriteObject(indexes, info.file_id);
      }
    }
  } catch (const std::bad_alloc&) {
    return failed(kOutOfMemory);
  }
  totals.file_size += indexes.bytes.size();
  totals.seekable = all_video_indexed;
  const std::vector<uint8_t> ended = BuildHeader(info, ps, totals);

  report.packets = packets;
  report.samples = walk.samples();
  report.samples_dropped = walk.dropped();
  report.play_duration = totals.play_duration;
  report.packet_trimmed = rewrite;
  report.size_after = totals.file_size;

  // Whole already: the header, the index and the size as they would be.
  bool whole = !rewrite && size == totals.file_size && ended == header;
  if (whole && !indexes.bytes.empty()) {
    std::vector<uint8_t> there(indexes.bytes.size());
    status = file.ReadAt(data_end, there.data(), there.size());
    if (Failed(status)) return failed(status);
    whole = there == indexes.bytes;
  }
  if (whole) {
    report.outcome = RepairOutcome::kWhole;
    return report;
  }
  report.outcome = RepairOutcome::kRepaired;
  if (check_only) return report;

  RepairFile& out = file.file;
  if (rewrite) {
    status = out.WriteAt(walk.Offset(packets - 1), last.data(), last.size());
    if (Succeeded(status)) status = out.Sync();
    if (Failed(status)) return failed(status);
  }
  if (!indexes.bytes.empty()) status = out.WriteAt(data_end, indexes.bytes.data(), indexes.bytes.size());
  if (Succeeded(status) && size != totals.file_size) status = out.Truncate(totals.file_size);
  if (Succeeded(status)) status = out.Sync();
  if (Succeeded(status)) status = out.WriteAt(0, ended.data(), ended.size());
  if (Succeeded(status)) status = out.Sync();
  if (Failed(status)) return failed(status);
  return report;
}

}  // namespace

RepairReport Repair(RepairFile& file, bool check_only) {
  CountingFile counting(file);
  RepairReport report;
  try {
    report = RepairIn(counting, check_only);
  } catch (const std::bad_alloc&) {
    report.outcome = RepairOutcome::kError;
    report.status = kOutOfMemory;
  }
  report.bytes_read = counting.bytes_read;
  return report;
}

}  // namespace kestrum::asf
