#include "api/record_instance.h"

#include <cstring>

#include "base/bytes.h"

namespace kestrum {
namespace {

constexpr uint32_t kFileHeaderTag = 1;
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

}  // namespace

// The header is stored before any check, so a rejected header still replaces
// the earlier one (the start rule reads the stored copy). A wrong tag or
// stream type leaves the picture size alone; an explicit size out of range is
// rejected but stays in picture_width/picture_height.
HRESULT RecordInstance::ParseFileHeader(const uint8_t* header) {
  std::memcpy(file_header, header, kFileHeaderSize);

  if (load_u32le(file_header + kFileHeaderTagOffset) != kFileHeaderTag) return E_FAIL;
  if (!IsKnownStreamType(load_u16le(file_header + kFileHeaderStreamTypeOffset))) return E_FAIL;

  const bool tall = load_u16le(file_header + kFileHeaderVideoStandardOffset) == kVideoStandardTall;
  const int32_t base_height = tall ? kTallBaseHeight : kShortBaseHeight;
  picture_width = kDefaultWidth;
  picture_height = base_height;

  if (load_u32le(file_header + kFileHeaderVersionOffset) >= kExplicitSizeVersion) {
    const uint16_t width = load_u16le(file_header + kFileHeaderWidthOffset);
    const uint16_t height = load_u16le(file_header + kFileHeaderHeightOffset);
    picture_width = width;
    picture_height = height;
    // Full-width pictures are given by their field height; only these two
    // sizes are doubled to the frame height.
    if (width == 704 && (height == 240 || height == 288)) picture_height = 2 * height;
    if (picture_height == 0 || picture_width == 0 || picture_height > kMaxExplicitHeight ||
        picture_width > kMaxExplicitWidth) {
      return E_FAIL;
    }
    return S_OK;
  }

  const PictureSize size = SizeFromResolutionCode(
      load_u32le(file_header + kFileHeaderResolutionOffset), tall, base_height);
  picture_width = size.width;
  picture_height = size.height;
  return S_OK;
}

}  // namespace kestrum
