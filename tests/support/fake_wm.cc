#include "support/fake_wm.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "wm_interfaces/implements.h"

namespace kestrum::testing {
namespace {

using wmsdk::Implements;

// WCHAR is a 16-bit unit everywhere (wchar_t on Windows, char16_t elsewhere).
std::u16string Wide(const WCHAR* text) {
  std::u16string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(static_cast<char16_t>(*text));
  return out;
}

std::string Narrow(const WCHAR* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

// Reference counting shared by the fakes; counts live objects in the FakeWm.
class Counted {
 public:
  explicit Counted(FakeWm* wm) : wm_(wm) { ++wm_->live_objects; }
  virtual ~Counted() { --wm_->live_objects; }
  ULONG DoAddRef() { return ++references_; }
  ULONG DoRelease() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  FakeWm* wm_;

 private:
  ULONG references_ = 1;
};

#define KESTRUM_FAKE_REFCOUNT                                                  \
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }            \
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }

template <typename T>
HRESULT Hand(T* object, void** out) {
  object->AddRef();
  *out = object;
  return S_OK;
}

class FakeBuffer final : public Implements<INSSBuffer>, Counted {
 public:
  FakeBuffer(FakeWm* wm, DWORD size) : Counted(wm), bytes_(size, 0xCD), length_(size) {}
  KESTRUM_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_INSSBuffer) return Hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override {
    *length = length_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override {
    const HRESULT hr = wm_->Call("SetLength", std::to_string(length));
    if (FAILED(hr)) return hr;
    if (length > bytes_.size()) return E_INVALIDARG;
    length_ = length;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override {
    *length = static_cast<DWORD>(bytes_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override {
    const HRESULT hr = wm_->Call("GetBuffer");
    if (FAILED(hr)) return hr;
    *buffer = bytes_.data();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override {
    *buffer = bytes_.data();
    *length = length_;
    return S_OK;
  }

  std::vector<uint8_t> Content() const {
    return std::vector<uint8_t>(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(length_));
  }

 private:
  std::vector<uint8_t> bytes_;
  DWORD length_;
};

class FakeStreamConfig final : public Implements<IWMStreamConfig>,
                               public Implements<IWMVideoMediaProps>,
                               public Implements<IWMPropertyVault>,
                               Counted {
 public:
  FakeStreamConfig(FakeWm* wm, const GUID& type) : Counted(wm) { stream_.stream_type = type; }
  KESTRUM_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IWMStreamConfig) {
      return Hand(static_cast<IWMStreamConfig*>(this), out);
    }
    if (riid == IID_IWMMediaProps) {
      const HRESULT hr = wm_->Call("QueryInterface", "IWMMediaProps");
      if (FAILED(hr)) return *out = nullptr, hr;
      return Hand(static_cast<IWMMediaProps*>(this), out);
    }
    if (riid == IID_IWMVideoMediaProps && wm_->offer_video_media_props) {
      return Hand(static_cast<IWMVideoMediaProps*>(this), out);
    }
    if (riid == IID_IWMPropertyVault && wm_->offer_property_vault) {
      return Hand(static_cast<IWMPropertyVault*>(this), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  // IWMStreamConfig
  HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) override {
    *type = stream_.stream_type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) override {
    *number = stream_.number;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) override {
    const HRESULT hr = wm_->Call("SetStreamNumber", std::to_string(number));
    if (SUCCEEDED(hr)) stream_.number = number;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override {
    *bitrate = stream_.bitrate;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override {
    const HRESULT hr = wm_->Call("SetBitrate", std::to_string(bitrate));
    if (SUCCEEDED(hr)) stream_.bitrate = bitrate;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* milliseconds) override {
    *milliseconds = stream_.buffer_window;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD milliseconds) override {
    const HRESULT hr = wm_->Call("SetBufferWindow", std::to_string(milliseconds));
    if (SUCCEEDED(hr)) stream_.buffer_window = milliseconds;
    return hr;
  }

  // IWMMediaProps
  HRESULT STDMETHODCALLTYPE GetType(GUID* type) override {
    *type = stream_.stream_type;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) override {
    const HRESULT hr = wm_->Call("SetMediaType", GuidText(type->majortype));
    if (FAILED(hr)) return hr;
    stream_.has_media_type = true;
    stream_.media_type = *type;
    stream_.format.assign(type->pbFormat, type->pbFormat + type->cbFormat);
    stream_.media_type.pbFormat = nullptr;
    return S_OK;
  }

  // IWMVideoMediaProps
  HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) override {
    *time = stream_.max_key_frame_spacing;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) override {
    const HRESULT hr = wm_->Call("SetMaxKeyFrameSpacing", std::to_string(time));
    if (SUCCEEDED(hr)) stream_.max_key_frame_spacing = time;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) override {
    *quality = stream_.quality;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) override {
    const HRESULT hr = wm_->Call("SetQuality", std::to_string(quality));
    if (SUCCEEDED(hr)) stream_.quality = quality;
    return hr;
  }

  // IWMPropertyVault
  HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* count) override {
    *count = static_cast<DWORD>(stream_.properties.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                              DWORD* size) override {
    const HRESULT hr =
        wm_->Call("GetPropertyByName", Narrow(name) + "," + std::to_string(*size));
    if (FAILED(hr)) return hr;
    // Answers as the platform does for a preset WORD property.
    *type = WMT_TYPE_WORD;
    if (value != nullptr && *size >= 2) store_value(value, 0);
    *size = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type, BYTE* value,
                                        DWORD size) override {
    uint64_t number = 0;
    for (DWORD i = 0; i < size && i < 8; ++i) number |= static_cast<uint64_t>(value[i]) << (8 * i);
    const HRESULT hr = wm_->Call("SetProperty", Narrow(name) + "," + std::to_string(type) + "," +
                                                    std::to_string(number) + "," +
                                                    std::to_string(size));
    if (FAILED(hr)) return hr;
    stream_.properties.push_back({Narrow(name), {type, std::vector<uint8_t>(value, value + size)}});
    return S_OK;
  }

  const FakeStream& stream() const { return stream_; }

 private:
  static void store_value(BYTE* value, uint16_t v) {
    value[0] = static_cast<BYTE>(v);
    value[1] = static_cast<BYTE>(v >> 8);
  }
  FakeStream stream_;
};

class FakeProfile final : public Implements<IWMProfile>, Counted {
 public:
  FakeProfile(FakeWm* wm, WMT_VERSION version) : Counted(wm), version_(version) {}
  KESTRUM_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IWMProfile) return Hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* version) override {
    *version = version_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override {
    *count = static_cast<DWORD>(wm_->profile_streams.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override {
    const HRESULT hr = wm_->Call("AddStream");
    if (FAILED(hr)) return hr;
    wm_->profile_streams.push_back(static_cast<FakeStreamConfig*>(config)->stream());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID stream_type,
                                            IWMStreamConfig** config) override {
    const HRESULT hr = wm_->Call("CreateNewStream", GuidText(stream_type));
    if (FAILED(hr)) return *config = nullptr, hr;
    *config = new FakeStreamConfig(wm_, stream_type);
    return S_OK;
  }

 private:
  WMT_VERSION version_;
};

class FakeProfileManager final : public Implements<IWMProfileManager>, Counted {
 public:
  explicit FakeProfileManager(FakeWm* wm) : Counted(wm) {}
  KESTRUM_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IWMProfileManager) return Hand(this, out);
    *out = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version,
                                               IWMProfile** profile) override {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(version));
    const HRESULT hr = wm_->Call("CreateEmptyProfile", text);
    if (FAILED(hr)) return *profile = nullptr, hr;
    ++wm_->profiles_created;
    wm_->profile_streams.clear();
    *profile = new FakeProfile(wm_, version);
    return S_OK;
  }
};

class FakeWriter final : public Implements<IWMWriter>,
                         public Implements<IWMWriterAdvanced3>,
                         public Implements<IWMHeaderInfo>,
                         Counted {
 public:
  explicit FakeWriter(FakeWm* wm) : Counted(wm) {}
  KESTRUM_FAKE_REFCOUNT
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IWMWriter) {
      return Hand(static_cast<IWMWriter*>(this), out);
    }
    std::string name;
    bool offered = false;
    IUnknown* object = nullptr;
    if (riid == IID_IWMWriterAdvanced) {
      name = "IWMWriterAdvanced", offered = wm_->offer_writer_advanced;
      object = static_cast<IWMWriterAdvanced*>(this);
    } else if (riid == IID_IWMHeaderInfo) {
      name = "IWMHeaderInfo", offered = wm_->offer_header_info;
      object = static_cast<IWMHeaderInfo*>(this);
    } else if (riid == IID_IWMWriterAdvanced3) {
      name = "IWMWriterAdvanced3", offered = wm_->offer_writer_advanced3;
      object = static_cast<IWMWriterAdvanced3*>(this);
    }
    *out = nullptr;
    if (object == nullptr) return E_NOINTERFACE;
    const HRESULT hr = wm_->Call("QueryInterface", name);
    if (FAILED(hr)) return hr;
    if (!offered) return E_NOINTERFACE;
    return Hand(object, out);
  }

  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile*) override { return wm_->Call("SetProfile"); }
  HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* filename) override {
    const HRESULT hr = wm_->Call("SetOutputFilename", Narrow(filename));
    if (SUCCEEDED(hr)) wm_->output_filename = Wide(filename);
    return hr;
  }
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) override {
    const HRESULT hr = wm_->Call("GetInputCount");
    if (SUCCEEDED(hr)) *count = static_cast<DWORD>(wm_->profile_streams.size());
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override {
    return wm_->Call("SetInputProps",
                     std::to_string(input) + (props == nullptr ? ",null" : ",props"));
  }
  HRESULT STDMETHODCALLTYPE BeginWriting() override { return wm_->Call("BeginWriting"); }
  HRESULT STDMETHODCALLTYPE EndWriting() override { return wm_->Call("EndWriting"); }
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override {
    const HRESULT hr = wm_->Call("AllocateSample", std::to_string(size));
    if (FAILED(hr)) return *sample = nullptr, hr;
    *sample = new FakeBuffer(wm_, size);
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream_number, QWORD sample_time,
                                              DWORD sample_send_time, QWORD sample_duration,
                                              DWORD flags, INSSBuffer* sample) override {
    const HRESULT hr = wm_->Call(
        "WriteStreamSample", std::to_string(stream_number) + "," + std::to_string(sample_time) +
                                 "," + std::to_string(sample_send_time) + "," +
                                 std::to_string(sample_duration) + "," + std::to_string(flags));
    if (FAILED(hr)) return hr;
    wm_->samples.push_back(FakeSample{stream_number, sample_time, sample_send_time,
                                      sample_duration, flags,
                                      static_cast<FakeBuffer*>(sample)->Content()});
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream_number, LPCWSTR name, WMT_ATTR_DATATYPE type,
                                         const BYTE* value, WORD length) override {
    const HRESULT hr = wm_->Call("SetAttribute", std::to_string(stream_number) + "," +
                                                     Narrow(name) + "," + std::to_string(type) +
                                                     "," + std::to_string(length));
    if (FAILED(hr)) return hr;
    std::u16string text;
    for (WORD i = 0; i + 1 < length; i = static_cast<WORD>(i + 2)) {
      text.push_back(static_cast<char16_t>(value[i] | (value[i + 1] << 8)));
    }
    wm_->attributes[Wide(name)] = text;
    wm_->attribute_lengths.push_back(length);
    return S_OK;
  }
};

}  // namespace

WmFactories FakeWm::Factories() {
  return WmFactories{
      [this](IWMProfileManager** manager) {
        const HRESULT hr = Call("WMCreateProfileManager");
        *manager = SUCCEEDED(hr) ? new FakeProfileManager(this) : nullptr;
        return hr;
      },
      [this](IUnknown*, IWMWriter** writer) {
        const HRESULT hr = Call("WMCreateWriter");
        if (FAILED(hr)) return *writer = nullptr, hr;
        ++writers_created;
        *writer = new FakeWriter(this);
        return S_OK;
      },
  };
}

void FakeWm::FailNext(const std::string& method, HRESULT result, int times) {
  auto& queue = failures_[method];
  queue.insert(queue.end(), static_cast<size_t>(times), result);
}

HRESULT FakeWm::Call(const std::string& method, const std::string& arguments) {
  calls.push_back(method + "(" + arguments + ")");
  auto it = failures_.find(method);
  if (it == failures_.end() || it->second.empty()) return S_OK;
  const HRESULT result = it->second.front();
  it->second.erase(it->second.begin());
  return result;
}

size_t FakeWm::CountCalls(const std::string& method) const {
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [&](const std::string& c) {
    return c.compare(0, method.size() + 1, method + "(") == 0;
  }));
}

std::vector<std::string> FakeWm::CallNames() const {
  std::vector<std::string> names;
  for (const auto& c : calls) names.push_back(c.substr(0, c.find('(')));
  return names;
}

std::string GuidText(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

}  // namespace kestrum::testing
