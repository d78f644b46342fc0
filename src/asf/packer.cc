#include "api/record_instance.h"

namespace kestrum {

int32_t RecordInstance::processgroup(const GroupView&) { return 0; }
int32_t RecordInstance::processpacket(const uint8_t*, const PacketRecord&) { return 1; }

}  // namespace kestrum
