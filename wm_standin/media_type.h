// A WM_MEDIA_TYPE held by value: the structure's fields and an owned copy of
// its format block, so nothing points into the caller's memory once a type
// has been copied in.
#pragma once

#include <cstdint>
#include <vector>

#include "asf_format/format_blocks.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

class MediaType {
 public:
  // Copies `source` and its cbFormat bytes at pbFormat. Fails with
  // E_INVALIDARG when a format block is announced but pbFormat is null, and
  // with NS_E_INVALID_INPUT_FORMAT when the block is shorter than its format
  // type's structure (VIDEOINFOHEADER, WAVEFORMATEX). pUnk is not kept.
  static HRESULT CopyFrom(const WM_MEDIA_TYPE& source, MediaType* out);

  // Reads the media type of `props` with the SDK's two-call protocol (size
  // first, then the structure with its block behind it) and copies it.
  static HRESULT Fetch(IWMMediaProps* props, MediaType* out);

  // The SDK's protocol for IWMMediaProps::GetMediaType: with `type` null,
  // *size receives the bytes needed; otherwise the structure goes to `type`
  // and the format block right behind it (pbFormat points there), provided
  // *size says there is room (ASF_E_BUFFERTOOSMALL, with *size set to the
  // need, when not).
  HRESULT CopyTo(WM_MEDIA_TYPE* type, DWORD* size) const;

  // The bytes CopyTo needs.
  DWORD NeededSize() const;

  const GUID& majortype() const { return fields_.majortype; }
  const GUID& subtype() const { return fields_.subtype; }
  const GUID& formattype() const { return fields_.formattype; }
  const std::vector<uint8_t>& format() const { return format_; }

 private:
  WM_MEDIA_TYPE fields_{};  // pUnk and pbFormat are always null here
  std::vector<uint8_t> format_;
};

// The smallest format blocks that make sense for the two format types the
// writer understands.
using asf::kVideoInfoHeaderSize;
using asf::kWaveFormatExSize;

}  // namespace kestrum::wmsdk
