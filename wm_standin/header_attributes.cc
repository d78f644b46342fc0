#include "wm_standin/header_attributes.h"

#include "base/bytes.h"
#include "platform/codepage.h"
#include "wm_standin/com_object.h"

namespace kestrum::wmsdk {
namespace {

// In the order of HeaderAttributes::values_.
constexpr const char16_t* kNames[] = {u"Title", u"Author", u"Copyright", u"Description", u"Rating"};

// The Content Description Object sizes each string, terminating zero
// included, with a WORD: at most 32766 characters before the zero.
constexpr size_t kMaxCharacters = 0xFFFF / 2 - 1;

std::optional<size_t> IndexOf(LPCWSTR name) {
  if (name == nullptr) return std::nullopt;
  for (size_t i = 0; i < std::size(kNames); ++i) {
    if (SameUnits(name, kNames[i])) return i;
  }
  return std::nullopt;
}

}  // namespace

HRESULT HeaderAttributes::Set(WORD stream_number, LPCWSTR name, WMT_ATTR_DATATYPE type,
                              const BYTE* value, WORD length) {
  if (name == nullptr) return E_INVALIDARG;
  const std::optional<size_t> index = IndexOf(name);
  if (stream_number != 0 || !index) return E_NOTIMPL;
  if (type != WMT_TYPE_STRING || length % 2 != 0 || (value == nullptr && length > 0)) {
    return E_INVALIDARG;
  }
  return Guarded([&] {
    std::u16string text;
    for (size_t offset = 0; offset < length; offset += 2) {
      const auto unit = static_cast<char16_t>(load_u16le(value + offset));
      if (unit == 0) break;
      text.push_back(unit);
    }
    if (text.size() > kMaxCharacters) return E_INVALIDARG;
    values_[*index] = std::move(text);
    return S_OK;
  });
}

HRESULT HeaderAttributes::Get(WORD* stream_number, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                              BYTE* value, WORD* length) const {
  if (stream_number == nullptr || name == nullptr || type == nullptr || length == nullptr) {
    return E_INVALIDARG;
  }
  const std::optional<size_t> index = IndexOf(name);
  if (*stream_number != 0 || !index || !values_[*index]) return ASF_E_NOTFOUND;
  const std::u16string& text = *values_[*index];
  const auto needed = static_cast<WORD>((text.size() + 1) * 2);
  *type = WMT_TYPE_STRING;
  if (value == nullptr) {
    *length = needed;
    return S_OK;
  }
  if (*length < needed) {
    *length = needed;
    return ASF_E_BUFFERTOOSMALL;
  }
  for (size_t i = 0; i < text.size(); ++i) store_u16le(value + 2 * i, text[i]);
  store_u16le(value + 2 * text.size(), 0);
  *length = needed;
  return S_OK;
}

void HeaderAttributes::FillIn(asf::FileInfo* info) const {
  const std::u16string none;
  auto value = [&](size_t i) -> const std::u16string& { return values_[i] ? *values_[i] : none; };
  info->title = value(0);
  info->author = value(1);
  info->copyright = value(2);
  info->description = value(3);
  info->rating = value(4);
}

}  // namespace kestrum::wmsdk
