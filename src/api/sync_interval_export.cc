// The sync interval of live recordings: the built-in writer's setting, handed
// through the seam that the library reaches the writer by. The platform's
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
