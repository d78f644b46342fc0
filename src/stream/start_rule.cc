#include "api/record_instance.h"

namespace kestrum {

bool RecordInstance::IsStartGroup(const uint8_t* /*group_header*/) { return false; }

}  // namespace kestrum
