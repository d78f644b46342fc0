// The output profile's media types and bit-rate rules.
#pragma once

#include <cstdint>

#include "wm_interfaces/wm.h"
#include "asf_format/format_blocks.h"
#include "stream/group.h"

namespace kestrum {

// Size of the video format block: a VIDEOINFOHEADER followed by the stream
// header.
inline constexpr uint32_t kVideoFormatSize =
    static_cast<uint32_t>(asf::kVideoInfoHeaderSize + kFileHeaderSize);
inline constexpr uint32_t kXqv4FourCc = 0x34565158;  // "XQV4"
inline constexpr DWORD kBufferWindowMs = 3000;
inline constexpr DWORD kVideoQuality = 100;
inline constexpr LONGLONG kMaxKeyFrameSpacing = 20000000;  // 2 s

// The bit rate of a video media type: the rate its VIDEOINFOHEADER declares,
// or an estimate from the picture size and frame rate (which it then stores
// there). May write AvgTimePerFrame (kFrameDuration when not positive) and dwBitRate.
uint32_t EstimateVideoBitrate(WM_MEDIA_TYPE* media_type);

// 1 when the media type's subtype is one of the uncompressed video subtypes
// (RGB, YUV) or PCM, else 0.
int IsUncompressedSubtype(const WM_MEDIA_TYPE* media_type);

// The audio media type the profile gets when audio is enabled: 16-bit stereo
// PCM at 8 kHz, nAvgBytesPerSec left 0 for the audio rule to fill. Its format
// block is allocated with CoTaskMemAlloc and belongs to the caller.
HRESULT MakeAudioMediaType(WM_MEDIA_TYPE* media_type);

// The audio bit-rate rule over a WAVEFORMATEX format block; fills in
// nAvgBytesPerSec when it is 0.
uint32_t AudioBitrate(WM_MEDIA_TYPE* media_type);

}  // namespace kestrum
