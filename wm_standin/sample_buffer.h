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
  // Storage from the allocator, or with `in_pages` in pages of its own.
  explicit SamplePool(bool in_pages = false);  // throws std::bad_alloc
  ~SamplePool();
  SamplePool(const SamplePool&) = delete;
  SamplePool& operator=(const SamplePool&) = delete;

  // Gives the buffers kept for reuse back to the allocator: a writer whose
  // file has ended holds no sample memory while it waits to be released.
  void Trim();

  // Buffers kept for reuse.
  size_t kept() const;

 private:
  friend class SampleBuffer;

  // A buffer with storage for at least `size` bytes and one reference: the
  // smallest kept one that fits, or a new one. Throws std::bad_alloc.
  SampleBuffer* Take(size_t size);
  // Counts a new buffer as handed out; returns it.
  SampleBuffer* HandOut(SampleBuffer* created);
  // Takes a buffer whose last reference went: keeps it for reuse, unless the
  // pool is full (the smallest kept one then goes, if smaller) or its storage
  // is too large to be worth keeping; what is not kept is deleted. Full: as
  // many buffers or bytes as the pool keeps at most, or kept and handed-out
  // storage together as much as was ever handed out at once.
  void Keep(SampleBuffer* buffer);

  const bool in_pages_;
  mutable std::mutex mutex_;
  std::vector<SampleBuffer*> free_;  // owned
  size_t kept_bytes_ = 0;            // their storage
  // Storage of the buffers handed out (of a size the pool keeps), now and
  // at most.
  size_t out_bytes_ = 0;
  size_t most_out_bytes_ = 0;
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

  SampleBuffer(size_t capacity, bool in_pages);  // throws std::bad_alloc
  ~SampleBuffer() override;
  void* Find(REFIID iid) override;
  void LastRelease() override;

  std::shared_ptr<SamplePool> pool_;  // set while handed out; null while kept
  const bool in_pages_;
  uint8_t* const bytes_;  // owned; uninitialised from the allocator
  const size_t capacity_;
  DWORD max_length_ = 0;
  DWORD length_ = 0;
};

}  // namespace kestrum::wmsdk
