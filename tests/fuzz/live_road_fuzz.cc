// The live road through the exports, into the stand-in writer over memory.
// The input is a script of pieces: a u16 length, then that many bytes (fewer
// when the input ends), again and again. A length of exactly 40 makes a
// header piece, as on the real road; 0xFFFF stops the recording (StopRecord)
// and starts a new one on the same handle, as a host that reuses it would.
// A recording stopped once at the end must leave a file that walks cleanly.
#include <memory>

#include "api/record_instance.h"
#include "fuzz/fuzz_input.h"
#include "kestrum.h"
#include "asf_format/reader.h"
#include "support/memory_writer.h"

namespace {

// Room for more than the reassembly buffer's 1,024,000 bytes, and a few MB
// more, so that it fills (scripts/fuzz.sh gives libFuzzer the same length).
// Every group is packed once per video block it holds, so the work of one
// input grows with its length times its longest group, a sample of at most
// 1,024,000 bytes: the file held in memory stops growing at kMaxOutput, past
// which the writes fail as on a full disk.
constexpr size_t kMaxInput = size_t{1} << 22;
constexpr size_t kMaxOutput = size_t{1} << 27;
constexpr uint16_t kRestart = 0xFFFF;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrum;
  if (size > kMaxInput) return 0;
  auto output = std::make_shared<testing::MemoryOutput>();
  KestrumHandle handle = reinterpret_cast<KestrumHandle>(
      RecordInstance::Create(testing::MemoryWriterFactories(output, kMaxOutput)));
  if (handle == nullptr) return 0;
  static const char kName[] = "fuzz.asf";
  StartRecord(handle, kName, 0, 0);
  fuzz::FuzzInput in(data, size);
  bool stopped = false;
  while (!in.empty()) {
    const uint16_t length = in.U16();
    if (length == kRestart) {
      StopRecord(handle);
      stopped = true;
      StartRecord(handle, kName, 0, 0);
      continue;
    }
    const std::span<const uint8_t> piece = in.Bytes(length);
    // A heap copy of exactly the piece, so reads past it are caught.
    const auto copy = std::make_unique<uint8_t[]>(piece.size());
    std::copy(piece.begin(), piece.end(), copy.get());
    SendOneFrame(handle, copy.get(), static_cast<int32_t>(piece.size()));
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  // Whatever the input, a recording once ended is a whole file that an
  // independent reader walks without a fault.
  if (output->opens != 0 && !stopped) {
    const auto file = asf::ReadAsfFile(std::move(output->sink.bytes));
    if (!file.error.empty()) fuzz::Fail(file.error.c_str());
  }
  return 0;
}
