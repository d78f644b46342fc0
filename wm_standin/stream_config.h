// One stream's configuration: what IWMProfile::CreateNewStream hands out and
// what a profile keeps a copy of in AddStream.
#pragma once

#include <optional>

#include "wm_standin/com_object.h"
#include "wm_interfaces/implements.h"
#include "wm_standin/media_type.h"
#include "wm_standin/property_store.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

// Everything a stream's configuration holds, as a plain value that copies
// whole (the profile keeps one; GetStream hands out a new object over one).
struct StreamSettings {
  GUID stream_type{};  // kWmMediaTypeVideo or kWmMediaTypeAudio
  WORD number = 0;     // 0 until set; a profile takes 1..63
  DWORD bitrate = 0;
  DWORD buffer_window_ms = 0;
  std::optional<MediaType> media_type;  // none until SetMediaType
  DWORD quality = 0;                    // IWMVideoMediaProps; 0..100
  LONGLONG max_key_frame_spacing = 0;   // 100-ns units; IWMVideoMediaProps
  PropertyStore properties = PropertyStore::StreamDefaults();
};

// Offers IWMStreamConfig, IWMMediaProps, IWMPropertyVault, and for video
// streams IWMVideoMediaProps.
class StreamConfig final
    : public ComObject<Implements<IWMStreamConfig>, Implements<IWMVideoMediaProps>,
                       Implements<IWMPropertyVault>> {
 public:
  // A new object with one reference, the caller's.
  static StreamConfig* Create(StreamSettings settings);

  const StreamSettings& settings() const { return settings_; }

  // IWMStreamConfig
  HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) override;
  HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) override;
  HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) override;
  HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override;
  HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override;
  HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* milliseconds) override;
  HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD milliseconds) override;

  // IWMMediaProps. SetMediaType copies the structure and its format block;
  // its majortype must be the stream's type (NS_E_INVALID_INPUT_FORMAT).
  // GetMediaType before any SetMediaType: NS_E_INVALID_REQUEST.
  HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;
  HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) override;

  // IWMVideoMediaProps (reachable through QueryInterface on video streams).
  HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) override;
  HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) override;
  HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) override;
  HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) override;

  // IWMPropertyVault
  HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                              DWORD* size) override;
  HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value,
                                        DWORD size) override;
  HRESULT STDMETHODCALLTYPE Clear() override;

 private:
  explicit StreamConfig(StreamSettings settings) : settings_(std::move(settings)) {}
  void* Find(REFIID iid) override;

  StreamSettings settings_;
};

}  // namespace kestrum::wmsdk
