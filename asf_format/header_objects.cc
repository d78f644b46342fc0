#include "asf_format/header_objects.h"

#include <algorithm>
#include <cstdint>

#include "asf_format/header.h"
#include "asf_format/object_walk.h"
#include "base/bytes.h"

namespace kestrum::asf {
namespace {

std::u16string Utf16String(const DescriptionString& s) {
  std::u16string text;
  for (size_t i = 0; i + 1 < s.size; i += 2) {
    text.push_back(static_cast<char16_t>(load_u16le(s.bytes + i)));
  }
  if (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

// A Stream Properties Object as BuildHeader writes one for `stream`.
bool DeclaredStream(const ObjectWalk::Object& o, StreamInfo* stream, std::string* why) {
  const StreamPropertiesFields f = ReadStreamPropertiesFields(o.bytes, o.size);
  stream->kind = f.kind == MediaKind::kVideo ? MediaKind::kVideo : MediaKind::kAudio;
  stream->number = f.number;
  const size_t skip = stream->kind == MediaKind::kVideo ? kVideoTypeSpecificHeaderSize : 0;
  if (f.type_specific_size < skip || !f.fits) {
    return (*why = "a stream's format does not fit its object", false);
  }
  stream->format.assign(f.type_specific + skip, f.type_specific + f.type_specific_size);
  return true;
}

// The Extended Stream Properties in a Header Extension, as the muxer writes
// them (of their full size).
void DeclaredExtensions(const ObjectWalk::Object& o, std::vector<ExtendedStreamFields>* extended) {
  ObjectWalk children = ObjectWalk::ExtensionOf(o);
  for (ObjectWalk::Object c; children.Next(&c);) {
    if (c.guid == kExtendedStreamPropertiesObject && c.size == kExtendedStreamPropertiesSize) {
      extended->push_back(ReadExtendedStreamFields(c.bytes, c.size));
    }
  }
}

bool DeclaredStrings(const ObjectWalk::Object& o, FileInfo* info, std::string* why) {
  DescriptionString strings[kDescriptionStringCount];
  if (ReadDescriptionStrings(o.bytes, o.size, strings) < kDescriptionStringCount) {
    return (*why = "its content description does not add up", false);
  }
  std::u16string* texts[kDescriptionStringCount] = {&info->title, &info->author, &info->copyright,
                                                    &info->description, &info->rating};
  for (size_t i = 0; i < kDescriptionStringCount; ++i) *texts[i] = Utf16String(strings[i]);
  return true;
}

void DeclaredFileProperties(const ObjectWalk::Object& o, FileInfo* info) {
  const FilePropertiesFields f = ReadFilePropertiesFields(o.bytes);
  info->file_id = f.file_id;
  info->creation_time = f.creation_time;
  info->preroll_ms = static_cast<uint32_t>(std::min<uint64_t>(f.preroll, UINT32_MAX));
  info->packet_size = f.min_packet_size;
}

}  // namespace

FilePropertiesFields ReadFilePropertiesFields(const uint8_t* o) {
  FilePropertiesFields f;
  f.file_id = LoadGuid(o + kFileIdOffset);
  f.file_size = load_u64le(o + kFilePropertiesFileSizeOffset);
  f.creation_time = load_u64le(o + kFilePropertiesCreationDateOffset);
  f.packet_count = load_u64le(o + kFilePropertiesPacketCountOffset);
  f.play_duration = load_u64le(o + kFilePropertiesPlayDurationOffset);
  f.send_duration = load_u64le(o + kFilePropertiesSendDurationOffset);
  f.preroll = load_u64le(o + kFilePropertiesPrerollOffset);
  f.flags = load_u32le(o + kFilePropertiesFlagsOffset);
  f.min_packet_size = load_u32le(o + kFilePropertiesMinPacketOffset);
  f.max_packet_size = load_u32le(o + kFilePropertiesMaxPacketOffset);
  return f;
}

StreamPropertiesFields ReadStreamPropertiesFields(const uint8_t* o, size_t size) {
  StreamPropertiesFields f;
  f.kind = KindOfStreamType(LoadGuid(o + kStreamTypeOffset));
  f.number = load_u16le(o + kStreamFlagsOffset) & kStreamNumberMask;
  f.type_specific = o + kStreamPropertiesFixedSize;
  f.type_specific_size = load_u32le(o + kTypeSpecificLengthOffset);
  f.fits = kStreamPropertiesFixedSize + uint64_t{f.type_specific_size} <= size;
  return f;
}

ExtendedStreamFields ReadExtendedStreamFields(const uint8_t* o, size_t size) {
  const auto u32 = [o, size](size_t at) { return at + 4 <= size ? load_u32le(o + at) : 0u; };
  ExtendedStreamFields f;
  if (kExtendedStreamNumberOffset + 2 <= size) {
    f.number = load_u16le(o + kExtendedStreamNumberOffset);
  }
  f.bitrate = u32(kExtendedStreamBitrateOffset);
  f.buffer_window_ms = u32(kExtendedStreamBufferWindowOffset);
  f.flags = u32(kExtendedStreamFlagsOffset);
  if (kExtendedStreamFrameTimeOffset + 8 <= size) {
    f.frame_time = load_u64le(o + kExtendedStreamFrameTimeOffset);
  }
  return f;
}

size_t ReadDescriptionStrings(const uint8_t* o, size_t size,
                              DescriptionString (&strings)[kDescriptionStringCount]) {
  size_t at = kDescriptionStringsOffset;
  for (size_t i = 0; i < kDescriptionStringCount; ++i) {
    const size_t length = load_u16le(o + kObjectHeaderSize + 2 * i);
    if (length > size - at) return i;
    strings[i] = DescriptionString{o + at, length};
    at += length;
  }
  return kDescriptionStringCount;
}

size_t FindFileProperties(const std::vector<uint8_t>& header) {
  ObjectWalk walk(header.data(), kHeaderObjectFixedSize, header.size() - kDataObjectHeaderSize);
  for (ObjectWalk::Object o; walk.Next(&o);) {
    if (o.guid == kFilePropertiesObject && o.size >= kFilePropertiesFlagsOffset + 4) {
      return o.offset;
    }
  }
  return 0;
}

bool ReadDeclaredHeader(const std::vector<uint8_t>& header, FileInfo* info, std::string* why) {
  std::vector<ExtendedStreamFields> extended;
  bool file_properties = false;
  ObjectWalk walk(header.data(), kHeaderObjectFixedSize, header.size() - kDataObjectHeaderSize);
  for (ObjectWalk::Object o; walk.Next(&o);) {
    if (o.guid == kFilePropertiesObject && o.size == kFilePropertiesSize) {
      file_properties = true;
      DeclaredFileProperties(o, info);
    } else if (o.guid == kStreamPropertiesObject && o.size >= kStreamPropertiesFixedSize) {
      info->streams.emplace_back();
      if (!DeclaredStream(o, &info->streams.back(), why)) return false;
    } else if (o.guid == kHeaderExtensionObject && o.size >= kHeaderExtensionFixedSize) {
      DeclaredExtensions(o, &extended);
    } else if (o.guid == kContentDescriptionObject && o.size >= kDescriptionStringsOffset) {
      if (!DeclaredStrings(o, info, why)) return false;
    }
  }
  if (walk.bad() || !walk.at_end()) return (*why = "its header objects do not add up", false);
  if (!file_properties) return (*why = "it has no file properties", false);
  for (StreamInfo& s : info->streams) {
    for (const ExtendedStreamFields& e : extended) {
      if (e.number != s.number) continue;
      s.bitrate = e.bitrate;
      s.buffer_window_ms = e.buffer_window_ms;
      s.avg_time_per_frame = e.frame_time;
    }
  }
  if (Failed(ValidateFileInfo(*info)) || info->packet_size == 0) {
    return (*why = "its header declares what this system's writer does not write", false);
  }
  return true;
}

}  // namespace kestrum::asf
