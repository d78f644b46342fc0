// Shared pieces of the write-fault and crash tests: recorded streams, the
// packets a file of them holds, and what ffprobe must read back from what
// survived.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "convert/transfer.h"
#include "support/probe.h"
#include "support/stream_builder.h"

namespace kestrum::testing {

// `groups` groups of one video block each, payloads drawn from
// [min_payload, max_payload], a start group every 25th; 704 x 576, so the
// profile declares 4,055,040 bit/s.
StreamBuilder RecordingStream(size_t groups, size_t min_payload, size_t max_payload,
                              uint32_t state);

// Where each sample of a finished file lies: the byte after the last packet
// holding any of it. A prefix of the file that long holds the sample whole.
std::vector<uint64_t> SampleEnds(const std::vector<uint8_t>& file);

// Checks that ffprobe reads from `path` the first samples of `expected`,
// every one of the first `at_least` (those whole within the file's complete
// packets) exactly. A truncated file ends inside a sample, and ffprobe hands
// out what it has of that one too: only the last sample read may differ, and
// only when it is not among those. Returns how many samples were read whole
// (-1 when ffprobe could not read the file at all).
int64_t ExpectReadablePrefix(const std::string& path, const std::vector<ProbedPacket>& expected,
                             size_t at_least);

// A packet source over `stream`: its header, then one group packet per
// group, 40 ms apart. `on_packet(k)` runs before packet k is handed out.
PacketSource ScriptedSource(const StreamBuilder& stream, void (*on_packet)(size_t) = nullptr);

}  // namespace kestrum::testing
