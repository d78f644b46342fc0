// What a repair tells of a file whose header says it ended but that is not
// as a clean end leaves it (repair.h): the damage, first thing first, in
// words with its place, and the whole samples a reader still gets from it.
#pragma once

#include <cstdint>
#include <string>

#include "asf_format/repair_walk.h"

namespace kestrum::asf {

enum class IndexState { kSame, kCut, kDiffers };

struct DamageFacts {
  uint64_t size = 0;        // the file's
  uint64_t data_start = 0;  // its first packet's offset
  uint32_t packet_size = 0;
  uint64_t declared_packets = 0;    // as its Data Object counts them
  uint64_t declared_size = 0;       // as its File Size field says
  uint64_t stopped_at = 0;          // the packet that ended the walk (Walk::stopped_at)
  bool sample_left_open = false;    // a sample begun in the packets walked did not end there
  uint64_t open_sample_packet = 0;  // the packet where it began
  uint64_t packets_kept = 0;
  bool last_rewritten = false;  // the last packet kept is not as a clean end leaves it
  bool header_matches = false;  // the header is the one a clean end writes
  IndexState index = IndexState::kSame;
  uint64_t data_end = 0, index_end = 0;  // where the index begins and should end
};

// "packet 5 (at byte 313177) is not laid out as Kestrum's writer lays it
// out", "4355086 bytes follow its objects, from byte 7500773", ... joined
// by "; ".
std::string DescribeDamage(const DamageFacts& facts);

// The whole samples of the streams its header declares that a reader which
// reads past damage (Reader, ReadChecks::kDamage) gets from the file's whole
// packets; *cut_packet: a packet cut short at its end was not counted.
uint64_t CountReadableSamples(CountingFile& file, bool* cut_packet);

}  // namespace kestrum::asf
