#include "support/expected_samples.h"

#include <cstring>

#include "base/bytes.h"
#include "stream_format/frame_time.h"
#include "stream_format/layout.h"

namespace kestrum::testing {

std::vector<uint8_t> SampleHeaderBytes(uint32_t blocks, uint32_t index,
                                       const uint8_t* group_header) {
  std::vector<uint8_t> out(32);
  store_u32le(out.data() + 0, blocks);
  store_u32le(out.data() + 4, index);
  std::memcpy(out.data() + 8, group_header + 24, 4);
  std::memcpy(out.data() + 12, group_header + 32, 12);
  store_u32le(out.data() + 24, load_u32le(group_header + 28) - stream_format::kFieldBias);
  store_u32le(out.data() + 28, 1);
  return out;
}

std::vector<ProbedPacket> ExpectedLivePackets(const StreamBuilder& stream) {
  const std::vector<uint8_t>& bytes = stream.bytes();
  std::vector<ProbedPacket> packets;
  uint64_t time = 0;
  for (const GroupExtent& group : stream.groups()) {
    std::vector<const BlockExtent*> video;
    for (const BlockExtent& block : group.blocks) {
      if (block.kind >= 0x1003 && block.kind <= 0x1005) video.push_back(&block);
    }
    const auto count = static_cast<uint32_t>(video.size());
    for (uint32_t k = 1; k <= count; ++k) {
      std::vector<uint8_t> sample = SampleHeaderBytes(count, k, bytes.data() + group.begin);
      for (const BlockExtent* block : video) {
        sample.insert(sample.end(), bytes.begin() + static_cast<ptrdiff_t>(block->begin),
                      bytes.begin() + static_cast<ptrdiff_t>(block->end));
      }
      packets.push_back(ExpectedPacket(sample, time));
      time += stream_format::kFrameDuration;
    }
  }
  return packets;
}

std::vector<ProbedPacket> ExpectedFilePackets(const StreamBuilder& stream) {
  const std::vector<uint8_t>& bytes = stream.bytes();
  std::vector<ProbedPacket> packets;
  uint64_t time = 0;
  for (const GroupExtent& group : stream.groups()) {
    const auto count = static_cast<uint32_t>(group.blocks.size());
    for (uint32_t k = 1; k <= count; ++k) {
      std::vector<uint8_t> sample = SampleHeaderBytes(count, k, bytes.data() + group.begin);
      sample.insert(sample.end(), bytes.begin() + static_cast<ptrdiff_t>(group.first_block),
                    bytes.begin() + static_cast<ptrdiff_t>(group.end));
      packets.push_back(ExpectedPacket(sample, time));
    }
    time += stream_format::kFrameDuration;
  }
  return packets;
}

}  // namespace kestrum::testing
