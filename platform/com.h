// COM run-time pieces the library calls: CoInitialize, CoTaskMemAlloc/Free.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
HRESULT CoInitialize(void* reserved);
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* block);
#endif

namespace kestrum {

// Gives back the reference `p` holds, if any, and clears it: for the
// interface pointers an object keeps as fields.
template <typename T>
void ReleaseAndClear(T*& p) {
  if (p != nullptr) {
    p->Release();
    p = nullptr;
  }
}

// Holds one reference on a COM interface and releases it when it goes out of
// scope. Get() hands out the raw pointer; Put() gives the address to fill.
template <typename T>
class ComRef {
 public:
  ComRef() = default;
  explicit ComRef(T* p) : p_(p) {}
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ~ComRef() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Releases what is held and returns the slot for an out-parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  void Reset() { ReleaseAndClear(p_); }
  T* Detach() {
    T* p = p_;
    p_ = nullptr;
    return p;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace kestrum
