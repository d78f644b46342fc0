// The SDK's two entry points the library calls.
#include "platform/wmsdk/profile.h"
#include "platform/wmsdk/wmsdk.h"
#include "platform/wmsdk/writer.h"

#if KESTRUM_WM_BUILTIN
HRESULT WMCreateProfileManager(IWMProfileManager** profile_manager) {
  if (profile_manager == nullptr) return E_POINTER;
  *profile_manager = kestrum::wmsdk::ProfileManager::Create();
  return *profile_manager != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The certificate is not needed: the stand-in protects no content. The
// writer writes files, with a random file ID and the current time.
HRESULT WMCreateWriter(IUnknown* /*certificate*/, IWMWriter** writer) {
  return kestrum::wmsdk::CreateWriter(kestrum::wmsdk::WriterOptions{}, writer);
}
#endif
