// The file sink on Windows (the built-in writer there): the same contract as
// file_sink.cc. Appends go through a 1 MiB buffer, except large appends,
// which go to WriteFile directly. Every write names its file offset (an
// OVERLAPPED offset on a synchronous handle), so patches and appends never
// depend on the handle's file pointer. Flush hands the buffer to the system;
// it does not FlushFileBuffers. The first failing call latches its HRESULT.
#include "platform/wmsdk/asf/byte_sink.h"

#ifdef _WIN32
#include <windows.h>

#include <cstring>
#include <new>

namespace kestrum::asf {
namespace {

constexpr size_t kBufferSize = size_t{1} << 20;
// Appends at least this large bypass the buffer.
constexpr size_t kDirectWriteMin = size_t{64} << 10;
// The most one WriteFile call is given.
constexpr size_t kMaxWrite = size_t{1} << 30;

HRESULT FromWin32(DWORD error, HRESULT otherwise) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return E_DISK_FULL;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return E_ACCESSDENIED;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return E_FILE_NOT_FOUND;
    case ERROR_FILENAME_EXCED_RANGE:
      return E_FILENAME_TOO_LONG;
    default:
      return otherwise;
  }
}

class FileSink final : public ByteSink {
 public:
  explicit FileSink(HANDLE file) : file_(file), buffer_(new uint8_t[kBufferSize]) {}
  ~FileSink() override {
    FlushBuffer();
    CloseHandle(file_);
  }
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;

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
    return WriteFileAt(offset, data, size);
  }

  uint64_t Size() const override { return written_ + buffered_; }

  HRESULT Flush() override {
    if (FAILED(failure_)) return failure_;
    return FlushBuffer();
  }

 private:
  HRESULT Fail(HRESULT hr) {
    failure_ = hr;
    return hr;
  }

  HRESULT WriteFileAt(uint64_t offset, const uint8_t* data, size_t size) {
    while (size > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const auto chunk = static_cast<DWORD>(size < kMaxWrite ? size : kMaxWrite);
      DWORD done = 0;
      if (!WriteFile(file_, data, chunk, &done, &at)) {
        return Fail(FromWin32(GetLastError(), E_WRITE_FAULT));
      }
      if (done == 0) return Fail(E_WRITE_FAULT);
      data += done;
      size -= done;
      offset += done;
    }
    return S_OK;
  }

  // Appends to the file, past the bytes already there (the buffer's bytes
  // must have been written).
  HRESULT Append(const uint8_t* data, size_t size) {
    const HRESULT hr = WriteFileAt(written_, data, size);
    if (SUCCEEDED(hr)) written_ += size;
    return hr;
  }

  HRESULT FlushBuffer() {
    if (buffered_ == 0 || FAILED(failure_)) return failure_;
    const size_t count = buffered_;
    buffered_ = 0;
    return Append(buffer_.get(), count);
  }

  const HANDLE file_;
  std::unique_ptr<uint8_t[]> buffer_;  // default-initialised, never zero-filled
  size_t buffered_ = 0;
  uint64_t written_ = 0;  // bytes in the file
  HRESULT failure_ = S_OK;
};

}  // namespace

// `path` is in the ANSI code page, as the writer converted it back from the
// wide name the library gave it.
std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, HRESULT* error) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = FromWin32(GetLastError(), E_FAIL);
    return nullptr;
  }
  std::unique_ptr<ByteSink> sink;
  try {
    sink = std::make_unique<FileSink>(file);
  } catch (const std::bad_alloc&) {
    CloseHandle(file);
    if (error != nullptr) *error = E_OUTOFMEMORY;
    return nullptr;
  }
  if (error != nullptr) *error = S_OK;
  return sink;
}

}  // namespace kestrum::asf

#endif  // _WIN32
