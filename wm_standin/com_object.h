// IUnknown for the stand-in's objects: one atomic reference count shared by
// every interface an object offers, and QueryInterface answered from the
// object's own table (Find).
#pragma once

#include <atomic>
#include <new>
#include <type_traits>

#include "platform/win_types.h"

namespace kestrum::wmsdk {

// An object that implements `Interfaces` (each an IUnknown). It is born with
// one reference, which its creator hands out; the last Release deletes it
// (or, for a recycled object, gives it back; see LastRelease).
template <typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) final {
    if (object == nullptr) return E_POINTER;
    *object = Find(iid);
    if (*object == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }

  ULONG STDMETHODCALLTYPE AddRef() final {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  ULONG STDMETHODCALLTYPE Release() final {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) LastRelease();
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;

  // Runs when the last reference goes. Deletes the object, unless a subclass
  // keeps it for reuse: it then comes back to life with AddRef (from 0 to 1).
  virtual void LastRelease() { delete this; }

  // The pointer to hand out for `iid`, IID_IUnknown included (always the same
  // one, so that identity comparisons work), or null when not offered.
  virtual void* Find(REFIID iid) = 0;

 private:
  std::atomic<ULONG> refs_{1};
};

// Runs `make` (which allocates) and reports a failed allocation as
// E_OUTOFMEMORY instead of letting it leave an interface method.
template <typename Make>
HRESULT Guarded(Make&& make) noexcept {
  try {
    return make();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// The getters' rule: E_POINTER without a place to put the value, else the
// value in it and S_OK.
template <typename T>
HRESULT CopyOut(T* out, const std::type_identity_t<T>& value) {
  if (out == nullptr) return E_POINTER;
  *out = value;
  return S_OK;
}

}  // namespace kestrum::wmsdk
