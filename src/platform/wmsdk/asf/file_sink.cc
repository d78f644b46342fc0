// The file sink: appends go through a 1 MiB buffer, except large appends
// (the muxer's packet batches), which go to write(2) directly so their bytes
// are not copied a second time. Flush hands the buffer to the kernel; it
// does not fsync. The first failing call latches its HRESULT: every later
// call answers with it, and the file keeps what reached it.
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include "platform/wmsdk/asf/byte_sink.h"

#ifndef _WIN32
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace kestrum::asf {
namespace {

constexpr size_t kBufferSize = size_t{1} << 20;
// Appends at least this large bypass the buffer.
constexpr size_t kDirectWriteMin = size_t{64} << 10;

HRESULT FromErrno(int error, HRESULT otherwise) {
  switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return E_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return E_ACCESSDENIED;
    case ENOENT:
    case ENOTDIR:
      return E_FILE_NOT_FOUND;
    case ENAMETOOLONG:
      return E_FILENAME_TOO_LONG;
    default:
      return otherwise;
  }
}

class FileSink final : public ByteSink {
 public:
  explicit FileSink(int fd) : fd_(fd), buffer_(new uint8_t[kBufferSize]) {}
  ~FileSink() override {
    FlushBuffer();
    ::close(fd_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

  HRESULT Write(const uint8_t* data, size_t size) override {
    if (FAILED(failure_)) return failure_;
    if (size == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    if (size >= kDirectWriteMin) {
      HRESULT hr = FlushBuffer();
      if (SUCCEEDED(hr)) hr = WriteAll(data, size);
      return hr;
    }
    if (size > kBufferSize - buffered_) {
      const HRESULT hr = FlushBuffer();
      if (FAILED(hr)) return hr;
    }
    std::memcpy(buffer_.get() + buffered_, data, size);
    buffered_ += size;
    size_ += size;
    return S_OK;
  }

  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    if (FAILED(failure_)) return failure_;
    if (offset > size_ || size > size_ - offset) return E_INVALIDARG;
    if (size == 0) return S_OK;
    if (data == nullptr) return E_POINTER;
    // Bytes still in the buffer are patched there, the rest in the file.
    const uint64_t buffer_start = size_ - buffered_;
    if (offset + size > buffer_start) {
      const size_t skip = offset >= buffer_start ? 0 : static_cast<size_t>(buffer_start - offset);
      std::memcpy(buffer_.get() + (offset + skip - buffer_start), data + skip, size - skip);
      size = skip;
    }
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Fail(n < 0 ? FromErrno(errno, E_WRITE_FAULT) : E_WRITE_FAULT);
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return S_OK;
  }

  uint64_t Size() const override { return size_; }

  HRESULT Flush() override {
    if (FAILED(failure_)) return failure_;
    return FlushBuffer();
  }

 private:
  HRESULT Fail(HRESULT hr) {
    failure_ = hr;
    return hr;
  }

  // Appends to the file, past the buffer's bytes (which must be written).
  HRESULT WriteAll(const uint8_t* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return Fail(n < 0 ? FromErrno(errno, E_WRITE_FAULT) : E_WRITE_FAULT);
      data += n;
      size -= static_cast<size_t>(n);
      size_ += static_cast<uint64_t>(n);
    }
    return S_OK;
  }

  HRESULT FlushBuffer() {
    if (buffered_ == 0 || FAILED(failure_)) return failure_;
    const size_t count = buffered_;
    buffered_ = 0;
    size_ -= count;  // WriteAll counts them again as they land
    return WriteAll(buffer_.get(), count);
  }

  const int fd_;
  std::unique_ptr<uint8_t[]> buffer_;  // default-initialised, never zero-filled
  size_t buffered_ = 0;
  uint64_t size_ = 0;  // bytes in the file plus bytes buffered
  HRESULT failure_ = S_OK;
};

}  // namespace

std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, HRESULT* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error != nullptr) *error = FromErrno(errno, E_FAIL);
    return nullptr;
  }
  std::unique_ptr<ByteSink> sink;
  try {
    sink = std::make_unique<FileSink>(fd);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    if (error != nullptr) *error = E_OUTOFMEMORY;
    return nullptr;
  }
  if (error != nullptr) *error = S_OK;
  return sink;
}

}  // namespace kestrum::asf

#endif  // !_WIN32 (file_sink_win32.cc on Windows)
