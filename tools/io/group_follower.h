// The groups of a stream followed as its bytes go to the live road in
// pieces of any size, for what the live road cannot tell: how many bytes of
// a group that never ended it holds when the input ends (it drops them
// without a line as the recording stops).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrum_cli {

class GroupFollower {
 public:
  // The next bytes of the stream, after its 40-byte header. Memory that
  // runs out for the bytes held ends the following (unfinished() is then 0),
  // never the recording.
  void Feed(const uint8_t* data, size_t size);

  // The bytes from the last group start whose group has not ended: those
  // the live road holds at the input's end. 0 between groups, and in bytes
  // that are no group. A group still open at the live road's reassembly
  // buffer's size is the live road's own loss (a line of its own): it is
  // let go, and following goes on after it.
  uint64_t unfinished() const { return in_group_ ? held_.size() : 0; }

 private:
  // Follows the groups of the `size` bytes at `p`, which come next in the
  // stream; returns how many are decided (whole groups, bytes in none).
  size_t Follow(const uint8_t* p, size_t size);
  // Feed's work, which may throw std::bad_alloc.
  void FeedHeld(const uint8_t* data, size_t size);
  // Decides what it can about the `have` bytes at `p`: how many of them are
  // passed over, or 0 when need_ bytes are needed to tell.
  size_t Decide(const uint8_t* p, size_t have);

  std::vector<uint8_t> held_;  // the undecided bytes
  size_t need_ = 1;            // bytes from held_'s first that decide it
  bool in_group_ = false;      // held_ begins with a group start (not yet ended)
  bool lost_ = false;          // memory ran out: no longer followed
};

}  // namespace kestrum_cli
