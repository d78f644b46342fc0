#include "api/record_instance.h"

#include <cstring>

#include "stream_format/file_header.h"

namespace kestrum {

// The header is stored before any check, so a rejected header still replaces
// the earlier one (the start rule reads the stored copy). A wrong tag or
// stream type leaves the picture size alone; an explicit size out of range is
// rejected but stays in picture_width/picture_height.
HRESULT RecordInstance::ParseFileHeader(const uint8_t* header) {
  std::memcpy(stream_header.file_header, header, kFileHeaderSize);
  const stream_format::DecodedHeader decoded =
      stream_format::DecodeFileHeader(stream_header.file_header);
  if (decoded.verdict == stream_format::HeaderVerdict::kBadTag ||
      decoded.verdict == stream_format::HeaderVerdict::kBadStreamType) {
    return E_FAIL;
  }
  stream_header.picture_width = decoded.picture_width;
  stream_header.picture_height = decoded.picture_height;
  return decoded.accepted() ? S_OK : E_FAIL;
}

}  // namespace kestrum
