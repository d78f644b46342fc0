// The stream builder's names for the tests, and the cutting of a built
// stream into the pieces a host hands over one by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "stream_builder/stream_builder.h"

namespace kestrum::testing {

using stream_format::Block;
using stream_format::BlockExtent;
using stream_format::FileHeaderBuilder;
using stream_format::Group;
using stream_format::GroupExtent;
using stream_format::kResolutionCodeVersion;
using stream_format::PseudoRandomBytes;
using stream_format::StreamBuilder;

// Cuts `bytes` into pieces of `piece` bytes (the last one shorter). Mind that
// the live road takes any piece of exactly 40 bytes as a stream header.
std::vector<std::vector<uint8_t>> SplitEvery(std::span<const uint8_t> bytes, size_t piece);
// Cuts `bytes` into pieces of pseudo-random sizes from 1 to `max_piece`,
// never exactly 40 bytes (the live road would take such a piece as a header).
std::vector<std::vector<uint8_t>> SplitRandomly(std::span<const uint8_t> bytes, size_t max_piece,
                                                uint32_t state);

}  // namespace kestrum::testing
