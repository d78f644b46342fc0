#include "asf_format/repair_header.h"

#include <algorithm>
#include <cstring>

#include "asf_format/header.h"
#include "asf_format/objects.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

std::u16string DescriptionString(const uint8_t* p, size_t bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes; i += 2) s.push_back(static_cast<char16_t>(load_u16le(p + i)));
  if (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

}  // namespace

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
    const uint64_t size = load_u64le(o + kObjectSizeOffset);
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
      s.kind =
          LoadGuid(o + kObjectHeaderSize) == kVideoMedia ? MediaKind::kVideo : MediaKind::kAudio;
      s.number = load_u16le(o + kStreamFlagsOffset) & kStreamNumberMask;
      const uint32_t specific = load_u32le(o + kTypeSpecificLengthOffset);
      const size_t skip = s.kind == MediaKind::kVideo ? kVideoTypeSpecificHeaderSize : 0;
      if (specific < skip || kStreamPropertiesFixedSize + uint64_t{specific} > n) {
        return (*why = "a stream's format does not fit its object", false);
      }
      const uint8_t* format = o + kStreamPropertiesFixedSize + skip;
      s.format.assign(format, format + (specific - skip));
      info->streams.push_back(std::move(s));
    } else if (id == kHeaderExtensionObject && n >= kHeaderExtensionFixedSize) {
      for (size_t c = kHeaderExtensionFixedSize; n - c >= kObjectHeaderSize;) {
        const uint64_t child = load_u64le(o + c + kObjectSizeOffset);
        if (child < kObjectHeaderSize || child > n - c) break;
        if (LoadGuid(o + c) == kExtendedStreamPropertiesObject && child == kExtendedStreamPropertiesSize) {
          const uint8_t* e = o + c;
          extended.push_back({static_cast<uint16_t>(load_u16le(e + kExtendedStreamNumberOffset)),
                              load_u32le(e + kExtendedStreamBitrateOffset),
                              load_u32le(e + kExtendedStreamBufferWindowOffset),
                              load_u64le(e + kExtendedStreamFrameTimeOffset)});
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

void ClearTotals(std::vector<uint8_t>& h) {
  const auto clear = [&h](size_t at, size_t n) {
    if (at + n <= h.size()) std::memset(h.data() + at, 0, n);
  };
  const size_t end = h.size() - kDataObjectHeaderSize;
  for (size_t at = kHeaderObjectFixedSize; end - at >= kObjectHeaderSize;) {
    const uint8_t* o = h.data() + at;
    const uint64_t size = load_u64le(o + kObjectSizeOffset);
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
        const uint64_t child = load_u64le(o + c + kObjectSizeOffset);
        if (child < kObjectHeaderSize || child > size - c) break;
        if (LoadGuid(o + c) == kExtendedStreamPropertiesObject && child == kExtendedStreamPropertiesSize) {
          clear(at + c + kExtendedStreamMaxObjectSizeOffset, 4);
          clear(at + c + kExtendedStreamFlagsOffset, 4);
        }
        c += static_cast<size_t>(child);
      }
    }
    at += static_cast<size_t>(size);
  }
  clear(end + kObjectSizeOffset, 8);  // the Data Object's size
  clear(end + kDataObjectPacketCountOffset, 8);  // and packet count
}

HeaderNotes ReadHeaderNotes(const std::vector<uint8_t>& h) {
  HeaderNotes notes;
  const size_t end = h.size() - kDataObjectHeaderSize;
  notes.data_packets = load_u64le(h.data() + end + kDataObjectPacketCountOffset);
  for (size_t at = kHeaderObjectFixedSize; end - at >= kObjectHeaderSize;) {
    const uint8_t* o = h.data() + at;
    const uint64_t object = load_u64le(o + kObjectSizeOffset);
    if (object < kObjectHeaderSize || object > end - at) break;
    if (LoadGuid(o) == kFilePropertiesObject && object >= kFilePropertiesFlagsOffset + 4) {
      notes.file_size_field = at + kFilePropertiesFileSizeOffset;
      notes.file_size = load_u64le(o + kFilePropertiesFileSizeOffset);
      notes.ended = (load_u32le(o + kFilePropertiesFlagsOffset) & kFileFlagBroadcast) == 0;
      break;
    }
    at += static_cast<size_t>(object);
  }
  return notes;
}

}  // namespace kestrum::asf
