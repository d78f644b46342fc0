// A new file's ID: the File Properties' File ID, repeated by the Data Object
// and each Simple Index, different for every file written.
#pragma once

#include "asf_format/objects.h"

namespace kestrum::asf {

// A random (version 4) GUID.
Guid RandomFileId();

}  // namespace kestrum::asf
