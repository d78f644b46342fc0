#include "api/record_instance.h"
#include "platform/debug_output.h"

namespace kestrum {

void RecordInstance::SendOneFrame(const uint8_t* data, int32_t length) {
  if (length == kFileHeaderSize) {
    if (FAILED(ParseFileHeader(data))) OutputDebugStringA("Wrong File header!");
    return;
  }
  OutputDebugStringA("Not ready for Kestrum!");
}

}  // namespace kestrum
