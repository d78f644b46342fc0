#include "stream_format/start_rule.h"
#include "api/record_instance.h"
#include "diagnostics/lines.h"
#include "platform/debug_output.h"

namespace kestrum {

// Answers only; the splitter decides when to ask. The stream type is that of
// the last header received, accepted or not.
bool RecordInstance::IsStartGroup(const uint8_t* group_header) {
  const uint16_t stream_type = load_u16le(stream_header.file_header + kFileHeaderStreamTypeOffset);
  switch (stream_format::ClassifyStartGroup(stream_type, group_header)) {
    case stream_format::StartRule::kAccepted:
      return true;
    case stream_format::StartRule::kAcceptedUntyped:
      OutputDebugStringA(lines::kMultiStart);
      return true;
    case stream_format::StartRule::kRefused:
      return false;
    case stream_format::StartRule::kUnknownStreamType:
      break;
  }
  OutputDebugStringA(lines::kUnknownStreamType);
  return false;
}

}  // namespace kestrum
