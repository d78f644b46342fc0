#include "commands/packed_samples.h"

#include <cstring>

#include "asf_format/objects.h"
#include "base/bytes.h"
#include "stream_format/group_scan.h"
#include "stream_format/sample_header.h"
#include "stream_format/start_rule.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;
namespace stream_format = kestrum::stream_format;
using stream_format::kSampleHeaderSize;

const uint8_t* CarriedStreamHeader(const asf::HeaderInfo& h) {
  return h.streams.front().format.data() + asf::kBitmapInfoHeaderSize;
}

bool IsPackedSample(const std::vector<uint8_t>& s) {
  if (s.size() < kSampleHeaderSize) return false;
  const stream_format::SampleHeader header = stream_format::ParseSampleHeader(s.data());
  const uint32_t blocks = header.blocks;
  if (blocks == 0 || blocks > stream_format::kBlockCountMask || header.index == 0 ||
      header.index > blocks || header.mark != stream_format::kSampleMark) {
    return false;
  }
  const stream_format::BlockWalk walk = stream_format::WalkBlocks(
      s.data() + kSampleHeaderSize, s.size() - kSampleHeaderSize, 0, blocks);
  return walk.result == stream_format::ParseResult::Complete &&
         walk.size == s.size() - kSampleHeaderSize;
}

bool MayStartRecording(uint16_t stream_type, const std::vector<uint8_t>& s) {
  uint8_t g[stream_format::kGroupHeaderSize];
  stream_format::RebuildGroupHeader(g, stream_format::ParseSampleHeader(s.data()), 0);
  if (stream_format::MayStartRecording(stream_type, g)) return true;
  const uint32_t type = kestrum::load_u32le(g + stream_format::kGroupTypeOffset) ^
                        stream_format::kGroupTypeIntra ^ stream_format::kGroupTypeOther;
  kestrum::store_u32le(g + stream_format::kGroupTypeOffset, type);
  return stream_format::MayStartRecording(stream_type, g);
}

bool SameGroup(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  constexpr size_t kAfterIndex = stream_format::kSampleIndexOffset + 4;
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), stream_format::kSampleIndexOffset) == 0 &&
         std::memcmp(a.data() + kAfterIndex, b.data() + kAfterIndex, a.size() - kAfterIndex) == 0;
}

}  // namespace kestrum_cli
