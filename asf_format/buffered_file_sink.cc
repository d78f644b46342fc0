#include "asf_format/buffered_file_sink.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace kestrum::asf {
namespace {

constexpr size_t kBufferSize = size_t{1} << 20;
// Appends at least this large bypass the buffer.
constexpr size_t kDirectWriteMin = size_t{64} << 10;

class BufferedFileSink final : public ByteSink {
 public:
  explicit BufferedFileSink(std::unique_ptr<OpenFile> file)
      : file_(std::move(file)), buffer_(new uint8_t[kBufferSize]) {}
  // Hands the buffer to the file before the file closes.
  ~BufferedFileSink() override { FlushBuffer(); }
  BufferedFileSink(const BufferedFileSink&) = delete;
  BufferedFileSink& operator=(const BufferedFileSink&) = delete;

  HRESULT Write(const uint8_t* data, size_t size) override {
    if (FAILED(failure_)) return failure_;
    if (size == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    if (size >= kDirectWriteMin) {
      HRESULT hr = FlushBuffer();
      if (SUCCEEDED(hr)) hr = Append(data, size);
      return hr;
    }
    if (size > kBufferSize - buffered_) {
      const HRESULT hr = FlushBuffer();
      if (FAILED(hr)) return hr;
    }
    std::memcpy(buffer_.get() + buffered_, data, size);
    buffered_ += size;
    return S_OK;
  }

  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    if (!file_->seekable()) return E_NOTIMPL;
    if (FAILED(failure_)) return failure_;
    if (offset > Size() || size > Size() - offset) return E_INVALIDARG;
    if (size == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    // Bytes still in the buffer are patched there, the rest in the file.
    if (offset + size > written_) {
      const size_t skip = offset >= written_ ? 0 : static_cast<size_t>(written_ - offset);
      std::memcpy(buffer_.get() + (offset + skip - written_), data + skip, size - skip);
      size = skip;
    }
    if (size == 0) return S_OK;
    return Latch(file_->WriteAt(offset, data, size));
  }

  HRESULT ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (!file_->seekable()) return E_NOTIMPL;
    if (offset > Size() || size > Size() - offset) return E_INVALIDARG;
    if (size == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    if (offset + size > written_) {
      const size_t skip = offset >= written_ ? 0 : static_cast<size_t>(written_ - offset);
      std::memcpy(data + skip, buffer_.get() + (offset + skip - written_), size - skip);
      size = skip;
    }
    return size == 0 ? S_OK : file_->ReadAt(offset, data, size);
  }

  HRESULT Truncate(uint64_t size) override {
    if (!file_->seekable()) return E_NOTIMPL;
    if (size > Size()) return E_INVALIDARG;
    // The file is cut to the bytes that stay in it; buffered bytes within
    // `size` stay buffered.
    const uint64_t in_file = std::min(size, written_);
    const HRESULT hr = file_->Truncate(in_file);
    if (FAILED(hr)) return hr;
    written_ = in_file;
    buffered_ = static_cast<size_t>(size - in_file);
    failure_ = S_OK;
    return S_OK;
  }

  uint64_t Size() const override { return written_ + buffered_; }

  HRESULT Flush() override {
    if (FAILED(failure_)) return failure_;
    return FlushBuffer();
  }

  bool seekable() const override { return file_->seekable(); }

 private:
  HRESULT Latch(HRESULT hr) {
    if (FAILED(hr)) failure_ = hr;
    return hr;
  }

  // Appends to the file, past the bytes already there (the buffer's bytes
  // must have been written). What a failed append got into the file counts.
  HRESULT Append(const uint8_t* data, size_t size) {
    size_t done = 0;
    const HRESULT hr = Latch(file_->Append(written_, data, size, &done));
    written_ += SUCCEEDED(hr) ? size : std::min(done, size);
    return hr;
  }

  // A failed flush drops what did not reach the file.
  HRESULT FlushBuffer() {
    if (buffered_ == 0 || FAILED(failure_)) return failure_;
    const size_t count = buffered_;
    buffered_ = 0;
    return Append(buffer_.get(), count);
  }

  const std::unique_ptr<OpenFile> file_;
  std::unique_ptr<uint8_t[]> buffer_;  // default-initialised, never zero-filled
  size_t buffered_ = 0;
  uint64_t written_ = 0;  // bytes in the file
  HRESULT failure_ = S_OK;
};

}  // namespace

std::unique_ptr<ByteSink> MakeBufferedFileSink(std::unique_ptr<OpenFile> file, HRESULT* error) {
  std::unique_ptr<ByteSink> sink;
  try {
    sink = std::make_unique<BufferedFileSink>(std::move(file));
  } catch (const std::bad_alloc&) {
    if (error != nullptr) *error = E_OUTOFMEMORY;
    return nullptr;
  }
  if (error != nullptr) *error = S_OK;
  return sink;
}

}  // namespace kestrum::asf
