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
// the packets durable before the header says so), and the walk covers only
// the packets its Data Object counts.
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
// What is written is bounded by what the file holds: the index (6 bytes a
// second of play duration, a sample ending its declared frame time after its
// time) must not outweigh the packets it indexes, or 1 MiB; a header whose
// frame time, or samples whose times, would make it larger are refused
// (kUnbounded; kDamaged where the header says the file ended) before
// anything is held for it.
//
// A file whose header says it ended (Broadcast clear) is never written: the
// writer, or a repair, ended it, and nothing after its end is this system's
// to cut. One that is as a clean end leaves it is whole (so is one the muxer
// ended without its index, which did not fit); any other is
// damaged, and the report tells where (the first packet that is not laid
// out, a header whose totals are not its packets', an index that is not
// theirs, bytes after its objects) and how many whole samples a reader that
// reads past damage still gets from it.
//
// Order of the writes, so that a repair stopped at any point (a kill, a
// power cut, a full disk) leaves a file that a second repair ends with the
// same samples, since nothing it reads from the header's totals is trusted:
//  0. when the last packet kept is to be rewritten, the file is made durable
//     and the header notes that its bytes up to the end of that packet are
//     (the writer's durable count, raised): a page of zeros the rewrite
//     leaves there is then never taken for one a power cut lost;
//  1. the file is cut to the end of the packets kept, so no packet after
//     them is met by a later walk whatever the rest leaves;
//  2. the last packet kept, when it must lose payloads or its padding is not
//     zeros: first all but its first 14 bytes (the payloads that go become
//     padding), then those 14 (payload count and padding length) page by
//     page in order. Any page of it written or not, the walk meets a packet
//     whose payload count, padding or payload headers end it at the same
//     payload, or the trimmed packet;
//  3. the Simple Index, after the packets kept; torn, what it leaves after
//     the packets is no packet;
//  4. the header with the final totals but Broadcast still set and the File
//     Size field counting every byte durable; torn, it differs from the
//     muxer's only in the fields that ending changes;
//  5. Broadcast cleared and the file's size, in one page.
// Each step is made durable (fdatasync / FlushFileBuffers) before the next,
// so a header that says the file ended stands over its packets and index.
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
  kNotFound,    // nothing at the path
  kFolder,      // a folder
  kNotRegular,  // a FIFO, a device, a socket
  kInUse,       // another program is writing it (or reading it so that it may not be written)
  kCannotOpen,  // it could not be opened (errno / GetLastError in `status`)
};

// Opens the regular file at `path` for repair (`write` false: read-only,
// for a check; the lock is taken all the same). Null unless *result is kOpened.
std::unique_ptr<RepairFile> OpenRepairFile(const std::string& path, bool write, RepairOpen* result,
                                           Status* status);

enum class RepairOutcome {
  kWhole,      // already ended as the muxer ends it: nothing was written
  kRepaired,   // ended (or, with check_only, would be)
  kDamaged,    // its header says it ended, but it is not whole: nothing was written
  kUnbounded,  // its index would outweigh what it holds: nothing was written
  kForeign,    // not a file this system's muxer wrote: nothing was written
  kError,      // a read or a write failed (`status`)
};

struct RepairReport {
  RepairOutcome outcome = RepairOutcome::kError;
  std::string why;  // kForeign: what is not as the muxer writes it
  Status status = kOk;
  uint64_t size_before = 0, size_after = 0;
  uint64_t packets = 0;          // data packets kept
  uint64_t samples = 0;          // samples kept
  uint64_t samples_dropped = 0;  // begun in the file but not whole in what is kept
  uint64_t play_duration = 0;    // 100-ns units, preroll included
  bool packet_trimmed = false;   // the last packet kept lost payloads
  uint64_t bytes_read = 0;       // distinct bytes of the file read, at most its size
  bool wrote = false;            // kError: a write had begun (else nothing changed)
  bool without_index = false;    // kWhole: ended as the muxer ends one whose index did not fit
  // kDamaged: what is wrong and where, in words ("packet 5 (at byte 313177)
  // is not laid out as Kestrum's writer lays it out"); and the whole samples
  // a reader that reads past damage gets from its whole packets (when
  // cut_packet_not_read, a packet cut short at its end was not read).
  std::string damage;
  uint64_t readable_samples = 0;
  bool cut_packet_not_read = false;
  // kUnbounded: the bytes the index would take, the largest frame time a
  // stream declares (100-ns units), and the packets' bytes.
  uint64_t index_bytes = 0, frame_time = 0, packet_bytes = 0;
};

// Ends `file` as described above; with `check_only`, works out the same
// and writes nothing. A file whose header says it ended is only read.
RepairReport Repair(RepairFile& file, bool check_only);

}  // namespace kestrum::asf
