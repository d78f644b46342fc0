// The failure HRESULTs the muxer answers with, by their SDK names
// (NS_E_INVALID_REQUEST, NS_E_INVALID_STREAM, NS_E_INVALID_INPUT_FORMAT)
// next to the Win32 ones of platform/win_types.h (E_INVALIDARG,
// E_OUTOFMEMORY, E_DISK_FULL, ...).
#pragma once

#include "platform/wmsdk/wmsdk.h"
