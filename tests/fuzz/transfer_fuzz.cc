// The file road's driver, TransferToAsf, over a packet source scripted by the
// input, into the stand-in writer over memory. Script: one byte that makes
// the source fail to open when it is 0xFF, then packets, each
//   u8 kind   0: header, 1: group, 2: skipped (10), 3: a u32 kind that follows
//   u8 how    low 2 bits: the call's result, 0 or 1 more (0), 2 end (2), 3
//             last packet (1); bit 2: a null data pointer
//   u32 time_ms, u16 length, then that many bytes (fewer at the input's end).
// When the input runs out the source reports the end. What is left of the
// input after a conversion's end drives another conversion on the same
// instance. A conversion that returns 1 must leave a file that walks cleanly.
#include <memory>
#include <vector>

#include "api/record_instance.h"
#include "convert/transfer.h"
#include "fuzz/fuzz_input.h"
#include "asf_format/reader.h"
#include "support/memory_writer.h"

namespace {

// A group packet of L bytes can count L / 20 blocks and yields one sample of
// up to L bytes per block: an input's cost grows with the square of its
// packets' lengths, so inputs stay small.
constexpr size_t kMaxInput = size_t{1} << 14;

struct ScriptedSource {
  explicit ScriptedSource(kestrum::fuzz::FuzzInput& input) : in(input) {}

  int32_t Next(kestrum::PacketRecord* record) {
    if (in.empty()) return kestrum::kPacketEnd;
    const uint8_t kind = in.U8();
    const uint8_t how = in.U8();
    switch (kind & 3) {
      case 0:
        record->kind = kestrum::kPacketHeader;
        break;
      case 1:
        record->kind = kestrum::kPacketGroup;
        break;
      case 2:
        record->kind = kestrum::kPacketSkipped;
        break;
      default:
        record->kind = in.U32();
        break;
    }
    record->time_ms = in.U32();
    const std::span<const uint8_t> bytes = in.Bytes(in.U16());
    // The packet's bytes, exactly: valid until the next call, as the source
    // promises, and reads past them are caught.
    packet.assign(bytes.begin(), bytes.end());
    packet.shrink_to_fit();
    record->data = (how & 4) != 0 ? nullptr : packet.data();
    record->length = (how & 4) != 0 ? 0 : static_cast<uint32_t>(packet.size());
    switch (how & 3) {
      case 2:
        return kestrum::kPacketEnd;
      case 3:
        return 1;
      default:
        return kestrum::kPacketMore;
    }
  }

  kestrum::fuzz::FuzzInput& in;
  std::vector<uint8_t> packet;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrum;
  if (size > kMaxInput) return 0;
  fuzz::FuzzInput in(data, size);
  const bool opens = in.U8() != 0xFF;
  auto output = std::make_shared<testing::MemoryOutput>();
  std::unique_ptr<RecordInstance> instance(
      RecordInstance::Create(testing::MemoryWriterFactories(output)));
  if (!instance) return 0;
  ScriptedSource source(in);
  const PacketSource packets{
      [&](int32_t, intptr_t) { return opens ? 1 : 0; },
      [&](int32_t, kestrum::PacketRecord* record) { return source.Next(record); },
  };
  do {
    const size_t outputs_before = output->opens;
    const int32_t result = TransferToAsf(*instance, packets, 0, "fuzz.asf");
    if (result == 0 && opens) fuzz::Fail("an opened source reported as not opened");
    if (result > 1) fuzz::Fail("a result above 1");
    if (instance->session.writer != nullptr) fuzz::Fail("a conversion kept its writer");
    // A conversion that ran to its end leaves a whole file.
    if (result == 1 && output->opens != outputs_before) {
      const auto file = asf::ReadAsfFile(output->sink.bytes);
      if (!file.error.empty()) fuzz::Fail(file.error.c_str());
    }
  } while (opens && !in.empty());
  return 0;
}
