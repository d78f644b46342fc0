// The packer's samples as a recording holds them, read back by the commands
// that rebuild groups from them (extract, cut); which files Kestrum wrote:
// io/kestrum_asf.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asf_format/reader.h"

namespace kestrum_cli {

// The video stream every Kestrum file holds.
inline constexpr uint8_t kRecordingStream = 8;

// The 40-byte stream header a Kestrum file carries (NotKestrumReason empty).
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
