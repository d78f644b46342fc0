// The Win32/COM base types the library is written against. On Windows they
// come from the platform headers; elsewhere this file declares the same names
// with the same sizes (WCHAR is 16 bits everywhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#define KS_WIDE(s) L##s
// The SDK's 64-bit count (times, sizes); <wmsdk.h> declares the same.
typedef unsigned __int64 QWORD;
#else

using HRESULT = int32_t;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using QWORD = uint64_t;
using LONG = int32_t;
using ULONG = uint32_t;
using LONGLONG = int64_t;
using BOOL = int32_t;
using UINT = uint32_t;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using LPCSTR = const char*;

#define KS_WIDE(s) u##s

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }
using IID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
// The platform's own E_ACCESSDENIED.
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

#define STDMETHODCALLTYPE
#define WINAPI

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  ~IUnknown() = default;
};
#endif

// HRESULT_FROM_WIN32 of the errors the file writer meets, on every build.
constexpr HRESULT E_FILE_NOT_FOUND = static_cast<HRESULT>(0x80070002u);
constexpr HRESULT E_DISK_FULL = static_cast<HRESULT>(0x80070070u);
constexpr HRESULT E_WRITE_FAULT = static_cast<HRESULT>(0x8007001Du);
constexpr HRESULT E_FILENAME_TOO_LONG = static_cast<HRESULT>(0x800700CEu);
// Another writer (or a reader that forbids writing) holds the file.
constexpr HRESULT E_SHARING_VIOLATION = static_cast<HRESULT>(0x80070020u);
constexpr HRESULT E_READ_FAULT = static_cast<HRESULT>(0x8007001Eu);

