// The sample payload's head, defined once for the packer that writes it
// (processgroup, processpacket) and the program that reads a recording back
// (kestrum extract). Every sample of the video stream begins with a 32-byte
// SampleHeader, then the whole blocks the packer copied from its group.
//
// SampleHeader, eight u32 little-endian fields:
//   0 blocks in this sample   4 index among its group's samples (from 1)
//   8 the group header's frame type (24)   12, 16, 20 its words 32, 36, 40
//  24 its word 28 less kFieldBias (modulo 2^32)   28 always 1
// The group header's other fields are not kept: RebuildGroupHeader gives
// them the values a stream read back carries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "stream_format/layout.h"

namespace kestrum::stream_format {

inline constexpr size_t kSampleHeaderSize = 32;
inline constexpr size_t kSampleBlocksOffset = 0;
inline constexpr size_t kSampleIndexOffset = 4;
inline constexpr size_t kSampleFrameTypeOffset = 8;
inline constexpr size_t kSampleCarriedOffset = 12;
inline constexpr size_t kSampleValueOffset = 24;
inline constexpr size_t kSampleMarkOffset = 28;
inline constexpr uint32_t kSampleMark = 1;

// A sample header's fields.
struct SampleHeader {
  uint32_t blocks = 0;
  uint32_t index = 0;
  uint32_t frame_type = 0;
  std::array<uint32_t, kGroupCarriedWords> carried{};  // the group header's words 32, 36, 40
  uint32_t value = 0;  // the group header's word 28 less kFieldBias
  uint32_t mark = 0;   // kSampleMark in every sample the packer writes

  bool operator==(const SampleHeader&) const = default;
};

// Writes at `out` the header of sample `index` of the `blocks` blocks of the
// group whose 48-byte header is at `group_header`.
void StoreSampleHeader(uint8_t* out, uint32_t blocks, uint32_t index, const uint8_t* group_header);

// Reads the kSampleHeaderSize bytes at `sample`.
SampleHeader ParseSampleHeader(const uint8_t* sample);

// Writes at `out` the 48-byte header of the group `sample` was made from, as
// the stream read back carries it: start code 1, frame number kFieldBias +
// `frame_number`, group type kGroupTypeOther for a key frame and
// kGroupTypeIntra for any other, block count kFieldBias + the sample's
// blocks, then the fields the sample keeps; bytes 8, 20 and 44 are zero.
// The header of a group without blocks is the one of SampleHeader{}.
void RebuildGroupHeader(uint8_t* out, const SampleHeader& sample, uint32_t frame_number);

}  // namespace kestrum::stream_format
