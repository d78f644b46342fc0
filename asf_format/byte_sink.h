// Where the ASF muxer's bytes go. A sink appends, can overwrite and read back
// bytes it already holds (the muxer patches header fields at the end), can
// be cut back (after a failed write, to its last whole packet), and hands
// what it has to the operating system on Flush. Every call reports failure
// as an Status and never throws; after a failure the sink keeps what it had,
// and Size() counts the bytes it holds intact, so a prefix of a failed
// append may be among them.
//
// A sink that cannot seek (a pipe, a device, standard output) only appends:
// seekable() is false and WriteAt, ReadAt and Truncate answer kNotSeekable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "asf_format/status.h"

namespace kestrum::asf {

// A stretch of bytes that a gathered append takes in place.
struct ByteSpan {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends `size` bytes.
  virtual Status Write(const uint8_t* data, size_t size) = 0;
  // Appends the `count` spans' bytes in order, as one Write of them all
  // would, without gathering them first (the file sink hands them to one
  // system call). This default writes them one by one.
  virtual Status WriteGather(const ByteSpan* spans, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      const Status status = Write(spans[i].data, spans[i].size);
      if (Failed(status)) return status;
    }
    return kOk;
  }
  // Overwrites `size` bytes at `offset`; offset + size must not pass Size().
  virtual Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Reads back `size` bytes at `offset`; offset + size must not pass Size().
  virtual Status ReadAt(uint64_t /*offset*/, uint8_t* /*data*/, size_t /*size*/) {
    return kNotSeekable;
  }
  // Cuts the sink back to its first `size` bytes (at most Size()); appends
  // go on from there. Clears a failure the sink had latched.
  virtual Status Truncate(uint64_t /*size*/) { return kNotSeekable; }
  // Bytes held so far.
  virtual uint64_t Size() const = 0;
  // Of those, the bytes handed to the operating system (all of them for a
  // sink that writes each call through).
  virtual uint64_t HandedOver() const { return Size(); }
  // Hands everything written so far to the operating system.
  virtual Status Flush() = 0;
  // False for a sink that only appends.
  virtual bool seekable() const { return true; }

  // Durability, for a sink over a file. Unlike the calls above, these two may
  // run on another thread while the sink writes (the sink must outlive them).
  // Has the system begin writing back to the disk what the file has been
  // handed, without waiting for it, where the system offers that.
  virtual void StartWriteBack() {}
  // Waits until every byte handed to the system (not what Flush has yet to
  // hand over) is on stable storage. kNotSeekable for a sink without a file
  // to make durable.
  virtual Status Sync() { return kNotSeekable; }
};

// A sink over the file at `path`, which it creates or rewrites. Nothing that
// stands at the path is removed or replaced: a symlink is written through
// (one that points nowhere creates its target), and an output that cannot
// seek (a pipe, a FIFO, a character device) is written front to back, as a
// sink that only appends. The output is taken for this writer alone (a
// regular file before it is cut to nothing): while one sink has it, a
// second one fails with kSharingViolation and leaves it untouched, as it
// does when a reader holds a regular file so (the packet source reads its
// stream so). Null, with *error set, when the file cannot be opened.
std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, Status* error);

// Makes the regular file at `path` durable: every byte of it on stable
// storage (a file another program has written and closed). kOk for an output
// that is not a regular file (nothing there to keep).
Status SyncFile(const std::string& path);

}  // namespace kestrum::asf
