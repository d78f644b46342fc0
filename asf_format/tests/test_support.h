// Shared pieces of the muxer tests: a typical FileInfo, generated samples,
// running the muxer over them, files and commands.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "asf_format/muxer.h"
#include "asf_format/tests/memory_sink.h"

namespace kestrum::asf::testing {

// A GUID from its textual form ("75B22630-668E-11CF-A6D9-00AA0062CE6C"): the
// tests write the identifiers out by hand from the format's table.
Guid GuidFromText(const char* text);

inline constexpr uint16_t kVideoStream = 8;
inline constexpr uint16_t kAudioStream = 6;
inline constexpr uint64_t kFrameTime = 400'000;  // 40 ms

// Stream 8: a BITMAPINFOHEADER (biSize 80, FOURCC XQV4, 704 x 576) and 40
// codec bytes; preroll 3000 ms; title and description set.
FileInfo VideoFileInfo(uint32_t packet_size = 0);
// Adds stream 6: a 20-byte WAVEFORMATEX (cbSize 2).
void AddAudioStream(FileInfo& info);

// A memory sink that also records the size of every append and the sink's
// size at every flush.
class RecordingSink : public MemorySink {
 public:
  Status Write(const uint8_t* data, size_t size) override {
    writes.push_back(size);
    return MemorySink::Write(data, size);
  }
  // A gathered append counts as one write of its spans' bytes.
  Status WriteGather(const ByteSpan* spans, size_t count) override {
    size_t total = 0;
    for (size_t i = 0; i < count; ++i) total += spans[i].size;
    writes.push_back(total);
    for (size_t i = 0; i < count; ++i) {
      const Status status = MemorySink::Write(spans[i].data, spans[i].size);
      if (Failed(status)) return status;
    }
    return kOk;
  }
  Status Flush() override {
    flushed_sizes.push_back(bytes.size());
    return MemorySink::Flush();
  }
  std::vector<size_t> writes;
  std::vector<size_t> flushed_sizes;
};

struct Sample {
  uint16_t stream = kVideoStream;
  uint64_t time = 0;  // 100-ns units
  bool key = false;
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t size);
// `count` video samples 40 ms apart, a key frame every 25th, sizes drawn
// from [min_size, max_size].
std::vector<Sample> VideoSamples(std::mt19937& rng, int count, size_t min_size, size_t max_size);

// Begin, every sample (duration kFrameTime), End; each call must succeed.
// The samples are taken in place, each with a hold that HeldByWriteAll
// counts: how many the muxer holds now, and the most it held at once.
void WriteAll(Muxer& muxer, const std::vector<Sample>& samples, bool end = true);
struct HoldCount {
  int outstanding = 0, most = 0;
};
HoldCount HeldByWriteAll();

// The file the muxer writes of `samples` in memory: ended, or with `end`
// false left as a writer killed after its last sample leaves it; over a
// sink that only appends (a pipe's) when `streamed`.
std::vector<uint8_t> MuxedFile(const FileInfo& info, const std::vector<Sample>& samples,
                               bool end = true, bool streamed = false);

std::string TempPath(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);
// Runs `command` through the shell; its standard output.
std::string RunCommand(const std::string& command, int* status = nullptr);
bool HaveTool(const char* name);

}  // namespace kestrum::asf::testing
