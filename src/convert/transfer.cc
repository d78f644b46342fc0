#include "convert/transfer.h"

#include "api/record_instance.h"

namespace kestrum {

PacketSource PacketSource::Platform() { return PacketSource{QuarnelOpenFile, QuarnelGetPacket}; }

int32_t TransferToAsf(RecordInstance&, const PacketSource&, intptr_t, const char*) { return 0; }

}  // namespace kestrum
