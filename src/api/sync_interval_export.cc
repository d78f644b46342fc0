// The durability settings: the sync interval of live recordings and the sync
// of a conversion's file as it ends, the built-in writer's, handed through
// the seam that the library reaches the writer by. The platform's
// writer has a policy of its own that the library cannot set.
#include "kestrum.h"
#if KESTRUM_BUILTIN_WRITER
#include "wm_interfaces/builtin_writer.h"
#endif

extern "C" KESTRUM_API int32_t KESTRUM_CALL KestrumSetSyncInterval(int32_t milliseconds) {
#if KESTRUM_BUILTIN_WRITER
  return kestrum::wmsdk::SetSyncInterval(milliseconds);
#else
  (void)milliseconds;
  return 0;
#endif
}

extern "C" KESTRUM_API int32_t KESTRUM_CALL KestrumSetTransferSync(int32_t on) {
#if KESTRUM_BUILTIN_WRITER
  return kestrum::wmsdk::SetTransferSync(on);
#else
  (void)on;
  return 0;
#endif
}
