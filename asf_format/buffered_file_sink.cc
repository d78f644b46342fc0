#include "asf_format/buffered_file_sink.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kestrum::asf {
namespace {

// The buffer grows, as appends need it, from kFirstBufferSize up to
// kBufferSize: a file that gathers its packets buffers little more than its
// header, and its pages are not taken before they are needed.
constexpr size_t kBufferSize = size_t{1} << 20;
constexpr size_t kFirstBufferSize = size_t{16} << 10;

class BufferedFileSink final : public ByteSink {
 public:
  explicit BufferedFileSink(std::unique_ptr<OpenFile> file) : file_(std::move(file)) {}
  // Hands the buffer to the file before the file closes.
  ~BufferedFileSink() override { (void)FlushBuffer(); }  // a failure has nowhere to go
  BufferedFileSink(const BufferedFileSink&) = delete;
  BufferedFileSink& operator=(const BufferedFileSink&) = delete;

  Status Write(const uint8_t* data, size_t size) override {
    if (Failed(failure_)) return failure_;
    if (size == 0) return kOk;
    if (data == nullptr) return kNoData;
    if (size >= kDirectWriteMin) return FlushThenAppend(data, size);
    if (size > capacity_ - buffered_ && !Grow(buffered_ + size)) {
      const Status status = FlushBuffer();
      if (Failed(status)) return status;
      // Out of memory for a buffer that holds it: straight to the file.
      if (size > capacity_) return Append(data, size);
    }
    std::memcpy(buffer_.get() + buffered_, data, size);
    buffered_ += size;
    return kOk;
  }

  Status WriteGather(const ByteSpan* spans, size_t count) override {
    if (Failed(failure_)) return failure_;
    for (size_t i = 0; i < count; ++i) {
      if (spans[i].data == nullptr && spans[i].size != 0) return kNoData;
    }
    if (!file_->gathers()) {
      // One system call per large span; the small ones are gathered in the buffer.
      for (size_t i = 0; i < count; ++i) {
        const Status status = spans[i].size < kGatherCopyMax
                                  ? Write(spans[i].data, spans[i].size)
                                  : FlushThenAppend(spans[i].data, spans[i].size);
        if (Failed(status)) return status;
      }
      return kOk;
    }
    Status status = FlushBuffer();
    if (Failed(status)) return status;
    size_t done = 0;
    status = Latch(file_->AppendGather(written_, spans, count, &done));
    written_ += done;
    return status;
  }

  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    if (!file_->seekable()) return kNotSeekable;
    if (Failed(failure_)) return failure_;
    if (offset > Size() || size > Size() - offset) return kInvalidArgument;
    if (size == 0) return kOk;
    if (data == nullptr) return kNoData;
    // Bytes still in the buffer are patched there, the rest in the file.
    if (offset + size > written_) {
      const size_t skip = offset >= written_ ? 0 : static_cast<size_t>(written_ - offset);
      std::memcpy(buffer_.get() + (offset + skip - written_), data + skip, size - skip);
      size = skip;
    }
    if (size == 0) return kOk;
    return Latch(file_->WriteAt(offset, data, size));
  }

  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (!file_->seekable()) return kNotSeekable;
    if (offset > Size() || size > Size() - offset) return kInvalidArgument;
    if (size == 0) return kOk;
    if (data == nullptr) return kNoData;
    if (offset + size > written_) {
      const size_t skip = offset >= written_ ? 0 : static_cast<size_t>(written_ - offset);
      std::memcpy(data + skip, buffer_.get() + (offset + skip - written_), size - skip);
      size = skip;
    }
    return size == 0 ? kOk : file_->ReadAt(offset, data, size);
  }

  Status Truncate(uint64_t size) override {
    if (!file_->seekable()) return kNotSeekable;
    if (size > Size()) return kInvalidArgument;
    // The file is cut to the bytes that stay in it; buffered bytes within
    // `size` stay buffered.
    const uint64_t in_file = std::min(size, written_);
    const Status status = file_->Truncate(in_file);
    if (Failed(status)) return status;
    written_ = in_file;
    buffered_ = static_cast<size_t>(size - in_file);
    failure_ = kOk;
    return kOk;
  }

  uint64_t Size() const override { return written_ + buffered_; }
  uint64_t HandedOver() const override { return written_; }

  Status Flush() override {
    if (Failed(failure_)) return failure_;
    return FlushBuffer();
  }

  bool seekable() const override { return file_->seekable(); }
  // The file alone: the buffer is the writing thread's.
  void StartWriteBack() override { file_->StartWriteBack(); }
  Status Sync() override { return file_->Sync(); }

 private:
  // Spans of a gathered append shorter than this go through the buffer on a
  // file that cannot gather.
  static constexpr size_t kGatherCopyMax = size_t{4} << 10;

  // Makes room for `needed` bytes, up to kBufferSize, keeping the buffered
  // ones; false when the buffer is as large as it gets or no memory is left.
  bool Grow(size_t needed) {
    if (needed > kBufferSize) return false;
    size_t capacity = std::max(capacity_, kFirstBufferSize);
    while (capacity < needed) capacity *= 2;
    capacity = std::min(capacity, kBufferSize);
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
    if (grown == nullptr) return false;
    if (buffered_ != 0) std::memcpy(grown.get(), buffer_.get(), buffered_);
    buffer_ = std::move(grown);
    capacity_ = capacity;
    return true;
  }

  Status FlushThenAppend(const uint8_t* data, size_t size) {
    const Status status = FlushBuffer();
    return Succeeded(status) ? Append(data, size) : status;
  }

  Status Latch(Status status) {
    if (Failed(status)) failure_ = status;
    return status;
  }

  // Appends to the file, past the bytes already there (the buffer's bytes
  // must have been written). What a failed append got into the file counts.
  Status Append(const uint8_t* data, size_t size) {
    size_t done = 0;
    const Status status = Latch(file_->Append(written_, data, size, &done));
    written_ += Succeeded(status) ? size : std::min(done, size);
    return status;
  }

  // A failed flush drops what did not reach the file.
  Status FlushBuffer() {
    if (buffered_ == 0 || Failed(failure_)) return failure_;
    const size_t count = buffered_;
    buffered_ = 0;
    return Append(buffer_.get(), count);
  }

  const std::unique_ptr<OpenFile> file_;
  std::unique_ptr<uint8_t[]> buffer_;  // default-initialised, never zero-filled
  size_t capacity_ = 0;                // of buffer_
  size_t buffered_ = 0;
  uint64_t written_ = 0;  // bytes in the file
  Status failure_ = kOk;
};

}  // namespace

std::unique_ptr<ByteSink> MakeBufferedFileSink(std::unique_ptr<OpenFile> file, Status* error) {
  std::unique_ptr<ByteSink> sink;
  try {
    sink = std::make_unique<BufferedFileSink>(std::move(file));
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = kOutOfMemory;
    return nullptr;
  }
  if (error != nullptr) *error = kOk;
  return sink;
}

}  // namespace kestrum::asf
