// The file sink on POSIX systems: the shared buffering over a file
// descriptor. Appends use write(2), gathered appends writev(2), patches
// pwrite(2), read-backs pread(2); write-back is started with
// sync_file_range(2) where the system has it, and made durable with
// fdatasync(2).
//
// Opening: a regular file is opened without truncation, locked (flock,
// exclusive, without waiting) and only then cut to nothing, so a second
// writer fails before it touches the first one's file; the packet source
// holds the streams it reads with a shared lock, which keeps writers out
// the same way. Anything else (a FIFO, a pipe, a character device) is
// opened for writing only, locked the same way (so two writers never
// interleave their streams in one FIFO), and written front to back.
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include "asf_format/buffered_file_sink.h"

#ifndef _WIN32
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include "asf_format/errno_status.h"

namespace kestrum::asf {
namespace {

// Moves all `size` bytes with `io(position, count)` (a read or a write that
// may move fewer), retrying interrupted calls; *done counts what moved.
template <typename Byte, typename Io>
Status Whole(Byte* data, size_t size, size_t* done, Status otherwise, Io io) {
  *done = 0;
  while (*done < size) {
    const ssize_t n = io(data + *done, size - *done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? FromErrno(errno, otherwise) : otherwise;
    *done += static_cast<size_t>(n);
  }
  return kOk;
}

int SyncDescriptor(int fd, bool data_only) {
  int result = 0;
  while ((result = data_only ? ::fdatasync(fd) : ::fsync(fd)) != 0 && errno == EINTR) {
  }
  return result;
}

// Syncs the folder that holds `path` (a symlink's target's folder), so that
// its entry for the file is on stable storage. File systems that cannot sync
// a folder (EINVAL) keep their entries otherwise.
Status SyncFolderOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  std::string file = resolved != nullptr ? resolved : path;
  std::free(resolved);
  const size_t slash = file.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno, kWriteFault);
  const int result = SyncDescriptor(fd, false);
  const int error = errno;
  ::close(fd);
  return result == 0 || error == EINVAL ? kOk : FromErrno(error, kWriteFault);
}

class PosixFile final : public OpenFile {
 public:
  PosixFile(int fd, bool seekable, bool readable)
      : fd_(fd), seekable_(seekable), readable_(readable) {
    iov_.reserve(kMaxSpans);  // AppendGather never allocates
  }
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    size_t done = 0;
    return Whole(data, size, &done, kWriteFault, [&](const uint8_t* at, size_t n) {
      return ::pwrite(fd_, at, n, static_cast<off_t>(offset + done));
    });
  }

  // write(2) rather than pwrite(2) at `end`: the descriptor's own position is
  // the end, and outputs that cannot seek work the same way.
  Status Append(uint64_t /*end*/, const uint8_t* data, size_t size, size_t* done) override {
    return Whole(data, size, done, kWriteFault,
                 [&](const uint8_t* at, size_t n) { return ::write(fd_, at, n); });
  }

  // writev(2) until every span is written: a call that writes part of the
  // spans (a full disk, a signal, a pipe's room) goes on from the first byte
  // it did not write; an interrupted one is retried.
  Status AppendGather(uint64_t /*end*/, const ByteSpan* spans, size_t count,
                      size_t* done) override {
    *done = 0;
    size_t first = 0;    // the first span not wholly written
    size_t skip = 0;     // its bytes already written
    while (first < count) {
      const size_t batch = std::min<size_t>(count - first, kMaxSpans);
      iov_.resize(batch);
      size_t asked = 0;
      for (size_t i = 0; i < batch; ++i) {
        const ByteSpan& span = spans[first + i];
        const size_t from = i == 0 ? skip : 0;
        iov_[i].iov_base = const_cast<uint8_t*>(span.data + from);
        iov_[i].iov_len = span.size - from;
        asked += span.size - from;
      }
      if (asked == 0) {
        first += batch;
        skip = 0;
        continue;
      }
      const ssize_t n = ::writev(fd_, iov_.data(), static_cast<int>(batch));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? FromErrno(errno, kWriteFault) : kWriteFault;
      auto moved = static_cast<size_t>(n);
      *done += moved;
      while (moved > 0) {
        const size_t left = spans[first].size - skip;
        if (moved < left) {
          skip += moved;
          break;
        }
        moved -= left;
        ++first;
        skip = 0;
      }
      while (first < count && spans[first].size == skip) {  // empty spans
        ++first;
        skip = 0;
      }
    }
    return kOk;
  }
  bool gathers() const override { return true; }

  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (!readable_) return kNotSeekable;
    size_t done = 0;
    return Whole(data, size, &done, kFailed, [&](uint8_t* at, size_t n) {
      return ::pread(fd_, at, n, static_cast<off_t>(offset + done));
    });
  }

  Status Truncate(uint64_t size) override {
    const auto at = static_cast<off_t>(size);
    int result = 0;
    while ((result = ::ftruncate(fd_, at)) != 0 && errno == EINTR) {
    }
    if (result != 0) return FromErrno(errno, kWriteFault);
    return ::lseek(fd_, at, SEEK_SET) == at ? kOk : FromErrno(errno, kWriteFault);
  }

  bool seekable() const override { return seekable_; }

  // Both run on the writer's sync thread, beside the writing thread's calls
  // on the same descriptor (which the kernel allows).
  void StartWriteBack() override {
#if defined(SYNC_FILE_RANGE_WRITE)
    // Offset 0, length 0: the whole file; pages already on their way are
    // not waited for.
    if (seekable_) (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  }

  // fdatasync(2): the data and what reading it back needs (the size). The
  // first sync of a file also syncs the folder that holds it, so that a
  // file made anew is found after a power cut.
  Status Sync() override {
    if (!seekable_) return kNotSeekable;
    if (SyncDescriptor(fd_, true) != 0) return FromErrno(errno, kWriteFault);
    if (!folder_synced_) {
      const Status status = SyncFolderOf(path_);
      if (Failed(status)) return status;
      folder_synced_ = true;
    }
    return kOk;
  }

  void set_path(std::string path) { path_ = std::move(path); }

 private:
#if defined(IOV_MAX)
  static constexpr size_t kMaxSpans = IOV_MAX;
#else
  static constexpr size_t kMaxSpans = 1024;
#endif
  const int fd_;
  std::vector<struct iovec> iov_;  // AppendGather's list, kept for its capacity
  const bool seekable_;
  const bool readable_;  // opened for reading too: written bytes can be read back
  std::string path_;     // as opened: Sync finds the folder by it
  bool folder_synced_ = false;  // the sync thread's alone
};

bool IsRegularFile(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Opens `path` for the sink: a regular file (or a new one) read-write, so
// that the sink can read its bytes back, or write-only when it may not be
// read; anything else write-only (a FIFO opened read-write would never see
// its reader leave). -1 with errno set when it cannot be opened.
int OpenForWriting(const char* path, bool* regular, bool* readable) {
  struct stat info;
  const bool other = ::stat(path, &info) == 0 && !S_ISREG(info.st_mode);
  int fd = -1;
  *readable = false;
  if (!other) {
    fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    *readable = fd >= 0;
    if (fd >= 0 && !IsRegularFile(fd)) {  // replaced since the stat
      ::close(fd);
      fd = -1;
      *readable = false;
    }
  }
  if (fd < 0) fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  *regular = fd >= 0 && IsRegularFile(fd);
  return fd;
}

// Takes the output for this writer alone; a regular file is then cut to
// nothing.
Status TakeFile(int fd, bool regular) {
  int result = 0;
  while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (result != 0 && errno == EWOULDBLOCK) return kSharingViolation;  // another one has it
  // File systems (and devices) without locks are written unlocked.
  if (result != 0 && errno != ENOLCK && errno != EINVAL && errno != ENOTSUP) {
    return FromErrno(errno, kFailed);
  }
  if (!regular) return kOk;
  // An empty file is left alone: cutting one (to nothing, again) makes some
  // file systems write it back to the disk as soon as it is closed.
  struct stat info;
  if (::fstat(fd, &info) == 0 && info.st_size == 0) return kOk;
  while ((result = ::ftruncate(fd, 0)) != 0 && errno == EINTR) {
  }
  return result == 0 ? kOk : FromErrno(errno, kFailed);
}

}  // namespace

std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, Status* error) {
  bool regular = false;
  bool readable = false;
  const int fd = OpenForWriting(path.c_str(), &regular, &readable);
  if (fd < 0) {
    if (error != nullptr) *error = FromErrno(errno, kFailed);
    return nullptr;
  }
  const Status status = TakeFile(fd, regular);
  if (Failed(status)) {
    ::close(fd);
    if (error != nullptr) *error = status;
    return nullptr;
  }
  std::unique_ptr<OpenFile> file;
  try {
    auto posix = std::make_unique<PosixFile>(fd, regular, readable);
    posix->set_path(path);
    file = std::move(posix);
  } catch (const std::bad_alloc&) {
    ::close(fd);
    if (error != nullptr) *error = kOutOfMemory;
    return nullptr;
  }
  return MakeBufferedFileSink(std::move(file), error);
}

Status SyncFile(const std::string& path) {
  // Non-blocking: a FIFO opened for reading would wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno, kFailed);
  if (!IsRegularFile(fd)) {
    ::close(fd);
    return kOk;
  }
  const int result = SyncDescriptor(fd, true);
  const int error = errno;
  ::close(fd);
  if (result != 0) return FromErrno(error, kWriteFault);
  return SyncFolderOf(path);
}

}  // namespace kestrum::asf

#endif  // !_WIN32 (file_sink_win32.cc on Windows)
