// The packet-source library on an arbitrary stored stream: the input is the
// file. Checks the contract the file road relies on: a source that opens hands
// out the 40-byte header first, every group packet is one whole group, and the
// stream ends after a bounded number of packets.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_input.h"
#include "quarnel.h"
#include "stream/group.h"

namespace {

const std::string& InputPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr && *dir != 0 ? dir : "/tmp") + "/kestrum-fuzz-source-" +
           std::to_string(::getpid());
  }();
  return path;
}

bool WriteInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(InputPath().c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrum;
  if (!WriteInput(data, size)) return 0;
  const int32_t opened = QuarnelOpenFile(1, reinterpret_cast<intptr_t>(InputPath().c_str()));
  if (opened == 0) {
    if (size >= static_cast<size_t>(kFileHeaderSize))
      fuzz::Fail("a stream of 40 bytes or more did not open");
    return 0;
  }
  if (size < static_cast<size_t>(kFileHeaderSize))
    fuzz::Fail("a stream shorter than 40 bytes opened");
  // Each packet but the header stands for at least one byte of the stream.
  const size_t most_packets = size + 2;
  size_t packets = 0;
  PacketRecord record{};
  while (QuarnelGetPacket(1, &record) != QUARNEL_END) {
    if (++packets > most_packets) fuzz::Fail("the stream does not end");
    if (packets == 1) {
      if (record.kind != QUARNEL_PACKET_HEADER || record.length != kFileHeaderSize ||
          record.data == nullptr) {
        fuzz::Fail("the first packet is not the header");
      }
      continue;
    }
    if (record.kind == QUARNEL_PACKET_SKIPPED) continue;
    if (record.kind != QUARNEL_PACKET_GROUP || record.data == nullptr) {
      fuzz::Fail("a packet neither group nor skipped after the header");
    }
    GroupView group;
    if (ParseGroup(group, record.data, record.data + record.length) != ParseResult::Complete ||
        group.end != record.data + record.length) {
      fuzz::Fail("a group packet that is not one whole group");
    }
  }
  return 0;
}
