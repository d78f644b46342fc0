#include "platform/wmsdk/asf/muxer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "platform/wmsdk/asf/header.h"
#include "platform/wmsdk/asf/packet_builder.h"
#include "platform/wmsdk/asf/results.h"
#include "platform/wmsdk/asf/simple_index.h"

namespace kestrum::asf {
namespace {

constexpr uint64_t kTicksPerMs = 10'000;
// The most media time that may wait unflushed (the crash bound).
constexpr uint64_t kFlushInterval = 10'000'000;  // 1 s
constexpr uint64_t kPacketFillsPerSecond = 4;
constexpr uint64_t kMaxMs = std::numeric_limits<uint32_t>::max();

enum class Phase { kNew, kWriting, kEnded };

struct StreamState {
  bool video = false;
  uint8_t next_object = 0;
  uint32_t max_object_size = 0;
  bool index_lost = false;  // the index could not grow; the file will not be Seekable
  SimpleIndex index;
};

}  // namespace

struct Muxer::State {
  State(ByteSink& s, FileInfo i) : sink(s), info(std::move(i)) {}

  HRESULT Fail(HRESULT hr) {
    failure = hr;
    return hr;
  }
  HRESULT Flush();
  HRESULT KeepCrashBound(uint64_t end);
  HRESULT WriteHeader(const HeaderTotals& totals);
  HRESULT Finish();

  ByteSink& sink;
  FileInfo info;
  Phase phase = Phase::kNew;
  HRESULT failure = S_OK;
  uint32_t packet_size = 0;
  uint64_t header_size = 0;  // Header Object and Data Object header
  std::unique_ptr<PacketBuilder> packets;
  std::vector<StreamState> streams;  // in info.streams order
  std::array<int16_t, 128> slot{};   // stream number -> index in streams, or -1
  bool any_sample = false;
  uint64_t end_time = 0;  // latest sample time + duration
  // Samples taken but not yet handed to the system: whether there are any,
  // and the earliest time among them.
  bool pending = false;
  uint64_t pending_since = 0;
  // The earliest time among the samples with bytes in the packet being
  // filled (meaningful while the builder has one open).
  uint64_t open_since = 0;
};

// Hands every completed packet to the system. What stays pending is the
// packet being filled, if any.
HRESULT Muxer::State::Flush() {
  HRESULT hr = packets->Drain();
  if (SUCCEEDED(hr)) hr = sink.Flush();
  pending = packets->has_open_packet();
  pending_since = open_since;
  return FAILED(hr) ? Fail(hr) : hr;
}

// Keeps the crash bound after a sample that ends at `end`: once the pending
// samples would span more than the flush interval, hands over the completed
// packets, and the packet being filled as well (padded) when it holds a
// sample that old.
HRESULT Muxer::State::KeepCrashBound(uint64_t end) {
  const auto too_old = [end](uint64_t since) {
    return end > since && end - since > kFlushInterval;
  };
  if (!pending || !too_old(pending_since)) return S_OK;
  if (packets->has_open_packet() && too_old(open_since)) {
    const HRESULT hr = packets->FinishPacket();
    if (FAILED(hr)) return Fail(hr);
  }
  return Flush();
}

uint32_t ChoosePacketSize(const std::vector<StreamInfo>& streams) {
  uint64_t bits_per_second = 0;
  for (const StreamInfo& s : streams) bits_per_second += s.bitrate;
  if (bits_per_second == 0) return kDefaultPacketSize;
  const uint64_t bytes = (bits_per_second / 8 / kPacketFillsPerSecond + 99) / 100 * 100;
  return static_cast<uint32_t>(
      std::clamp<uint64_t>(bytes, kMinChosenPacketSize, kDefaultPacketSize));
}

HRESULT Muxer::State::WriteHeader(const HeaderTotals& totals) {
  const std::vector<uint8_t> header = BuildHeader(info, packet_size, totals);
  HRESULT hr = sink.WriteAt(0, header.data(), header.size());
  if (SUCCEEDED(hr)) hr = sink.Flush();
  return FAILED(hr) ? Fail(hr) : hr;
}

HRESULT Muxer::State::Finish() {
  HRESULT hr = packets->FinishPacket();
  if (FAILED(hr)) return Fail(hr);
  hr = Flush();
  if (FAILED(hr)) return hr;

  const uint64_t preroll = uint64_t{info.preroll_ms} * kTicksPerMs;
  HeaderTotals totals;
  totals.finished = true;
  totals.data_packets = packets->completed_packets();
  totals.play_duration = (any_sample ? end_time : 0) + preroll;
  totals.send_duration = totals.play_duration - preroll;
  totals.file_size = header_size + totals.data_packets * packet_size;
  for (const StreamState& s : streams) totals.max_object_size.push_back(s.max_object_size);

  // Simple Indexes, one per video stream in stream-number order; the file
  // is Seekable when every video stream has one.
  std::vector<size_t> indexed;
  bool all_video_indexed = true;
  for (size_t number = 1; number < slot.size(); ++number) {
    if (slot[number] < 0) continue;
    StreamState& s = streams[static_cast<size_t>(slot[number])];
    if (!s.video) continue;
    if (s.index_lost || s.index.empty()) {
      all_video_indexed = false;
      continue;
    }
    try {
      s.index.Finish(totals.play_duration);
      indexed.push_back(static_cast<size_t>(slot[number]));
    } catch (const std::bad_alloc&) {
      all_video_indexed = false;
    }
  }

  // Final sizes and durations first, so the file is complete even if the
  // index cannot be appended.
  totals.seekable = indexed.empty() && all_video_indexed;
  hr = WriteHeader(totals);
  if (FAILED(hr) || indexed.empty()) return hr;

  for (size_t i : indexed) {
    hr = streams[i].index.WriteObject(sink, info.file_id);
    if (FAILED(hr)) return Fail(hr);
    totals.file_size += streams[i].index.object_size();
  }
  hr = sink.Flush();
  if (FAILED(hr)) return Fail(hr);
  totals.seekable = all_video_indexed;
  return WriteHeader(totals);
}

Muxer::Muxer(ByteSink& sink, FileInfo info)
    : state_(new (std::nothrow) State(sink, std::move(info))) {}

Muxer::~Muxer() {
  if (state_ != nullptr && state_->phase == Phase::kWriting && SUCCEEDED(state_->failure)) {
    // Abandoned without End: hand over what was taken, leave the header as
    // an unfinished file's.
    if (SUCCEEDED(state_->packets->FinishPacket())) state_->Flush();
  }
  delete state_;
}

HRESULT Muxer::Begin() {
  if (state_ == nullptr) return E_OUTOFMEMORY;
  State& s = *state_;
  if (s.phase != Phase::kNew) return NS_E_INVALID_REQUEST;
  HRESULT hr = ValidateFileInfo(s.info);
  if (FAILED(hr)) return hr;
  try {
    s.packet_size = s.info.packet_size != 0 ? s.info.packet_size : ChoosePacketSize(s.info.streams);
    s.slot.fill(-1);
    s.streams.resize(s.info.streams.size());
    for (size_t i = 0; i < s.info.streams.size(); ++i) {
      s.slot[s.info.streams[i].number] = static_cast<int16_t>(i);
      s.streams[i].video = s.info.streams[i].kind == StreamKind::kVideo;
    }
    const std::vector<uint8_t> header = BuildHeader(s.info, s.packet_size, HeaderTotals{});
    s.header_size = header.size();
    s.packets = std::make_unique<PacketBuilder>(s.sink, s.packet_size);
    s.phase = Phase::kWriting;
    hr = s.sink.Write(header.data(), header.size());
  } catch (const std::bad_alloc&) {
    s.packets.reset();
    s.streams.clear();
    s.packet_size = 0;
    return E_OUTOFMEMORY;
  }
  if (SUCCEEDED(hr)) hr = s.sink.Flush();
  return FAILED(hr) ? s.Fail(hr) : hr;
}

HRESULT Muxer::WriteSample(uint16_t stream, uint64_t time, uint64_t duration, bool key_frame,
                           const uint8_t* data, size_t size) {
  if (state_ == nullptr) return E_OUTOFMEMORY;
  State& s = *state_;
  if (s.phase != Phase::kWriting) return NS_E_INVALID_REQUEST;
  if (FAILED(s.failure)) return s.failure;
  if (stream >= s.slot.size() || s.slot[stream] < 0) return NS_E_INVALID_STREAM;
  if (data == nullptr || size == 0 || size >= kMaxSampleSize) return E_INVALIDARG;
  // Presentation times, and the play duration the index covers, are ms
  // DWORDs on the preroll-shifted timeline.
  if (duration > std::numeric_limits<uint64_t>::max() - time) return E_INVALIDARG;
  const uint64_t end = time + duration;
  if (end / kTicksPerMs + s.info.preroll_ms > kMaxMs) return E_INVALIDARG;

  StreamState& st = s.streams[static_cast<size_t>(s.slot[stream])];
  PayloadInfo payload;
  payload.stream_byte = static_cast<uint8_t>(stream | (key_frame ? kKeyFrameBit : 0));
  payload.object_number = st.next_object;
  payload.send_ms = static_cast<uint32_t>(time / kTicksPerMs);
  payload.presentation_ms = payload.send_ms + s.info.preroll_ms;
  SamplePlacement placement;
  const bool had_open = s.packets->has_open_packet();
  const uint64_t open_packet = s.packets->completed_packets();
  const HRESULT hr = s.packets->AddSample(payload, data, static_cast<uint32_t>(size), &placement);
  if (FAILED(hr)) return s.Fail(hr);
  if (s.packets->has_open_packet()) {
    const bool same_open = had_open && s.packets->completed_packets() == open_packet;
    s.open_since = same_open ? std::min(s.open_since, time) : time;
  }
  s.pending_since = s.pending ? std::min(s.pending_since, time) : time;
  s.pending = true;

  ++st.next_object;  // wraps mod 256
  st.max_object_size = std::max(st.max_object_size, static_cast<uint32_t>(size));
  if (st.video && key_frame && !st.index_lost) {
    try {
      st.index.AddKeyFrame(payload.presentation_ms, placement.first_packet, placement.last_packet);
    } catch (const std::bad_alloc&) {
      st.index_lost = true;
    }
  }
  s.any_sample = true;
  s.end_time = std::max(s.end_time, end);
  return s.KeepCrashBound(end);
}

HRESULT Muxer::End() {
  if (state_ == nullptr) return E_OUTOFMEMORY;
  State& s = *state_;
  if (s.phase != Phase::kWriting) return NS_E_INVALID_REQUEST;
  s.phase = Phase::kEnded;
  if (FAILED(s.failure)) return s.failure;
  try {
    return s.Finish();
  } catch (const std::bad_alloc&) {
    return s.Fail(E_OUTOFMEMORY);
  }
}

uint32_t Muxer::packet_size() const { return state_ != nullptr ? state_->packet_size : 0; }

uint64_t Muxer::packet_count() const {
  return state_ != nullptr && state_->packets != nullptr ? state_->packets->completed_packets() : 0;
}

}  // namespace kestrum::asf
