#include "wm_standin/stream_config.h"

namespace kestrum::wmsdk {
namespace {

constexpr DWORD kMaxQuality = 100;

}  // namespace

StreamConfig* StreamConfig::Create(StreamSettings settings) {
  return new (std::nothrow) StreamConfig(std::move(settings));
}

void* StreamConfig::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IWMStreamConfig) {
    return static_cast<IWMStreamConfig*>(this);
  }
  if (iid == IID_IWMMediaProps) {
    return static_cast<IWMMediaProps*>(static_cast<IWMVideoMediaProps*>(this));
  }
  if (iid == IID_IWMVideoMediaProps && settings_.stream_type == kWmMediaTypeVideo) {
    return static_cast<IWMVideoMediaProps*>(this);
  }
  if (iid == IID_IWMPropertyVault) return static_cast<IWMPropertyVault*>(this);
  return nullptr;
}

HRESULT StreamConfig::GetStreamType(GUID* type) {
  return CopyOut(type, settings_.stream_type);
}

HRESULT StreamConfig::GetStreamNumber(WORD* number) {
  return CopyOut(number, settings_.number);
}

HRESULT StreamConfig::SetStreamNumber(WORD number) {
  settings_.number = number;
  return S_OK;
}

HRESULT StreamConfig::GetBitrate(DWORD* bitrate) {
  return CopyOut(bitrate, settings_.bitrate);
}

HRESULT StreamConfig::SetBitrate(DWORD bitrate) {
  settings_.bitrate = bitrate;
  return S_OK;
}

HRESULT StreamConfig::GetBufferWindow(DWORD* milliseconds) {
  return CopyOut(milliseconds, settings_.buffer_window_ms);
}

HRESULT StreamConfig::SetBufferWindow(DWORD milliseconds) {
  settings_.buffer_window_ms = milliseconds;
  return S_OK;
}

HRESULT StreamConfig::GetType(GUID* type) {
  return CopyOut(type, settings_.stream_type);
}

HRESULT StreamConfig::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) {
  if (size == nullptr) return E_INVALIDARG;
  if (!settings_.media_type) return NS_E_INVALID_REQUEST;
  return settings_.media_type->CopyTo(type, size);
}

HRESULT StreamConfig::SetMediaType(WM_MEDIA_TYPE* type) {
  if (type == nullptr) return E_POINTER;
  if (type->majortype != settings_.stream_type) return NS_E_INVALID_INPUT_FORMAT;
  MediaType copy;
  const HRESULT hr = MediaType::CopyFrom(*type, &copy);
  if (FAILED(hr)) return hr;
  settings_.media_type = std::move(copy);
  return S_OK;
}

HRESULT StreamConfig::GetMaxKeyFrameSpacing(LONGLONG* time) {
  return CopyOut(time, settings_.max_key_frame_spacing);
}

HRESULT StreamConfig::SetMaxKeyFrameSpacing(LONGLONG time) {
  if (time < 0) return E_INVALIDARG;
  settings_.max_key_frame_spacing = time;
  return S_OK;
}

HRESULT StreamConfig::GetQuality(DWORD* quality) {
  return CopyOut(quality, settings_.quality);
}

HRESULT StreamConfig::SetQuality(DWORD quality) {
  if (quality > kMaxQuality) return E_INVALIDARG;
  settings_.quality = quality;
  return S_OK;
}

HRESULT StreamConfig::GetPropertyCount(DWORD* count) {
  return CopyOut(count, settings_.properties.Count());
}

HRESULT StreamConfig::GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                        DWORD* size) {
  return settings_.properties.Get(name, type, value, size);
}

HRESULT StreamConfig::SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value, DWORD size) {
  return settings_.properties.Set(name, type, value, size);
}

HRESULT StreamConfig::Clear() {
  settings_.properties.Clear();
  return S_OK;
}

}  // namespace kestrum::wmsdk
