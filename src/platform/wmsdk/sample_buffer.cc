#include "platform/wmsdk/sample_buffer.h"

#if KESTRUM_WM_BUILTIN

#include <algorithm>

#include "platform/wmsdk/asf/muxer.h"

namespace kestrum::wmsdk {
namespace {

// Enough for the samples in flight at once (the library holds one at a time).
constexpr size_t kMaxKept = 4;
// Larger blocks go back to the allocator: no sample that large can be
// written anyway.
constexpr size_t kMaxKeptCapacity = asf::kMaxSampleSize;
// New blocks are rounded up so that samples growing by a few bytes still fit
// a kept block.
constexpr size_t kGranule = size_t{64} << 10;

}  // namespace

SamplePool::SamplePool() { free_.reserve(kMaxKept); }  // so that Give never allocates

SamplePool::Block SamplePool::Take(size_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto best = free_.end();
    for (auto it = free_.begin(); it != free_.end(); ++it) {
      if (it->capacity >= size && (best == free_.end() || it->capacity < best->capacity)) best = it;
    }
    if (best != free_.end()) {
      Block block = std::move(*best);
      free_.erase(best);
      return block;
    }
  }
  const size_t capacity = size > kMaxKeptCapacity
                              ? size
                              : std::max(kGranule, (size + kGranule - 1) / kGranule * kGranule);
  return Block{std::unique_ptr<uint8_t[]>(new uint8_t[capacity]), capacity};
}

void SamplePool::Give(Block block) {
  if (block.bytes == nullptr || block.capacity > kMaxKeptCapacity) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (free_.size() < kMaxKept) {
    free_.push_back(std::move(block));
    return;
  }
  auto smallest = std::min_element(free_.begin(), free_.end(), [](const Block& a, const Block& b) {
    return a.capacity < b.capacity;
  });
  if (smallest->capacity < block.capacity) *smallest = std::move(block);
}

size_t SamplePool::kept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return free_.size();
}

HRESULT SampleBuffer::Create(std::shared_ptr<SamplePool> pool, DWORD size, INSSBuffer** buffer) {
  if (buffer == nullptr) return E_POINTER;
  *buffer = nullptr;
  if (pool == nullptr) return E_INVALIDARG;
  return Guarded([&] {
    SamplePool::Block block = pool->Take(size);
    auto* created = new SampleBuffer(std::move(pool), std::move(block), size);
    *buffer = created;
    return S_OK;
  });
}

SampleBuffer::SampleBuffer(std::shared_ptr<SamplePool> pool, SamplePool::Block block, DWORD size)
    : pool_(std::move(pool)), block_(std::move(block)), max_length_(size), length_(size) {}

SampleBuffer::~SampleBuffer() { pool_->Give(std::move(block_)); }

void* SampleBuffer::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_INSSBuffer) return static_cast<INSSBuffer*>(this);
  return nullptr;
}

HRESULT SampleBuffer::GetLength(DWORD* length) {
  if (length == nullptr) return E_POINTER;
  *length = length_;
  return S_OK;
}

HRESULT SampleBuffer::SetLength(DWORD length) {
  if (length > max_length_) return NS_E_INVALID_REQUEST;
  length_ = length;
  return S_OK;
}

HRESULT SampleBuffer::GetMaxLength(DWORD* length) {
  if (length == nullptr) return E_POINTER;
  *length = max_length_;
  return S_OK;
}

HRESULT SampleBuffer::GetBuffer(BYTE** buffer) {
  if (buffer == nullptr) return E_POINTER;
  *buffer = block_.bytes.get();
  return S_OK;
}

HRESULT SampleBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
  if (buffer == nullptr || length == nullptr) return E_POINTER;
  *buffer = block_.bytes.get();
  *length = length_;
  return S_OK;
}

}  // namespace kestrum::wmsdk

#endif  // KESTRUM_WM_BUILTIN
