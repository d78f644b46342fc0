#include "io/group_follower.h"

#include <algorithm>
#include <new>

#include "stream_format/group_scan.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

// The live road's reassembly buffer: a group that grows to it unended is
// dropped there ("Splitter : " and "temporary buffer full").
constexpr size_t kLiveBufferSize = 1024000;
// New bytes added to those held at a time: what is held stays bounded
// whatever the size of the pieces.
constexpr size_t kChunk = size_t{1} << 20;

}  // namespace

void GroupFollower::Feed(const uint8_t* data, size_t size) {
  if (lost_) return;
  try {
    FeedHeld(data, size);
  } catch (const std::bad_alloc&) {
    // Only a count is lost, not the recording: following ends here.
    lost_ = true;
    in_group_ = false;
    std::vector<uint8_t>().swap(held_);
  }
}

void GroupFollower::FeedHeld(const uint8_t* data, size_t size) {
  while (size > 0) {
    if (held_.empty()) {
      // In place: only what stays undecided, at most about a group, is copied.
      held_.assign(data + Follow(data, size), data + size);
      return;
    }
    const size_t wanted = need_ > held_.size() ? need_ - held_.size() : 0;
    const size_t take = std::min(size, std::max(wanted, kChunk));
    held_.insert(held_.end(), data, data + take);
    data += take;
    size -= take;
    held_.erase(held_.begin(),
                held_.begin() + static_cast<std::ptrdiff_t>(Follow(held_.data(), held_.size())));
  }
}

size_t GroupFollower::Follow(const uint8_t* p, size_t size) {
  size_t at = 0;
  while (size - at >= need_) {
    const size_t done = Decide(p + at, size - at);
    if (done == 0) break;
    at += done;
  }
  return at;
}

size_t GroupFollower::Decide(const uint8_t* p, size_t have) {
  const stream_format::GroupCheck check = stream_format::CheckGroup(p, have);
  need_ = 1;
  in_group_ = false;
  if (check.result == stream_format::ParseResult::Complete) return check.size;
  if (check.result == stream_format::ParseResult::Incomplete) {
    if (have >= kLiveBufferSize) return kLiveBufferSize;  // the live road drops it there
    // Fewer bytes than a group start cannot yet be told from junk.
    in_group_ = have >= stream_format::kGroupStartProbe;
    need_ = std::min(check.size, kLiveBufferSize);
    return 0;
  }
  // No group here: on to the next group start, or, without one, to where
  // one may begin among the last bytes.
  const uint8_t* next = stream_format::FindNextGroupStart(p + 1, p + have);
  if (next != nullptr) return static_cast<size_t>(next - p);
  const size_t keep = stream_format::kGroupStartProbe - 1;
  if (have > keep) return have - keep;
  need_ = stream_format::kGroupStartProbe;
  return 0;
}

}  // namespace kestrum_cli
