#include "wm_standin/sample_buffer.h"

#include <algorithm>

#include "asf_format/muxer.h"
#include "platform/page_memory.h"

namespace kestrum::wmsdk {
namespace {

// Enough for the samples in flight at once: the library fills one at a time,
// and the muxer holds those whose bytes it has not yet written (a batch of
// packets, at most kMaxHeldSamples, and the packet being filled). Within
// kMaxKeptBytes, the pool keeps no more than its stream needs: kept and
// handed-out storage together stay within the most the writer ever had out
// at once.
constexpr size_t kMaxKept = 48;
constexpr size_t kMaxKeptBytes = size_t{4} << 20;
// Larger blocks go back to the allocator: no sample that large can be
// written anyway.
constexpr size_t kMaxKeptCapacity = asf::kMaxSampleSize;
// New blocks are rounded up to whole pages, so that samples growing by a few
// bytes still fit a kept block.
constexpr size_t kGranule = size_t{4} << 10;

size_t Capacity(size_t size) {
  return size > kMaxKeptCapacity ? size
                                 : std::max(kGranule, (size + kGranule - 1) / kGranule * kGranule);
}

}  // namespace

SamplePool::SamplePool(bool in_pages) : in_pages_(in_pages) {
  free_.reserve(kMaxKept);  // so that Keep never allocates
}

SamplePool::~SamplePool() {
  for (SampleBuffer* buffer : free_) delete buffer;
}

SampleBuffer* SamplePool::Take(size_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Of the smallest that fit, the one kept last: its bytes are likeliest
    // still in the processor's caches.
    auto best = free_.end();
    for (auto it = free_.begin(); it != free_.end(); ++it) {
      if ((*it)->capacity_ >= size &&
          (best == free_.end() || (*it)->capacity_ <= (*best)->capacity_)) {
        best = it;
      }
    }
    if (best != free_.end()) {
      SampleBuffer* buffer = *best;
      free_.erase(best);
      kept_bytes_ -= buffer->capacity_;
      out_bytes_ += buffer->capacity_;
      most_out_bytes_ = std::max(most_out_bytes_, out_bytes_);
      buffer->AddRef();  // from 0: alive again
      return buffer;
    }
  }
  try {
    return HandOut(new SampleBuffer(Capacity(size), in_pages_));
  } catch (const std::bad_alloc&) {
  }
  // Out of memory: the buffers kept go back to the allocator, and a buffer
  // of just the size asked for is tried once more.
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (SampleBuffer* buffer : free_) delete buffer;
    free_.clear();  // keeps its capacity: Keep still never allocates
    kept_bytes_ = 0;
  }
  return HandOut(new SampleBuffer(std::max<size_t>(size, 1), in_pages_));
}

SampleBuffer* SamplePool::HandOut(SampleBuffer* created) {
  if (created->capacity_ <= kMaxKeptCapacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_bytes_ += created->capacity_;
    most_out_bytes_ = std::max(most_out_bytes_, out_bytes_);
  }
  return created;
}

void SamplePool::Keep(SampleBuffer* buffer) {
  if (buffer->capacity_ <= kMaxKeptCapacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_bytes_ -= buffer->capacity_;
    // What the stream needs: the most it had out at once, out and kept.
    const size_t budget = std::min(kMaxKeptBytes, most_out_bytes_ - out_bytes_);
    if (free_.size() < kMaxKept && kept_bytes_ + buffer->capacity_ <= budget) {
      free_.push_back(buffer);
      kept_bytes_ += buffer->capacity_;
      return;
    }
    if (!free_.empty()) {
      auto smallest = std::min_element(
          free_.begin(), free_.end(),
          [](const SampleBuffer* a, const SampleBuffer* b) { return a->capacity_ < b->capacity_; });
      const size_t swapped = kept_bytes_ - (*smallest)->capacity_ + buffer->capacity_;
      if ((*smallest)->capacity_ < buffer->capacity_ && swapped <= budget) {
        kept_bytes_ = swapped;
        std::swap(*smallest, buffer);
      }
    }
  }
  delete buffer;
}

void SamplePool::Trim() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (SampleBuffer* buffer : free_) delete buffer;
  free_.clear();  // keeps its capacity: Keep still never allocates
  kept_bytes_ = 0;
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
    SampleBuffer* created = pool->Take(size);
    created->pool_ = std::move(pool);
    created->max_length_ = size;
    created->length_ = size;
    *buffer = created;
    return S_OK;
  });
}

namespace {

uint8_t* Storage(size_t capacity, bool in_pages) {
  if (!in_pages) return new uint8_t[capacity];
  auto* pages = static_cast<uint8_t*>(AllocatePages(capacity));
  if (pages == nullptr) throw std::bad_alloc();
  return pages;
}

}  // namespace

SampleBuffer::SampleBuffer(size_t capacity, bool in_pages)
    : in_pages_(in_pages), bytes_(Storage(capacity, in_pages)), capacity_(capacity) {}

SampleBuffer::~SampleBuffer() {
  if (in_pages_) {
    FreePages(bytes_, capacity_);
  } else {
    delete[] bytes_;
  }
}

void SampleBuffer::LastRelease() {
  // The pool may go with this reference (its writer gone), and this buffer
  // with it: nothing here is touched after Keep.
  const std::shared_ptr<SamplePool> pool = std::move(pool_);
  pool->Keep(this);
}

void* SampleBuffer::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_INSSBuffer) return static_cast<INSSBuffer*>(this);
  return nullptr;
}

HRESULT SampleBuffer::GetLength(DWORD* length) {
  return CopyOut(length, length_);
}

HRESULT SampleBuffer::SetLength(DWORD length) {
  if (length > max_length_) return NS_E_INVALID_REQUEST;
  length_ = length;
  return S_OK;
}

HRESULT SampleBuffer::GetMaxLength(DWORD* length) {
  return CopyOut(length, max_length_);
}

HRESULT SampleBuffer::GetBuffer(BYTE** buffer) { return CopyOut(buffer, bytes_); }

HRESULT SampleBuffer::GetBufferAndLength(BYTE** buffer, DWORD* length) {
  if (buffer == nullptr || length == nullptr) return E_POINTER;
  *buffer = bytes_;
  *length = length_;
  return S_OK;
}

}  // namespace kestrum::wmsdk
