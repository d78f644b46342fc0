#include "asf_format/header.h"

#include <limits>

#include "base/bytes.h"
#include "asf_format/objects.h"
#include "asf_format/status.h"

namespace kestrum::asf {
namespace {

// A Content Description string is stored with its terminating NUL and its
// byte count must fit a WORD.
constexpr size_t kMaxDescriptionChars = 0xFFFF / 2 - 1;
constexpr uint8_t kVideoReservedFlags = 0x02;
constexpr uint16_t kHeaderExtensionReserved2 = 6;

uint32_t TotalBitrate(const FileInfo& info) {
  uint64_t sum = 0;
  for (const StreamInfo& s : info.streams) sum += s.bitrate;
  return sum > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                    : static_cast<uint32_t>(sum);
}

uint16_t DescriptionBytes(const std::u16string& s) {
  return s.empty() ? uint16_t{0} : static_cast<uint16_t>((s.size() + 1) * 2);
}

void AppendDescriptionString(ObjectWriter& w, const std::u16string& s) {
  if (s.empty()) return;
  for (char16_t c : s) w.U16(static_cast<uint16_t>(c));
  w.U16(0);
}

Status ValidateStream(const StreamInfo& s) {
  if (s.number < 1 || s.number > 127) return kInvalidArgument;
  if (s.format.size() > 0xFFFF) return kInvalidInputFormat;
  if (s.kind == MediaKind::kVideo) {
    if (s.format.size() < kBitmapInfoHeaderSize) return kInvalidInputFormat;
    // Readers take the codec data's length from biSize; it has to lie within
    // the bytes written.
    const uint32_t bi_size = load_u32le(s.format.data());
    if (bi_size < kBitmapInfoHeaderSize || bi_size > s.format.size()) {
      return kInvalidInputFormat;
    }
  } else if (s.kind == MediaKind::kAudio) {
    if (s.format.size() < kWaveFormatExSize) return kInvalidInputFormat;
  } else {
    return kInvalidArgument;
  }
  return kOk;
}

}  // namespace

Status ValidateFileInfo(const FileInfo& info) {
  if (info.streams.empty()) return kInvalidArgument;
  if (info.packet_size != 0 &&
      (info.packet_size < kMinPacketSize || info.packet_size > kMaxPacketSize)) {
    return kInvalidArgument;
  }
  bool seen[128] = {};
  for (const StreamInfo& s : info.streams) {
    const Status status = ValidateStream(s);
    if (Failed(status)) return status;
    if (seen[s.number]) return kInvalidArgument;
    seen[s.number] = true;
  }
  for (const std::u16string* s :
       {&info.title, &info.author, &info.copyright, &info.description, &info.rating}) {
    if (s->size() > kMaxDescriptionChars) return kInvalidArgument;
  }
  return kOk;
}

void AppendFileProperties(ObjectWriter& w, const FileInfo& info, uint32_t packet_size,
                          const HeaderTotals& totals) {
  const size_t start = w.BeginObject(kFilePropertiesObject);
  w.Id(info.file_id);
  w.U64(totals.finished ? totals.file_size : 0);
  w.U64(info.creation_time);
  w.U64(totals.finished ? totals.data_packets : 0);
  w.U64(totals.finished ? totals.play_duration : 0);
  w.U64(totals.finished ? totals.send_duration : 0);
  w.U64(info.preroll_ms);
  uint32_t flags = totals.finished ? 0 : kFileFlagBroadcast;
  if (totals.finished && totals.seekable) flags |= kFileFlagSeekable;
  w.U32(flags);
  w.U32(packet_size);  // minimum and maximum data packet size: packets are fixed-size
  w.U32(packet_size);
  w.U32(TotalBitrate(info));
  w.EndObject(start);
}

void AppendStreamProperties(ObjectWriter& w, const StreamInfo& stream) {
  const bool video = stream.kind == MediaKind::kVideo;
  const size_t format_size = stream.format.size();
  // Video: width, height, reserved flags and a WORD size precede the format.
  const size_t type_specific_size =
      video ? kVideoTypeSpecificHeaderSize + format_size : format_size;

  const size_t start = w.BeginObject(kStreamPropertiesObject);
  w.Id(video ? kVideoMedia : kAudioMedia);
  w.Id(kNoErrorCorrection);
  w.U64(0);  // time offset
  w.U32(static_cast<uint32_t>(type_specific_size));
  w.U32(0);              // error correction data length
  w.U16(stream.number);  // flags: stream number in bits 0-6, not encrypted
  w.U32(0);              // reserved
  if (video) {
    w.U32(load_u32le(stream.format.data() + kBihWidthOffset));
    w.U32(load_u32le(stream.format.data() + kBihHeightOffset));
    w.U8(kVideoReservedFlags);
    w.U16(static_cast<uint16_t>(format_size));
  }
  w.Bytes(stream.format.data(), format_size);
  w.EndObject(start);
}

void AppendExtendedStreamProperties(ObjectWriter& w, const StreamInfo& stream,
                                    uint32_t max_object_size, bool streamed) {
  const size_t start = w.BeginObject(kExtendedStreamPropertiesObject);
  w.U64(0);  // start time: unspecified
  w.U64(0);  // end time: unspecified
  w.U32(stream.bitrate);
  w.U32(stream.buffer_window_ms);
  w.U32(0);               // initial buffer fullness
  w.U32(stream.bitrate);  // alternate data bitrate
  w.U32(stream.buffer_window_ms);
  w.U32(0);
  w.U32(max_object_size);
  w.U32(streamed ? 0 : kExtendedStreamSeekable);
  w.U16(stream.number);
  w.U16(0);  // stream language index
  w.U64(stream.avg_time_per_frame);
  w.U16(0);  // stream name count
  w.U16(0);  // payload extension system count: replicated data stays 8 bytes
  w.EndObject(start);
}

void AppendHeaderExtension(ObjectWriter& w, const FileInfo& info, const HeaderTotals& totals) {
  const size_t start = w.BeginObject(kHeaderExtensionObject);
  w.Id(kHeaderExtensionReserved1);
  w.U16(kHeaderExtensionReserved2);
  const size_t data_size_at = w.size();
  w.U32(0);
  const size_t data_start = w.size();
  for (size_t i = 0; i < info.streams.size(); ++i) {
    const uint32_t max_object_size =
        i < totals.max_object_size.size() ? totals.max_object_size[i] : 0;
    AppendExtendedStreamProperties(w, info.streams[i], max_object_size, totals.streamed);
  }
  w.PatchU32(data_size_at, static_cast<uint32_t>(w.size() - data_start));
  w.EndObject(start);
}

void AppendContentDescription(ObjectWriter& w, const FileInfo& info) {
  const size_t start = w.BeginObject(kContentDescriptionObject);
  w.U16(DescriptionBytes(info.title));
  w.U16(DescriptionBytes(info.author));
  w.U16(DescriptionBytes(info.copyright));
  w.U16(DescriptionBytes(info.description));
  w.U16(DescriptionBytes(info.rating));
  AppendDescriptionString(w, info.title);
  AppendDescriptionString(w, info.author);
  AppendDescriptionString(w, info.copyright);
  AppendDescriptionString(w, info.description);
  AppendDescriptionString(w, info.rating);
  w.EndObject(start);
}

void AppendStreamBitrateProperties(ObjectWriter& w, const FileInfo& info) {
  const size_t start = w.BeginObject(kStreamBitratePropertiesObject);
  w.U16(static_cast<uint16_t>(info.streams.size()));
  for (const StreamInfo& s : info.streams) {
    w.U16(s.number);
    w.U32(s.bitrate);
  }
  w.EndObject(start);
}

void AppendDataObjectHeader(ObjectWriter& w, const Guid& file_id, const HeaderTotals& totals,
                            uint32_t packet_size) {
  w.Id(kDataObject);
  w.U64(totals.finished ? kDataObjectHeaderSize + totals.data_packets * packet_size
                        : kDataObjectHeaderSize);
  w.Id(file_id);
  w.U64(totals.finished ? totals.data_packets : 0);
  w.U8(0x01);  // reserved, always 0x0101
  w.U8(0x01);
}

void LeaveEndUnconfirmed(uint8_t* fields, uint64_t durable) {
  store_u64le(fields, durable);
  uint8_t* const flags = fields + kFileSizeThroughFlags - 4;
  store_u32le(flags, load_u32le(flags) | kFileFlagBroadcast);
}

std::vector<uint8_t> BuildHeader(const FileInfo& info, uint32_t packet_size,
                                 const HeaderTotals& totals) {
  std::vector<uint8_t> out;
  BuildHeader(info, packet_size, totals, out);
  return out;
}

void BuildHeader(const FileInfo& info, uint32_t packet_size, const HeaderTotals& totals,
                 std::vector<uint8_t>& out) {
  out.clear();
  ObjectWriter w(out);
  const size_t start = w.BeginObject(kHeaderObject);
  const size_t count_at = w.size();
  w.U32(0);
  w.U8(0x01);  // reserved 1
  w.U8(0x02);  // reserved 2: readers refuse anything else
  uint32_t children = 0;
  AppendFileProperties(w, info, packet_size, totals);
  ++children;
  for (const StreamInfo& s : info.streams) {
    AppendStreamProperties(w, s);
    ++children;
  }
  AppendHeaderExtension(w, info, totals);
  ++children;
  AppendContentDescription(w, info);
  ++children;
  AppendStreamBitrateProperties(w, info);
  ++children;
  w.PatchU32(count_at, children);
  w.EndObject(start);
  AppendDataObjectHeader(w, info.file_id, totals, packet_size);
}

}  // namespace kestrum::asf
