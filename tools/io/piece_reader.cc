#include "io/piece_reader.h"

#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>  // SEEK_CUR
#include <cstring>
#include <new>

#include "stream_format/group_scan.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

constexpr size_t kReadSize = size_t{1} << 20;

// The size of the regular file open at `fd`, and its read position; false
// for anything else (a pipe, a FIFO, a device), whose size says nothing.
bool RegularFileSize(int fd, int64_t& size, int64_t& position) {
#ifdef _WIN32
  struct _stati64 info;
  if (_fstati64(fd, &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) return false;
  position = _lseeki64(fd, 0, SEEK_CUR);
#else
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  position = ::lseek(fd, 0, SEEK_CUR);
#endif
  size = static_cast<int64_t>(info.st_size);
  return true;
}

}  // namespace

PieceReader::PieceReader(int fd, size_t piece_size) : fd_(fd), piece_size_(piece_size) {
  int64_t position = 0;
  if (!RegularFileSize(fd_, size_at_start_, position)) size_at_start_ = -1;
}

// At the end of a regular file: whether it is now shorter than it was at
// the start, or than what was read of it.
bool PieceReader::Shrank() const {
  int64_t size = 0;
  int64_t position = 0;
  return size_at_start_ >= 0 && RegularFileSize(fd_, size, position) &&
         (size < size_at_start_ || size < position);
}

// With a stop flag: waits until the input can be read or the flag is set;
// false once it is set.
bool PieceReader::WaitForInput() {
  if (stop_ == nullptr) return true;
#ifndef _WIN32
  while (*stop_ == 0) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 100) != 0) break;  // readable, at its end, or a signal
  }
#endif
  return *stop_ == 0;
}

// Makes `count` bytes from begin_ present unless the input ends first;
// returns how many are present.
size_t PieceReader::Fill(size_t count) {
  if (end_ - begin_ >= count || at_end_) return end_ - begin_;
  if (buffer_.size() - begin_ < count || buffer_.size() - end_ < kReadSize) {
    const size_t live = end_ - begin_;
    if (live > 0 && begin_ > 0) std::memmove(buffer_.data(), buffer_.data() + begin_, live);
    begin_ = 0;
    end_ = live;
    // The first buffer holds a read and a piece, so that fixed-size pieces
    // never make it grow; a growing group doubles it.
    const size_t want = std::max({count, live, piece_size_}) + kReadSize;
    if (buffer_.size() < want) {
      try {
        buffer_.resize(buffer_.empty() ? want : std::max(want, buffer_.size() * 2));
      } catch (const std::bad_alloc&) {
        // The input cannot be read on: it ends here, as a failure.
        out_of_memory_ = failed_ = at_end_ = true;
        return end_ - begin_;
      }
    }
  }
  while (end_ - begin_ < count) {
    const size_t room = std::min<size_t>(buffer_.size() - end_, INT_MAX);
    if (!WaitForInput()) {
      at_end_ = true;
      break;
    }
    const ssize_t got = ::read(fd_, buffer_.data() + end_, room);
    if (got < 0 && errno == EINTR && (stop_ == nullptr || *stop_ == 0)) continue;
    if (got < 0 && errno == EINTR) {
      at_end_ = true;
      break;
    }
    if (got <= 0) {
      shrank_ = got == 0 && Shrank();
      failed_ = got < 0 || shrank_;
      at_end_ = true;
      break;
    }
    end_ += static_cast<size_t>(got);
  }
  return end_ - begin_;
}

bool PieceReader::Take(size_t n, const uint8_t*& data, size_t& size, bool group) {
  if (n == 0) return false;
  data = buffer_.data() + begin_;
  size = n;
  begin_ += n;
  consumed_ += n;
  if (!group) outside_groups_ += n;
  return true;
}

bool PieceReader::ReadHeader(uint8_t (&header)[40]) {
  if (Fill(sizeof header) < sizeof header) return false;
  std::memcpy(header, buffer_.data() + begin_, sizeof header);
  begin_ += sizeof header;
  consumed_ += sizeof header;
  return true;
}

bool PieceReader::Next(const uint8_t*& data, size_t& size) {
  if (piece_size_ != 0) return Take(std::min(Fill(piece_size_), piece_size_), data, size);

  size_t need = stream_format::kGroupStartProbe;
  for (;;) {
    const size_t have = Fill(need);
    if (have == 0) return false;
    const uint8_t* p = buffer_.data() + begin_;
    const stream_format::GroupCheck check = stream_format::CheckGroup(p, have);
    using stream_format::ParseResult;
    if (check.result == ParseResult::Complete) return Take(check.size, data, size);
    if (check.result == ParseResult::Incomplete) {
      if (have < check.size && at_end_) return Take(have, data, size, false);  // a cut group
      need = check.size;
      continue;
    }
    // Not a group here: the bytes up to the next group start are one piece.
    const size_t window = Fill(kReadSize);
    p = buffer_.data() + begin_;
    const uint8_t* next = stream_format::FindNextGroupStart(p + 1, p + window);
    if (next != nullptr) return Take(static_cast<size_t>(next - p), data, size, false);
    if (at_end_) return Take(window, data, size, false);
    // Keep the last bytes: a group start may begin among them.
    return Take(window - (stream_format::kGroupStartProbe - 1), data, size, false);
  }
}

}  // namespace kestrum_cli
