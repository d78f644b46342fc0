// The media-type format blocks a stream is configured with and the Stream
// Properties Object carries: VIDEOINFOHEADER with its BITMAPINFOHEADER, and
// WAVEFORMATEX. Offsets in bytes from the block's start; fields little-endian.
#pragma once

#include <cstddef>

namespace kestrum::asf {

// VIDEOINFOHEADER: rcSource and rcTarget (RECTs at 0 and 16), dwBitRate,
// dwBitErrorRate, AvgTimePerFrame (100-ns units), then the BITMAPINFOHEADER.
inline constexpr size_t kVideoInfoHeaderSize = 88;  // with its BITMAPINFOHEADER
inline constexpr size_t kVihSourceRightOffset = 8;
inline constexpr size_t kVihSourceBottomOffset = 12;
inline constexpr size_t kVihTargetRightOffset = 24;
inline constexpr size_t kVihTargetBottomOffset = 28;
inline constexpr size_t kVihBitRateOffset = 32;
inline constexpr size_t kVihAvgTimePerFrameOffset = 40;
inline constexpr size_t kVihBitmapOffset = 48;
inline constexpr size_t kBitmapInfoHeaderSize = 40;
// BITMAPINFOHEADER: biSize, biWidth, biHeight, ..., biCompression (the FOURCC).
inline constexpr size_t kBihWidthOffset = 4;
inline constexpr size_t kBihHeightOffset = 8;
inline constexpr size_t kBihCompressionOffset = 16;

// WAVEFORMATEX, up to and including cbSize.
inline constexpr size_t kWaveFormatExSize = 18;
inline constexpr size_t kWaveChannelsOffset = 2;
inline constexpr size_t kWaveSamplesPerSecOffset = 4;
inline constexpr size_t kWaveAvgBytesPerSecOffset = 8;
inline constexpr size_t kWaveBitsPerSampleOffset = 14;
inline constexpr size_t kWaveCbSizeOffset = 16;

}  // namespace kestrum::asf
