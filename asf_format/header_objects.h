// The header's objects read back, field by field: the inverse of what
// header.cc appends. The reader takes from them what any ASF file's header
// says; a repair the FileInfo a header declares (ReadDeclaredHeader), so
// that it can build again the header the muxer wrote for it. Each reader
// here takes an object that the walk (object_walk.h) found within its
// bounds and reads nothing past its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "asf_format/muxer.h"
#include "asf_format/objects.h"

namespace kestrum::asf {

struct FilePropertiesFields {
  Guid file_id;
  uint64_t file_size = 0, creation_time = 0, packet_count = 0;
  uint64_t play_duration = 0, send_duration = 0, preroll = 0;
  uint32_t flags = 0, min_packet_size = 0, max_packet_size = 0;
};
// `o` holds at least kFilePropertiesSize bytes.
FilePropertiesFields ReadFilePropertiesFields(const uint8_t* o);

struct StreamPropertiesFields {
  MediaKind kind = MediaKind::kOther;  // by its stream type
  uint16_t number = 0;
  // The type-specific data, which lies within the object only when `fits`.
  const uint8_t* type_specific = nullptr;
  uint32_t type_specific_size = 0;
  bool fits = false;
};
// `o` holds `size` >= kStreamPropertiesFixedSize bytes.
StreamPropertiesFields ReadStreamPropertiesFields(const uint8_t* o, size_t size);

// Those that lie within the object; the others 0.
struct ExtendedStreamFields {
  uint16_t number = 0;  // as written, bit 7 and all
  uint32_t bitrate = 0, buffer_window_ms = 0, flags = 0;
  uint64_t frame_time = 0;
};
ExtendedStreamFields ReadExtendedStreamFields(const uint8_t* o, size_t size);

struct DescriptionString {
  const uint8_t* bytes = nullptr;  // UTF-16LE, with its terminator if written
  size_t size = 0;
};
// The Content Description's strings (title, author, copyright, description,
// rating) from the first on, as many as lie within the object (`size` >=
// kDescriptionStringsOffset): kDescriptionStringCount when all do.
size_t ReadDescriptionStrings(const uint8_t* o, size_t size,
                              DescriptionString (&strings)[kDescriptionStringCount]);

// Where a header image (the Header Object, then the Data Object's header)
// holds its first File Properties Object long enough for the fields up to
// its Flags; 0 when it holds none before an object that does not fit.
size_t FindFileProperties(const std::vector<uint8_t>& header);

// What a header image declares, as the FileInfo BuildHeader was given (a
// stream of any type but video is read as audio, as BuildHeader writes
// every other stream); false, with `why`, when its objects do not add up,
// or declare what this system's writer does not write.
bool ReadDeclaredHeader(const std::vector<uint8_t>& header, FileInfo* info, std::string* why);

}  // namespace kestrum::asf
