#include "wm_standin/profile.h"

namespace kestrum::wmsdk {
namespace {

constexpr WORD kMaxStreamNumber = 63;

}  // namespace

Profile* Profile::Create(WMT_VERSION version) { return new (std::nothrow) Profile(version); }

void* Profile::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IWMProfile) return static_cast<IWMProfile*>(this);
  return nullptr;
}

HRESULT Profile::GetVersion(WMT_VERSION* version) {
  return CopyOut(version, version_);
}

HRESULT Profile::GetStreamCount(DWORD* count) {
  return CopyOut(count, static_cast<DWORD>(streams_.size()));
}

HRESULT Profile::GetStream(DWORD index, IWMStreamConfig** config) {
  if (config == nullptr) return E_POINTER;
  *config = nullptr;
  if (index >= streams_.size()) return E_INVALIDARG;
  return Guarded([&] {
    StreamConfig* copy = StreamConfig::Create(streams_[index]);
    if (copy == nullptr) return E_OUTOFMEMORY;
    *config = copy;
    return S_OK;
  });
}

HRESULT Profile::AddStream(IWMStreamConfig* config) {
  if (config == nullptr) return E_POINTER;
  const auto* own = dynamic_cast<const StreamConfig*>(config);
  if (own == nullptr) return E_INVALIDARG;
  const StreamSettings& settings = own->settings();
  if (settings.number == 0 || settings.number > kMaxStreamNumber) return NS_E_INVALID_STREAM;
  for (const StreamSettings& stream : streams_) {
    if (stream.number == settings.number) return NS_E_INVALID_STREAM;
  }
  if (!settings.media_type) return NS_E_INVALID_INPUT_FORMAT;
  return Guarded([&] {
    streams_.push_back(settings);
    return S_OK;
  });
}

HRESULT Profile::CreateNewStream(REFGUID stream_type, IWMStreamConfig** config) {
  if (config == nullptr) return E_POINTER;
  *config = nullptr;
  if (stream_type != kWmMediaTypeVideo && stream_type != kWmMediaTypeAudio) return E_INVALIDARG;
  return Guarded([&] {
    StreamSettings settings;
    settings.stream_type = stream_type;
    StreamConfig* created = StreamConfig::Create(std::move(settings));
    if (created == nullptr) return E_OUTOFMEMORY;
    *config = created;
    return S_OK;
  });
}

ProfileManager* ProfileManager::Create() { return new (std::nothrow) ProfileManager(); }

void* ProfileManager::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IWMProfileManager) {
    return static_cast<IWMProfileManager*>(this);
  }
  return nullptr;
}

HRESULT ProfileManager::CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) {
  if (profile == nullptr) return E_POINTER;
  *profile = nullptr;
  switch (version) {
    case WMT_VER_4_0:
    case WMT_VER_7_0:
    case WMT_VER_8_0:
    case WMT_VER_9_0:
      break;
    default:
      return E_INVALIDARG;
  }
  Profile* created = Profile::Create(version);
  if (created == nullptr) return E_OUTOFMEMORY;
  *profile = created;
  return S_OK;
}

}  // namespace kestrum::wmsdk
