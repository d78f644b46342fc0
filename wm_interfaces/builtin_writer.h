// The built-in writer's one entry point beyond the platform's two
// (WMCreateProfileManager, WMCreateWriter): a writer that ends writing at the
// first failed write instead of recording on, as a conversion needs. Declared
// here as the platform's header declares what its DLL defines; defined by the
// built-in writer (wm_standin/), and there only in the builds that link it
// (KESTRUM_WRITER=builtin).
#pragma once

#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

// As WMCreateWriter, but the writer's first failed write ends writing: what
// was written stays readable, and EndWriting returns the fault.
HRESULT CreateWriterEndingAtFault(IWMWriter** writer);

}  // namespace kestrum::wmsdk
