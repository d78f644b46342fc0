// The WM Format SDK interfaces the library writes through and the built-in
// writer implements, with their identifiers and the structures and constants
// they take.
//
// On Windows they are the platform's own, from mingw-w64's <wmsdk.h> (with
// IWMVideoMediaProps, which it lacks, declared here), so the built-in writer
// is binary compatible with the platform's and can stand in for wmvcore.dll.
// Elsewhere they are declared here, with the same names, parameter types,
// method order and identifiers, from the lists of wm_interfaces.h; on Windows
// the same lists are held against <wmsdk.h> at compile time.
#pragma once

#include "platform/win_types.h"
#include "wm_interfaces/wm_interfaces.h"

#define KESTRUM_WM_DECLARE(Interface, name, parameters) \
  virtual HRESULT STDMETHODCALLTYPE name parameters = 0;

#ifdef _WIN32

#include <type_traits>

#include <wmsdk.h>

// The video settings of a stream's media properties (offered by a video
// stream's configuration).
struct IWMVideoMediaProps : public IWMMediaProps {
  KESTRUM_WM_METHODS_IWMVideoMediaProps(KESTRUM_WM_DECLARE)
};

#else  // !_WIN32

enum WMT_VERSION : uint32_t {
  WMT_VER_4_0 = 0x00040000,
  WMT_VER_7_0 = 0x00070000,
  WMT_VER_8_0 = 0x00080000,
  WMT_VER_9_0 = 0x00090000,
};

enum WMT_ATTR_DATATYPE : uint32_t {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

constexpr DWORD WM_SF_CLEANPOINT = 0x1;
constexpr DWORD WM_SF_DISCONTINUITY = 0x2;
constexpr DWORD WM_SF_DATALOSS = 0x4;

struct WM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

// Only named by methods that the writer answers with E_NOTIMPL.
struct WM_WRITER_STATISTICS;
struct WM_WRITER_STATISTICS_EX;
struct IWMMutualExclusion;
struct IWMWriterSink;

#define KESTRUM_WM_INTERFACE(Interface, Base)          \
  struct Interface : Base {                            \
    KESTRUM_WM_METHODS_##Interface(KESTRUM_WM_DECLARE) \
  };

KESTRUM_WM_INTERFACE(INSSBuffer, IUnknown)
KESTRUM_WM_INTERFACE(IWMMediaProps, IUnknown)
KESTRUM_WM_INTERFACE(IWMVideoMediaProps, IWMMediaProps)
KESTRUM_WM_INTERFACE(IWMInputMediaProps, IWMMediaProps)
KESTRUM_WM_INTERFACE(IWMPropertyVault, IUnknown)
KESTRUM_WM_INTERFACE(IWMStreamConfig, IUnknown)
KESTRUM_WM_INTERFACE(IWMProfile, IUnknown)
KESTRUM_WM_INTERFACE(IWMProfileManager, IUnknown)
KESTRUM_WM_INTERFACE(IWMWriter, IUnknown)
KESTRUM_WM_INTERFACE(IWMWriterAdvanced, IUnknown)
KESTRUM_WM_INTERFACE(IWMWriterAdvanced2, IWMWriterAdvanced)
KESTRUM_WM_INTERFACE(IWMWriterAdvanced3, IWMWriterAdvanced2)
KESTRUM_WM_INTERFACE(IWMHeaderInfo, IUnknown)
#undef KESTRUM_WM_INTERFACE

extern "C" {
HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** profile_manager);
HRESULT WINAPI WMCreateWriter(IUnknown* certificate, IWMWriter** writer);
}

#endif  // _WIN32

// The interface identifiers, as the lists give them.
namespace kestrum::wm_iid {
#define KESTRUM_WM_LISTED_IID(Interface, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr IID Interface = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
KESTRUM_WM_IIDS(KESTRUM_WM_LISTED_IID)
#undef KESTRUM_WM_LISTED_IID

constexpr bool Same(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i) {
    if (a.Data4[i] != b.Data4[i]) return false;
  }
  return true;
}
}  // namespace kestrum::wm_iid

#ifdef _WIN32
// <wmsdk.h> defines IID_IWMWriter and the others (their storage is in
// wmvcore/guids.cc); the lists must agree with them.
namespace kestrum::wm_iid {
template <typename Interface>
constexpr bool MatchesPlatform(const IID& listed) {
  if constexpr (std::is_same_v<Interface, ::IWMVideoMediaProps>) {
    return true;  // declared above, from the list
  } else {
    return Same(__mingw_uuidof<Interface>(), listed);
  }
}
#define KESTRUM_WM_CHECK_IID(Interface, ...)             \
  static_assert(MatchesPlatform<::Interface>(Interface), \
                "the identifier of " #Interface " differs from <wmsdk.h>'s");
KESTRUM_WM_IIDS(KESTRUM_WM_CHECK_IID)
#undef KESTRUM_WM_CHECK_IID
}  // namespace kestrum::wm_iid
inline constexpr IID IID_IWMVideoMediaProps = kestrum::wm_iid::IWMVideoMediaProps;
#else
#define KESTRUM_WM_DECLARE_IID(Interface, ...) \
  inline constexpr IID IID_##Interface = kestrum::wm_iid::Interface;
KESTRUM_WM_IIDS(KESTRUM_WM_DECLARE_IID)
#undef KESTRUM_WM_DECLARE_IID
#endif

// HRESULTs of the SDK that the built-in writer answers with.
constexpr HRESULT NS_E_INVALID_REQUEST = static_cast<HRESULT>(0xC00D002Bu);
constexpr HRESULT NS_E_INVALID_STREAM = static_cast<HRESULT>(0xC00D002Fu);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = static_cast<HRESULT>(0xC00D0BB8u);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = static_cast<HRESULT>(0xC00D07D1u);
constexpr HRESULT ASF_E_NOTFOUND = static_cast<HRESULT>(0xC00D07F0u);

// Media types, subtypes and format types (the same values on every platform).
// {73646976-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaTypeVideo = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {73647561-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaTypeAudio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000000-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaSubtypeBase = {
    0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000001-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {05589F80-C356-11CE-BF01-00AA0055595A}
inline constexpr GUID kWmFormatVideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
// {05589F81-C356-11CE-BF01-00AA0055595A}
inline constexpr GUID kWmFormatWaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
