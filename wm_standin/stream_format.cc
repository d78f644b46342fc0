#include "wm_standin/stream_format.h"

#include "base/bytes.h"
#include "wm_standin/com_object.h"

namespace kestrum::wmsdk {
namespace {

// The Stream Properties Object gives the size of a video stream's format data
// (BITMAPINFOHEADER and codec data) in a WORD; the muxer holds audio formats
// to the same bound.
constexpr size_t kMaxFormatData = 0xFFFF;

HRESULT DescribeVideo(const ProfileStream& stream, asf::StreamInfo* info) {
  const MediaType& type = stream.media_type;
  const std::vector<uint8_t>& block = type.format();
  if (type.formattype() != kWmFormatVideoInfo || block.size() < kVideoInfoHeaderSize) {
    return NS_E_INVALID_INPUT_FORMAT;
  }
  const size_t format_size = block.size() - asf::kVihBitmapOffset;
  if (format_size > kMaxFormatData) return NS_E_INVALID_INPUT_FORMAT;
  const auto avg_time_per_frame =
      static_cast<int64_t>(load_u64le(block.data() + asf::kVihAvgTimePerFrameOffset));
  info->kind = asf::MediaKind::kVideo;
  info->avg_time_per_frame = avg_time_per_frame > 0 ? static_cast<uint64_t>(avg_time_per_frame) : 0;
  info->format.assign(block.begin() + asf::kVihBitmapOffset, block.end());
  store_u32le(info->format.data(), static_cast<uint32_t>(format_size));  // biSize
  return S_OK;
}

HRESULT DescribeAudio(const ProfileStream& stream, asf::StreamInfo* info) {
  const MediaType& type = stream.media_type;
  const std::vector<uint8_t>& block = type.format();
  if (type.formattype() != kWmFormatWaveFormatEx || block.size() < kWaveFormatExSize ||
      block.size() > kMaxFormatData) {
    return NS_E_INVALID_INPUT_FORMAT;
  }
  const uint16_t extra = load_u16le(block.data() + asf::kWaveCbSizeOffset);
  if (kWaveFormatExSize + extra > block.size()) return NS_E_INVALID_INPUT_FORMAT;
  info->kind = asf::MediaKind::kAudio;
  info->avg_time_per_frame = 0;
  info->format = block;
  return S_OK;
}

}  // namespace

HRESULT DescribeStream(const ProfileStream& stream, asf::StreamInfo* info) {
  if (info == nullptr) return E_POINTER;
  if (stream.media_type.majortype() != stream.stream_type) return NS_E_INVALID_INPUT_FORMAT;
  return Guarded([&] {
    asf::StreamInfo described;
    described.number = stream.number;
    described.bitrate = stream.bitrate;
    described.buffer_window_ms = stream.buffer_window_ms;
    HRESULT hr = NS_E_INVALID_INPUT_FORMAT;
    if (stream.stream_type == kWmMediaTypeVideo) {
      hr = DescribeVideo(stream, &described);
    } else if (stream.stream_type == kWmMediaTypeAudio) {
      hr = DescribeAudio(stream, &described);
    }
    if (SUCCEEDED(hr)) *info = std::move(described);
    return hr;
  });
}

}  // namespace kestrum::wmsdk
