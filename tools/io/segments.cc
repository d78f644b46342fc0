#include "io/segments.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

#include "base/bytes.h"
#include "frame/cli.h"
#include "frame/time_text.h"
#include "io/output_path.h"
#include "stream_format/frame_time.h"
#include "stream_format/group_scan.h"
#include "stream_format/start_rule.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

using stream_format::kFrameMs;
constexpr uint64_t kMaxSeconds = 10000000;  // about 115 days
// Numbers free in a row after which a series' files that exist are taken
// to have ended.
constexpr uint64_t kSeriesGap = 1000;

}  // namespace

std::string ForeignInSeries(const OutputPattern& pattern, OutputKind kind,
                            const std::vector<std::string>& inputs) {
  uint64_t free = 0;  // numbers free in a row
  for (uint64_t number = 0; free < kSeriesGap; ++number) {
    const std::string name = pattern.Name(number);
    struct stat info;
    if (::stat(name.c_str(), &info) != 0) {
      ++free;
      continue;
    }
    free = 0;
    bool input = false;
    for (const std::string& in : inputs) input = input || IdOfPath(name) == IdOfInput(in);
    std::string foreign = input ? "" : ForeignOutput(name, name, kind);
    if (!foreign.empty()) return foreign;
  }
  return "";
}

OutputRefusal RepeatInSeries(const std::string& name, const std::vector<std::string>& written) {
  const FileId id = IdOfPath(name);
  for (const std::string& earlier : written) {
    if (id == IdOfPath(earlier)) {
      return {kExitUsage, "OUTPUT '" + name + "' is a file this series has written already"};
    }
  }
  return {};
}

bool ParseSegmentTime(const std::string& text, uint64_t& milliseconds, std::string& error) {
  const bool negative = !text.empty() && text[0] == '-';
  uint64_t ns = 0;
  if (!ParseTime(negative ? text.substr(1) : text, ns)) {
    error = "--segment-time '" + text +
            "' is not a time: seconds such as 10, 10.5, 10s or 500ms, or [HH:]MM:SS[.fraction] "
            "such as 1:30 or 00:00:10.5";
    return false;
  }
  if (negative || ns == 0) {
    error = "--segment-time '" + text + "' is not above 0: a file must hold some media";
    return false;
  }
  if (ns > kMaxSeconds * kNanosPerSecond) {
    error = "--segment-time '" + text + "' is longer than " + std::to_string(kMaxSeconds) +
            " seconds";
    return false;
  }
  milliseconds = std::max<uint64_t>(1, (ns + 500000) / 1000000);
  return true;
}

int64_t NextClockCut(int64_t now_ms, uint64_t period_ms) {
  const auto seconds = static_cast<std::time_t>(now_ms / 1000);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  const auto since_midnight = static_cast<uint64_t>(
      ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + now_ms % 1000);
  return now_ms + static_cast<int64_t>(period_ms - since_midnight % period_ms);
}

int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool SegmentClock::StartsNewFile(const uint8_t* piece, size_t size) {
  const Group group = Measure(piece, size);
  if (road_ == Road::kLive) return Take(group, Due());
  if (!group.whole) return false;
  const bool begins = group.may_start && Due();
  if (begins) file_ms_ = 0;
  file_ms_ += kFrameMs;
  return begins;
}

SegmentClock::Group SegmentClock::Measure(const uint8_t* piece, size_t size) const {
  Group group;
  const stream_format::GroupCheck check = stream_format::CheckGroup(piece, size);
  if (check.result != stream_format::ParseResult::Complete || check.size != size) return group;
  group.whole = true;
  group.may_start = stream_format::MayStartRecording(stream_type_, piece);
  if (road_ == Road::kFile) return group;
  const uint32_t blocks = stream_format::LiveRoadBlockCount(piece);
  size_t at = stream_format::kGroupHeaderSize;
  for (uint32_t k = 0; k < blocks; ++k) {
    if (stream_format::IsVideoBlockKind(kestrum::load_u16le(piece + at))) group.ms += kFrameMs;
    at += stream_format::kBlockHeaderSize +
          kestrum::load_u32le(piece + at + stream_format::kBlockLengthOffset);
  }
  return group;
}

bool SegmentClock::Take(const Group& group, bool switching) {
  if (!group.whole) return false;
  const bool begins = group.may_start && switching;
  if (begins) {
    file_ms_ = 0;
    started_ = true;
  }
  if (!started_ && !group.may_start) return begins;  // the live road drops it
  started_ = true;
  file_ms_ += group.ms;
  return begins;
}

}  // namespace kestrum_cli
