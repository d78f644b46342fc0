// The SDK's two entry points, over the built-in writer: linked into the
// library when it is built with the built-in writer, and exported by the
// project's own wmvcore.dll on Windows (undecorated names, __stdcall), where
// they stand in for the platform's.
#include "wm_standin/profile.h"
#include "wm_standin/wmsdk.h"
#include "wm_standin/writer.h"

extern "C" HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** profile_manager) {
  if (profile_manager == nullptr) return E_POINTER;
  *profile_manager = kestrum::wmsdk::ProfileManager::Create();
  return *profile_manager != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The certificate is not needed: the writer protects no content. It writes
// files, with a random file ID and the current time.
extern "C" HRESULT WINAPI WMCreateWriter(IUnknown* /*certificate*/, IWMWriter** writer) {
  return kestrum::wmsdk::CreateWriter(kestrum::wmsdk::WriterOptions{}, writer);
}
