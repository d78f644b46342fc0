// The profile manager and the profiles it makes: a profile is a version and
// a list of stream configurations, each one the profile's own copy.
#pragma once

#include <vector>

#include "wm_standin/com_object.h"
#include "wm_interfaces/implements.h"
#include "wm_standin/stream_config.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

class Profile final : public ComObject<Implements<IWMProfile>> {
 public:
  static Profile* Create(WMT_VERSION version);

  HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* version) override;
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override;
  // A new configuration object over a copy of stream `index`, with one
  // reference; changing it leaves the profile as it was. E_INVALIDARG past
  // the last stream.
  HRESULT STDMETHODCALLTYPE GetStream(DWORD index, IWMStreamConfig** config) override;
  // Keeps a copy of the configuration as it is now. Fails with E_INVALIDARG
  // for a configuration not made by this stand-in, NS_E_INVALID_STREAM for a
  // stream number outside 1..63 or already in the profile, and
  // NS_E_INVALID_INPUT_FORMAT for a stream without a media type.
  HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override;
  // A configuration for a video or audio stream (E_INVALIDARG for any other
  // type) that is not part of the profile until AddStream.
  HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID stream_type, IWMStreamConfig** config) override;

 private:
  explicit Profile(WMT_VERSION version) : version_(version) {}
  void* Find(REFIID iid) override;

  WMT_VERSION version_;
  std::vector<StreamSettings> streams_;
};

class ProfileManager final : public ComObject<Implements<IWMProfileManager>> {
 public:
  static ProfileManager* Create();

  // E_INVALIDARG for a version other than 4.0, 7.0, 8.0 and 9.0.
  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override;

 private:
  ProfileManager() = default;
  void* Find(REFIID iid) override;
};

}  // namespace kestrum::wmsdk
