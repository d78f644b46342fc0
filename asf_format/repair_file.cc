// The file a repair works on, held as the file sink holds its output: on
// POSIX systems an exclusive flock taken without waiting (a writer, or a
// conversion reading the file, has one of its own, and the repair is
// refused), on Windows an open that shares the file for reading only. The
// repair reads packet heads all over the file, so read-ahead is turned off
// (posix_fadvise RANDOM, FILE_FLAG_RANDOM_ACCESS): only what is asked for
// is read.
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include "asf_format/repair.h"

#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "asf_format/errno_status.h"
#endif

namespace kestrum::asf {
namespace {

#ifdef _WIN32
Status LastError() { return Status::FromCode(0x80070000u | (GetLastError() & 0xFFFFu)); }

// Moves all `size` bytes at `offset` with `io` (ReadFile or WriteFile), a
// gigabyte a call at most.
template <typename Byte, typename Io>
Status Transfer(uint64_t offset, Byte* data, size_t size, Io io) {
  while (size > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD moved = 0;
    const DWORD ask = size < (DWORD{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
    if (!io(data, ask, &moved, &at)) return LastError();
    if (moved == 0) return kWriteFault;
    data += moved;
    size -= moved;
    offset += moved;
  }
  return kOk;
}

class Win32RepairFile final : public RepairFile {
 public:
  Win32RepairFile(HANDLE file, uint64_t size) : file_(file), size_(size) {}
  ~Win32RepairFile() override { CloseHandle(file_); }
  uint64_t Size() const override { return size_; }
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    return Transfer(offset, data, size, [this](uint8_t* at, DWORD ask, DWORD* moved, OVERLAPPED* where) {
      return ReadFile(file_, at, ask, moved, where);
    });
  }
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return Transfer(offset, data, size,
                    [this](const uint8_t* at, DWORD ask, DWORD* moved, OVERLAPPED* where) {
                      return WriteFile(file_, at, ask, moved, where);
                    });
  }
  Status Truncate(uint64_t size) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) return LastError();
    return kOk;
  }
  Status Sync() override { return FlushFileBuffers(file_) ? kOk : LastError(); }

 private:
  const HANDLE file_;
  const uint64_t size_;
};
#else
class PosixRepairFile final : public RepairFile {
 public:
  PosixRepairFile(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~PosixRepairFile() override { ::close(fd_); }
  uint64_t Size() const override { return size_; }
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pread(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return kFailed;
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return kOk;
  }
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? FromErrno(errno, kWriteFault) : kWriteFault;
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return kOk;
  }
  Status Truncate(uint64_t size) override {
    int result = 0;
    while ((result = ::ftruncate(fd_, static_cast<off_t>(size))) != 0 && errno == EINTR) {
    }
    return result == 0 ? kOk : FromErrno(errno, kWriteFault);
  }
  Status Sync() override {
#if defined(__APPLE__)
    const int result = ::fsync(fd_);
#else
    const int result = ::fdatasync(fd_);
#endif
    return result == 0 ? kOk : FromErrno(errno, kWriteFault);
  }

 private:
  const int fd_;
  const uint64_t size_;
};
#endif

}  // namespace

std::unique_ptr<RepairFile> OpenRepairFile(const std::string& path, bool write, RepairOpen* result,
                                           Status* status) {
  *status = kOk;
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *result = RepairOpen::kNotFound;
    return nullptr;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *result = RepairOpen::kFolder;
    return nullptr;
  }
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0), FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_RANDOM_ACCESS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *result = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? RepairOpen::kInUse
                                                                                : RepairOpen::kCannotOpen;
    *status = Status::FromCode(0x80070000u | (error & 0xFFFFu));
    return nullptr;
  }
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    *result = RepairOpen::kNotRegular;
    return nullptr;
  }
  std::unique_ptr<RepairFile> file(new (std::nothrow)
                                       Win32RepairFile(handle, static_cast<uint64_t>(size.QuadPart)));
  if (file == nullptr) {
    CloseHandle(handle);
    *result = RepairOpen::kCannotOpen;
    *status = kOutOfMemory;
    return nullptr;
  }
#else
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    *result = errno == ENOENT || errno == ENOTDIR ? RepairOpen::kNotFound : RepairOpen::kCannotOpen;
    *status = FromErrno(errno, kWriteFault);
    return nullptr;
  }
  if (S_ISDIR(info.st_mode)) {
    *result = RepairOpen::kFolder;
    return nullptr;
  }
  // Nothing but a regular file is opened: a FIFO's open would wait for a writer.
  if (!S_ISREG(info.st_mode)) {
    *result = RepairOpen::kNotRegular;
    return nullptr;
  }
  const int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *result = RepairOpen::kCannotOpen;
    *status = FromErrno(errno, kWriteFault);
    return nullptr;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {  // replaced since the stat
    ::close(fd);
    *result = RepairOpen::kNotRegular;
    return nullptr;
  }
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (locked != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    *result = RepairOpen::kInUse;
    return nullptr;
  }
#if defined(POSIX_FADV_RANDOM)
  (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
#endif
  std::unique_ptr<RepairFile> file(new (std::nothrow)
                                       PosixRepairFile(fd, static_cast<uint64_t>(info.st_size)));
  if (file == nullptr) {
    ::close(fd);
    *result = RepairOpen::kCannotOpen;
    *status = kOutOfMemory;
    return nullptr;
  }
#endif
  *result = RepairOpen::kOpened;
  return file;
}

}  // namespace kestrum::asf
