// The ASF muxer behind the stand-in writer: header, fixed-size data packets,
// Simple Index.
//
// Layout while writing: the whole header goes out first with the Broadcast
// flag set and zero sizes, counts and durations (the Data Object saying only
// its own header's size), so a file that is never ended stays readable up to
// its last complete packet. End() flushes the last packet, appends the index
// and patches sizes, counts, durations and flags. Over a sink that cannot
// seek (a pipe, a device) the first header stays: End() only flushes, and
// the file is a stream (Broadcast, its streams declared not seekable, no
// index). Memory stays bounded whatever the length of the recording: a 1 MiB
// batch of packets (spans over at most about kMaxHeldSamples samples'
// buffers, which the muxer holds until their bytes are written) plus 6 bytes
// of index per second of media per video stream.
//
// Crash bound: a process killed at any moment leaves a file that holds every
// sample but those of the last second of media: after each WriteSample, the
// samples not yet handed to the operating system (sink Flush, write(2) for the
// file sink) span at most 1 s, from the oldest one's time to the end (time +
// duration) of the one just written. Once they would span more, the completed
// packets are handed over; if the packet being filled still holds a sample
// that old, it is padded and handed over too. Packets sized to the bit rate
// (below) fill well within the second, so at the rates the streams declare
// padding is rare; a stream far below its declared rate pads at most one
// packet per second. Begin and End flush as well.
//
// Write faults (a full disk, a file size limit, a removed medium): the sink
// is cut back to its last whole sample, so that no reader meets a sample cut
// short: to its last whole packet, and the packet where a sample that did
// not make it whole began loses that sample's payload. Then, by the
// FaultPolicy, writing ends there (every later sample is refused, and End()
// finishes the file in place: sizes, counts, durations, flags, and the index
// if it fits), or each later sample is tried again, straight to the sink, until
// one gets through and writing goes on as before (the file then has a gap in
// time and nothing else wrong). A sink that cannot be cut back (one that only
// appends) ends writing. The muxer reports each fault, and what it cost, as
// lines (MuxerOptions::report):
//   "writer : write failed (0x80070070); samples are dropped until writing works again"
//   "writer : write failed (0x80070070); writing ends here"
//   "writer : writing works again; 12 samples (0.480 s of media) were lost"
//   "writer : writing ended; 12 samples (0.480 s of media) were lost"
//   "writer : the index did not fit (0x80070070); the file is whole but has no index"
//   "writer : sample refused (out of memory): 1024000 bytes at 12.380 s"
// The first two begin an outage; one of the next two closes it, when a
// sample gets through again or when writing ends (End, or a Muxer destroyed
// without it).
// The last tells of one sample refused while writing, which the file then
// lacks: why (lines::kRefusalTooLarge, kRefusalNoMemory, kRefusalTime in
// diagnostics/lines.h, where every line is defined), its size
// and its time; the writer in front of the muxer writes the same line for a
// sample it cannot provide memory for ("... bytes after 12.380 s": its time
// is not known yet).
//
// Call order: Begin, any number of WriteSample, End. A Muxer destroyed
// without End hands over every sample it took (the last packet padded) and
// leaves the header as Begin wrote it: an unfinished but readable file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/packet_builder.h"
#include "asf_format/sample_hold.h"
#include "asf_format/status.h"
#include "asf_format/byte_sink.h"

namespace kestrum::asf {

// Data packet sizes the muxer chooses when FileInfo::packet_size is 0: what
// the streams' declared bit rates (summed) fill in a quarter of a second,
// rounded up to a multiple of 100 and kept within [kMinChosenPacketSize,
// kDefaultPacketSize]; kDefaultPacketSize when no rate is declared. A packet
// costs 13 bytes of header plus 15-17 per payload, so even the smallest
// stays near 1% of overhead while filling within the crash bound at low
// rates. The largest, 64000, suits the typical 5-200 KB samples at 25 per
// second (0.05% overhead, a sample in one to four packets) and stays below
// 64 KiB, the largest packet readers accept, with every payload and padding
// length fitting its WORD field.
inline constexpr uint32_t kDefaultPacketSize = 64000;
inline constexpr uint32_t kMinChosenPacketSize = 3200;
// Samples must be 1 byte to kMaxSampleSize - 1 bytes: readers drop empty
// media objects and refuse objects of 16 MiB or more.
inline constexpr size_t kMaxSampleSize = size_t{1} << 24;

// Formats the line of a sample refused (why, a lines::kRefusal... text;
// `size` bytes; `time` in 100-ns units) into `line` and returns it: "at"
// the sample's own time, or, for a sample refused before its time was
// known, "after" the end of the latest sample given.
const char* RefusedSampleLine(char (&line)[128], const char* why, uint64_t size, uint64_t time,
                              bool time_known = true);

struct StreamInfo {
  MediaKind kind = MediaKind::kVideo;  // video or audio
  uint16_t number = 0;   // 1..127, distinct
  uint32_t bitrate = 0;  // bits per second
  uint32_t buffer_window_ms = 0;
  uint64_t avg_time_per_frame = 0;  // 100-ns units; video only
  // Video: the BITMAPINFOHEADER followed by its codec data, written verbatim
  // as the format data (width and height are read from it). Audio: the
  // WAVEFORMATEX with its extra bytes, verbatim.
  std::vector<uint8_t> format;
};

struct FileInfo {
  Guid file_id{};
  uint64_t creation_time = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  uint32_t packet_size = 0;    // 0: ChoosePacketSize(streams); else 100..65536
  uint32_t preroll_ms = 0;     // the largest buffer window of the streams
  std::u16string title;
  std::u16string author;
  std::u16string copyright;
  std::u16string description;
  std::u16string rating;
  std::vector<StreamInfo> streams;
};

// The packet size for streams of these declared bit rates (see
// kDefaultPacketSize).
uint32_t ChoosePacketSize(const std::vector<StreamInfo>& streams);

enum class FaultPolicy {
  kEndWriting,    // a conversion: it stops at the fault, which End() reports
  kKeepWriting,   // a recording: the samples that follow are tried again
};

struct MuxerOptions {
  FaultPolicy on_fault = FaultPolicy::kEndWriting;
  // Receives the muxer's lines about write faults, one call per line.
  std::function<void(const char* line)> report;
  // Over a sink that can seek, End() writes the ended header but for two
  // fields, Broadcast still set and File Size as MarkDurable last noted
  // it, and ConfirmEnd() writes those two as a clean end has them: a writer
  // that syncs ends the file, syncs it, confirms the end and syncs again.
  // After a power cut a header that says the file ended then never stands
  // over lost packets or a lost index, and one not confirmed is repaired
  // like a file never ended (repair.h). Readers meanwhile find every sample,
  // the durations and the index.
  bool confirm_end_later = false;
  // Completed packets are gathered up to this many bytes before they are
  // written (PacketBuilder): fewer, larger writes for a conversion; a
  // recording arriving at its own pace writes each packet as it completes
  // (0), so that it holds no more of its samples than the packet being
  // filled needs. The bytes written are the same.
  size_t batch_bytes = kBatchBytes;
};

class Muxer {
 public:
  Muxer(ByteSink& sink, FileInfo info, MuxerOptions options = {});
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  // Writes the header (Broadcast set) and the Data Object's header, and
  // flushes. Fails with kInvalidArgument or kInvalidInputFormat for a
  // FileInfo the header cannot hold (see ValidateFileInfo in header.h),
  // kInvalidRequest when called twice, or the sink's failure (the
  // sink is then cut back to nothing where it can be).
  Status Begin();
  // Adds one sample of `stream` at `time` (100-ns units, before preroll).
  // With a `hold`, the bytes are taken in place and must stay as they are
  // until the muxer releases the hold (once they are written, or dropped);
  // without one they are copied before the call returns. The presentation time
  // written is time / 10000 + preroll ms; `duration` only feeds the play
  // duration. Refused, without effect: before Begin or after End
  // (kInvalidRequest), an unknown stream (kInvalidStream), no data,
  // 0 or kMaxSampleSize bytes or more, or a time whose end (time + duration)
  // in ms plus preroll passes 2^32 - 1 (kInvalidArgument), or no memory to
  // take it (kOutOfMemory); the last three with a line of the sample refused.
  // A write fault is returned by the call that meets it, and by every call
  // whose sample is dropped after it (see Write faults above).
  Status WriteSample(uint16_t stream, uint64_t time, uint64_t duration, bool key_frame,
                      const uint8_t* data, size_t size, SampleHold hold = {});
  // Pads and writes the last packet, sets the header's final sizes, counts
  // and durations (Broadcast cleared), appends a Simple Index per video
  // stream and then marks the file Seekable. Each step leaves a readable
  // file should the next one fail; after a write fault it finishes the file
  // as it was cut back. It allocates nothing but the index's last entries
  // (what it needs was set aside by Begin): out of memory, the file is still
  // ended, without its index. Returns the first write fault of the file's
  // life, if any (samples were lost, or the index did not fit), else kOk. A
  // second call, or one before Begin, returns kInvalidRequest.
  Status End();

  // Dates the file anew while writing (FileInfo::creation_time): in the
  // header Begin wrote, over a sink that can seek, and in the one End()
  // writes. For a writer that dates a file by its first sample, which comes
  // after Begin. kInvalidRequest before Begin or after End.
  Status SetCreationTime(uint64_t creation_time);

  // Notes in the file that its first `bytes` are on stable storage, for a
  // repair after a power cut (see repair.h): while the file is written the
  // header's File Size field, which readers ignore while Broadcast is set
  // and End() overwrites, holds the largest such count noted. Only over a
  // sink that can seek, while writing, and for a count larger than the last.
  Status MarkDurable(uint64_t bytes);
  // After End() with MuxerOptions::confirm_end_later: clears Broadcast and
  // writes the file's true size in the header, and flushes. kOk when End
  // left nothing to confirm (a stream, a sink that broke, no such option);
  // kInvalidRequest before End.
  Status ConfirmEnd();

  // The data packet size in use (0 before Begin).
  uint32_t packet_size() const;
  // Data packets completed so far, handed to the sink or not.
  uint64_t packet_count() const;

 private:
  struct State;
  State* state_;
};

}  // namespace kestrum::asf
