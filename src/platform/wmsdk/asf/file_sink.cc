// The file sink on POSIX systems: the shared buffering over a file
// descriptor. Appends use write(2), patches pwrite(2).
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include "platform/wmsdk/asf/buffered_file_sink.h"

#ifndef _WIN32
#include <cerrno>
#include <new>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace kestrum::asf {
namespace {

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

class PosixFile final : public OpenFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? FromErrno(errno, E_WRITE_FAULT) : E_WRITE_FAULT;
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return S_OK;
  }

  // write(2) rather than pwrite(2) at `end`: the descriptor's own position is
  // the end, and devices that cannot seek (a pipe, /dev/full) still work.
  HRESULT Append(uint64_t /*end*/, const uint8_t* data, size_t size) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? FromErrno(errno, E_WRITE_FAULT) : E_WRITE_FAULT;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return S_OK;
  }

 private:
  const int fd_;
};

}  // namespace

std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, HRESULT* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (error != nullptr) *error = FromErrno(errno, E_FAIL);
    return nullptr;
  }
  std::unique_ptr<OpenFile> file;
  try {
    file = std::make_unique<PosixFile>(fd);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    if (error != nullptr) *error = E_OUTOFMEMORY;
    return nullptr;
  }
  return MakeBufferedFileSink(std::move(file), error);
}

}  // namespace kestrum::asf

#endif  // !_WIN32 (file_sink_win32.cc on Windows)
