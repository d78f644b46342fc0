// Spans of time as the command line gives them, in ffmpeg's forms.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum_cli {

inline constexpr uint64_t kNanosPerSecond = 1000000000;
// Longer than any span an option takes (about 115 days).
inline constexpr uint64_t kLongestTimeSeconds = 10000000;

// A time as ffmpeg's options take one: seconds with an optional fraction
// and unit (10, 10.5, 10s, 500ms, 250us), or [HH:]MM:SS[.fraction] with
// minutes and seconds of one or two digits below 60 (1:30, 00:00:10.5), in
// nanoseconds; UINT64_MAX for one longer than kLongestTimeSeconds. False
// when `text` is no such time (a sign is none).
bool ParseTime(const std::string& text, uint64_t& ns);

}  // namespace kestrum_cli
