#include "mapped_file/source_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>  // SEEK_SET

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#if defined(_WIN32)
#include <io.h>
#include <share.h>
#else
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kestrum::mapped_file {

namespace {

// The stream is opened so that no writer can take it while it is read: on
// Windows with write sharing denied (a file a writer has open does not open
// either), elsewhere with a shared lock that a writer's exclusive one waits
// for (the built-in writer does not wait: it fails). A file that is being
// written is not opened.
#if defined(_WIN32)
int OpenRead(const char* path) { return _sopen(path, _O_RDONLY | _O_BINARY, _SH_DENYWR); }
int CloseFd(int fd) { return _close(fd); }
int64_t ReadFd(int fd, uint8_t* buffer, size_t capacity) {
  const unsigned count = capacity > INT_MAX ? INT_MAX : static_cast<unsigned>(capacity);
  return _read(fd, buffer, count);
}
#else
int OpenRead(const char* path) {
  int flags = O_RDONLY;
#if defined(O_CLOEXEC)
  flags |= O_CLOEXEC;
#endif
  const int fd = ::open(path, flags);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return fd;
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
  }
  // File systems without locks are read unlocked.
  if (locked != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return -1;
  }
  return fd;
}
int CloseFd(int fd) { return ::close(fd); }
int64_t ReadFd(int fd, uint8_t* buffer, size_t capacity) {
  const size_t count = capacity > INT_MAX ? INT_MAX : capacity;
  return ::read(fd, buffer, count);
}
#endif

}  // namespace

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Open(const char* path) {
  Close();
  if (path == nullptr) return false;
  fd_ = OpenRead(path);
  owned_ = true;
  position_ = 0;
#if !defined(_WIN32)
  struct stat info;
  mappable_ = fd_ >= 0 && ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
#endif
  return fd_ >= 0;
}

bool SourceFile::OpenDescriptor(int fd) {
  Close();
  fd_ = fd;
  owned_ = false;
  mappable_ = false;  // read from where it stands, never mapped
  return fd_ >= 0;
}

void SourceFile::Close() {
  Unmap();
  if (fd_ >= 0 && owned_) CloseFd(fd_);
  fd_ = -1;
  position_ = 0;
  mappable_ = false;
}

int64_t SourceFile::Size() const {
  if (fd_ < 0) return -1;
#if defined(_WIN32)
  struct _stati64 info;
  if (_fstati64(fd_, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return -1;
#else
  struct stat info;
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
#endif
  return static_cast<int64_t>(info.st_size);
}

size_t SourceFile::page_size() {
#if defined(_WIN32)
  return 4096;
#else
  static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  return size;
#endif
}

void SourceFile::Unmap() {
#if !defined(_WIN32)
  if (window_ != nullptr && window_size_ > released_) {
    ::munmap(window_ + released_, window_size_ - released_);
  }
#endif
  window_ = nullptr;
  window_offset_ = 0;
  window_size_ = filled_ = released_ = 0;
}

const uint8_t* SourceFile::Map(uint64_t offset, size_t span, size_t fill) {
  Unmap();
#if defined(_WIN32)
  (void)offset;
  (void)span;
  (void)fill;
  return nullptr;
#else
  if (!mappable_ || span == 0) return nullptr;
  // Shared, not private: the bytes are only read, and a file system that
  // cannot keep a shared mapping true to the file (FUSE's direct I/O, whose
  // files are never to be cached) refuses it, so such a file is read.
  void* window = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(offset));
  if (window == MAP_FAILED) return nullptr;
  ::madvise(window, span, MADV_SEQUENTIAL);
  window_ = static_cast<uint8_t*>(window);
  window_offset_ = offset;
  window_size_ = span;
  position_ = offset;
  Fill(fill);
  return window_;
#endif
}

void SourceFile::Fill(size_t fill) {
  if (window_ == nullptr || fill <= filled_) return;
  if (fill > window_size_) fill = window_size_;
#if defined(MADV_POPULATE_READ)
  // Only the bytes not filled before, from the page holding the first: each
  // page is filled once however the window grows. MADV_POPULATE_READ stops
  // at a page that cannot be read (that page's read then faults, guarded);
  // MAP_POPULATE would never return there: the kernel retries the read for
  // ever. Older kernels refuse it: the pages are filled as they are read.
  const size_t from = filled_ / page_size() * page_size();
  ::madvise(window_ + from, fill - from, MADV_POPULATE_READ);
#endif
  filled_ = fill;
  position_ = window_offset_ + fill;
}

void SourceFile::Release(uint64_t offset) {
#if !defined(_WIN32)
  if (window_ == nullptr || offset <= window_offset_) return;
  const uint64_t before = std::min<uint64_t>(offset - window_offset_, window_size_);
  const size_t cut = static_cast<size_t>(before / page_size() * page_size());
  if (cut <= released_) return;
  ::munmap(window_ + released_, cut - released_);
  released_ = cut;
#else
  (void)offset;
#endif
}

bool SourceFile::Seek(uint64_t offset) {
  if (fd_ < 0) return false;
#if defined(_WIN32)
  if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) != static_cast<__int64>(offset)) {
    return false;
  }
#else
  static_assert(sizeof(off_t) >= 8, "64-bit file offsets are required");
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(offset)) {
    return false;
  }
#endif
  position_ = offset;
  return true;
}

int64_t SourceFile::Read(uint8_t* buffer, size_t capacity) {
  if (fd_ < 0) return -1;
  for (;;) {
    const int64_t got = ReadFd(fd_, buffer, capacity);
    if (got < 0 && errno == EINTR) continue;
    if (got > 0) position_ += static_cast<uint64_t>(got);
    return got;
  }
}

uint64_t SourceFile::SkipHole() {
#if defined(SEEK_DATA) && !defined(_WIN32)
  if (fd_ < 0) return 0;
  static_assert(sizeof(off_t) >= 8, "64-bit file offsets are required");
  const off_t here = static_cast<off_t>(position_);
  off_t data = ::lseek(fd_, here, SEEK_DATA);
  if (data < 0) {
    if (errno != ENXIO) {
      ::lseek(fd_, here, SEEK_SET);  // the query is not supported here: stay
      return 0;
    }
    // Nothing but a hole up to the end of the file.
    struct stat info;
    if (::fstat(fd_, &info) != 0 || info.st_size <= here) {
      ::lseek(fd_, here, SEEK_SET);
      return 0;
    }
    data = info.st_size;
  }
  if (data <= here || ::lseek(fd_, data, SEEK_SET) != data) {
    ::lseek(fd_, here, SEEK_SET);
    return 0;
  }
  position_ = static_cast<uint64_t>(data);
  return static_cast<uint64_t>(data - here);
#else
  return 0;
#endif
}

}  // namespace kestrum::mapped_file
