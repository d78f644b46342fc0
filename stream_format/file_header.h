// The 40-byte FileHeader decoded, with the rules by which the system accepts
// it and derives the picture size: used by the live road's ParseFileHeader
// and by the kestrum program, which explains a refusal before the library is
// asked.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum::stream_format {

enum class HeaderVerdict : uint8_t {
  kAccepted,
  kBadTag,           // the tag is not 1
  kBadStreamType,    // not 0x1001, 0x1002 or 0x1003
  kSizeOutOfRange,   // an explicit picture size outside 1..704 x 1..576
};

struct DecodedHeader {
  uint32_t tag = 0;
  uint32_t version = 0;
  uint16_t stream_type = 0;
  uint16_t video_standard = 0;
  uint16_t rate_factor = 0;
  uint32_t rate_base = 0;
  uint32_t resolution = 0;  // headers before kExplicitSizeVersion
  uint16_t width = 0;       // headers from kExplicitSizeVersion on
  uint16_t height = 0;
  bool explicit_size = false;
  // The picture size the header gives (also when the header is refused).
  int32_t picture_width = 0;
  int32_t picture_height = 0;
  HeaderVerdict verdict = HeaderVerdict::kAccepted;

  bool accepted() const { return verdict == HeaderVerdict::kAccepted; }
};

DecodedHeader DecodeFileHeader(const uint8_t* header);

// Why the header is refused, in words ("tag is 0x2, not 1"); empty when it
// is accepted.
std::string RefusalText(const DecodedHeader& header);

}  // namespace kestrum::stream_format
