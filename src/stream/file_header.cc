#include "api/record_instance.h"

namespace kestrum {

HRESULT RecordInstance::ParseFileHeader(const uint8_t* /*header*/) { return E_NOTIMPL; }

}  // namespace kestrum
