#include "asf_format/muxer.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "asf_format/end_totals.h"
#include "asf_format/header.h"
#include "asf_format/header_objects.h"
#include "asf_format/objects.h"
#include "asf_format/packet_builder.h"
#include "asf_format/packet_layout.h"
#include "asf_format/simple_index.h"
#include "asf_format/status.h"
#include "base/bytes.h"
#include "diagnostics/lines.h"

namespace kestrum::asf {
namespace {

// The most media time that may wait unflushed (the crash bound).
constexpr uint64_t kFlushInterval = 10'000'000;  // 1 s
constexpr uint64_t kPacketFillsPerSecond = 4;
constexpr uint64_t kMaxMs = std::numeric_limits<uint32_t>::max();
// Samples in flight (taken but not known to be whole in the sink) are
// remembered until the sink is flushed; past this many it is flushed early,
// which bounds the memory they take whatever the samples' times.
constexpr size_t kMaxSamplesInFlight = 16'384;
// The last packet of a sample whose bytes did not all reach the packets.
constexpr uint64_t kNotWhole = std::numeric_limits<uint64_t>::max();

enum class Phase { kNew, kWriting, kEnded };

// A sample in flight, taken but not yet known to be whole in the sink: what
// it adds to the header totals and the index once it has landed there, and
// where its first payload lies should it have to be taken out again.
struct InFlight {
  SamplePlacement placement;
  uint64_t time = 0;
  uint64_t end = 0;  // time + duration
  uint32_t presentation_ms = 0;
  uint32_t size = 0;
  uint16_t stream = 0;  // index in the streams
  bool key = false;
};

}  // namespace

struct Muxer::State {
  State(ByteSink& s, FileInfo i, MuxerOptions o)
      : sink(s), info(std::move(i)), options(std::move(o)) {}

  Status Flush();
  Status KeepCrashBound(uint64_t end);
  Status WriteHeader(const HeaderTotals& totals);
  Status Finish();
  Status FinishInPlace();
  void Land(uint64_t whole_packets);
  Status Fault(Status status);
  bool CutBack();
  void Lose(uint64_t time, uint64_t end);
  void Report(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  void CloseOutage(const char* what);
  Status Refuse(Status status, const char* why, uint64_t size, uint64_t time);

  ByteSink& sink;
  FileInfo info;
  const MuxerOptions options;
  Phase phase = Phase::kNew;
  uint32_t packet_size = 0;
  uint64_t header_size = 0;  // Header Object and Data Object header
  size_t file_size_field = 0;  // where the header holds the File Size (0: unknown)
  uint64_t durable_noted = 0;  // the count MarkDurable last wrote there
  // What End left for ConfirmEnd: the File Properties Object's fields from
  // File Size to Flags, as a clean end has them (empty: nothing).
  std::vector<uint8_t> unconfirmed_end;
  // Set aside by Begin for ending the file, so that End needs no memory
  // that may no longer be there: the header's image, its totals, and the
  // list of the streams indexed.
  std::vector<uint8_t> header_image;
  HeaderTotals final_totals;
  std::vector<size_t> indexed;
  std::unique_ptr<PacketBuilder> packets;
  std::vector<uint8_t> next_object;  // of each stream, in info.streams order
  std::array<int16_t, 128> slot{};   // stream number -> index in info.streams, or -1
  std::deque<InFlight> in_flight;    // in the order taken
  Tally tally;                       // of the samples known to be in the file
  // Samples taken but not yet handed to the system: whether there are any,
  // and the earliest time among them.
  bool pending = false;
  uint64_t pending_since = 0;
  // The earliest time among the samples with bytes in the packet being
  // filled (meaningful while the builder has one open).
  uint64_t open_since = 0;

  // Write faults.
  Status first_fault = kOk;  // what End returns
  Status stop_code = kOk;    // set once writing has ended: later samples get it
  bool broken = false;         // the sink could not be cut back: nothing more is written
  bool outage = false;         // a fault was reported and what it cost not yet
  uint64_t lost = 0;           // samples lost since the fault began
  uint64_t lost_from = 0, lost_to = 0;
};

// Hands every completed packet to the system. What stays pending is the
// packet being filled, if any; every sample before it is then in the file.
Status Muxer::State::Flush() {
  Status status = packets->Drain();
  if (Succeeded(status)) status = sink.Flush();
  pending = packets->has_open_packet();
  pending_since = open_since;
  if (Failed(status)) return Fault(status);
  Land(packets->completed_packets());
  return status;
}

// Keeps the crash bound after a sample that ends at `end`: once the pending
// samples would span more than the flush interval, hands over the completed
// packets, and the packet being filled as well (padded) when it holds a
// sample that old.
Status Muxer::State::KeepCrashBound(uint64_t end) {
  const auto too_old = [end](uint64_t since) {
    return end > since && end - since > kFlushInterval;
  };
  if (!pending || !too_old(pending_since)) {
    return in_flight.size() < kMaxSamplesInFlight ? kOk : Flush();
  }
  if (packets->has_open_packet() && too_old(open_since)) {
    const Status status = packets->FinishPacket();
    if (Failed(status)) return Fault(status);
  }
  return Flush();
}

// The samples in flight whose packets are all among the first
// `whole_packets` have landed in the file: they count in the totals and the
// index from now on.
void Muxer::State::Land(uint64_t whole_packets) {
  while (!in_flight.empty() && in_flight.front().placement.last_packet < whole_packets) {
    const InFlight& u = in_flight.front();
    try {
      tally.Add(u.stream, u.size, u.key, u.presentation_ms, u.placement.first_packet,
                u.placement.last_packet, u.end);
    } catch (const std::bad_alloc&) {
      tally.LoseIndex(u.stream);
    }
    in_flight.pop_front();
  }
}

void Muxer::State::Report(const char* format, ...) {
  if (!options.report) return;
  char line[200];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  options.report(line);
}

void Muxer::State::Lose(uint64_t time, uint64_t end) {
  lost_from = lost == 0 ? time : std::min(lost_from, time);
  lost_to = lost == 0 ? end : std::max(lost_to, end);
  ++lost;
}

// A sample refused while writing: its line, and `status` returned.
Status Muxer::State::Refuse(Status status, const char* why, uint64_t size, uint64_t time) {
  if (options.report) {
    char line[128];
    options.report(RefusedSampleLine(line, why, size, time));
  }
  return status;
}

void Muxer::State::CloseOutage(const char* what) {
  if (!outage) return;
  Report(lines::kOutageClosedFormat, what, static_cast<unsigned long long>(lost),
         static_cast<double>(lost_to - lost_from) / static_cast<double>(kTicksPerMs * 1000));
  outage = false;
  lost = 0;
}

// Cuts the sink back to its last whole sample after a failed write: to its
// last whole packet, and when a sample begun in an earlier packet did not
// make it whole, to the packet where it began, less its payload (that
// packet is rewritten with the payloads before it and padding). The samples
// in what remains have landed, the others are lost. False when the sink
// cannot be cut back.
bool Muxer::State::CutBack() {
  const uint64_t held = sink.Size();
  if (!sink.seekable() || held < header_size) return false;
  const uint64_t whole =
      std::min((held - header_size) / packet_size, packets->completed_packets());
  uint64_t keep = whole;
  const InFlight* cut = nullptr;
  for (const InFlight& u : in_flight) {
    if (u.placement.first_packet < whole && u.placement.last_packet >= whole) cut = &u;
  }
  std::vector<uint8_t> rewritten;
  if (cut != nullptr) {
    keep = cut->placement.first_packet;
    if (cut->placement.payloads_before > 0) {
      try {
        rewritten.resize(packet_size);
      } catch (const std::bad_alloc&) {
        return false;
      }
      const uint32_t end = cut->placement.payload_offset;
      if (Failed(sink.ReadAt(header_size + keep * packet_size, rewritten.data(), end))) {
        return false;
      }
      TrimPacket(rewritten.data(), packet_size, cut->placement.payloads_before, end);
      ++keep;
    }
  }
  const uint64_t data_end = header_size + keep * packet_size;
  if (Failed(sink.Truncate(data_end))) return false;
  if (!rewritten.empty() &&
      Failed(sink.WriteAt(data_end - packet_size, rewritten.data(), rewritten.size()))) {
    return false;
  }
  packets->Restart(keep);
  pending = false;
  Land(keep);
  return true;
}

// A failed write: the sink is cut back to its last whole sample, and
// writing ends there or goes on with the next sample (the policy); a sink
// that cannot be cut back ends it where it stands. Returns `status`.
Status Muxer::State::Fault(Status status) {
  if (Succeeded(first_fault)) first_fault = status;
  const bool cut = !broken && CutBack();
  for (const InFlight& u : in_flight) Lose(u.time, u.end);
  in_flight.clear();
  if (!cut) broken = true;
  const bool keep_writing = cut && options.on_fault == FaultPolicy::kKeepWriting;
  if (!keep_writing) stop_code = status;
  if (!outage) {
    Report(keep_writing ? lines::kWriteFailedGoesOnFormat : lines::kWriteFailedEndsFormat,
           status.code());
    outage = true;
  }
  return status;
}

uint32_t ChoosePacketSize(const std::vector<StreamInfo>& streams) {
  uint64_t bits_per_second = 0;
  for (const StreamInfo& s : streams) bits_per_second += s.bitrate;
  if (bits_per_second == 0) return kDefaultPacketSize;
  const uint64_t bytes = (bits_per_second / 8 / kPacketFillsPerSecond + 99) / 100 * 100;
  return static_cast<uint32_t>(
      std::clamp<uint64_t>(bytes, kMinChosenPacketSize, kDefaultPacketSize));
}

Status Muxer::State::WriteHeader(const HeaderTotals& totals) {
  BuildHeader(info, packet_size, totals, header_image);
  if (totals.finished && options.confirm_end_later && file_size_field != 0) {
    uint8_t* const fields = header_image.data() + file_size_field;
    unconfirmed_end.assign(fields, fields + kFileSizeThroughFlags);
    LeaveEndUnconfirmed(fields, durable_noted);
  }
  Status status = sink.WriteAt(0, header_image.data(), header_image.size());
  if (Succeeded(status)) status = sink.Flush();
  return status;
}

Status Muxer::State::Finish() {
  if (Failed(stop_code)) {
    CloseOutage(lines::kOutageEnded);
  } else {
    Status status = packets->FinishPacket();
    if (Failed(status)) (void)Fault(status);  // latched: End reports it
    if (Succeeded(status)) (void)Flush();
    CloseOutage(lines::kOutageEnded);
  }
  if (broken) return first_fault;
  // A stream keeps the header it began with.
  if (!sink.seekable()) return first_fault;
  const Status status = FinishInPlace();
  return Failed(first_fault) ? first_fault : status;
}

// Sizes, counts, durations and flags of what the file holds, then the index
// where it fits.
Status Muxer::State::FinishInPlace() {
  HeaderTotals& totals = final_totals;
  bool all_video_indexed = tally.EndTotals(info, header_size, packet_size,
                                           packets->completed_packets(), &totals, &indexed);
  // The indexes' last entries; one that cannot have them is left out, and
  // the file is then not Seekable.
  size_t kept = 0;
  for (size_t k = 0; k < indexed.size(); ++k) {
    try {
      tally.stream(indexed[k]).index.Finish(totals.play_duration);
      indexed[kept++] = indexed[k];
    } catch (const std::bad_alloc&) {
      all_video_indexed = false;
    }
  }
  indexed.resize(kept);

  // Final sizes and durations first, so the file is complete even if the
  // index cannot be appended.
  totals.seekable = indexed.empty() && all_video_indexed;
  Status status = WriteHeader(totals);
  if (Failed(status) || indexed.empty()) return status;

  const uint64_t data_end = totals.file_size;
  for (size_t i : indexed) {
    const SimpleIndex& index = tally.stream(i).index;
    status = index.WriteObject(sink, info.file_id);
    if (Failed(status)) break;
    totals.file_size += index.object_size();
  }
  if (Succeeded(status)) status = sink.Flush();
  if (Failed(status)) {
    // No room for the index: the file ends with its data, as the header
    // already says.
    if (Succeeded(first_fault)) first_fault = status;
    Report(lines::kIndexDidNotFitFormat, status.code());
    (void)sink.Truncate(data_end);
    return status;
  }
  totals.seekable = all_video_indexed;
  return WriteHeader(totals);
}

Muxer::Muxer(ByteSink& sink, FileInfo info, MuxerOptions options)
    : state_(new (std::nothrow) State(sink, std::move(info), std::move(options))) {}

Muxer::~Muxer() {
  if (state_ != nullptr && state_->phase == Phase::kWriting) {
    // Abandoned without End: hand over what was taken, leave the header as
    // an unfinished file's.
    State& s = *state_;
    try {
      if (Succeeded(s.stop_code)) {
        const Status status = s.packets->FinishPacket();
        if (Failed(status)) (void)s.Fault(status);
        if (Succeeded(status)) (void)s.Flush();
      }
    } catch (const std::bad_alloc&) {
      // No memory to finish the last packet: the file ends with the ones before.
    }
    s.CloseOutage(lines::kOutageEnded);
  }
  delete state_;
}

Status Muxer::Begin() {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kNew) return kInvalidRequest;
  Status status = ValidateFileInfo(s.info);
  if (Failed(status)) return status;
  try {
    s.packet_size = s.info.packet_size != 0 ? s.info.packet_size : ChoosePacketSize(s.info.streams);
    s.slot.fill(-1);
    s.next_object.assign(s.info.streams.size(), 0);
    for (size_t i = 0; i < s.info.streams.size(); ++i) {
      s.slot[s.info.streams[i].number] = static_cast<int16_t>(i);
    }
    s.tally.Begin(s.info.streams);
    HeaderTotals first;
    first.streamed = !s.sink.seekable();
    BuildHeader(s.info, s.packet_size, first, s.header_image);
    s.header_size = s.header_image.size();
    const size_t file_properties = FindFileProperties(s.header_image);
    s.file_size_field = file_properties != 0 ? file_properties + kFilePropertiesFileSizeOffset : 0;
    s.final_totals.max_object_size.reserve(s.info.streams.size());
    s.indexed.reserve(s.info.streams.size());
    s.unconfirmed_end.reserve(kFileSizeThroughFlags);
    s.packets = std::make_unique<PacketBuilder>(s.sink, s.packet_size, s.options.batch_bytes);
    s.phase = Phase::kWriting;
    status = s.sink.Write(s.header_image.data(), s.header_image.size());
  } catch (const std::bad_alloc&) {
    s.packets.reset();
    s.next_object.clear();
    s.packet_size = 0;
    return kOutOfMemory;
  }
  if (Succeeded(status)) status = s.sink.Flush();
  if (Failed(status)) {
    // No header, no file: what there is of it goes.
    if (s.sink.seekable()) (void)s.sink.Truncate(0);
    s.first_fault = s.stop_code = status;
    s.broken = true;
  }
  return status;
}

Status Muxer::WriteSample(uint16_t stream, uint64_t time, uint64_t duration, bool key_frame,
                           const uint8_t* data, size_t size, SampleHold hold) {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kWriting) return kInvalidRequest;
  if (stream >= s.slot.size() || s.slot[stream] < 0) return kInvalidStream;
  if (data == nullptr || size == 0) return kInvalidArgument;
  if (size >= kMaxSampleSize) {
    return s.Refuse(kInvalidArgument, lines::kRefusalTooLarge, size, time);
  }
  // Presentation times, and the play duration the index covers, are ms
  // DWORDs on the preroll-shifted timeline.
  if (duration > std::numeric_limits<uint64_t>::max() - time ||
      (time + duration) / kTicksPerMs + s.info.preroll_ms > kMaxMs) {
    return s.Refuse(kInvalidArgument, lines::kRefusalTime, size, time);
  }
  const uint64_t end = time + duration;
  if (Failed(s.stop_code)) {
    s.Lose(time, end);
    return s.stop_code;
  }

  if (!hold) {
    // Bytes the caller keeps no hold on: the muxer's own copy goes into the packets.
    auto* copy = new (std::nothrow) uint8_t[size];
    if (copy == nullptr) return s.Refuse(kOutOfMemory, lines::kRefusalNoMemory, size, time);
    std::memcpy(copy, data, size);
    hold = SampleHold([](void* bytes) { delete[] static_cast<uint8_t*>(bytes); }, copy);
    data = copy;
  }
  const auto index = static_cast<uint16_t>(s.slot[stream]);
  PayloadInfo payload;
  payload.stream_byte = static_cast<uint8_t>(stream | (key_frame ? kKeyFrameBit : 0));
  payload.object_number = s.next_object[index];
  payload.send_ms = static_cast<uint32_t>(time / kTicksPerMs);
  payload.presentation_ms = payload.send_ms + s.info.preroll_ms;
  InFlight taken;
  taken.time = time;
  taken.end = end;
  taken.presentation_ms = payload.presentation_ms;
  taken.size = static_cast<uint32_t>(size);
  taken.stream = index;
  taken.key = key_frame;
  taken.placement.first_packet = s.packets->completed_packets();
  try {
    s.in_flight.push_back(taken);
  } catch (const std::bad_alloc&) {
    return s.Refuse(kOutOfMemory, lines::kRefusalNoMemory, size, time);
  }
  const bool had_open = s.packets->has_open_packet();
  const uint64_t open_packet = s.packets->completed_packets();
  SamplePlacement& placement = s.in_flight.back().placement;
  Status status = kOk;
  try {
    status = s.packets->AddSample(payload, data, static_cast<uint32_t>(size), &placement,
                                  std::move(hold));
  } catch (const std::bad_alloc&) {
    // The builder's lists could not grow: what it holds cannot be trusted whole.
    status = kOutOfMemory;
  }
  ++s.next_object[index];  // wraps mod 256
  if (Failed(status)) {
    placement.last_packet = kNotWhole;
    return s.Fault(status);
  }
  if (s.packets->has_open_packet()) {
    const bool same_open = had_open && s.packets->completed_packets() == open_packet;
    s.open_since = same_open ? std::min(s.open_since, time) : time;
  }
  s.pending_since = s.pending ? std::min(s.pending_since, time) : time;
  s.pending = true;

  if (s.outage) {
    // Writing failed before: this sample goes straight to the sink, and
    // writing goes on as before once it gets there.
    status = s.packets->FinishPacket();
    if (Failed(status)) return s.Fault(status);
    status = s.Flush();
    if (Succeeded(status)) s.CloseOutage(lines::kOutageResumed);
    return status;
  }
  return s.KeepCrashBound(end);
}

Status Muxer::End() {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kWriting) return kInvalidRequest;
  s.phase = Phase::kEnded;
  try {
    return s.Finish();
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

const char* RefusedSampleLine(char (&line)[128], const char* why, uint64_t size, uint64_t time,
                              bool time_known) {
  std::snprintf(line, sizeof line, lines::kSampleRefusedFormat, why,
                static_cast<unsigned long long>(size),
                time_known ? lines::kRefusedAt : lines::kRefusedAfter,
                static_cast<double>(time) / static_cast<double>(kTicksPerMs * 1000));
  return line;
}

Status Muxer::MarkDurable(uint64_t bytes) {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kWriting || s.broken || !s.sink.seekable() || s.file_size_field == 0 ||
      bytes <= s.durable_noted) {
    return kOk;
  }
  uint8_t field[8];
  store_u64le(field, bytes);
  const Status status = s.sink.WriteAt(s.file_size_field, field, sizeof field);
  if (Succeeded(status)) s.durable_noted = bytes;
  return status;
}

Status Muxer::SetCreationTime(uint64_t creation_time) {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kWriting) return kInvalidRequest;
  s.info.creation_time = creation_time;
  if (s.broken || !s.sink.seekable() || s.file_size_field == 0) return kOk;
  uint8_t field[8];
  store_u64le(field, creation_time);
  const uint64_t file_properties = s.file_size_field - kFilePropertiesFileSizeOffset;
  return s.sink.WriteAt(file_properties + kFilePropertiesCreationDateOffset, field, sizeof field);
}

Status Muxer::ConfirmEnd() {
  if (state_ == nullptr) return kOutOfMemory;
  State& s = *state_;
  if (s.phase != Phase::kEnded) return kInvalidRequest;
  if (s.unconfirmed_end.empty()) return kOk;
  Status status =
      s.sink.WriteAt(s.file_size_field, s.unconfirmed_end.data(), s.unconfirmed_end.size());
  if (Succeeded(status)) status = s.sink.Flush();
  if (Succeeded(status)) s.unconfirmed_end.clear();
  return status;
}

uint32_t Muxer::packet_size() const { return state_ != nullptr ? state_->packet_size : 0; }

uint64_t Muxer::packet_count() const {
  return state_ != nullptr && state_->packets != nullptr ? state_->packets->completed_packets() : 0;
}

}  // namespace kestrum::asf
