/* Windows builds only: holds the method lists of wm_interfaces.h, and the
 * byte offsets the library and the writer use, against the platform's own
 * declarations, at compile time. <wmsdk.h> declares each interface's vtable
 * for C as a structure of function pointers (INSSBufferVtbl, ...), in slot
 * order: every listed method must sit in the slot its place in the list
 * gives it. A method moved, added or dropped in a list (or in the platform's
 * header) fails the build here. This file holds no code.
 *
 * IWMVideoMediaProps has no declaration in <wmsdk.h>: wmsdk.h declares it
 * from its list. */
#include <stddef.h>

#include <windows.h>
#include <wmsdk.h>
/* VIDEOINFOHEADER */
#include <amvideo.h>

#include "wm_interfaces/wm_interfaces.h"

/* kSlot_<Interface>_<Method>: the slot the list gives the method. Each
 * enumeration starts after the base's last slot (IUnknown's are 0 to 2) and
 * ends with kSlots_<Interface>, the number of slots. */
#define KESTRUM_SLOT(Interface, name, parameters) kSlot_##Interface##_##name,
#define KESTRUM_SLOTS(Interface, first)                             \
  enum {                                                            \
    kSlot_##Interface##_ = (first)-1,                               \
    KESTRUM_WM_METHODS_##Interface(KESTRUM_SLOT) kSlots_##Interface \
  };

KESTRUM_SLOTS(INSSBuffer, 3)
KESTRUM_SLOTS(IWMMediaProps, 3)
KESTRUM_SLOTS(IWMInputMediaProps, kSlots_IWMMediaProps)
KESTRUM_SLOTS(IWMPropertyVault, 3)
KESTRUM_SLOTS(IWMStreamConfig, 3)
KESTRUM_SLOTS(IWMProfile, 3)
KESTRUM_SLOTS(IWMProfileManager, 3)
KESTRUM_SLOTS(IWMWriter, 3)
KESTRUM_SLOTS(IWMWriterAdvanced, 3)
KESTRUM_SLOTS(IWMWriterAdvanced2, kSlots_IWMWriterAdvanced)
KESTRUM_SLOTS(IWMWriterAdvanced3, kSlots_IWMWriterAdvanced2)
KESTRUM_SLOTS(IWMHeaderInfo, 3)

/* Each listed method where the platform has it, and the platform's vtable
 * no longer than the list: nothing after the last listed method. */
#define KESTRUM_CHECK_SLOT(Interface, name, parameters)                                         \
  _Static_assert(offsetof(Interface##Vtbl, name) == kSlot_##Interface##_##name * sizeof(void*), \
                 #Interface "::" #name ": not in the platform's slot");
#define KESTRUM_CHECK(Interface)                                              \
  _Static_assert(offsetof(Interface##Vtbl, QueryInterface) == 0 &&            \
                     offsetof(Interface##Vtbl, Release) == 2 * sizeof(void*), \
                 #Interface ": IUnknown's slots");                            \
  KESTRUM_WM_METHODS_##Interface(KESTRUM_CHECK_SLOT) _Static_assert(          \
      sizeof(Interface##Vtbl) == kSlots_##Interface * sizeof(void*),          \
      #Interface ": the platform's vtable has slots the list lacks");

KESTRUM_CHECK(INSSBuffer)
KESTRUM_CHECK(IWMMediaProps)
KESTRUM_CHECK(IWMInputMediaProps)
KESTRUM_CHECK(IWMPropertyVault)
KESTRUM_CHECK(IWMStreamConfig)
KESTRUM_CHECK(IWMProfile)
KESTRUM_CHECK(IWMProfileManager)
KESTRUM_CHECK(IWMWriter)
KESTRUM_CHECK(IWMWriterAdvanced)
KESTRUM_CHECK(IWMWriterAdvanced2)
KESTRUM_CHECK(IWMWriterAdvanced3)
KESTRUM_CHECK(IWMHeaderInfo)

/* The structures, where the library builds or reads them by byte offset:
 * the 128-byte video format block is a VIDEOINFOHEADER (88 bytes, its
 * BITMAPINFOHEADER at 48) and the stream header behind it; a media type's
 * format block follows the WM_MEDIA_TYPE it belongs to. WCHAR is 16 bits. */
_Static_assert(sizeof(WCHAR) == 2, "WCHAR");
_Static_assert(offsetof(VIDEOINFOHEADER, rcSource) == 0 &&
                   offsetof(VIDEOINFOHEADER, rcTarget) == 16 &&
                   offsetof(VIDEOINFOHEADER, dwBitRate) == 32 &&
                   offsetof(VIDEOINFOHEADER, dwBitErrorRate) == 36 &&
                   offsetof(VIDEOINFOHEADER, AvgTimePerFrame) == 40 &&
                   offsetof(VIDEOINFOHEADER, bmiHeader) == 48 && sizeof(VIDEOINFOHEADER) == 88,
               "VIDEOINFOHEADER");
_Static_assert(offsetof(BITMAPINFOHEADER, biWidth) == 4 &&
                   offsetof(BITMAPINFOHEADER, biHeight) == 8 &&
                   offsetof(BITMAPINFOHEADER, biPlanes) == 12 &&
                   offsetof(BITMAPINFOHEADER, biBitCount) == 14 &&
                   offsetof(BITMAPINFOHEADER, biCompression) == 16 &&
                   offsetof(BITMAPINFOHEADER, biSizeImage) == 20 &&
                   offsetof(BITMAPINFOHEADER, biClrImportant) == 36 &&
                   sizeof(BITMAPINFOHEADER) == 40,
               "BITMAPINFOHEADER");
_Static_assert(offsetof(WM_MEDIA_TYPE, formattype) == 44 && offsetof(WM_MEDIA_TYPE, pUnk) == 60 &&
                   offsetof(WM_MEDIA_TYPE, cbFormat) == 64 &&
                   offsetof(WM_MEDIA_TYPE, pbFormat) == 68 && sizeof(WM_MEDIA_TYPE) == 72,
               "WM_MEDIA_TYPE (32-bit)");
