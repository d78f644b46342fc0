// Walks a stored stream (the 40-byte header, then groups) front to back and
// reports, in file order, each whole group and each region of bytes that
// belongs to no group. Memory stays bounded: the read buffer holds the bytes
// not yet reported plus one large read, and grows only to hold the group
// being checked (at most kMaxGroupSize plus one read).
//
// Opened with `map`, a file that can be mapped (a regular file) is seen
// through a window of its mapping that slides along it, filled kWindowSize
// bytes at a time and in place as a large group needs more, so that each
// byte is filled about once whatever the groups' sizes: groups are handed
// out where they lie in the mapping, with no copy. Before the window is
// filled further the file's size is asked again: a file cut shorter than
// the bytes already mapped is a read error, and so is a fault while the
// scanner reads the mapping (a page that cannot be read, a file cut under
// it; see read_guard.h). Whoever reads a group handed out from a mapping
// must read it guarded as well (mapped_file::GuardedCopy). A file whose window cannot be
// mapped is read from there on, with the same events. Anything else (a
// pipe, a FIFO, standard input) is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "stream_format/group_scan.h"
#include "mapped_file/source_file.h"

namespace kestrum::stream_format {

struct ScanEvent {
  enum class Kind : uint8_t {
    kGroup,    // one whole group at `data`
    kSkipped,  // bytes that belong to no group
    kEnd,      // nothing more; the other fields are zero
  };
  Kind kind = Kind::kEnd;
  uint64_t offset = 0;  // the event's first byte in the file
  uint64_t size = 0;    // its length in the file
  // kGroup: the group's `size` bytes, owned by the scanner (or in its
  // mapping) and valid until the next call of Next, Open or Close. Null
  // otherwise.
  const uint8_t* data = nullptr;
  // kSkipped: why the region began, the file offset of the group or block
  // at fault, and the offending value (group type, block kind or length).
  Problem problem = Problem::kNone;
  uint64_t problem_offset = 0;
  uint32_t problem_value = 0;
};

class StreamScanner {
 public:
  // Bytes asked of the file per read, at least.
  static constexpr size_t kReadSize = size_t{1} << 20;
  // Bytes of a mapped file filled at once, at least.
  static constexpr size_t kWindowSize = size_t{4} << 20;

  StreamScanner() = default;
  StreamScanner(const StreamScanner&) = delete;
  StreamScanner& operator=(const StreamScanner&) = delete;

  // Opens `path` and reads its 40-byte header, closing whatever was open;
  // with `map`, maps it where it can (above). False (and closed) when the
  // file cannot be opened or read, or holds fewer than 40 bytes.
  bool Open(const char* path, bool map = false);
  // The same over an open descriptor read from where it stands (standard
  // input), never mapped; Close leaves it open.
  bool OpenDescriptor(int fd);
  void Close();
  bool is_open() const { return open_; }

  // The first 40 bytes of the file, as they are; valid while open.
  const uint8_t* header() const { return header_; }
  // Before the first Next over a descriptor: every byte read from it so
  // far, from the first (the header and what came with it), *size of them;
  // null otherwise. For a reader that takes the input over from here.
  const uint8_t* ReadSoFar(size_t* size) const;

  // The next group or skipped region, or kEnd. Groups are checked with
  // CheckGroup; every byte after the header is in exactly one event. A
  // skipped region runs from a position that is not a whole group to the
  // next whole group (or the end of the file), so each maximal run of
  // foreign bytes is one event. A read error ends the file where it happened.
  ScanEvent Next();

  // True when a read error or an allocation failure ended the scan early,
  // or the file ended shorter than it was when opened or than the bytes
  // already taken from it (cut under the scanner).
  bool failed() const { return failed_; }
  // Bytes of the file consumed so far (for progress display).
  uint64_t consumed() const { return buffer_offset_ + begin_; }
  // Current size of the read buffer or the mapped window's span.
  size_t buffer_capacity() const { return capacity_; }
  // True when the file is seen through its mapping (until a window cannot
  // be mapped).
  bool mapped() const { return mapped_; }

 private:
  static constexpr uint64_t kNoOffset = UINT64_MAX;

  bool ReadHeader();
  size_t Ensure(uint64_t offset, size_t count);
  size_t EnsureMapped(uint64_t offset, size_t count);
  size_t ReadFrom(uint64_t offset, size_t count);
  bool Reserve(size_t count);
  template <typename Read>
  bool Guarded(Read read);
  ScanEvent End();
  GroupCheck CheckAt(uint64_t offset, bool& truncated);
  uint64_t FindCandidate(uint64_t from);
  ScanEvent CloseRegion(uint64_t end);
  uint64_t end_offset() const { return buffer_offset_ + end_; }

  mapped_file::SourceFile file_;
  bool open_ = false;
  bool failed_ = false;
  bool mapped_ = false;
  bool faulted_ = false;  // a read of the mapping faulted: the scan is over
  int64_t size_at_open_ = -1;  // a regular file's size when opened, else -1
  uint8_t header_[kFileHeaderSize] = {};

  // data_[begin_, end_) holds the file bytes [buffer_offset_ + begin_,
  // buffer_offset_ + end_); the file's read position is buffer_offset_ + end_.
  // Mapped, data_ is the window's start (the file offset buffer_offset_),
  // end_ its bytes filled and capacity_ its span.
  std::unique_ptr<uint8_t[]> buffer_;
  const uint8_t* data_ = nullptr;  // buffer_, or the mapped window
  size_t capacity_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
  uint64_t buffer_offset_ = 0;
  bool at_end_ = false;

  uint64_t cursor_ = 0;  // where the next event starts
  bool in_region_ = false;
  uint64_t search_from_ = 0;
  ScanEvent region_;  // the open skipped region (offset and problem filled)
};

}  // namespace kestrum::stream_format
