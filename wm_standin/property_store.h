// Typed named values behind IWMPropertyVault: the encoder settings of one
// stream. The stand-in encodes nothing, so the values are only kept and
// handed back; they travel with the stream's configuration when it is copied.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

class PropertyStore {
 public:
  // A new stream's settings: "_COMPLEXITYEX" is present as a WORD, so a read
  // before the first write finds a 2-byte value.
  static PropertyStore StreamDefaults();

  DWORD Count() const { return static_cast<DWORD>(entries_.size()); }

  // The SDK's protocol: with `value` null, *size receives the bytes needed;
  // otherwise the value is copied when *size is large enough, and *size is
  // set to its length either way. E_INVALIDARG for a null name, type or size
  // and for a name not present; ASF_E_BUFFERTOOSMALL when *size is short.
  HRESULT Get(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size) const;

  // Keeps a copy of the value. E_INVALIDARG for a null name, an unknown type,
  // a null value with a non-zero size, or a size that does not fit the type
  // (WORD 2, DWORD and BOOL 4, QWORD 8, GUID 16, STRING an even count).
  HRESULT Set(LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value, DWORD size);

  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    std::u16string name;
    WMT_ATTR_DATATYPE type;
    std::vector<uint8_t> value;
  };
  const Entry* Lookup(LPCWSTR name) const;  // allocates nothing

  std::vector<Entry> entries_;  // few, in the order first set
};

}  // namespace kestrum::wmsdk
