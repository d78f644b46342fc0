// The stream's clock: every group is one frame of 40 ms, 25 a second. The
// live road's samples, the file road's group times, the packet source's
// times and every duration the program reads or tells run on it.
#pragma once

#include <cstdint>

namespace kestrum::stream_format {

// A frame's time in 100-ns units, the unit of ASF sample times.
inline constexpr uint64_t kFrameDuration = 400000;
// The same in milliseconds and in seconds, and the frames of a second.
inline constexpr uint32_t kFrameMs = static_cast<uint32_t>(kFrameDuration / 10000);
inline constexpr double kFrameSeconds = kFrameMs / 1000.0;
inline constexpr uint32_t kFramesPerSecond = 1000 / kFrameMs;

static_assert(kFrameSeconds == 0.04 && kFramesPerSecond == 25);

}  // namespace kestrum::stream_format
