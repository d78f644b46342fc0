#include "stream_format/file_header.h"

#include <cstdio>

#include "stream_format/layout.h"

namespace kestrum::stream_format {
namespace {

constexpr uint16_t kVideoStandardTall = 0x1001;  // base height 288; anything else 240
constexpr int32_t kTallBaseHeight = 288;
constexpr int32_t kShortBaseHeight = 240;
constexpr int32_t kDefaultWidth = 352;
constexpr int32_t kMaxExplicitWidth = 704;
constexpr int32_t kMaxExplicitHeight = 576;

bool IsKnownStreamType(uint16_t stream_type) {
  return stream_type == 0x1001 || stream_type == 0x1002 || stream_type == 0x1003;
}

struct PictureSize {
  int32_t width;
  int32_t height;
};

// Older headers name their picture size by a code; `base_height` is 288 or
// 240 by the video standard. Codes outside the table keep the default size.
PictureSize SizeFromResolutionCode(uint32_t resolution, bool tall, int32_t base_height) {
  switch (resolution) {
    case 0x1002:
      return {176, base_height / 2};
    case 0x1003:
    case 0x1004:
      return {704, base_height * 2};
    case 0x1005:
      return {88, base_height / 4};
    case 0x1006:
      return {320, 240};
    case 0x1007:
      return {160, 120};
    case 0x1008:
      return {528, tall ? 384 : 320};
    case 0x1001:
    default:
      return {kDefaultWidth, base_height};
  }
}

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

}  // namespace

DecodedHeader DecodeFileHeader(const uint8_t* p) {
  DecodedHeader h;
  h.tag = load_u32le(p + kFileHeaderTagOffset);
  h.version = load_u32le(p + kFileHeaderVersionOffset);
  h.stream_type = load_u16le(p + kFileHeaderStreamTypeOffset);
  h.video_standard = load_u16le(p + kFileHeaderVideoStandardOffset);
  h.rate_factor = load_u16le(p + kFileHeaderRateFactorOffset);
  h.rate_base = load_u32le(p + kFileHeaderRateBaseOffset);
  h.resolution = load_u32le(p + kFileHeaderResolutionOffset);
  h.width = load_u16le(p + kFileHeaderWidthOffset);
  h.height = load_u16le(p + kFileHeaderHeightOffset);
  h.explicit_size = h.version >= kExplicitSizeVersion;

  const bool tall = h.video_standard == kVideoStandardTall;
  const int32_t base_height = tall ? kTallBaseHeight : kShortBaseHeight;
  if (h.explicit_size) {
    h.picture_width = h.width;
    h.picture_height = h.height;
    // Full-width pictures are given by their field height; only these two
    // sizes are doubled to the frame height.
    if (h.width == 704 && (h.height == 240 || h.height == 288)) h.picture_height = 2 * h.height;
  } else {
    const PictureSize size = SizeFromResolutionCode(h.resolution, tall, base_height);
    h.picture_width = size.width;
    h.picture_height = size.height;
  }

  if (h.tag != kFileHeaderTag) {
    h.verdict = HeaderVerdict::kBadTag;
  } else if (!IsKnownStreamType(h.stream_type)) {
    h.verdict = HeaderVerdict::kBadStreamType;
  } else if (h.explicit_size &&
             (h.picture_width == 0 || h.picture_height == 0 ||
              h.picture_width > kMaxExplicitWidth || h.picture_height > kMaxExplicitHeight)) {
    h.verdict = HeaderVerdict::kSizeOutOfRange;
  }
  return h;
}

std::string RefusalText(const DecodedHeader& h) {
  switch (h.verdict) {
    case HeaderVerdict::kAccepted:
      break;
    case HeaderVerdict::kBadTag:
      return "tag is " + Hex(h.tag) + ", not 1";
    case HeaderVerdict::kBadStreamType:
      return "stream type " + Hex(h.stream_type) + " is not 0x1001, 0x1002 or 0x1003";
    case HeaderVerdict::kSizeOutOfRange:
      return "picture size " + std::to_string(h.picture_width) + " x " +
             std::to_string(h.picture_height) + " is outside 1..704 x 1..576";
  }
  return "";
}

}  // namespace kestrum::stream_format
