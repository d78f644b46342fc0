// The platform's WM Format SDK (wmvcore.dll) as the library calls it:
// mingw-w64's <wmsdk.h>, plus the declarations it lacks. The library's WM
// code sees the same names as with the built-in stand-in.
#pragma once

#include "platform/win_types.h"

#include <wmsdk.h>

// IWMVideoMediaProps, {96406BCF-2B2B-11D3-B36B-00C04F6108FF}: the video
// settings of a stream's media properties. Not declared by mingw-w64; the
// methods follow IWMMediaProps's in the SDK's order.
inline constexpr IID IID_IWMVideoMediaProps = {
    0x96406BCF, 0x2B2B, 0x11D3, {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};

struct IWMVideoMediaProps : public IWMMediaProps {
  virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) = 0;
};
