// The INSSBuffer that IWMWriter::AllocateSample hands out, and the pool its
// storage comes from. A live recording allocates a sample of up to 1 MB per
// frame; the pool keeps a few released blocks so that steady writing reuses
// them instead of going to the allocator (and the kernel) each time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/wmsdk/com_object.h"
#include "platform/wmsdk/wmsdk.h"

#if KESTRUM_WM_BUILTIN

namespace kestrum::wmsdk {

// Shared by a writer and every buffer it handed out, so a buffer may outlive
// its writer. Safe to use from several threads.
class SamplePool {
 public:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;  // uninitialised
    size_t capacity = 0;
  };

  SamplePool();  // throws std::bad_alloc

  // A block of at least `size` bytes: the smallest kept one that fits, or a
  // new one. Throws std::bad_alloc.
  Block Take(size_t size);
  // Keeps `block` for reuse, unless the pool is full (the smallest kept block
  // then goes) or the block is too large to be worth keeping.
  void Give(Block block);

  size_t kept() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Block> free_;
};

class SampleBuffer final : public ComObject<INSSBuffer> {
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
  SampleBuffer(std::shared_ptr<SamplePool> pool, SamplePool::Block block, DWORD size);
  ~SampleBuffer() override;
  void* Find(REFIID iid) override;

  std::shared_ptr<SamplePool> pool_;
  SamplePool::Block block_;
  DWORD max_length_;
  DWORD length_;
};

}  // namespace kestrum::wmsdk

#endif  // KESTRUM_WM_BUILTIN
