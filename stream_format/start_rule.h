// Which groups may start (or start again) a recording, by the stream type of
// the stream header: the start rule, defined once. The live road's
// IsStartGroup writes its diagnostics from the classification; the kestrum
// program uses MayStartRecording to count start groups and to choose where a
// new file may begin.
#pragma once

#include <cstdint>

#include "stream_format/layout.h"

namespace kestrum::stream_format {

inline constexpr uint32_t kFrameTypeKey = 0x1001;
inline constexpr uint32_t kFrameTypeSecondary = 0x1002;
inline constexpr uint32_t kGroupTypeLowBits = 0xF;

// What the start rule says of one group.
enum class StartRule : uint8_t {
  kAccepted,           // the group may start a recording
  kAcceptedUntyped,    // it may, under stream type 0x1003, through the untyped branch
  kRefused,            // it may not
  kUnknownStreamType,  // no group may: the stream type is not 0x1001, 0x1002 or 0x1003
};

// `group` points at a whole 48-byte group header.
inline StartRule ClassifyStartGroup(uint16_t stream_type, const uint8_t* group) {
  const uint32_t frame_type = load_u32le(group + kGroupFrameTypeOffset);
  const bool typed_group = (load_u32le(group + kGroupTypeOffset) & kGroupTypeLowBits) != 0;
  const bool key_or_secondary = frame_type == kFrameTypeKey || frame_type == kFrameTypeSecondary;
  const auto accepted_if = [](bool accepted) {
    return accepted ? StartRule::kAccepted : StartRule::kRefused;
  };
  switch (stream_type) {
    case 0x1001:
      return accepted_if(key_or_secondary);
    case 0x1002:
      return accepted_if(typed_group);
    case 0x1003:
      if (typed_group) return accepted_if(frame_type == kFrameTypeKey);
      return key_or_secondary ? StartRule::kAcceptedUntyped : StartRule::kRefused;
    default:
      return StartRule::kUnknownStreamType;
  }
}

inline bool MayStartRecording(uint16_t stream_type, const uint8_t* group) {
  const StartRule rule = ClassifyStartGroup(stream_type, group);
  return rule == StartRule::kAccepted || rule == StartRule::kAcceptedUntyped;
}

}  // namespace kestrum::stream_format
