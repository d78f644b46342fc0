// The file road: packets from the packet source, headers to the header parser
// and the writer, groups to the sample packer.
#include "convert/transfer.h"

#include "api/record_instance.h"
#include "base/bytes.h"
#include "convert/transfer_progress.h"
#include "diagnostics/lines.h"
#include "output/results.h"
#include "platform/debug_output.h"

#if defined(_WIN32)
#define KESTRUM_PACKET_SOURCE_IMPORT __declspec(dllimport)
#else
#define KESTRUM_PACKET_SOURCE_IMPORT
#endif

// The packet-source library's exports.
extern "C" {
KESTRUM_PACKET_SOURCE_IMPORT kestrum::PacketSourceOpenFile QuarnelOpenFile;
KESTRUM_PACKET_SOURCE_IMPORT kestrum::PacketSourceGetPacket QuarnelGetPacket;
KESTRUM_PACKET_SOURCE_IMPORT kestrum::PacketSourceEndStream QuarnelEndStream;
KESTRUM_PACKET_SOURCE_IMPORT kestrum::PacketSourceGetPosition QuarnelGetPosition;
}

namespace kestrum {
namespace {

constexpr int32_t kChannel = 1;
// Where the packet source notes a packet's place in the file: its first
// byte's offset, and its length there (a skipped stretch's in full).
constexpr size_t kRecordOffsetAt = 0;
constexpr size_t kRecordExtentAt = 8;

// How far the source has been handed out: as the packet source says, or the
// end of the last packet placed.
uint64_t HandedOut(const PacketSource& packets, const PacketRecord& record) {
  uint64_t bytes = 0;
  if (packets.get_position && packets.get_position(kChannel, &bytes) == 1) return bytes;
  return load_u64le(record.reserved + kRecordOffsetAt) +
         load_u64le(record.reserved + kRecordExtentAt);
}

// A stopped conversion gives the source back: ended early, the next fetch
// closes it.
void CloseSource(const PacketSource& packets, PacketRecord& record) {
  if (!packets.end_stream) return;
  packets.end_stream(kChannel);
  (void)packets.get_packet(kChannel, &record);
}

// Ends the conversion's output so that its file is complete and indexed, and
// gives back the writer so that the next conversion starts afresh. Returns the
// failure of ending the file, if any.
HRESULT FinishOutput(RecordInstance& instance) {
  HRESULT hr = S_OK;
  if (instance.session.writer_ready != 0 && instance.session.writer != nullptr) {
    hr = instance.session.writer->EndWriting();
  }
  instance.ReleaseWriter();
  return hr;
}

}  // namespace

PacketSource PacketSource::Library() {
  return PacketSource{QuarnelOpenFile, QuarnelGetPacket, QuarnelGetPosition, QuarnelEndStream};
}

int32_t TransferToAsf(RecordInstance& instance, const PacketSource& packets, intptr_t source,
                      const char* destination, TransferProgress* progress) {
  if (packets.open(kChannel, source) == 0) return 0;
  // A writer left by an earlier conversion that could not be ended is given
  // back, never appended to.
  instance.ReleaseWriter();

  PacketRecord record{};  // the same record for every call, not cleared between them
  instance.packer.packet_unreadable = false;
  int32_t result = 1;
  int32_t fetched_last = kPacketMore;
  bool stopped = false;
  for (;;) {
    const int32_t fetched = packets.get_packet(kChannel, &record);
    fetched_last = fetched;
    DebugLineNumber(lines::kFetchedPrefix, fetched);
    if (fetched == kPacketEnd) break;

    if (record.kind == kPacketHeader) {
      // A header packet too short to hold a header is refused like a bad one.
      HRESULT hr = record.data != nullptr && record.length >= static_cast<uint32_t>(kFileHeaderSize)
                       ? instance.ParseFileHeader(record.data)
                       : E_FAIL;
      if (SUCCEEDED(hr)) hr = instance.PrepareWriter(destination);
      if (FAILED(hr)) {
        result = hr;
        break;
      }
    } else if (record.kind != kPacketSkipped) {
      instance.processpacket(record.data, record);
      if (instance.packer.packet_unreadable) break;
    } else {
      instance.stats.BytesInNoGroup(load_u64le(record.reserved + kRecordExtentAt));
    }
    if (fetched != kPacketMore) break;
    if (progress != nullptr && progress->Stopped(HandedOut(packets, record))) {
      stopped = true;
      CloseSource(packets, record);
      break;
    }
  }
  // The stream could not be read to its end: the file holds what came
  // before, ended, but the conversion did not run to its end.
  if ((fetched_last == kPacketReadError || instance.packer.packet_unreadable) && result == 1) {
    result = E_READ_FAULT;
  }
  const HRESULT finished = FinishOutput(instance);
  if (result == 1 && FAILED(finished)) result = finished;
  if (result == 1 && stopped) result = kCancelled;
  if (progress != nullptr && fetched_last == kPacketEnd)
    progress->Finished(HandedOut(packets, record));
  return result;
}

}  // namespace kestrum
