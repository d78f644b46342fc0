#include "group_follower.h"

#include "stream_format/group_scan.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

// The live road's reassembly buffer: a group that grows to it unended is
// dropped there ("Splitter : " and "temporary buffer full").
constexpr size_t kLiveBufferSize = 1024000;

}  // namespace

void GroupFollower::Feed(const uint8_t* data, size_t size) {
  held_.insert(held_.end(), data, data + size);
  while (held_.size() - at_ >= need_ && Step()) {
  }
  // What is decided goes; the undecided rest stays, at most about a group.
  if (at_ > 0 && at_ >= held_.size() / 2) {
    held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ = 0;
  }
}

bool GroupFollower::Step() {
  const uint8_t* p = held_.data() + at_;
  const size_t have = held_.size() - at_;
  const stream_format::GroupCheck check = stream_format::CheckGroup(p, have);
  switch (check.result) {
    case stream_format::ParseResult::Complete:
      at_ += check.size;
      in_group_ = false;
      need_ = 1;
      return true;
    case stream_format::ParseResult::Incomplete:
      // Fewer bytes than a group start cannot yet be told from junk.
      in_group_ = have >= stream_format::kGroupStartProbe;
      if (check.size < kLiveBufferSize) {
        need_ = check.size;
        return true;
      }
      if (have < kLiveBufferSize) {
        need_ = kLiveBufferSize;
        return true;
      }
      at_ += kLiveBufferSize;  // the live road drops it there
      in_group_ = false;
      need_ = 1;
      return true;
    case stream_format::ParseResult::Malformed:
      break;
  }
  in_group_ = false;
  // No group here: on to the next group start, or, without one, to where
  // one may begin among the last bytes.
  const uint8_t* next = stream_format::FindNextGroupStart(p + 1, p + have);
  if (next != nullptr) {
    at_ += static_cast<size_t>(next - p);
    need_ = 1;
    return true;
  }
  const size_t keep = stream_format::kGroupStartProbe - 1;
  at_ += have > keep ? have - keep : 1;
  need_ = stream_format::kGroupStartProbe;
  return false;
}

}  // namespace kestrum_cli
