// The file sink's buffering, shared by the POSIX and Win32 files: appends go
// through a buffer of up to 1 MiB, grown as they need it, except large
// appends, which go to the file directly so their bytes are not copied a
// second time, and gathered appends (the muxer's packet batches): a file that gathers (writev) takes their spans as
// they are; elsewhere spans of kDirectWriteMin or more go to the file
// directly and the small ones between them (packet headers, padding, short
// fragments) through the buffer.
// Patches land in the buffer for bytes still there and in the file for the
// rest. Flush hands the buffer to the system; Sync (from any thread) makes
// what the file holds durable.
// The first failing call latches its Status: every later call answers with
// it, and the file keeps what reached it, until Truncate cuts the file back
// and clears it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "asf_format/byte_sink.h"

namespace kestrum::asf {

// Appends at least this large bypass the buffer.
inline constexpr size_t kDirectWriteMin = size_t{64} << 10;

// An open file. Writes are whole or fail; a failed append reports how many
// of its bytes reached the file. The destructor closes it.
class OpenFile {
 public:
  virtual ~OpenFile() = default;
  // Writes all `size` bytes at file offset `offset`.
  virtual Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Writes all `size` bytes at the end of the file, which is `end` bytes
  // long. *done: the bytes that reached the file, all of them on success.
  virtual Status Append(uint64_t end, const uint8_t* data, size_t size, size_t* done) {
    *done = 0;
    const Status status = WriteAt(end, data, size);
    if (Succeeded(status)) *done = size;
    return status;
  }
  // Appends the `count` spans' bytes in order at the end (`end` bytes), as
  // Append does, in as few calls as the system allows; only for a file
  // whose gathers() is true.
  virtual Status AppendGather(uint64_t /*end*/, const ByteSpan* /*spans*/, size_t /*count*/,
                              size_t* done) {
    *done = 0;
    return kNotSeekable;
  }
  virtual bool gathers() const { return false; }
  // Reads exactly `size` bytes at `offset`.
  virtual Status ReadAt(uint64_t /*offset*/, uint8_t* /*data*/, size_t /*size*/) {
    return kNotSeekable;
  }
  // Cuts the file to `size` bytes; the next Append writes there.
  virtual Status Truncate(uint64_t /*size*/) { return kNotSeekable; }
  // False for a file that only appends (a pipe, a device): WriteAt, ReadAt
  // and Truncate are then never called.
  virtual bool seekable() const { return true; }
  // As ByteSink's two: safe from another thread while the file is written.
  virtual void StartWriteBack() {}
  virtual Status Sync() { return kNotSeekable; }
};

// A buffered sink over `file`. Null, with *error set to kOutOfMemory, when
// the sink cannot be had (the file is then closed). Later, a buffer that
// cannot grow sends appends that do not fit it straight to the file.
std::unique_ptr<ByteSink> MakeBufferedFileSink(std::unique_ptr<OpenFile> file, Status* error);

}  // namespace kestrum::asf
