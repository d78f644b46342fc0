#include "platform/wmsdk/wmsdk.h"

#if KESTRUM_WM_BUILTIN
HRESULT WMCreateProfileManager(IWMProfileManager** profile_manager) {
  if (profile_manager != nullptr) *profile_manager = nullptr;
  return E_NOTIMPL;
}

HRESULT WMCreateWriter(IUnknown*, IWMWriter** writer) {
  if (writer != nullptr) *writer = nullptr;
  return E_NOTIMPL;
}
#endif
