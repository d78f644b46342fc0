// The WM Format SDK interfaces the library writes through: the platform's own
// (<wmsdk.h>, with what mingw-w64 lacks supplied) or the built-in stand-in, as
// the build chose (platform/wm_backend.h). The media-type, subtype and format
// constants (kWmMediaTypeVideo, ...) are the same for both.
#pragma once

#include "platform/wm_backend.h"

#if !KESTRUM_WM_BUILTIN
#include "platform/wmvcore/wmvcore.h"
#endif
#include "platform/wmsdk/wmsdk.h"
