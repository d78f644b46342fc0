// The WM Format SDK interfaces the library writes through: the platform's own
// on Windows (<wmsdk.h>), the built-in writer's declarations elsewhere. Which
// writer stands behind them is a matter of linking (KESTRUM_WRITER). The
// media-type, subtype and format constants (kWmMediaTypeVideo, ...) are the
// same for both.
#pragma once

#include "wm_interfaces/wmsdk.h"
