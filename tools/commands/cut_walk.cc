#include "commands/cut_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "base/bytes.h"
#include "commands/packed_samples.h"
#include "io/stop_signals.h"
#include "stream_format/frame_time.h"
#include "stream_format/sample_header.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;

namespace {

using kestrum::stream_format::kFrameMs;
// A next file that began this much later than the one before it ended
// (by the start times) was begun after the recording stopped: the time
// between is kept. Less is the clock against the stream's own pace.
constexpr uint64_t kGapMs = 1000;

}  // namespace

CutWalk::CutWalk(const CutInputs& inputs, std::optional<CutTime> from, std::optional<CutTime> to,
                 CutOutput& out)
    : inputs_(inputs), from_time_(from ? from : CutTime{}), to_time_(to), out_(out) {}

CutWalk::Bound CutWalk::Place(const std::optional<CutTime>& time) {
  Bound bound;
  if (!time) {
    bound.none = true;
  } else if (time->wall) {
    bound.wall = time->at;
  } else {
    bound.ms = time->ms;
  }
  return bound;
}

void CutWalk::SettleBefore(Bound& bound, std::optional<UnixMs> start, uint64_t offset) {
  if (bound.wall && !bound.ms && start && *start > *bound.wall) bound.ms = offset;
}

void CutWalk::SettleAt(Bound& bound, std::optional<UnixMs> start, uint64_t into, uint64_t offset) {
  if (!bound.wall || bound.ms || !start || *start + static_cast<UnixMs>(into) < *bound.wall) return;
  bound.ms = offset + static_cast<uint64_t>(std::max<UnixMs>(0, *bound.wall - *start));
}

uint64_t CutWalk::OffsetOf(size_t file) const {
  if (file == 0) return 0;
  const uint64_t follows = counts_.end_ms;
  const std::optional<UnixMs>& first = inputs_.files.front().start;
  const std::optional<UnixMs>& start = inputs_.files[file].start;
  if (!first || !start || *start <= *first) return follows;
  const uint64_t by_clock = static_cast<uint64_t>(*start - *first);
  return by_clock > follows + kGapMs ? by_clock : follows;
}

bool CutWalk::Run() {
  from_ = Place(from_time_);
  to_ = Place(to_time_);
  for (size_t k = 0; k < inputs_.files.size() && state_ != State::kDone; ++k) {
    if (!WalkFile(k)) break;
  }
  // FROM after every group but within the inputs: the last group that may
  // start a recording, to the end.
  if (state_ == State::kBefore && !held_.empty() && from_.ms && *from_.ms < counts_.end_ms) {
    if (!Release()) return false;
  }
  return !output_failed_ && counts_.unreadable.empty();
}

bool CutWalk::WalkFile(size_t file) {
  const CutInput& input = inputs_.files[file];
  const std::unique_ptr<asf::ReadSource> source = asf::OpenReadFile(input.path);
  std::optional<asf::Reader> reader;
  if (source != nullptr) reader.emplace(*source, asf::ReadOptions{asf::ReadChecks::kDamage, true});
  if (!reader || !reader->Open()) {
    counts_.unreadable.push_back(input.path +
                                 "' again: " + (reader ? reader->error() : std::strerror(errno)));
    return false;
  }
  const uint64_t offset = OffsetOf(file);
  SettleBefore(from_, input.start, offset);
  SettleBefore(to_, input.start, offset);
  in_group_ = false;  // a group never goes on in the next file
  const uint64_t preroll = reader->header().preroll;
  asf::MediaObject sample;
  while (StopOnSignals::signal() == 0 && reader->NextSample(&sample)) {
    if (sample.stream != kRecordingStream) continue;
    const uint64_t into = sample.presentation_ms >= preroll ? sample.presentation_ms - preroll : 0;
    const uint64_t ms = offset + into;
    SettleAt(from_, input.start, into, offset);
    SettleAt(to_, input.start, into, offset);
    counts_.end_ms = std::max(counts_.end_ms, ms + kFrameMs);
    std::optional<UnixMs> wall;
    if (input.start) wall = *input.start + static_cast<UnixMs>(into);
    if (!Take(sample, ms, wall)) return false;
  }
  return StopOnSignals::signal() == 0;
}

bool CutWalk::Take(asf::MediaObject& sample, uint64_t ms, std::optional<UnixMs> wall) {
  if (!BeforeTo(ms)) {
    state_ = State::kDone;
    return false;
  }
  const bool in_range = state_ == State::kCopying;
  if (sample.cut || !IsPackedSample(sample.bytes)) {
    if (in_range) ++(sample.cut ? counts_.cut : counts_.damaged);
    in_group_ = false;
    return true;
  }
  const uint32_t index =
      kestrum::load_u32le(sample.bytes.data() + kestrum::stream_format::kSampleIndexOffset);
  const bool new_group =
      !(in_group_ && index == last_index_ + 1 && SameGroup(sample.bytes, group_));
  if (new_group) group_ = sample.bytes;
  last_index_ = index;
  in_group_ = true;
  const bool starts = new_group && MayStartRecording(inputs_.stream_type, sample.bytes);
  if (state_ == State::kBefore) {
    if (AtOrBeforeFrom(ms)) {
      if (starts) {
        held_.clear();
        held_wall_ = wall;
      }
      if (!held_.empty() || starts) held_.emplace_back(ms, std::move(sample));
      return true;
    }
    if (held_.empty()) {
      state_ = State::kWaiting;
    } else if (!Release()) {
      return false;
    }
  }
  if (state_ == State::kWaiting) {
    if (!starts) return true;
    state_ = State::kCopying;
    if (!out_.Begin(wall)) return !(output_failed_ = true);
  }
  return Emit(sample, ms);
}

bool CutWalk::Release() {
  state_ = State::kCopying;
  if (!out_.Begin(held_wall_)) return !(output_failed_ = true);
  for (const auto& [ms, held] : held_) {
    if (!Emit(held, ms)) return false;
  }
  held_.clear();
  return true;
}

bool CutWalk::Emit(const asf::MediaObject& sample, uint64_t ms) {
  if (counts_.kept == 0) counts_.first_ms = ms;
  if (!out_.Sample(ms - counts_.first_ms, sample)) return !(output_failed_ = true);
  ++counts_.kept;
  counts_.bytes += sample.bytes.size();
  counts_.last_ms = ms;
  return true;
}

}  // namespace kestrum_cli
