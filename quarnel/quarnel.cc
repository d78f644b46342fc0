// The exports over one stream scanner. The library keeps one open stream,
// for channel 1; calls of the first two must not overlap (the caller
// serialises them). QuarnelEndStream may come at any moment, from any
// thread or a signal handler: it only marks the channel. QuarnelGetPosition
// may come from another thread: it reads one atomic counter.
#include "quarnel.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "base/bytes.h"
#include "stream_format/frame_time.h"
#include "stream_format/stream_scanner.h"

#if UINTPTR_MAX == 0xFFFFFFFFu
// Hosts of the 32-bit build rely on the exact 40-byte record.
static_assert(sizeof(PacketRecord) == 40, "PacketRecord must be 40 bytes");
static_assert(offsetof(PacketRecord, kind) == 0, "kind at 0");
static_assert(offsetof(PacketRecord, data) == 4, "data at 4");
static_assert(offsetof(PacketRecord, length) == 8, "length at 8");
static_assert(offsetof(PacketRecord, reserved) == 12, "reserved at 12");
static_assert(offsetof(PacketRecord, time_ms) == 36, "time_ms at 36");
#endif

namespace {

constexpr int32_t kChannel = 1;
using kestrum::stream_format::kFrameMs;  // groups are 40 ms apart (25 per second)

struct Channel {
  kestrum::stream_format::StreamScanner scanner;
  bool header_sent = false;
  uint32_t group_index = 0;  // groups handed out so far; wraps with time_ms
};

Channel& TheChannel() {
  static Channel channel;
  return channel;
}

// Set by QuarnelEndStream, cleared by QuarnelOpenFile. Lock-free, so that
// setting it is safe in a signal handler.
std::atomic<bool> g_end_asked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from signal handlers");

// The end of the last packet placed, in bytes of the file; 0 once opened.
std::atomic<uint64_t> g_position{0};

void Fill(PacketRecord& record, uint32_t kind, const uint8_t* data, uint32_t length,
          uint64_t offset, uint64_t size, uint32_t time_ms) {
  record.kind = kind;
  record.data = data;
  record.length = length;
  std::memset(record.reserved, 0, sizeof record.reserved);
  kestrum::store_u64le(record.reserved + QUARNEL_RESERVED_OFFSET, offset);
  kestrum::store_u64le(record.reserved + QUARNEL_RESERVED_SIZE, size);
  record.time_ms = time_ms;
  g_position.store(offset + size, std::memory_order_relaxed);
}

int32_t NextPacket(Channel& channel, PacketRecord& record) {
  // Ended early: as at the end of the stream, on a packet boundary.
  if (g_end_asked.load(std::memory_order_acquire) && channel.scanner.is_open()) {
    channel.scanner.Close();
  }
  if (!channel.scanner.is_open()) return QUARNEL_END;
  if (!channel.header_sent) {
    channel.header_sent = true;
    Fill(record, QUARNEL_PACKET_HEADER, channel.scanner.header(), kestrum::stream_format::kFileHeaderSize, 0,
         kestrum::stream_format::kFileHeaderSize, 0);
    return QUARNEL_MORE;
  }
  const kestrum::stream_format::ScanEvent event = channel.scanner.Next();
  switch (event.kind) {
    case kestrum::stream_format::ScanEvent::Kind::kGroup:
      Fill(record, QUARNEL_PACKET_GROUP, event.data, static_cast<uint32_t>(event.size),
           event.offset, event.size, channel.group_index * kFrameMs);
      ++channel.group_index;
      return QUARNEL_MORE;
    case kestrum::stream_format::ScanEvent::Kind::kSkipped:
      Fill(record, QUARNEL_PACKET_SKIPPED, nullptr, 0, event.offset, event.size, 0);
      return QUARNEL_MORE;
    case kestrum::stream_format::ScanEvent::Kind::kEnd:
      break;
  }
  // A stream that could not be read to its end does not end as if it had.
  const bool failed = channel.scanner.failed();
  if (failed) Fill(record, QUARNEL_PACKET_SKIPPED, nullptr, 0, channel.scanner.consumed(), 0, 0);
  channel.scanner.Close();
  return failed ? QUARNEL_READ_ERROR : QUARNEL_END;
}

}  // namespace

extern "C" {

QUARNEL_API int32_t QUARNEL_CALL QuarnelOpenFile(int32_t channel, intptr_t source) {
  if (channel != kChannel) return 0;
  try {
    Channel& open = TheChannel();
    g_end_asked.store(false, std::memory_order_release);
    open.header_sent = false;
    open.group_index = 0;
    g_position.store(0, std::memory_order_relaxed);
    // Mapped where it can be: groups are handed out in place (readers of them
    // guard their reads, see mapped_file/read_guard.h).
    return open.scanner.Open(reinterpret_cast<const char*>(source), /*map=*/true) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

QUARNEL_API int32_t QUARNEL_CALL QuarnelGetPacket(int32_t channel, PacketRecord* record) {
  if (channel != kChannel || record == nullptr) return QUARNEL_END;
  try {
    return NextPacket(TheChannel(), *record);
  } catch (...) {
    // Memory for the next packet could not be had: the stream was not read
    // to its end, which must not look like its end.
    Channel& open = TheChannel();
    Fill(*record, QUARNEL_PACKET_SKIPPED, nullptr, 0, open.scanner.consumed(), 0, 0);
    open.scanner.Close();
    return QUARNEL_READ_ERROR;
  }
}

QUARNEL_API int32_t QUARNEL_CALL QuarnelEndStream(int32_t channel) {
  if (channel != kChannel) return 0;
  g_end_asked.store(true, std::memory_order_release);
  return 1;
}

QUARNEL_API int32_t QUARNEL_CALL QuarnelGetPosition(int32_t channel, uint64_t* bytes) {
  if (channel != kChannel || bytes == nullptr) return 0;
  *bytes = g_position.load(std::memory_order_relaxed);
  return 1;
}

}  // extern "C"
