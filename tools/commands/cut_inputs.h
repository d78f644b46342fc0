// The inputs of `kestrum cut` as one recording: files Kestrum wrote, of one
// stream header, in the order of their start times; read header by header
// before anything is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "asf_format/muxer.h"
#include "frame/wall_clock.h"

namespace kestrum_cli {

struct CutInput {
  std::string path;
  // The wall clock of its first sample (its creation date); none when unset.
  std::optional<UnixMs> start;
};

struct CutInputs {
  std::vector<CutInput> files;
  // The first input's header as its writer was given it, for the output.
  kestrum::asf::FileInfo info;
  uint16_t stream_type = 0;  // of the stream header they carry
};

// Reads the header of each of `paths`. The exit code when they are refused,
// with its message printed: an input missing or a folder (3); not an ASF
// file, not written by Kestrum, of another stream header than the first, or
// started more than a second before the input given before it (4); a file
// given twice (2).
std::optional<int> ReadCutInputs(const std::string& command, const std::vector<std::string>& paths,
                                 CutInputs& inputs);

}  // namespace kestrum_cli
