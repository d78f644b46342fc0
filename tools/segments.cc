#include "segments.h"

#include <cmath>
#include <cstdlib>

#include "base/bytes.h"
#include "stream_format/group_scan.h"
#include "stream_format/start_rule.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

constexpr size_t kMaxWidth = 20;
constexpr uint64_t kFrameMs = 40;
constexpr double kMaxSeconds = 1e7;  // about 115 days

}  // namespace

bool OutputPattern::Parse(const std::string& pattern, std::string& error) {
  std::string* part = &prefix_;
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      *part += pattern[i];
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    const bool zero = j < pattern.size() && pattern[j] == '0';
    if (zero) ++j;
    size_t width = 0;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width <= kMaxWidth) {
      width = width * 10 + static_cast<size_t>(pattern[j++] - '0');
    }
    if (j >= pattern.size() || pattern[j] != 'd' || width > kMaxWidth) {
      error = "OUTPUT_PATTERN '" + pattern + "' has '" + pattern.substr(i, j + 1 - i) +
              "': only %d (such as %03d) numbers the files; write %% for a '%'";
      return false;
    }
    ++conversions;
    zero_ = zero;
    width_ = width;
    part = &suffix_;
    i = j;
  }
  if (conversions != 1) {
    error = "OUTPUT_PATTERN '" + pattern + "' must hold exactly one %d (such as cam1-%03d.asf), not " +
            std::to_string(conversions);
    return false;
  }
  return true;
}

std::string OutputPattern::Name(uint64_t number) const {
  std::string digits = std::to_string(number);
  if (digits.size() < width_) digits.insert(0, width_ - digits.size(), zero_ ? '0' : ' ');
  return prefix_ + digits + suffix_;
}

bool ParseSegmentTime(const std::string& text, uint64_t& milliseconds, std::string& error) {
  char* end = nullptr;
  const double seconds = text.empty() || text[0] == '-' || text[0] == '+' ? -1 : std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
      seconds > kMaxSeconds) {
    error = "--segment-time '" + text + "' is not a number of seconds above 0";
    return false;
  }
  milliseconds = static_cast<uint64_t>(std::llround(seconds * 1000.0));
  if (milliseconds == 0) milliseconds = 1;
  return true;
}

bool SegmentClock::StartsNewFile(const uint8_t* piece, size_t size) {
  const stream_format::GroupCheck check = stream_format::CheckGroup(piece, size);
  if (check.result != stream_format::ParseResult::Complete || check.size != size) {
    return false;
  }
  const bool may_start = stream_format::MayStartRecording(stream_type_, piece);
  const bool begins = may_start && file_ms_ >= limit_ms_;
  if (begins) {
    file_ms_ = 0;
    started_ = true;
  }
  if (road_ == Road::kFile) {
    file_ms_ += kFrameMs;
    return begins;
  }
  if (!started_ && !may_start) return begins;  // the live road drops it
  started_ = true;
  const uint32_t blocks = stream_format::LiveRoadBlockCount(piece);
  size_t at = stream_format::kGroupHeaderSize;
  for (uint32_t k = 0; k < blocks; ++k) {
    if (stream_format::IsVideoBlockKind(kestrum::load_u16le(piece + at))) file_ms_ += kFrameMs;
    at += stream_format::kBlockHeaderSize +
          kestrum::load_u32le(piece + at + stream_format::kBlockLengthOffset);
  }
  return begins;
}

}  // namespace kestrum_cli
