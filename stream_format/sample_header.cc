#include "stream_format/sample_header.h"

#include <cstring>

#include "base/bytes.h"
#include "stream_format/start_rule.h"

namespace kestrum::stream_format {

void StoreSampleHeader(uint8_t* out, uint32_t blocks, uint32_t index, const uint8_t* group_header) {
  store_u32le(out + kSampleBlocksOffset, blocks);
  store_u32le(out + kSampleIndexOffset, index);
  std::memcpy(out + kSampleFrameTypeOffset, group_header + kGroupFrameTypeOffset, 4);
  std::memcpy(out + kSampleCarriedOffset, group_header + kGroupCarriedOffset,
              4 * kGroupCarriedWords);
  store_u32le(out + kSampleValueOffset, load_u32le(group_header + kGroupValueOffset) - kFieldBias);
  store_u32le(out + kSampleMarkOffset, kSampleMark);
}

SampleHeader ParseSampleHeader(const uint8_t* sample) {
  SampleHeader header;
  header.blocks = load_u32le(sample + kSampleBlocksOffset);
  header.index = load_u32le(sample + kSampleIndexOffset);
  header.frame_type = load_u32le(sample + kSampleFrameTypeOffset);
  for (size_t k = 0; k < kGroupCarriedWords; ++k) {
    header.carried[k] = load_u32le(sample + kSampleCarriedOffset + 4 * k);
  }
  header.value = load_u32le(sample + kSampleValueOffset);
  header.mark = load_u32le(sample + kSampleMarkOffset);
  return header;
}

void RebuildGroupHeader(uint8_t* out, const SampleHeader& sample, uint32_t frame_number) {
  std::memset(out, 0, kGroupHeaderSize);
  store_u32le(out, kGroupStartCode);
  store_u32le(out + kGroupFrameNumberOffset, kFieldBias + frame_number);
  store_u32le(out + kGroupTypeOffset,
              sample.frame_type == kFrameTypeKey ? kGroupTypeOther : kGroupTypeIntra);
  store_u32le(out + kGroupBlockCountOffset, kFieldBias + sample.blocks);
  store_u32le(out + kGroupFrameTypeOffset, sample.frame_type);
  store_u32le(out + kGroupValueOffset, sample.value + kFieldBias);
  for (size_t k = 0; k < kGroupCarriedWords; ++k) {
    store_u32le(out + kGroupCarriedOffset + 4 * k, sample.carried[k]);
  }
}

}  // namespace kestrum::stream_format
