#include "wm_standin/media_type.h"

#include <cstring>
#include <new>

#include "wm_standin/com_object.h"

namespace kestrum::wmsdk {

HRESULT MediaType::CopyFrom(const WM_MEDIA_TYPE& source, MediaType* out) {
  if (out == nullptr) return E_POINTER;
  if (source.cbFormat > 0 && source.pbFormat == nullptr) return E_INVALIDARG;
  if (source.formattype == kWmFormatVideoInfo && source.cbFormat < kVideoInfoHeaderSize) {
    return NS_E_INVALID_INPUT_FORMAT;
  }
  if (source.formattype == kWmFormatWaveFormatEx && source.cbFormat < kWaveFormatExSize) {
    return NS_E_INVALID_INPUT_FORMAT;
  }
  return Guarded([&] {
    MediaType copy;
    copy.fields_ = source;
    copy.fields_.pUnk = nullptr;
    copy.fields_.pbFormat = nullptr;
    copy.format_.assign(source.pbFormat, source.pbFormat + source.cbFormat);
    *out = std::move(copy);
    return S_OK;
  });
}

DWORD MediaType::NeededSize() const {
  return static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + format_.size());
}

HRESULT MediaType::CopyTo(WM_MEDIA_TYPE* type, DWORD* size) const {
  if (size == nullptr) return E_INVALIDARG;
  const DWORD needed = NeededSize();
  if (type == nullptr) {
    *size = needed;
    return S_OK;
  }
  if (*size < needed) {
    *size = needed;
    return ASF_E_BUFFERTOOSMALL;
  }
  *type = fields_;
  BYTE* block = reinterpret_cast<BYTE*>(type) + sizeof(WM_MEDIA_TYPE);
  if (!format_.empty()) std::memcpy(block, format_.data(), format_.size());
  type->pbFormat = format_.empty() ? nullptr : block;
  type->cbFormat = static_cast<ULONG>(format_.size());
  *size = needed;
  return S_OK;
}

HRESULT MediaType::Fetch(IWMMediaProps* props, MediaType* out) {
  if (props == nullptr || out == nullptr) return E_POINTER;
  DWORD size = 0;
  HRESULT hr = props->GetMediaType(nullptr, &size);
  if (FAILED(hr)) return hr;
  if (size < sizeof(WM_MEDIA_TYPE)) return NS_E_INVALID_INPUT_FORMAT;
  return Guarded([&] {
    // Storage aligned for the structure, which the callee fills in place.
    std::vector<uint64_t> storage((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    auto* type = new (storage.data()) WM_MEDIA_TYPE{};
    DWORD filled = size;
    HRESULT fetched = props->GetMediaType(type, &filled);
    if (FAILED(fetched)) return fetched;
    // The block must lie inside the storage handed over, behind the structure.
    const auto begin = reinterpret_cast<uintptr_t>(storage.data());
    const uintptr_t block_start = begin + sizeof(WM_MEDIA_TYPE);
    const uintptr_t end = begin + size;
    const auto block = reinterpret_cast<uintptr_t>(type->pbFormat);
    if (type->cbFormat > 0 &&
        (block < block_start || block > end || type->cbFormat > end - block)) {
      return NS_E_INVALID_INPUT_FORMAT;
    }
    return CopyFrom(*type, out);
  });
}

}  // namespace kestrum::wmsdk
