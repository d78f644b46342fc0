// The file road as the exports run it (TransferToAsf, KestrumTransferToAsfEx):
// on the instance the library keeps for it, with that instance's context
// current, its stats begun afresh and closed with the result.
#pragma once

#include <cstdint>

#include "kestrum.h"

namespace kestrum {

class RecordInstance;

// The instance TransferToAsf works on (exports.cc): constructed when the
// library is loaded, destroyed when it is unloaded.
RecordInstance& FileRoadInstance();

// Converts `source` into `destination` on `instance` with the packet-source
// library's operations. `options` (may be null) must have been checked
// (struct_size). Returns TransferToAsf's result, or kCancelled when the
// progress callback stopped it.
int32_t RunConversion(RecordInstance& instance, intptr_t source, const char* destination,
                      const KestrumTransferOptions* options);

}  // namespace kestrum
