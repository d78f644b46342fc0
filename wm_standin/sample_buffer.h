// The INSSBuffer that IWMWriter::AllocateSample hands out, and the pool it
// comes from. A live recording allocates a sample of up to 1 MB per frame,
// which the muxer holds until its bytes are written; the pool keeps released
// buffers (within a budget), storage and object together, so that
// steady writing reuses them instead of going to the allocator (and the
// kernel) for each sample.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "wm_standin/com_object.h"
#include "wm_interfaces/implements.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

class SampleBuffer;

// Shared by a writer and every buffer it handed out, so a buffer may outlive
// its writer. Safe to use from several threads.
class SamplePool {
 public:
  SamplePool();  // throws std::bad_alloc
  ~SamplePool();
  SamplePool(const SamplePool&) = delete;
  SamplePool& operator=(const SamplePool&) = delete;

  // Buffers kept for reuse.
  size_t kept() const;

 private:
  friend class SampleBuffer;

  // A buffer with storage for at least `size` bytes and one reference: the
  // smallest kept one that fits, or a new one. Throws std::bad_alloc.
  SampleBuffer* Take(size_t size);
  // Takes a buffer whose last reference went: keeps it for reuse, unless the
  // pool is full (the smallest kept one then goes, if smaller) or its storage
  // is too large to be worth keeping; what is not kept is deleted.
  void Keep(SampleBuffer* buffer);

  mutable std::mutex mutex_;
  std::vector<SampleBuffer*> free_;  // owned
  size_t kept_bytes_ = 0;            // their storage
};

class SampleBuffer final : public ComObject<Implements<INSSBuffer>> {
 public:
  // A buffer whose maximum length and initial length are both `size`.
  static HRESULT Create(std::shared_ptr<SamplePool> pool, DWORD size, INSSBuffer** buffer);

  HRESULT STDMETHODCALLTYPE GetLength(DWORD* length) override;
  // NS_E_INVALID_REQUEST past the maximum length.
  HRESULT STDMETHODCALLTYPE SetLength(DWORD length) override;
  HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override;
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** buffer) override;
  HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** buffer, DWORD* length) override;

 private:
  friend class SamplePool;

  explicit SampleBuffer(size_t capacity);  // throws std::bad_alloc
  ~SampleBuffer() override = default;
  void* Find(REFIID iid) override;
  void LastRelease() override;

  std::shared_ptr<SamplePool> pool_;        // set while handed out; null while kept
  const std::unique_ptr<uint8_t[]> bytes_;  // uninitialised
  const size_t capacity_;
  DWORD max_length_ = 0;
  DWORD length_ = 0;
};

}  // namespace kestrum::wmsdk
