// Failure codes the library returns of its own.
#pragma once

#include "platform/win_types.h"

namespace kestrum {

// HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE): an output name that does not
// fit the writer's 260 code units.
inline constexpr HRESULT kNameTooLong = static_cast<HRESULT>(0x800700CEu);
// E_POINTER: no output name was given.
inline constexpr HRESULT kNoName = static_cast<HRESULT>(0x80004003u);

}  // namespace kestrum
