// The ASF reader on an arbitrary file: the input is the file, read from
// memory as `kestrum inspect` reads it (samples without their bytes), as
// `kestrum extract` reads it (with them) and with the muxer's layout checks.
// Checks what those commands rely on: both damage readings meet the same
// samples and problems; every sample holds as many bytes as it says, never
// more than its size, and is cut exactly when it holds fewer, its bytes
// kept only below the largest sample's size; the samples together hold no
// more bytes than the file, and no more packets are read than it has room
// for; the layout reading's samples are the damage reading's first ones.
#include <algorithm>
#include <string>
#include <vector>

#include "asf_format/muxer.h"
#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "fuzz/fuzz_input.h"

namespace {

using namespace kestrum;
using namespace kestrum::asf;

// Reading is linear in the file; this keeps an input to a few milliseconds.
constexpr size_t kMaxInput = size_t{1} << 20;

// What a sample is, less its bytes.
struct SampleFacts {
  uint8_t stream, object_number;
  bool key, cut;
  uint32_t presentation_ms, size, have;
  uint64_t first_packet, last_packet;
  bool operator==(const SampleFacts&) const = default;
};

struct Walk {
  bool opened = false;
  std::vector<SampleFacts> samples;
  std::vector<std::string> problems;
};

void CheckSample(const MediaObject& s, const ReadOptions& options) {
  if (s.have > s.size) fuzz::Fail("a sample holds more bytes than its size");
  if (s.cut != (s.have < s.size)) fuzz::Fail("a sample is cut but whole, or short but not cut");
  if (s.first_packet > s.last_packet) fuzz::Fail("a sample ends before it begins");
  if (s.bytes.size() != (options.keep_payload && s.size < kMaxSampleSize ? s.have : 0)) {
    fuzz::Fail("a sample's bytes are not the ones it says it holds, or past the largest");
  }
}

Walk Read(const uint8_t* data, size_t size, ReadOptions options) {
  MemorySource source(data, size);
  Reader reader(source, options);
  Walk walk;
  walk.opened = reader.Open();
  if (!walk.opened) {
    if (reader.error().empty()) fuzz::Fail("a file refused without a reason");
    return walk;
  }
  const HeaderInfo& h = reader.header();
  if (h.source_size != size || h.header_size > size) fuzz::Fail("a header past the file");
  uint64_t bytes = 0;
  MediaObject sample;
  while (reader.NextSample(&sample)) {
    CheckSample(sample, options);
    bytes += sample.have;
    if (bytes > size) fuzz::Fail("the samples hold more bytes than the file");
    walk.samples.push_back({sample.stream, sample.object_number, sample.key, sample.cut,
                            sample.presentation_ms, sample.size, sample.have,
                            sample.first_packet, sample.last_packet});
  }
  if (reader.packets_read() > 0 &&
      (h.packet_size == 0 || reader.packets_read() > size / h.packet_size)) {
    fuzz::Fail("more packets read than the file has room for");
  }
  for (const IndexInfo& index : reader.indexes()) {
    if (index.offset >= size || index.entries.size() > size / kIndexEntrySize) {
      fuzz::Fail("an index past the file");
    }
  }
  walk.problems = reader.problems();
  return walk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const Walk counted = Read(data, size, {ReadChecks::kDamage, false});  // inspect
  const Walk kept = Read(data, size, {ReadChecks::kDamage, true});      // extract
  if (counted.opened != kept.opened || counted.samples != kept.samples ||
      counted.problems != kept.problems) {
    fuzz::Fail("keeping the samples' bytes changed what was read");
  }
  const Walk strict = Read(data, size, {ReadChecks::kLayout, true});
  if (strict.opened != counted.opened) fuzz::Fail("the layout checks opened another file");
  if (strict.samples.size() > counted.samples.size() ||
      !std::equal(strict.samples.begin(), strict.samples.end(), counted.samples.begin())) {
    fuzz::Fail("the layout reading met samples the damage reading did not");
  }
  if (strict.problems.size() > 1) fuzz::Fail("the layout reading went on past a problem");
  return 0;
}
