// The WM Format SDK interfaces the library writes through: the platform's own
// on Windows (unless the built-in writer was chosen), the stand-in elsewhere.
#pragma once

#include "platform/wmsdk/wmsdk.h"
