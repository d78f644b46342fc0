// Ending, in place, a file this system's muxer began and did not end (a
// process killed, a power cut, a full disk before the end, a stream's
// output saved to a file): the file is cut back to its last whole sample and
// gets the header totals and the Simple Index that Muxer::End would have
// written for the packets kept, byte for byte.
//
// What is read: the header, then, packet by packet, each packet's 13-byte
// header and the 17 bytes of each payload's header (in one read of the first
// kPeekSize bytes, and one more read for each payload header past them),
// never the payloads' data, except the last packet kept, read whole to check
// its padding, and the packets past what the writer had made durable. A
// 1 GiB recording of 64000-byte packets is ended by reading about 16,800
// packet heads and the last second or two of packets whole.
//
// After a power cut: the system writes a file's pages back in any order, so
// past its last sync a file may hold pages that came back as zeros between
// pages that made it. While it writes a file and syncs it, the writer notes
// in the header's File Size field (which Broadcast makes void for readers)
// how many bytes its last sync made durable (Muxer::MarkDurable). A packet
// with bytes past that count in a page whose bytes there are all zeros ends
// the walk as a packet that is not laid out would. Where the writer noted
// nothing, that holds from the first packet on (the whole file is read);
// where the header says the file ended, nowhere (a writer that syncs makes
// the packets durable before the header says so).
//
// Which file is the muxer's: its header must be the one BuildHeader gives
// for what the header declares, all but the fields that ending changes (the
// sizes, counts, durations and flags, the largest sample of each stream, the
// streams' Seekable flags); anything else was not written by this system's
// writer.
//
// What is kept: every packet, in order, that is laid out as the packet
// builder lays them out (error correction data, lengths, property flags,
// 8 bytes of replicated data, payloads and padding that fill it) and whose
// payloads continue their samples; the first that is not, and everything
// after it, goes. Then a sample whose last fragment went goes too, with
// every packet after the one where it began; where earlier payloads share
// that packet, it keeps them and the rest becomes padding (the muxer's own
// cut after a write fault). A payload whose header does not parse ends the
// walk in the same way. The samples kept are a prefix of those written.
//
// Totals, as Muxer::End sets them: the sample times are the payloads'
// presentation times less the preroll, in whole milliseconds, as this
// system's roads time them; each sample lasts the stream's declared frame
// time (Extended Stream Properties), as the library's samples do.
//
// Order of the writes, so that a repair stopped at any point (a kill, a
// power cut, a full disk) leaves a file that a second repair ends the same
// way, since nothing it reads from the header's totals is trusted:
//  1. the last packet kept, when it must lose payloads (rewritten whole);
//  2. the Simple Index, right after the packets kept (over the bytes of
//     packets that go), then the file is cut to its end;
//  3. the header with the final totals (Broadcast cleared, Seekable set).
// Each step is made durable (fdatasync / FlushFileBuffers) before the next,
// so a reader that finds the header ended finds the index too. A torn step
// 1 leaves a packet whose payload count, padding or payload header does not
// match, which the walk meets and cuts the same way; a torn step 2 leaves
// bytes after the packets that are no packet; a torn step 3 leaves a header
// that differs from the muxer's only in the fields that ending changes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "asf_format/status.h"

namespace kestrum::asf {

// A file opened to be repaired, held for this program alone the way the
// file sink holds its output (an exclusive lock, or sharing for reading
// only), so that no writer has it meanwhile.
class RepairFile {
 public:
  virtual ~RepairFile() = default;
  virtual uint64_t Size() const = 0;
  // Exactly `size` bytes at `offset`.
  virtual Status ReadAt(uint64_t offset, uint8_t* data, size_t size) = 0;
  virtual Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  virtual Status Truncate(uint64_t size) = 0;
  // Makes what was written durable.
  virtual Status Sync() = 0;
};

enum class RepairOpen {
  kOpened,
  kNotFound,   // nothing at the path
  kFolder,     // a folder
  kNotRegular,  // a FIFO, a device, a socket
  kInUse,      // another program is writing it (or reading it so that it may not be written)
  kCannotOpen,  // it could not be opened (errno / GetLastError in `status`)
};

// Opens the regular file at `path` for repair (`write` false: read-only,
// for a check; the lock is taken all the same). Null unless *result is kOpened.
std::unique_ptr<RepairFile> OpenRepairFile(const std::string& path, bool write,
                                           RepairOpen* result, Status* status);

enum class RepairOutcome {
  kWhole,      // already ended as the muxer ends it: nothing was written
  kRepaired,   // ended (or, with check_only, would be)
  kForeign,    // not a file this system's muxer wrote: nothing was written
  kError,      // a read or a write failed (`status`)
};

struct RepairReport {
  RepairOutcome outcome = RepairOutcome::kError;
  std::string why;  // kForeign: what is not as the muxer writes it
  Status status = kOk;
  uint64_t size_before = 0, size_after = 0;
  uint64_t packets = 0;         // data packets kept
  uint64_t samples = 0;         // samples kept
  uint64_t samples_dropped = 0;  // begun in the file but not whole in what is kept
  uint64_t play_duration = 0;   // 100-ns units, preroll included
  bool packet_trimmed = false;  // the last packet kept lost payloads
  uint64_t bytes_read = 0;      // by the repair, through ReadAt
};

// Ends `file` as described above; with `check_only`, works out the same
// and writes nothing.
RepairReport Repair(RepairFile& file, bool check_only);

}  // namespace kestrum::asf
