// Synthetic streams: a header and groups with random payloads in a realistic
// mix, optionally with junk, malformed groups and a cut last group. The same
// options (generator state included) give the same bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrum_cli {

struct GenerateOptions {
  uint64_t frames = 250;
  bool explicit_size = true;  // picture size in the header (newer version) or a code
  uint16_t width = 704;
  uint16_t height = 576;
  uint32_t resolution = 0x1003;  // when !explicit_size
  uint16_t stream_type = 0x1001;
  int32_t video_standard = -1;  // -1: 0x1001 for PAL heights (576, 288, 144, 72), else 0x1002
  uint64_t random_state = 1;
  uint32_t key_interval = 25;     // a start group every this many groups, from the first
  uint32_t bitrate = 0;           // bit/s of the video; 0: 2 Mbit/s scaled to the picture area
  bool junk = false;              // junk runs between groups
  bool malformed = false;         // malformed groups between groups
  uint64_t problem_interval = 0;  // junk/malformed after every this many groups; 0: frames / 4
  bool truncate = false;          // cut the last group in half
  bool video_only = false;        // no blocks of kinds 0x1001/0x1002
  bool one_block = false;         // one video block per group (no split video)
  // Every group this many video blocks (1..255) of the largest payload, and
  // nothing else; 0: the mix above.
  uint32_t largest_blocks = 0;
};

struct GenerateSummary {
  uint64_t groups = 0;        // whole groups written
  uint64_t start_groups = 0;  // of which may start a recording
  uint64_t bytes = 0;
  uint64_t junk_runs = 0;
  uint64_t malformed_groups = 0;
  uint64_t blocks[5] = {};     // whole groups' blocks, by kind 0x1001..0x1005
  uint32_t average_group = 0;  // planned average video bytes per group
};

// Writes the stream through `write`, which returns false to stop (a write
// error). `progress` gets the bytes written so far now and then. Returns
// false when `write` failed.
bool GenerateStream(const GenerateOptions& options,
                    const std::function<bool(const uint8_t*, size_t)>& write,
                    const std::function<void(uint64_t)>& progress, GenerateSummary& summary);

// Why the library would refuse the picture size of `options` (whatever its
// stream type), in words; empty when it takes it.
std::string PictureSizeRefusal(const GenerateOptions& options);

// The planned average video bytes per group for `options`.
uint32_t AverageGroupBytes(const GenerateOptions& options);

}  // namespace kestrum_cli
