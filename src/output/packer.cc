// Sample packing: one group becomes timed samples of the video stream, each a
// 32-byte SampleHeader followed by whole blocks copied from the group.
//
// SampleHeader (u32 little-endian): 0 blocks in this sample, 4 sample index
// (from 1), then GroupHeader bytes 24, 32, 36, 40 as they are, then bytes 28
// less 0x1000, then 1.
#include <cstring>

#include "api/record_instance.h"
#include "output/packet_record.h"
#include "base/bytes.h"
#include "platform/debug_output.h"
#include "mapped_file/read_guard.h"

namespace kestrum {
namespace {

constexpr uint32_t kSampleHeaderSize = 32;
// The largest live sample: the live road's sample buffer.
constexpr auto kMaxLiveSampleSize = static_cast<uint32_t>(kReassemblyBufferSize);
constexpr DWORD kSampleFlags = WM_SF_CLEANPOINT | WM_SF_DISCONTINUITY;
constexpr uint32_t kBias = 0x1000;

void StoreSampleHeader(uint8_t* out, uint32_t blocks, uint32_t index,
                       const uint8_t* group_header) {
  store_u32le(out + 0, blocks);
  store_u32le(out + 4, index);
  std::memcpy(out + 8, group_header + 24, 4);
  std::memcpy(out + 12, group_header + 32, 4);
  std::memcpy(out + 16, group_header + 36, 4);
  std::memcpy(out + 20, group_header + 40, 4);
  store_u32le(out + 24, load_u32le(group_header + 28) - kBias);
  store_u32le(out + 28, 1);
}

// Fills the sample buffer of `size` bytes: `fill(bytes)` writes the payload.
// Returns false when the writer handed out no usable buffer.
template <typename Fill>
bool FillSample(INSSBuffer* sample, DWORD size, Fill fill) {
  BYTE* bytes = nullptr;
  DWORD capacity = 0;
  if (FAILED(sample->GetBuffer(&bytes)) || bytes == nullptr ||
      FAILED(sample->GetMaxLength(&capacity)) || capacity < size) {
    return false;
  }
  fill(bytes);
  sample->SetLength(size);
  return true;
}

// Copies the group's video blocks, in group order, to `out`: the blocks the
// counting walk of processgroup met, found in one walk rather than one
// FindVideoBlock lookup from the first block for each of them.
void CopyVideoBlocks(const GroupView& group, uint8_t* out) {
  BlockView block;
  for (const uint8_t* cur = group.first_block; cur < group.end; cur = block.end) {
    if (ParseBlock(block, cur, group.end) != ParseResult::Complete) break;
    if (IsVideoBlock(block)) {
      const auto length = static_cast<size_t>(block.end - block.header);
      std::memcpy(out, block.header, length);
      out += length;
    }
  }
}

}  // namespace

int32_t RecordInstance::processgroup(const GroupView& group) {
  OutputDebugStringA("enter processgroup");
  uint32_t count = 0;
  uint64_t blocks_size = 0;
  if (group.valid() && group.first_block != group.end) {
    BlockView block;
    for (const uint8_t* cur = group.first_block; cur < group.end; cur = block.end) {
      if (ParseBlock(block, cur, group.end) != ParseResult::Complete) break;
      if (IsVideoBlock(block)) {
        ++count;
        blocks_size += static_cast<uint64_t>(block.end - block.header);
      }
    }
  }
  const bool writable = writer_ready != 0 && writer != nullptr && writer_advanced != nullptr;
  if (count != 0 && writable) {
    OutputDebugStringA("VideoBlock!");
    const uint64_t size = kSampleHeaderSize + blocks_size;
    if (size > kMaxLiveSampleSize) {
      DebugLine("processgroup : group of %u video blocks needs %llu bytes, over %u; not written",
                count, static_cast<unsigned long long>(size), kMaxLiveSampleSize);
      count = 0;
    }
    const auto sample_size = static_cast<DWORD>(size);
    for (uint32_t k = 1; k <= count; ++k) {
      CriticalSectionGuard guard(&lock);
      DebugLineNumber("videotime: ", static_cast<int32_t>(static_cast<uint32_t>(next_video_time)));
      INSSBuffer* sample = nullptr;
      if (FAILED(writer->AllocateSample(sample_size, &sample)) || sample == nullptr) continue;
      const bool filled = FillSample(sample, sample_size, [&](uint8_t* out) {
        StoreSampleHeader(out, count, k, group.header);
        CopyVideoBlocks(group, out + kSampleHeaderSize);
      });
      if (filled) {
        writer_advanced->WriteStreamSample(kVideoStreamNumber, next_video_time,
                                           static_cast<DWORD>(next_video_time / 10000),
                                           kFrameDuration, kSampleFlags, sample);
      }
      next_video_time += kFrameDuration;
      OutputDebugStringA("!!!!Write Sample!!!!");
      sample->Release();
    }
  }
  OutputDebugStringA("leave processgroup");
  return 0;
}

// The file road's packets may lie in the packet source's mapping of the
// stored stream, which can fault under the reader (read_guard.h): every read
// of them below is guarded, and a fault marks the packet unreadable.
int32_t RecordInstance::processpacket(const uint8_t* data, const PacketRecord& record) {
  const bool writable = writer_ready != 0 && writer != nullptr && writer_advanced != nullptr;
  if (!writable) return 1;
  if (data == nullptr || record.length < static_cast<uint32_t>(kGroupHeaderSize)) {
    DebugLine("processpacket : packet of %lu bytes holds no group header; not written",
              static_cast<unsigned long>(data != nullptr ? record.length : 0));
    return 1;
  }
  // What the header and the block headers say, read in one guarded pass.
  struct Layout {
    const uint8_t* data;
    uint32_t length;
    stream_format::FileRoadGroup group;
  } layout{data, record.length, {}};
  const bool read = stream_format::ReadGuarded(data, record.length, [](void* context) {
    Layout& l = *static_cast<Layout*>(context);
    l.group = stream_format::ReadFileRoadGroup(l.data, l.length);
  }, &layout);
  if (!read) {
    packet_unreadable = true;
    return 1;
  }
  // The blocks the header counts must lie within the packet.
  const stream_format::FileRoadGroup& group = layout.group;
  if (group.refused()) {
    if (group.count > 0) {
      DebugLine("processpacket : block count field 0x%X counts %ld blocks, more than the packet's "
                "%lu bytes hold; not written",
                group.field, static_cast<long>(group.count),
                static_cast<unsigned long>(record.length));
    } else {
      DebugLine("processpacket : block count field 0x%X counts no blocks; not written",
                group.field);
    }
  }
  if (group.blocks_size == 0) return 1;
  const int32_t count = group.count;
  const uint64_t blocks_size = group.blocks_size;
  const uint64_t size = kSampleHeaderSize + blocks_size;
  if (size > 0xFFFFFFFFu) return 1;
  const auto sample_size = static_cast<DWORD>(size);
  const QWORD time = static_cast<QWORD>(record.time_ms) * 10000;

  for (int32_t k = 1; k <= count; ++k) {
    CriticalSectionGuard guard(&lock);
    INSSBuffer* sample = nullptr;
    if (FAILED(writer->AllocateSample(sample_size, &sample)) || sample == nullptr) continue;
    bool copied = true;
    const bool filled = FillSample(sample, sample_size, [&](uint8_t* out) {
      uint8_t group_header[kGroupHeaderSize];
      copied = stream_format::GuardedCopy(group_header, data, kGroupHeaderSize) &&
               stream_format::GuardedCopy(out + kSampleHeaderSize, data + kGroupHeaderSize,
                                          static_cast<size_t>(blocks_size));
      StoreSampleHeader(out, static_cast<uint32_t>(count), static_cast<uint32_t>(k),
                        group_header);
    });
    if (!copied) {
      // Not written: the source failed under the copy.
      sample->Release();
      packet_unreadable = true;
      return 1;
    }
    if (filled) {
      writer_advanced->WriteStreamSample(kVideoStreamNumber, time, record.time_ms, kFrameDuration,
                                         kSampleFlags, sample);
    }
    sample->Release();
  }
  return 1;
}

}  // namespace kestrum
