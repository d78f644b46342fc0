// Statuses in words: the one table of what a result the library returns or
// records means (KestrumDescribeStatus; the kestrum program says the same).
#pragma once

#include <cstdint>

namespace kestrum {

// The words for `status`: an HRESULT, or TransferToAsf's 0 and 1. A status
// the table does not hold gets the words for one not known. Never null.
const char* StatusWords(int32_t status);

}  // namespace kestrum
