// The walk of a repair over a file's data packets (repair.h tells what it
// keeps): packet by packet from the first, each packet's head and payload
// headers, until the first packet that is not laid out as the packet
// builder lays it out, does not continue its samples, or has a page a power
// cut lost; then back to the start of a sample left open. It tallies the
// samples kept as the muxer tallies those it writes (end_totals.h).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "asf_format/end_totals.h"
#include "asf_format/muxer.h"
#include "asf_format/repair.h"

namespace kestrum::asf {

// Reads a repair's file and counts the distinct bytes read: a byte read
// twice counts once, so the count never passes the file's size. It keeps
// the stretches read so far, the latest few thousand of them (a walk reads
// upwards); one read again below those counts again, and the count stops at
// the file's size.
class CountingFile {
 public:
  explicit CountingFile(RepairFile& f) : file(f) {}
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size);
  uint64_t bytes_read() const { return std::min(bytes_read_, file.Size()); }

  RepairFile& file;

 private:
  void Count(uint64_t begin, uint64_t end);

  std::map<uint64_t, uint64_t> read_;  // begin -> end, disjoint and apart
  uint64_t bytes_read_ = 0;
};

// Where the kept data ends: before payload `payload` (at byte `offset`) of
// packet `packet`; payload 0 means before the whole packet.
struct Cut {
  uint64_t packet = 0;
  uint32_t payload = 0;
  uint32_t offset = 0;
};

class Walk {
 public:
  // Walks at most `packets` packets from `data_start`. Bytes from `at_risk`
  // on may have been lost to a power cut (a page of zeros there is taken for
  // a lost one); the file holds `file_size` bytes. No index is let grow past
  // `index_limit` bytes.
  Walk(CountingFile& file, const FileInfo& info, uint64_t data_start, uint64_t packets,
       uint64_t at_risk, uint64_t file_size, uint64_t index_limit);

  // Walks the packets to the cut; false when a read fails. Throws
  // std::bad_alloc when an index cannot grow.
  bool Run(Status* status);

  const Cut& cut() const { return cut_; }
  // The packet that ended the walk (not laid out, not whole, a page lost),
  // or the number of packets walked when none did.
  uint64_t stopped_at() const { return stopped_at_; }
  uint64_t samples() const { return samples_; }
  // Samples begun in the packets walked but not whole in them (0 or 1).
  uint64_t dropped() const { return dropped_; }
  // What the samples kept add up to.
  Tally& tally() { return tally_; }
  uint64_t Offset(uint64_t packet) const { return data_start_ + packet * ps_; }

 private:
  // One sample as the walk meets it.
  struct Sample {
    bool open = false;
    uint8_t stream_byte = 0;
    uint8_t object_number = 0;
    uint32_t size = 0, have = 0, presentation_ms = 0;
    uint64_t first_packet = 0;
    uint32_t payload_index = 0;   // its first payload's, in its first packet
    uint32_t payload_offset = 0;  // and where that begins
  };

  int LostPage(uint64_t p, const uint8_t* head, size_t n, Status* status);
  int Packet(uint64_t p, const uint8_t* head, size_t n, uint32_t* stop, uint32_t* stop_offset,
             Status* status);
  int MultiplePayloads(uint64_t p, const uint8_t* head, size_t n, uint32_t* stop,
                       uint32_t* stop_offset, Status* status);
  bool Payload(uint64_t p, uint32_t k, uint32_t at, const uint8_t* h, uint32_t length);
  void Complete(uint64_t p);

  CountingFile& file_;
  const FileInfo& info_;
  const uint64_t data_start_;
  const uint64_t available_;
  const uint32_t ps_;
  const uint64_t at_risk_, file_size_;
  std::vector<uint8_t> pages_;   // the pages LostPage looks at
  std::array<int, 128> slot_{};  // stream number -> index in the streams, or -1
  Tally tally_;
  Sample open_;
  Cut cut_;
  uint64_t stopped_at_ = 0;
  uint64_t samples_ = 0, dropped_ = 0;
};

}  // namespace kestrum::asf
