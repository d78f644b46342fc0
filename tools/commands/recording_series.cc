// A recording into a series of files: the next file asked for when it is
// due, at the first group that may start a recording.
#include "commands/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asf_format/status.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "io/standard_output.h"
#include "report/json_output.h"
#include "report/loss_summary.h"
#include "report/outcome.h"
#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace {

constexpr const char* kCommand = kRecordCommand;

}  // namespace

std::optional<int> Recording::AskSwitch() {
  KeepWithinLimits();
  std::string name;
  const OutputRefusal checked = ClaimName(name);
  int32_t code = 0;
  if (checked.code != kExitOk) {
    refused_ = Refuse(kCommand, checked.code, checked.message);
  } else if ((code = KestrumSwitchOutput(handle_, name.c_str())) != 0) {
    refused_ = Fail(kCommand, kExitFailure,
                    "cannot write '" + name + "': " + DescribeCode(static_cast<uint32_t>(code)));
  }
  if (refused_) {
    progress_->Finish();
    std::fprintf(stderr, "kestrum record: %zu files were written before, the last '%s'\n",
                 files_.size(), Escaped(files_.back()).c_str());
    return refused_;
  }
  next_name_ = name;
  switching_ = true;
  return std::nullopt;
}

std::optional<int> Recording::SendGrouped(const uint8_t* data, size_t size) {
  read_end_ += size;
  const SegmentClock::Group group = clock_->Measure(data, size);
  unsent_.push_back({read_end_, group});
  if (request_.realtime && group.whole) pace_.WaitForNextGroup(StopOnSignals::flag());
  const size_t piece_size = request_.piece_size;
  if (piece_size == 0) return SendPiece(data, size, true);
  pending_.insert(pending_.end(), data, data + size);
  size_t at = 0;
  std::optional<int> code;
  for (; !code && pending_.size() - at >= piece_size; at += piece_size) {
    code = SendPiece(pending_.data() + at, piece_size, true);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  // At its own pace a group is sent whole at its time, not with the next.
  if (!code && request_.realtime && group.whole) code = FlushPending();
  return code;
}

std::optional<int> Recording::SendPiece(const uint8_t* data, size_t size, bool may_switch) {
  // The clock counts what the live road has whole; a switch asked for now
  // is made at the first group that may start a recording it gets whole.
  if (may_switch && request_.segmented && !switching_ && SwitchDue(sent_end_ + size)) {
    if (const auto code = AskSwitch()) {
      // The file in hand, ended as the command unwinds, keeps the groups
      // before the one that was to begin the next.
      uint64_t end = sent_end_;
      for (const Unsent& unsent : unsent_) {
        if (unsent.group.whole && unsent.group.may_start) break;
        end = unsent.end;
      }
      if (end > sent_end_) sender_->Piece(data, static_cast<size_t>(end - sent_end_));
      return code;
    }
  }
  sender_->Piece(data, size);
  sent_end_ += size;
  while (!unsent_.empty() && unsent_.front().end <= sent_end_) {
    if (clock_->Take(unsent_.front().group, switching_)) FileBegun();
    unsent_.pop_front();
  }
  return std::nullopt;
}

bool Recording::SwitchDue(uint64_t piece_end) const {
  SegmentClock ahead = *clock_;
  for (const Unsent& unsent : unsent_) {
    if (unsent.end > piece_end) break;
    if (unsent.group.whole && unsent.group.may_start) {
      return request_.at_clock_time ? WallClockMs() >= next_cut_ms_ : ahead.Due();
    }
    ahead.Take(unsent.group, false);
  }
  return false;
}

void Recording::FileBegun() {
  switching_ = false;
  if (request_.at_clock_time) next_cut_ms_ = NextClockCut(WallClockMs(), request_.segment_ms);
  output_name_ = next_name_;
  files_.push_back(output_name_);
  // The live road made the file in the piece just sent.
  made_.Close();
  made_.calls_before = sender_->calls() - 1;
  // A file that could not be begun leaves the recording waiting, its status
  // recorded.
  KestrumRecordStats stats{};
  stats.struct_size = sizeof stats;
  if (KestrumGetRecordStats(handle_, &stats) == 0 && stats.state == KESTRUM_STATE_WAITING &&
      stats.last_failure != 0) {
    switch_failure_ = stats.last_failure;
  }
}

std::optional<int> Recording::FlushPending() {
  std::optional<int> code;
  if (!pending_.empty()) {
    code = SendPiece(pending_.data(), pending_.size(), StopOnSignals::signal() == 0);
  }
  pending_.clear();
  return code;
}

}  // namespace kestrum_cli
