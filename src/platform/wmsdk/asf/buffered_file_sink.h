// The file sink's buffering, shared by the POSIX and Win32 files: appends go
// through a 1 MiB buffer, except large appends (the muxer's packet batches),
// which go to the file directly so their bytes are not copied a second time.
// Patches land in the buffer for bytes still there and in the file for the
// rest. Flush hands the buffer to the system; it does not sync to the disk.
// The first failing call latches its HRESULT: every later call answers with
// it, and the file keeps what reached it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/wmsdk/asf/byte_sink.h"

namespace kestrum::asf {

// An open file, written whole or not at all by each call. The destructor
// closes it.
class OpenFile {
 public:
  virtual ~OpenFile() = default;
  // Writes all `size` bytes at file offset `offset`.
  virtual HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Writes all `size` bytes at the end of the file, which is `end` bytes long.
  virtual HRESULT Append(uint64_t end, const uint8_t* data, size_t size) {
    return WriteAt(end, data, size);
  }
};

// A buffered sink over `file`. Null, with *error set to E_OUTOFMEMORY, when
// the buffer cannot be had (the file is then closed).
std::unique_ptr<ByteSink> MakeBufferedFileSink(std::unique_ptr<OpenFile> file, HRESULT* error);

}  // namespace kestrum::asf
