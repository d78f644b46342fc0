// What the library should write for a stream, worked out from the stream
// builder's record of it: the oracle end-to-end tests compare files against.
#pragma once

#include <cstdint>
#include <vector>

#include "support/probe.h"
#include "support/stream_pieces.h"

namespace kestrum::testing {

// The 32-byte sample header for sample `index` (from 1) of `blocks` blocks of
// the group whose 48-byte header is at `group_header`.
std::vector<uint8_t> SampleHeaderBytes(uint32_t blocks, uint32_t index, const uint8_t* group_header);

// The packets a live recording of every group of `stream`, from its first
// group on, yields: per group, one sample per video block, each carrying all
// of the group's video blocks, 40 ms apart on one clock.
std::vector<ProbedPacket> ExpectedLivePackets(const StreamBuilder& stream);

// The packets the file road yields for every group of `stream`: per group,
// one sample per block (every kind), all at the group's time, 40 ms x the
// group's index.
std::vector<ProbedPacket> ExpectedFilePackets(const StreamBuilder& stream);

}  // namespace kestrum::testing
