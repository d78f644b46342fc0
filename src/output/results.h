// Failure codes the library returns of its own.
#pragma once

#include "platform/win_types.h"

namespace kestrum {

// An output name that does not fit the writer's 260 code units.
inline constexpr HRESULT kNameTooLong = E_FILENAME_TOO_LONG;
// No output name was given.
inline constexpr HRESULT kNoName = E_POINTER;
// The host stopped the conversion: HRESULT_FROM_WIN32(ERROR_CANCELLED).
inline constexpr HRESULT kCancelled = static_cast<HRESULT>(0x800704C7u);

}  // namespace kestrum
