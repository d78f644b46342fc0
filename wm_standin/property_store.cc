#include "wm_standin/property_store.h"

#include <cstring>

#include "base/bytes.h"
#include "platform/codepage.h"
#include "wm_standin/com_object.h"

namespace kestrum::wmsdk {
namespace {

// Complexity setting of a new video stream: the middle of the encoder's range.
constexpr uint16_t kDefaultComplexity = 2;

bool SizeFitsType(WMT_ATTR_DATATYPE type, DWORD size) {
  switch (type) {
    case WMT_TYPE_WORD:
      return size == 2;
    case WMT_TYPE_DWORD:
    case WMT_TYPE_BOOL:
      return size == 4;
    case WMT_TYPE_QWORD:
      return size == 8;
    case WMT_TYPE_GUID:
      return size == 16;
    case WMT_TYPE_STRING:
      return size % 2 == 0;
    case WMT_TYPE_BINARY:
      return true;
  }
  return false;  // not a type of the enumeration
}

}  // namespace

PropertyStore PropertyStore::StreamDefaults() {
  PropertyStore store;
  uint8_t complexity[2];
  store_u16le(complexity, kDefaultComplexity);
  store.Set(KS_WIDE("_COMPLEXITYEX"), WMT_TYPE_WORD, complexity, sizeof complexity);
  return store;
}

const PropertyStore::Entry* PropertyStore::Lookup(LPCWSTR name) const {
  for (const Entry& entry : entries_) {
    if (SameUnits(name, entry.name)) return &entry;
  }
  return nullptr;
}

HRESULT PropertyStore::Get(LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value, DWORD* size) const {
  if (name == nullptr || type == nullptr || size == nullptr) return E_INVALIDARG;
  const Entry* entry = Lookup(name);
  if (entry == nullptr) return E_INVALIDARG;
  const auto needed = static_cast<DWORD>(entry->value.size());
  *type = entry->type;
  if (value == nullptr) {
    *size = needed;
    return S_OK;
  }
  if (*size < needed) {
    *size = needed;
    return ASF_E_BUFFERTOOSMALL;
  }
  if (needed > 0) std::memcpy(value, entry->value.data(), needed);
  *size = needed;
  return S_OK;
}

HRESULT PropertyStore::Set(LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value, DWORD size) {
  if (name == nullptr || (value == nullptr && size > 0) || !SizeFitsType(type, size)) {
    return E_INVALIDARG;
  }
  return Guarded([&] {
    std::vector<uint8_t> bytes(value, value + size);
    std::u16string key = ToU16String(name);
    for (Entry& entry : entries_) {
      if (entry.name == key) {
        entry.type = type;
        entry.value = std::move(bytes);
        return S_OK;
      }
    }
    entries_.push_back(Entry{std::move(key), type, std::move(bytes)});
    return S_OK;
  });
}

}  // namespace kestrum::wmsdk
