// The 40-byte header that opens every stream (little-endian):
//   0 u32 tag (1)   8 u32 version (0xYYYYMMDD)   16 u16 stream_type
//  18 u16 video_standard   22 u16 rate_factor   24 u32 rate_base
//  28 u32 resolution (older headers) or u16 width, u16 height (0x20040308 on)
// Every other byte is carried unread.
#pragma once

#include <cstdint>

namespace kestrum {

inline constexpr int32_t kFileHeaderSize = 40;

inline constexpr int kFileHeaderTagOffset = 0;
inline constexpr int kFileHeaderVersionOffset = 8;
inline constexpr int kFileHeaderStreamTypeOffset = 16;
inline constexpr int kFileHeaderVideoStandardOffset = 18;
inline constexpr int kFileHeaderRateFactorOffset = 22;
inline constexpr int kFileHeaderRateBaseOffset = 24;
inline constexpr int kFileHeaderResolutionOffset = 28;
inline constexpr int kFileHeaderWidthOffset = 28;
inline constexpr int kFileHeaderHeightOffset = 30;

// Headers of this version or later carry the picture size explicitly.
inline constexpr uint32_t kExplicitSizeVersion = 0x20040308;

}  // namespace kestrum
