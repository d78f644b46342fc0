#include "api/record_instance.h"
#include "base/bytes.h"
#include "diagnostics/lines.h"
#include "platform/debug_output.h"

namespace kestrum {
namespace {

constexpr uint32_t kGroupTypeLowBits = 0xF;
constexpr uint32_t kFrameTypeKey = 0x1001;
constexpr uint32_t kFrameTypeSecondary = 0x1002;

}  // namespace

// Answers only; the splitter decides when to ask. The stream type is that of
// the last header received, accepted or not.
bool RecordInstance::IsStartGroup(const uint8_t* group_header) {
  const uint16_t stream_type = load_u16le(file_header + kFileHeaderStreamTypeOffset);
  const uint32_t frame_type = load_u32le(group_header + kGroupFrameTypeOffset);
  const bool typed_group = (load_u32le(group_header + kGroupTypeOffset) & kGroupTypeLowBits) != 0;
  switch (stream_type) {
    case 0x1001:
      return frame_type == kFrameTypeKey || frame_type == kFrameTypeSecondary;
    case 0x1002:
      return typed_group;
    case 0x1003:
      if (typed_group) return frame_type == kFrameTypeKey;
      if (frame_type == kFrameTypeKey || frame_type == kFrameTypeSecondary) {
        OutputDebugStringA(lines::kMultiStart);
        return true;
      }
      return false;
    default:
      OutputDebugStringA(lines::kUnknownStreamType);
      return false;
  }
}

}  // namespace kestrum
