// The file road: packets from the packet source, headers to the header parser
// and the writer, groups to the sample packer.
#include "convert/transfer.h"

#include "api/record_instance.h"
#include "diagnostics/lines.h"
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
}

namespace kestrum {
namespace {

constexpr int32_t kChannel = 1;

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

PacketSource PacketSource::Library() { return PacketSource{QuarnelOpenFile, QuarnelGetPacket}; }

int32_t TransferToAsf(RecordInstance& instance, const PacketSource& packets, intptr_t source,
                      const char* destination) {
  if (packets.open(kChannel, source) == 0) return 0;
  // A writer left by an earlier conversion that could not be ended is given
  // back, never appended to.
  instance.ReleaseWriter();

  PacketRecord record{};  // the same record for every call, not cleared between them
  instance.packer.packet_unreadable = false;
  int32_t result = 1;
  int32_t fetched_last = kPacketMore;
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
    }
    if (fetched != kPacketMore) break;
  }
  // The stream could not be read to its end: the file holds what came
  // before, ended, but the conversion did not run to its end.
  if ((fetched_last == kPacketReadError || instance.packer.packet_unreadable) && result == 1) {
    result = E_READ_FAULT;
  }
  const HRESULT finished = FinishOutput(instance);
  if (result == 1 && FAILED(finished)) result = finished;
  return result;
}

}  // namespace kestrum
