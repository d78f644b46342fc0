// The ASF Header Object and the Data Object's 50-byte header, built from a
// FileInfo and the totals known so far. The header is written once at the
// start with HeaderTotals{} (Broadcast set, every size, count and duration
// zero, and the Data Object's size its own 50-byte header's, so that readers
// which insist on a size take a file that was never ended) and rewritten in
// place at the end with the real totals: both images have the same length,
// since only fixed-size fields differ. A stream written where nothing can be
// patched keeps its first header; its streams are declared not seekable, as
// no index will follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/status.h"
#include "asf_format/muxer.h"
#include "asf_format/object_writer.h"

namespace kestrum::asf {

// Packet sizes a FileInfo may ask for: the range readers accept, and the
// largest size whose payload and padding lengths still fit a WORD.
inline constexpr uint32_t kMinPacketSize = 100;
inline constexpr uint32_t kMaxPacketSize = 65536;

struct HeaderTotals {
  bool finished = false;  // false: Broadcast set, the fields below written as zero
  bool seekable = false;  // a Simple Index follows the Data Object for each video stream
  bool streamed = false;  // written front to back: never finished, never indexed
  uint64_t file_size = 0;
  uint64_t data_packets = 0;
  uint64_t play_duration = 0;  // 100-ns units, preroll included
  uint64_t send_duration = 0;  // 100-ns units
  // Largest sample of each stream, in FileInfo::streams order; missing: 0.
  std::vector<uint32_t> max_object_size;
};

// kOk when `info` can be written: 1 to 127 streams with distinct numbers
// 1..127, formats long enough for their kind (video: a BITMAPINFOHEADER whose
// biSize lies within the format), strings short enough for their WORD
// lengths, packet size 0 or kMinPacketSize..kMaxPacketSize. kInvalidArgument or
// kInvalidInputFormat otherwise.
Status ValidateFileInfo(const FileInfo& info);

// The whole header: Header Object (File Properties, Stream Properties per
// stream, Header Extension with an Extended Stream Properties per stream,
// Content Description, Stream Bitrate Properties) and the Data Object's
// header. `info` must have passed ValidateFileInfo.
std::vector<uint8_t> BuildHeader(const FileInfo& info, uint32_t packet_size,
                                 const HeaderTotals& totals);
// The same into `out`, emptied first: no allocation when its capacity holds
// the header (the final header is as long as the first).
void BuildHeader(const FileInfo& info, uint32_t packet_size, const HeaderTotals& totals,
                 std::vector<uint8_t>& out);

// The fields of an ended header image from File Size through Flags
// (kFileSizeThroughFlags bytes at `fields`) as they stand until the end is
// confirmed: Broadcast still set, and File Size the count of bytes noted
// durable (Muxer::MarkDurable).
void LeaveEndUnconfirmed(uint8_t* fields, uint64_t durable);

// The pieces BuildHeader is made of, each appending one complete object.
void AppendFileProperties(ObjectWriter& w, const FileInfo& info, uint32_t packet_size,
                          const HeaderTotals& totals);
void AppendStreamProperties(ObjectWriter& w, const StreamInfo& stream);
void AppendExtendedStreamProperties(ObjectWriter& w, const StreamInfo& stream,
                                    uint32_t max_object_size, bool streamed = false);
void AppendHeaderExtension(ObjectWriter& w, const FileInfo& info, const HeaderTotals& totals);
void AppendContentDescription(ObjectWriter& w, const FileInfo& info);
void AppendStreamBitrateProperties(ObjectWriter& w, const FileInfo& info);
void AppendDataObjectHeader(ObjectWriter& w, const Guid& file_id, const HeaderTotals& totals,
                            uint32_t packet_size);

}  // namespace kestrum::asf
