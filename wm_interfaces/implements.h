// Implements<Interface>: every method of a WM interface (its base's
// included, IUnknown's not), each answering E_NOTIMPL, generated from the
// lists of wm_interfaces.h. An object derives from it and overrides what it
// really does, so it offers the interface whole, in the platform's slot
// order, and a method it never needed answers E_NOTIMPL rather than being
// absent. The writer's classes build on it, and so do the tests' fakes.
//
// On Windows the methods override <wmsdk.h>'s: a listed method the platform
// lacks, or one whose parameter types differ from the platform's, does not
// compile; a platform method missing from the list leaves the class abstract.
#pragma once

#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

template <typename Interface>
class Implements;

#define KESTRUM_WM_NOT_IMPLEMENTED(Interface, name, parameters) \
  HRESULT STDMETHODCALLTYPE name parameters override { return E_NOTIMPL; }

#define KESTRUM_WM_IMPLEMENTS(Interface, ...)      \
  template <>                                      \
  class Implements<Interface> : public Interface { \
   public:                                         \
    __VA_ARGS__                                    \
                                                   \
   protected:                                      \
    Implements() = default;                        \
    ~Implements() = default;                       \
  };

KESTRUM_WM_IMPLEMENTS(INSSBuffer, KESTRUM_WM_METHODS_INSSBuffer(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMVideoMediaProps,
                      KESTRUM_WM_METHODS_IWMMediaProps(KESTRUM_WM_NOT_IMPLEMENTED)
                          KESTRUM_WM_METHODS_IWMVideoMediaProps(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMPropertyVault,
                      KESTRUM_WM_METHODS_IWMPropertyVault(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMStreamConfig,
                      KESTRUM_WM_METHODS_IWMStreamConfig(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMProfile, KESTRUM_WM_METHODS_IWMProfile(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMProfileManager,
                      KESTRUM_WM_METHODS_IWMProfileManager(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMWriter, KESTRUM_WM_METHODS_IWMWriter(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMWriterAdvanced3,
                      KESTRUM_WM_METHODS_IWMWriterAdvanced(KESTRUM_WM_NOT_IMPLEMENTED)
                          KESTRUM_WM_METHODS_IWMWriterAdvanced2(KESTRUM_WM_NOT_IMPLEMENTED)
                              KESTRUM_WM_METHODS_IWMWriterAdvanced3(KESTRUM_WM_NOT_IMPLEMENTED))
KESTRUM_WM_IMPLEMENTS(IWMHeaderInfo, KESTRUM_WM_METHODS_IWMHeaderInfo(KESTRUM_WM_NOT_IMPLEMENTED))

#undef KESTRUM_WM_IMPLEMENTS
#undef KESTRUM_WM_NOT_IMPLEMENTED

}  // namespace kestrum::wmsdk
