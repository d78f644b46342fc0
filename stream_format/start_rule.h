// Which groups may start (or start again) a recording, by the stream type of
// the stream header: the live road's start rule, without its diagnostics.
// The live road's own IsStartGroup writes those; the kestrum program uses
// this to count start groups and to choose where a new file may begin.
#pragma once

#include <cstdint>

#include "stream_format/layout.h"

namespace kestrum::stream_format {

inline constexpr uint32_t kFrameTypeKey = 0x1001;
inline constexpr uint32_t kFrameTypeSecondary = 0x1002;
inline constexpr uint32_t kGroupTypeLowBits = 0xF;

// `group` points at a whole 48-byte group header.
inline bool MayStartRecording(uint16_t stream_type, const uint8_t* group) {
  const uint32_t frame_type = load_u32le(group + kGroupFrameTypeOffset);
  const bool typed_group = (load_u32le(group + kGroupTypeOffset) & kGroupTypeLowBits) != 0;
  const bool key_or_secondary = frame_type == kFrameTypeKey || frame_type == kFrameTypeSecondary;
  switch (stream_type) {
    case 0x1001:
      return key_or_secondary;
    case 0x1002:
      return typed_group;
    case 0x1003:
      return typed_group ? frame_type == kFrameTypeKey : key_or_secondary;
    default:
      return false;
  }
}

}  // namespace kestrum::stream_format
