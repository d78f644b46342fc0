// Sample packing: one group becomes timed samples of the video stream, each a
// 32-byte SampleHeader (stream_format/sample_header.h) followed by whole
// blocks copied from the group.
#include <cstring>

#include "api/record_instance.h"
#include "output/packet_record.h"
#include "diagnostics/lines.h"
#include "platform/debug_output.h"
#include "mapped_file/read_guard.h"
#include "stream_format/sample_header.h"

namespace kestrum {
namespace {

using stream_format::kSampleHeaderSize;
using stream_format::StoreSampleHeader;

// The largest live sample: the live road's sample buffer.
constexpr auto kMaxLiveSampleSize = static_cast<uint32_t>(kReassemblyBufferSize);
constexpr DWORD kSampleFlags = WM_SF_CLEANPOINT | WM_SF_DISCONTINUITY;

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

// Writes the `count` samples of one group, each of `size` bytes, in the
// order the writer sees on both roads: under the lock, `road.Begin()`; the
// writer allocates the sample (skipped when it cannot); `road.Fill(out, k)`
// lays out sample k (false when the source failed under it: the sample is
// given back unwritten and the run ends, returning false); the writer takes
// it at `road.Time()`, with the send time in milliseconds; `road.Written()`;
// the sample is released.
template <typename Road>
bool WriteSamples(RecordInstance& instance, uint32_t count, DWORD size, Road& road) {
  for (uint32_t k = 1; k <= count; ++k) {
    CriticalSectionGuard guard(&instance.packer.lock);
    road.Begin();
    INSSBuffer* sample = nullptr;
    const HRESULT allocated = instance.session.writer->AllocateSample(size, &sample);
    if (FAILED(allocated) || sample == nullptr) {
      instance.stats.SampleWritten(FAILED(allocated) ? allocated : E_POINTER, 0, 0);
      continue;
    }
    bool read = true;
    const bool filled = FillSample(sample, size, [&](uint8_t* out) { read = road.Fill(out, k); });
    if (!read) {
      sample->Release();
      return false;
    }
    if (filled) {
      const QWORD time = road.Time();
      const HRESULT written = instance.session.writer_advanced->WriteStreamSample(
          kVideoStreamNumber, time, static_cast<DWORD>(time / 10000), kFrameDuration, kSampleFlags,
          sample);
      instance.stats.SampleWritten(written, time, size);
    }
    road.Written();
    sample->Release();
  }
  return true;
}

}  // namespace

int32_t RecordInstance::processgroup(const GroupView& group) {
  OutputDebugStringA(lines::kEnterProcessGroup);
  stats.GroupHandedOn();
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
  const bool writable =
      session.writer_ready != 0 && session.writer != nullptr && session.writer_advanced != nullptr;
  if (count != 0 && writable) {
    OutputDebugStringA(lines::kVideoBlock);
    const uint64_t size = kSampleHeaderSize + blocks_size;
    if (size > kMaxLiveSampleSize) {
      DebugLine(lines::kGroupTooLargeFormat, count, static_cast<unsigned long long>(size),
                kMaxLiveSampleSize);
      stats.GroupDropped();
      count = 0;
    }
    // The live road times its samples from the instance's clock.
    struct LiveRoad {
      RecordInstance& instance;
      const GroupView& group;
      uint32_t count;
      void Begin() {
        DebugLineNumber(lines::kVideoTimePrefix, static_cast<int32_t>(
                                           static_cast<uint32_t>(instance.packer.next_video_time)));
      }
      bool Fill(uint8_t* out, uint32_t k) {
        StoreSampleHeader(out, count, k, group.header);
        CopyVideoBlocks(group, out + kSampleHeaderSize);
        return true;
      }
      QWORD Time() const { return instance.packer.next_video_time; }
      void Written() {
        instance.packer.next_video_time += kFrameDuration;
        OutputDebugStringA(lines::kWriteSample);
      }
    } road{*this, group, count};
    WriteSamples(*this, count, static_cast<DWORD>(size), road);
  }
  OutputDebugStringA(lines::kLeaveProcessGroup);
  return 0;
}

// The file road's packets may lie in the packet source's mapping of the
// stored stream, which can fault under the reader (read_guard.h): every read
// of them below is guarded, and a fault marks the packet unreadable.
int32_t RecordInstance::processpacket(const uint8_t* data, const PacketRecord& record) {
  const bool writable =
      session.writer_ready != 0 && session.writer != nullptr && session.writer_advanced != nullptr;
  if (!writable) return 1;
  stats.GroupHandedOn();
  if (data == nullptr || record.length < static_cast<uint32_t>(kGroupHeaderSize)) {
    stats.GroupDropped();
    DebugLine(lines::kPacketNoGroupHeaderFormat,
              static_cast<unsigned long>(data != nullptr ? record.length : 0));
    return 1;
  }
  // What the header and the block headers say, read in one guarded pass.
  struct Layout {
    const uint8_t* data;
    uint32_t length;
    stream_format::FileRoadGroup group;
  } layout{data, record.length, {}};
  const bool read = mapped_file::ReadGuarded(data, record.length, [](void* context) {
    Layout& l = *static_cast<Layout*>(context);
    l.group = stream_format::ReadFileRoadGroup(l.data, l.length);
  }, &layout);
  if (!read) {
    packer.packet_unreadable = true;
    return 1;
  }
  // The blocks the header counts must lie within the packet.
  const stream_format::FileRoadGroup& group = layout.group;
  if (group.refused()) {
    stats.GroupDropped();
    if (group.count > 0) {
      DebugLine(lines::kPacketBlocksPastEndFormat, group.field, static_cast<long>(group.count),
                static_cast<unsigned long>(record.length));
    } else {
      DebugLine(lines::kPacketNoBlocksFormat, group.field);
    }
  }
  if (group.blocks_size == 0) return 1;
  const uint64_t size = kSampleHeaderSize + group.blocks_size;
  if (size > 0xFFFFFFFFu) return 1;
  // The file road gives every sample the packet's time, and reads a source
  // that may fail under the copy.
  struct FileRoad {
    const uint8_t* data;
    uint32_t count;
    uint64_t blocks_size;
    QWORD time;
    void Begin() {}
    bool Fill(uint8_t* out, uint32_t k) const {
      uint8_t group_header[kGroupHeaderSize];
      const bool copied =
          mapped_file::GuardedCopy(group_header, data, kGroupHeaderSize) &&
          mapped_file::GuardedCopy(out + kSampleHeaderSize, data + kGroupHeaderSize,
                                     static_cast<size_t>(blocks_size));
      StoreSampleHeader(out, count, k, group_header);
      return copied;
    }
    QWORD Time() const { return time; }
    void Written() {}
  } road{data, static_cast<uint32_t>(group.count), group.blocks_size,
         static_cast<QWORD>(record.time_ms) * 10000};
  // Not written: the source failed under the copy.
  if (!WriteSamples(*this, road.count, static_cast<DWORD>(size), road)) {
    packer.packet_unreadable = true;
  }
  return 1;
}

}  // namespace kestrum
