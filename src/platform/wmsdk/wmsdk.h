// The subset of the WM Format SDK that the library calls, for platforms that
// lack the SDK: the same interface names, method names and signatures, with
// the semantics of the SDK's writer. The objects behind them write real ASF
// files (see writer.h and asf/).
#pragma once

#include "platform/win_types.h"
#include "platform/wm_backend.h"

#if KESTRUM_WM_BUILTIN

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

// HRESULTs of the SDK that the stand-in answers with.
constexpr HRESULT NS_E_INVALID_REQUEST = static_cast<HRESULT>(0xC00D002Bu);
constexpr HRESULT NS_E_INVALID_STREAM = static_cast<HRESULT>(0xC00D002Fu);
constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = static_cast<HRESULT>(0xC00D0BB8u);
constexpr HRESULT ASF_E_BUFFERTOOSMALL = static_cast<HRESULT>(0xC00D07D1u);
constexpr HRESULT ASF_E_NOTFOUND = static_cast<HRESULT>(0xC00D07F0u);

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

struct INSSBuffer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLength(DWORD length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) = 0;
};

struct IWMMediaProps : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetType(GUID* type) = 0;
  // With type null: *size receives the bytes needed (the structure and its
  // format block). Otherwise copies both into `type`, whose pbFormat points
  // just past the structure.
  virtual HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) = 0;
};

struct IWMVideoMediaProps : IWMMediaProps {
  virtual HRESULT STDMETHODCALLTYPE GetMaxKeyFrameSpacing(LONGLONG* time) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMaxKeyFrameSpacing(LONGLONG time) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetQuality(DWORD* quality) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetQuality(DWORD quality) = 0;
};

struct IWMInputMediaProps : IWMMediaProps {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* name, WORD* length) = 0;
};

struct IWMPropertyVault : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetPropertyCount(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPropertyByName(LPCWSTR name, WMT_ATTR_DATATYPE* type,
                                                      BYTE* value, DWORD* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProperty(LPCWSTR name, WMT_ATTR_DATATYPE type,
                                                BYTE* value, DWORD size) = 0;
  virtual HRESULT STDMETHODCALLTYPE Clear() = 0;
};

struct IWMStreamConfig : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* milliseconds) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD milliseconds) = 0;
};

struct IWMProfile : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStream(DWORD index, IWMStreamConfig** config) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID stream_type,
                                                    IWMStreamConfig** config) = 0;
};

struct IWMProfileManager : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version,
                                                       IWMProfile** profile) = 0;
};

struct IWMWriter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* filename) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndWriting() = 0;
  virtual HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) = 0;
};

struct IWMWriterAdvanced : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream_number, QWORD sample_time,
                                                     DWORD sample_send_time,
                                                     QWORD sample_duration, DWORD flags,
                                                     INSSBuffer* sample) = 0;
};

struct IWMWriterAdvanced2 : IWMWriterAdvanced {};
struct IWMWriterAdvanced3 : IWMWriterAdvanced2 {};

struct IWMHeaderInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream_number, LPCWSTR name,
                                                       WMT_ATTR_DATATYPE* type, BYTE* value,
                                                       WORD* length) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream_number, LPCWSTR name,
                                                 WMT_ATTR_DATATYPE type, const BYTE* value,
                                                 WORD length) = 0;
};

HRESULT WMCreateProfileManager(IWMProfileManager** profile_manager);
HRESULT WMCreateWriter(IUnknown* certificate, IWMWriter** writer);

// Interface identifiers.
inline constexpr IID IID_INSSBuffer = {0xE1CD3524, 0x03D7, 0x11D2,
                                       {0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF}};
inline constexpr IID IID_IWMMediaProps = {0x96406BCE, 0x2B2B, 0x11D3,
                                          {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMVideoMediaProps = {0x96406BCF, 0x2B2B, 0x11D3,
                                               {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMInputMediaProps = {0x96406BD5, 0x2B2B, 0x11D3,
                                               {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMPropertyVault = {0x72995A79, 0x5090, 0x42A4,
                                             {0x9C, 0x8C, 0xD9, 0xD0, 0xB6, 0xD3, 0x4B, 0xE5}};
inline constexpr IID IID_IWMStreamConfig = {0x96406BDC, 0x2B2B, 0x11D3,
                                            {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMProfile = {0x96406BDB, 0x2B2B, 0x11D3,
                                       {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMProfileManager = {0xD16679F2, 0x6CA0, 0x472D,
                                              {0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55}};
inline constexpr IID IID_IWMWriter = {0x96406BD4, 0x2B2B, 0x11D3,
                                      {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterAdvanced = {0x96406BE3, 0x2B2B, 0x11D3,
                                              {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};
inline constexpr IID IID_IWMWriterAdvanced2 = {0x962DC1EC, 0xC046, 0x4DB8,
                                               {0x9C, 0xC7, 0x26, 0xCE, 0xAE, 0x50, 0x08, 0x17}};
inline constexpr IID IID_IWMWriterAdvanced3 = {0x2CD6492D, 0x7C37, 0x4E76,
                                               {0x9D, 0x3B, 0x59, 0x26, 0x11, 0x83, 0xA2, 0x2E}};
inline constexpr IID IID_IWMHeaderInfo = {0x96406BDA, 0x2B2B, 0x11D3,
                                          {0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF}};

#endif  // KESTRUM_WM_BUILTIN

// Media types, subtypes and format types (the same values on every platform).
// {73646976-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaTypeVideo = {0x73646976, 0x0000, 0x0010,
                                           {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {73647561-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaTypeAudio = {0x73647561, 0x0000, 0x0010,
                                           {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000000-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaSubtypeBase = {0x00000000, 0x0000, 0x0010,
                                             {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000001-0000-0010-8000-00AA00389B71}
inline constexpr GUID kWmMediaSubtypePcm = {0x00000001, 0x0000, 0x0010,
                                            {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {05589F80-C356-11CE-BF01-00AA0055595A}
inline constexpr GUID kWmFormatVideoInfo = {0x05589F80, 0xC356, 0x11CE,
                                            {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
// {05589F81-C356-11CE-BF01-00AA0055595A}
inline constexpr GUID kWmFormatWaveFormatEx = {0x05589F81, 0xC356, 0x11CE,
                                               {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
