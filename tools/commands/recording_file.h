// What makes an ASF file one that Kestrum wrote, and its samples the
// packer's: for the commands that read a recording back (extract, cut,
// inspect).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asf_format/reader.h"

namespace kestrum_cli {

// The video stream every Kestrum file holds, and its FOURCC.
inline constexpr uint8_t kRecordingStream = 8;
inline constexpr uint32_t kFourccXqv4 = 0x34565158;

// Why the file `h` describes is not one Kestrum wrote (its only stream is
// an XQV4 video stream 8 carrying an accepted 40-byte stream header); empty
// when it is.
std::string ForeignReason(const kestrum::asf::HeaderInfo& h);

// The 40-byte stream header a Kestrum file carries (ForeignReason empty).
const uint8_t* CarriedStreamHeader(const kestrum::asf::HeaderInfo& h);

// Whether `s` is a sample as the packer lays it out: the sample header, then
// exactly its count of whole blocks (1 to 255), and the closing 1.
bool IsPackedSample(const std::vector<uint8_t>& s);

// Whether the group a packed sample `s` was made from may start a
// recording under `stream_type`, as extract rebuilds its header: the group
// type is not kept, so either type (as extract gives a first group the one
// that lets it start).
bool MayStartRecording(uint16_t stream_type, const std::vector<uint8_t>& s);

// Samples of the same group: the same bytes but for the index field.
bool SameGroup(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace kestrum_cli
