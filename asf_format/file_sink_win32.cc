// The file sink on Windows (the built-in writer there): the shared buffering
// over a file handle. Every write to a disk file names its file offset (an
// OVERLAPPED offset on a synchronous handle), so patches and appends never
// depend on the handle's file pointer; pipes and character devices (NUL,
// CON) are written front to back. FlushFileBuffers makes a disk file durable.
//
// Opening: the file is opened without truncation and shared for reading
// only, so no second writer can open it, and neither can a writer while a
// reader that forbids writing has it (the packet source reads so); only
// then is a disk file cut to nothing.
#include "asf_format/buffered_file_sink.h"

#ifdef _WIN32
#include <windows.h>

#include <new>
#include <utility>

namespace kestrum::asf {
namespace {

// The most one WriteFile or ReadFile call is given.
constexpr size_t kMaxTransfer = size_t{1} << 30;

Status FromWin32(DWORD error, Status otherwise) {
  switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return kDiskFull;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return kSharingViolation;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return kAccessDenied;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return kFileNotFound;
    case ERROR_FILENAME_EXCED_RANGE:
      return kFileNameTooLong;
    case ERROR_TOO_MANY_OPEN_FILES:
      return kTooManyOpenFiles;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:  // the pipe is being closed
      return kBrokenPipe;
    default:
      return otherwise;
  }
}

DWORD Chunk(size_t size) { return static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer); }

class Win32File final : public OpenFile {
 public:
  Win32File(HANDLE file, bool disk, bool readable)
      : file_(file), disk_(disk), readable_(readable) {}
  ~Win32File() override { CloseHandle(file_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    size_t done = 0;
    return Write(&offset, data, size, &done);
  }

  Status Append(uint64_t end, const uint8_t* data, size_t size, size_t* done) override {
    return Write(disk_ ? &end : nullptr, data, size, done);
  }

  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (!readable_) return kNotSeekable;
    while (size > 0) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (!ReadFile(file_, data, Chunk(size), &got, &at)) return FromWin32(GetLastError(), kFailed);
      if (got == 0) return kFailed;
      data += got;
      size -= got;
      offset += got;
    }
    return kOk;
  }

  Status Truncate(uint64_t size) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
      return FromWin32(GetLastError(), kWriteFault);
    }
    return kOk;
  }

  bool seekable() const override { return disk_; }

  // On the writer's sync thread: the system's cache of the file goes to the
  // disk (the system writes back by itself; there is nothing to start). The
  // system runs a synchronous handle's calls one at a time, so a write that
  // meets a running flush waits for it.
  Status Sync() override {
    if (!disk_) return kNotSeekable;
    return FlushFileBuffers(file_) ? kOk : FromWin32(GetLastError(), kWriteFault);
  }

 private:
  // At *offset, or where the handle stands when offset is null.
  Status Write(uint64_t* offset, const uint8_t* data, size_t size, size_t* done) {
    *done = 0;
    while (size > 0) {
      OVERLAPPED at{};
      if (offset != nullptr) {
        at.Offset = static_cast<DWORD>(*offset);
        at.OffsetHigh = static_cast<DWORD>(*offset >> 32);
      }
      DWORD wrote = 0;
      const BOOL ok = WriteFile(file_, data, Chunk(size), &wrote, offset != nullptr ? &at : nullptr);
      *done += wrote;
      if (!ok) return FromWin32(GetLastError(), kWriteFault);
      if (wrote == 0) return kWriteFault;
      data += wrote;
      size -= wrote;
      if (offset != nullptr) *offset += wrote;
    }
    return kOk;
  }

  const HANDLE file_;
  const bool disk_;      // a disk file: seekable, written at offsets
  const bool readable_;  // opened for reading too
};

}  // namespace

// `path` is in the ANSI code page, as the writer converted it back from the
// wide name the library gave it.
std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, Status* error) {
  bool readable = true;
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
    // An outbound pipe, or a file that may be written but not read.
    readable = false;
    handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    if (error != nullptr) *error = FromWin32(GetLastError(), kFailed);
    return nullptr;
  }
  const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
  if (disk && !SetEndOfFile(handle)) {  // the handle stands at 0: cut to nothing
    if (error != nullptr) *error = FromWin32(GetLastError(), kFailed);
    CloseHandle(handle);
    return nullptr;
  }
  std::unique_ptr<OpenFile> file;
  try {
    file = std::make_unique<Win32File>(handle, disk, readable);
  } catch (const std::bad_alloc&) {
    CloseHandle(handle);
    if (error != nullptr) *error = kOutOfMemory;
    return nullptr;
  }
  return MakeBufferedFileSink(std::move(file), error);
}

Status SyncFile(const std::string& path) {
  // FlushFileBuffers needs a handle that may write; the writer has closed it.
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FromWin32(GetLastError(), kFailed);
  Status status = kOk;
  if (GetFileType(handle) == FILE_TYPE_DISK && !FlushFileBuffers(handle)) {
    status = FromWin32(GetLastError(), kWriteFault);
  }
  CloseHandle(handle);
  return status;
}

}  // namespace kestrum::asf

#endif  // _WIN32
