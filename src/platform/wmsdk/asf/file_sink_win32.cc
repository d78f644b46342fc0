// The file sink on Windows (the built-in writer there): the shared buffering
// over a file handle. Every write names its file offset (an OVERLAPPED offset
// on a synchronous handle), so patches and appends never depend on the
// handle's file pointer.
#include "platform/wmsdk/asf/buffered_file_sink.h"

#ifdef _WIN32
#include <windows.h>

#include <new>
#include <utility>

namespace kestrum::asf {
namespace {

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

class Win32File final : public OpenFile {
 public:
  explicit Win32File(HANDLE file) : file_(file) {}
  ~Win32File() override { CloseHandle(file_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    while (size > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const auto chunk = static_cast<DWORD>(size < kMaxWrite ? size : kMaxWrite);
      DWORD done = 0;
      if (!WriteFile(file_, data, chunk, &done, &at)) {
        return FromWin32(GetLastError(), E_WRITE_FAULT);
      }
      if (done == 0) return E_WRITE_FAULT;
      data += done;
      size -= done;
      offset += done;
    }
    return S_OK;
  }

 private:
  const HANDLE file_;
};

}  // namespace

// `path` is in the ANSI code page, as the writer converted it back from the
// wide name the library gave it.
std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, HRESULT* error) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = FromWin32(GetLastError(), E_FAIL);
    return nullptr;
  }
  std::unique_ptr<OpenFile> file;
  try {
    file = std::make_unique<Win32File>(handle);
  } catch (const std::bad_alloc&) {
    CloseHandle(handle);
    if (error != nullptr) *error = E_OUTOFMEMORY;
    return nullptr;
  }
  return MakeBufferedFileSink(std::move(file), error);
}

}  // namespace kestrum::asf

#endif  // _WIN32
