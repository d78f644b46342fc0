// The ASF muxer with arbitrary sample sizes, times and flags, over a memory
// sink that may fail. Script:
//   u8 setup   bit 0: an audio stream too; bit 1: the sink fails after a u32
//              byte count that follows; bit 2: abandon the muxer without End
//   u16 packet size (below 100: the muxer's own choice), u32 video bit rate,
//   u16 preroll ms, then samples, each
//   u8 flags   bits 0-1: stream 8, 6, 8 or an unknown 9; bit 2: key frame;
//              bit 3: a raw u64 time follows (else a u32); bits 4-5: size
//              form, 0-1: u16 + 1, 2: u32 below 1 MiB (0 stays 0), 3: around
//              the 16 MiB limit by a u8 (those of 16 MiB or more must be
//              refused; smaller ones pass the harness's budget only rarely)
//   time, u16 duration (in ms), size field.
// The file is then walked by an independent reader: with a sink that never
// failed, it must give back every sample the muxer accepted, byte for byte.
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "fuzz/fuzz_input.h"
#include "asf_format/reader.h"
#include "asf_format/muxer.h"
#include "asf_format/tests/memory_sink.h"

namespace {

using namespace kestrum;
using namespace kestrum::asf;

// Sample bytes one input may hand over, all samples together.
constexpr uint64_t kSampleBudget = uint64_t{1} << 20;
constexpr uint64_t kLongestTime = uint64_t{3'600'000} * 10'000;           // 1 h
constexpr uint64_t kRefusedTime = uint64_t{0xFFFFFFFF} * 10'000 + 9'999;  // 2^32 ms

struct Accepted {
  uint16_t stream;
  bool key;
  uint32_t presentation_ms;
  size_t size;
};

StreamInfo Video(uint32_t bitrate) {
  StreamInfo video;
  video.kind = MediaKind::kVideo;
  video.number = 8;
  video.bitrate = bitrate;
  video.buffer_window_ms = 3000;
  video.avg_time_per_frame = 400'000;
  video.format.assign(80, 0);
  store_u32le(video.format.data(), 80);
  store_u32le(video.format.data() + 4, 704);
  store_u32le(video.format.data() + 8, 576);
  return video;
}

StreamInfo Audio() {
  StreamInfo audio;
  audio.kind = MediaKind::kAudio;
  audio.number = 6;
  audio.bitrate = 128'000;
  audio.format.assign(18, 0);
  return audio;
}

// The bytes of sample `index`: a pattern the reader's copy is compared with.
uint8_t PatternByte(size_t index, size_t offset) {
  return static_cast<uint8_t>((offset * 131) ^ (index * 7 + 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 14)) return 0;
  fuzz::FuzzInput in(data, size);
  const uint8_t setup = in.U8();
  MemorySink sink;
  if ((setup & 2) != 0) sink.fail_after = std::make_unique<size_t>(in.U32());
  FileInfo info;
  const uint16_t packet_size = in.U16();
  info.packet_size = packet_size < 100 ? 0 : packet_size;
  info.streams.push_back(Video(in.U32()));
  if ((setup & 1) != 0) info.streams.push_back(Audio());
  info.preroll_ms = in.U16();

  std::vector<Accepted> accepted;
  {
    Muxer muxer(sink, info);
    if (Failed(muxer.Begin())) return 0;
    uint64_t budget = kSampleBudget;
    std::vector<uint8_t> bytes;
    while (!in.empty()) {
      const uint8_t flags = in.U8();
      static constexpr uint16_t kStreams[] = {8, 6, 8, 9};
      const uint16_t stream = kStreams[flags & 3];
      const bool key = (flags & 4) != 0;
      uint64_t time = (flags & 8) != 0 ? in.U64() : in.U32();
      // The index holds an entry per second of play duration: times up to an
      // hour keep an input's cost small; times the muxer must refuse stay.
      if (time <= kRefusedTime && time > kLongestTime) time %= kLongestTime;
      const uint64_t duration = uint64_t{in.U16()} * 10'000;
      size_t sample_size = 0;
      switch ((flags >> 4) & 3) {
        case 2:
          sample_size = in.U32() % (size_t{1} << 20);
          break;
        case 3:
          sample_size = kMaxSampleSize - 2 + in.U8() % 4;
          break;
        default:
          sample_size = size_t{in.U16()} + 1;
          break;
      }
      // Sizes the muxer must refuse get a one-byte buffer: were one taken,
      // the read past it would be caught.
      const bool too_big = sample_size >= kMaxSampleSize;
      if (!too_big && sample_size > budget) break;
      if (!too_big) budget -= sample_size;
      bytes.resize(too_big ? 1 : sample_size);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(accepted.size(), i);
      const Status status = muxer.WriteSample(stream, time, duration, key,
                                              sample_size != 0 ? bytes.data() : nullptr, sample_size);
      if (Succeeded(status) && too_big) fuzz::Fail("a sample of 16 MiB or more was taken");
      if (Succeeded(status)) {
        accepted.push_back(
            {stream, key, static_cast<uint32_t>(time / 10'000 + info.preroll_ms), sample_size});
      }
    }
    if ((setup & 4) == 0) (void)muxer.End();
  }
  if (sink.fail_after) return 0;

  const AsfFile file = ReadAsfFile(std::move(sink.bytes));
  if (!file.error.empty()) fuzz::Fail(file.error.c_str());
  if (file.samples.size() != accepted.size()) fuzz::Fail("samples lost or added");
  for (size_t i = 0; i < accepted.size(); ++i) {
    const MediaObject& s = file.samples[i];
    const Accepted& a = accepted[i];
    if (s.stream != a.stream || s.key != a.key || s.presentation_ms != a.presentation_ms ||
        s.bytes.size() != a.size) {
      fuzz::Fail("a sample read back differs");
    }
    for (size_t k = 0; k < a.size; ++k) {
      if (s.bytes[k] != PatternByte(i, k)) fuzz::Fail("sample bytes differ");
    }
  }
  return 0;
}
