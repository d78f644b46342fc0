// The file-level string attributes the writer keeps for the Content
// Description Object: Title, Author, Copyright, Description and Rating.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "asf_format/muxer.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

class HeaderAttributes {
 public:
  // IWMHeaderInfo::SetAttribute for stream 0 and WMT_TYPE_STRING. `length`
  // counts bytes, with or without a terminating zero (the value ends at its
  // first zero character either way). E_NOTIMPL for another stream or an
  // attribute name outside the five; E_INVALIDARG for another type, an odd
  // length, a null name or value, or a value longer than the ASF field holds.
  HRESULT Set(WORD stream_number, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
              WORD length);

  // IWMHeaderInfo::GetAttributeByName: the value with its terminating zero.
  // With `value` null, *length receives the bytes needed; ASF_E_BUFFERTOOSMALL
  // (with *length set to the need) when *length is short; ASF_E_NOTFOUND for
  // an attribute never set or not kept, or a stream other than 0.
  HRESULT Get(WORD* stream_number, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
              WORD* length) const;

  // Copies the values set into the muxer's description of the file.
  void FillIn(asf::FileInfo* info) const;

 private:
  static constexpr size_t kCount = 5;
  std::array<std::optional<std::u16string>, kCount> values_;
};

}  // namespace kestrum::wmsdk
