// The input of `kestrum record`, read front to back (a file or standard
// input) and cut into the pieces handed to the live road: the 40-byte header,
// then pieces of a fixed size, or whole groups with the bytes between them.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrum_cli {

class PieceReader {
 public:
  // `fd` stays owned by the caller. `piece_size` 0 cuts at group boundaries.
  PieceReader(int fd, size_t piece_size);

  // The first 40 bytes. False when the input ends (or fails) before them.
  bool ReadHeader(uint8_t (&header)[40]);

  // The next piece, valid until the next call; false at the end of the input.
  // Fixed size: `piece_size` bytes, the last piece shorter. Groups: one whole
  // group, or the bytes from a position that is not one up to the next group
  // start (at most about one read), or a cut group at the end.
  bool Next(const uint8_t*& data, size_t& size);

  // Once *flag is set, the input ends (as its end, not as a failure): a
  // read interrupted by a signal is not retried, and one that waits for
  // input gives up within about 100 ms.
  void StopWhen(const volatile std::sig_atomic_t* flag) { stop_ = flag; }

  // Reading failed: a read error, no memory for the piece (then
  // out_of_memory() too), or a regular file that ended shorter than it was
  // when the reader was made or than the bytes already read from it (then
  // shrank() too): another program cut it while it was read.
  bool failed() const { return failed_; }
  bool out_of_memory() const { return out_of_memory_; }
  bool shrank() const { return shrank_; }
  uint64_t consumed() const { return consumed_; }
  // Cutting at groups: the bytes given out in pieces that are no whole
  // group (junk, malformed or cut groups), as the packet source's scanner
  // skips them.
  uint64_t outside_groups() const { return outside_groups_; }

 private:
  size_t Fill(size_t count);
  bool WaitForInput();
  bool Shrank() const;
  bool Take(size_t n, const uint8_t*& data, size_t& size, bool group = true);

  int fd_;
  size_t piece_size_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  bool failed_ = false;
  bool out_of_memory_ = false;
  bool shrank_ = false;
  int64_t size_at_start_ = -1;  // a regular file's size when the reader was made
  const volatile std::sig_atomic_t* stop_ = nullptr;
  uint64_t consumed_ = 0;
  uint64_t outside_groups_ = 0;
};

}  // namespace kestrum_cli
