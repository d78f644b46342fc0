// The built-in writer's entry points beyond the platform's two
// (WMCreateProfileManager, WMCreateWriter): a writer that ends writing at the
// first failed write instead of recording on, as a conversion needs, and the
// sync interval of the writers WMCreateWriter makes. Declared
// here as the platform's header declares what its DLL defines; defined by the
// built-in writer (wm_standin/), and there only in the builds that link it
// (KESTRUM_WRITER=builtin).
#pragma once

#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

// As WMCreateWriter, but the writer's first failed write ends writing: what
// was written stays readable, and EndWriting returns the fault.
HRESULT CreateWriterEndingAtFault(IWMWriter** writer);

inline constexpr int32_t kDefaultSyncIntervalMs = 1000;

// The interval, in ms, at which a writer that WMCreateWriter made keeps its
// file durable while writing (the process's sync thread syncs it, and EndWriting
// syncs it a last time); 0: never. Writers take it when they begin writing.
// Returns the interval before; a negative one changes nothing. The writers of
// CreateWriterEndingAtFault never sync while writing.
int32_t SetSyncInterval(int32_t milliseconds);

// Whether the writers of CreateWriterEndingAtFault (conversions) make their
// file durable as it ends, before EndWriting returns: its packets are synced
// before the header says it ended, then the rest. Off (0) by default; 1 on.
// Returns the setting before; a negative one changes nothing.
int32_t SetTransferSync(int32_t on);

}  // namespace kestrum::wmsdk
