#include "stream_format/stream_scanner.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "mapped_file/read_guard.h"

namespace kestrum::stream_format {

namespace {

constexpr size_t kDefaultCapacity = 2 * StreamScanner::kReadSize;
constexpr size_t kMaxCapacity = kMaxGroupSize + StreamScanner::kReadSize;
// A mapped window's span: the largest group from any byte of its first page,
// with kWindowSize to fill ahead.
constexpr uint64_t kMapSpan = uint64_t{kMaxGroupSize} + 2 * StreamScanner::kWindowSize;

bool AllZero(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

}  // namespace

bool StreamScanner::Open(const char* path, bool map) {
  Close();
  if (!file_.Open(path)) return false;
  size_at_open_ = file_.Size();
  mapped_ = map && file_.mappable();
  return ReadHeader();
}

bool StreamScanner::OpenDescriptor(int fd) {
  Close();
  if (!file_.OpenDescriptor(fd)) return false;
  size_at_open_ = file_.Size();
  return ReadHeader();
}

const uint8_t* StreamScanner::ReadSoFar(size_t* size) const {
  if (!open_ || mapped_ || data_ == nullptr || buffer_offset_ != 0 || begin_ != 0 ||
      cursor_ != kFileHeaderSize) {
    return nullptr;
  }
  *size = end_;
  return data_;
}

bool StreamScanner::ReadHeader() {
  open_ = true;
  if (Ensure(0, kFileHeaderSize) < kFileHeaderSize ||
      !Guarded([this] { std::memcpy(header_, data_ + begin_, kFileHeaderSize); })) {
    Close();
    return false;
  }
  cursor_ = kFileHeaderSize;
  return true;
}

// Runs `read` over the bytes present; with a mapping, guarded: a fault ends
// the scan as a read error (false).
template <typename Read>
bool StreamScanner::Guarded(Read read) {
  if (!mapped_) {
    read();
    return true;
  }
  if (mapped_file::ReadGuarded(data_, end_, [](void* context) { (*static_cast<Read*>(context))(); }, &read)) {
    return true;
  }
  failed_ = faulted_ = at_end_ = true;
  return false;
}

// The end of the scan. A file now shorter than the bytes already taken from
// it, or than it was when opened, was cut under the scanner: a read error,
// not a clean end.
ScanEvent StreamScanner::End() {
  if (open_ && !failed_) {
    const int64_t size = file_.Size();
    if (size >= 0 && (static_cast<uint64_t>(size) < end_offset() || size < size_at_open_)) {
      failed_ = true;
    }
  }
  return ScanEvent{};
}

void StreamScanner::Close() {
  file_.Close();
  open_ = false;
  failed_ = false;
  std::memset(header_, 0, sizeof header_);
  buffer_.reset();
  data_ = nullptr;
  mapped_ = faulted_ = false;
  size_at_open_ = -1;
  capacity_ = begin_ = end_ = 0;
  buffer_offset_ = 0;
  at_end_ = false;
  cursor_ = 0;
  in_region_ = false;
  search_from_ = 0;
  region_ = ScanEvent{};
}

// Makes room for `count` bytes from begin_ plus one full read: moves the
// unread bytes to the front, and grows the buffer (geometrically, up to
// kMaxCapacity) or shrinks it back after a large group. False when memory
// cannot be had.
bool StreamScanner::Reserve(size_t count) {
  const size_t live = end_ - begin_;
  const size_t want = std::max(std::max(count, live) + kReadSize, kDefaultCapacity);
  size_t target = capacity_;
  if (want > capacity_) {
    target = std::min(std::max(want, capacity_ * 2), std::max(want, kMaxCapacity));
  } else if (capacity_ > 2 * kDefaultCapacity && want <= kDefaultCapacity) {
    target = kDefaultCapacity;
  }
  if (target != capacity_) {
    std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[target]);
    if (!grown) return false;
    if (live > 0) std::memcpy(grown.get(), buffer_.get() + begin_, live);
    buffer_ = std::move(grown);
    data_ = buffer_.get();
    capacity_ = target;
  } else if (begin_ > 0 && live > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, live);
  }
  buffer_offset_ += begin_;
  begin_ = 0;
  end_ = live;
  return true;
}

// Makes the file bytes [offset, offset + count) present, reading as needed,
// and drops every byte before `offset` (which must not lie beyond the bytes
// read). Returns how many bytes are present from `offset` on: `count` or
// more, fewer only at the end of the file.
size_t StreamScanner::Ensure(uint64_t offset, size_t count) {
  if (mapped_) return EnsureMapped(offset, count);
  begin_ = static_cast<size_t>(offset - buffer_offset_);
  if (end_ - begin_ >= count || at_end_) return end_ - begin_;
  if (capacity_ - begin_ < count || capacity_ - end_ < kReadSize) {
    if (!Reserve(count)) {
      failed_ = true;
      at_end_ = true;
      return end_ - begin_;
    }
  }
  while (end_ - begin_ < count) {
    const int64_t got = file_.Read(buffer_.get() + end_, capacity_ - end_);
    if (got <= 0) {
      failed_ = failed_ || got < 0;
      at_end_ = true;
      break;
    }
    end_ += static_cast<size_t>(got);
  }
  return end_ - begin_;
}

// Ensure over the mapping. The window is mapped from the page holding
// `offset` with a span that holds the largest group from there, but only its
// bytes up to what is needed (at least kWindowSize more at a time) are
// filled, within the file's size as it is now: a group that outgrows the
// filled bytes grows them in place, and each byte is filled once while the
// window lasts. Pages the scan has left are given back as it goes, so memory
// holds about the group being checked. A new window is mapped only where
// the bytes needed lie past the span, or `offset` past the bytes filled (a
// hole jumped over); a file that cannot be mapped is read from there on.
size_t StreamScanner::EnsureMapped(uint64_t offset, size_t count) {
  const uint64_t filled_end = end_offset();
  if (offset <= filled_end) {
    begin_ = static_cast<size_t>(offset - buffer_offset_);
    if (filled_end - offset >= count || at_end_) return end_ - begin_;
  }
  const int64_t size = file_.Size();
  if (size < 0 || static_cast<uint64_t>(size) < filled_end) {
    // Cut shorter than what was mapped: the rest of the stream is lost.
    failed_ = at_end_ = true;
    begin_ = static_cast<size_t>(std::min(offset, filled_end) - buffer_offset_);
    return end_ - begin_;
  }
  const uint64_t file_size = static_cast<uint64_t>(size);
  const uint64_t want = std::min<uint64_t>(offset + count, file_size);
  uint64_t stop = std::min(std::max(want, std::max(offset, filled_end) + kWindowSize), file_size);
  if (stop <= offset) {
    at_end_ = true;
    begin_ = static_cast<size_t>(std::min(offset, filled_end) - buffer_offset_);
    return end_ - begin_;
  }
  const uint64_t span_end = buffer_offset_ + capacity_;
  if (offset <= filled_end && want <= span_end) {
    stop = std::min(stop, span_end);
    file_.Release(offset);
    file_.Fill(static_cast<size_t>(stop - buffer_offset_));
  } else {
    const uint64_t page = mapped_file::SourceFile::page_size();
    const uint64_t start = offset / page * page;
    const uint64_t span = std::max(std::min<uint64_t>(kMapSpan, file_size - start), stop - start);
    const uint8_t* window =
        file_.Map(start, static_cast<size_t>(span), static_cast<size_t>(stop - start));
    if (window == nullptr) return ReadFrom(offset, count);
    data_ = window;
    buffer_offset_ = start;
    capacity_ = static_cast<size_t>(span);
  }
  begin_ = static_cast<size_t>(offset - buffer_offset_);
  end_ = static_cast<size_t>(stop - buffer_offset_);
  at_end_ = stop == file_size;
  return end_ - begin_;
}

// Goes on reading a file whose window could not be mapped, from `offset`:
// Ensure from there as for a file never mapped.
size_t StreamScanner::ReadFrom(uint64_t offset, size_t count) {
  mapped_ = false;
  data_ = nullptr;
  capacity_ = begin_ = end_ = 0;
  buffer_offset_ = offset;
  if (!file_.Seek(offset)) {
    failed_ = at_end_ = true;
    return 0;
  }
  return Ensure(offset, count);
}

// CheckGroup at `offset`, reading until it decides. `truncated` tells a
// group cut by the end of the file (the result then says Incomplete).
GroupCheck StreamScanner::CheckAt(uint64_t offset, bool& truncated) {
  size_t need = kGroupStartProbe;
  for (;;) {
    const size_t have = Ensure(offset, need);
    GroupCheck check;
    if (!Guarded([&] { check = CheckGroup(data_ + begin_, have); })) return check;
    if (check.result != ParseResult::Incomplete) {
      truncated = false;
      return check;
    }
    if (have < check.size && at_end_) {
      truncated = true;
      return check;
    }
    need = check.size;
  }
}

// The offset of the first group start at or after `from`, or kNoOffset when
// the file ends first. Drops the bytes it has searched; jumps over holes of
// a sparse file, which hold only zeros and so no start code.
uint64_t StreamScanner::FindCandidate(uint64_t from) {
  for (;;) {
    const size_t have = Ensure(from, kGroupStartProbe);
    if (have < kGroupStartProbe) return kNoOffset;
    const uint8_t* const base = data_ + begin_;
    const uint8_t* hit = nullptr;
    if (!Guarded([&] { hit = FindNextGroupStart(base, base + have); })) return kNoOffset;
    if (hit != nullptr) return from + static_cast<uint64_t>(hit - base);
    // Every position with a whole probe was refused; the last
    // kGroupStartProbe - 1 bytes may still begin a start.
    from += have - (kGroupStartProbe - 1);
    begin_ = static_cast<size_t>(from - buffer_offset_);
    // Those kept bytes end at the read position. When they are zeros and a
    // hole follows, the bytes from them to the hole's end are all zeros, so
    // the kept bytes can stand for the last ones before the hole's end.
    bool zeros = false;
    if (!at_end_ &&
        !Guarded([&] { zeros = AllZero(base + (have - (kGroupStartProbe - 1)), end_ - begin_); })) {
      return kNoOffset;
    }
    if (zeros) {
      const uint64_t skipped = file_.SkipHole();
      from += skipped;
      // Mapped, the next window starts there.
      if (!mapped_) buffer_offset_ += skipped;
    }
  }
}

ScanEvent StreamScanner::CloseRegion(uint64_t end) {
  ScanEvent event = region_;
  event.size = end - event.offset;
  in_region_ = false;
  region_ = ScanEvent{};
  return event;
}

ScanEvent StreamScanner::Next() {
  if (!open_ || faulted_) return ScanEvent{};
  if (!in_region_) {
    if (Ensure(cursor_, 1) == 0) return End();
    bool truncated = false;
    const GroupCheck check = CheckAt(cursor_, truncated);
    if (faulted_) return End();
    if (check.result == ParseResult::Complete) {
      ScanEvent event;
      event.kind = ScanEvent::Kind::kGroup;
      event.offset = cursor_;
      event.size = check.size;
      event.data = data_ + begin_;
      cursor_ += check.size;
      return event;
    }
    in_region_ = true;
    region_ = ScanEvent{};
    region_.kind = ScanEvent::Kind::kSkipped;
    region_.offset = cursor_;
    region_.problem = truncated ? Problem::kTruncated : check.problem;
    region_.problem_offset = cursor_ + check.problem_offset;
    region_.problem_value = truncated ? 0 : check.problem_value;
    if (truncated) {
      cursor_ = end_offset();
      return CloseRegion(cursor_);
    }
    search_from_ = cursor_ + 1;
  }
  for (;;) {
    const uint64_t candidate = FindCandidate(search_from_);
    if (faulted_) return End();
    if (candidate == kNoOffset) {
      cursor_ = end_offset();
      return CloseRegion(cursor_);
    }
    bool truncated = false;
    const GroupCheck check = CheckAt(candidate, truncated);
    if (faulted_) return End();
    if (check.result == ParseResult::Complete) {
      cursor_ = candidate;
      return CloseRegion(candidate);
    }
    if (truncated) {
      cursor_ = end_offset();
      return CloseRegion(cursor_);
    }
    search_from_ = candidate + 1;
  }
}

}  // namespace kestrum::stream_format
