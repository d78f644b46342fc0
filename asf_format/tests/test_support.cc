#include "asf_format/tests/test_support.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "base/bytes.h"

namespace kestrum::asf::testing {

Guid GuidFromText(const char* t) {
  unsigned d1 = 0, d2 = 0, d3 = 0, b[8] = {};
  std::sscanf(t, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
              &b[4], &b[5], &b[6], &b[7]);
  Guid g{d1, static_cast<uint16_t>(d2), static_cast<uint16_t>(d3), {}};
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<uint8_t>(b[i]);
  return g;
}

FileInfo VideoFileInfo(uint32_t packet_size) {
  FileInfo info;
  for (int i = 0; i < 8; ++i) info.file_id.data4[i] = static_cast<uint8_t>(0xA0 + i);
  info.file_id.data1 = 0x12345678;
  info.creation_time = 133'000'000'000'000'000ull;
  info.packet_size = packet_size;
  info.preroll_ms = 3000;
  info.title = u"My Title";
  info.description = u"My Description";
  StreamInfo video;
  video.kind = MediaKind::kVideo;
  video.number = kVideoStream;
  video.bitrate = 512'000;
  video.buffer_window_ms = 3000;
  video.avg_time_per_frame = kFrameTime;
  video.format.assign(80, 0);
  uint8_t* bih = video.format.data();
  store_u32le(bih, 80);       // biSize: header plus codec data
  store_u32le(bih + 4, 704);  // biWidth
  store_u32le(bih + 8, 576);  // biHeight
  store_u16le(bih + 12, 1);   // biPlanes
  store_u16le(bih + 14, 24);  // biBitCount (above 8: no palette)
  bih[16] = 'X', bih[17] = 'Q', bih[18] = 'V', bih[19] = '4';
  for (size_t i = 40; i < 80; ++i) video.format[i] = static_cast<uint8_t>(i * 7);
  info.streams.push_back(video);
  return info;
}

void AddAudioStream(FileInfo& info) {
  StreamInfo audio;
  audio.kind = MediaKind::kAudio;
  audio.number = kAudioStream;
  audio.bitrate = 128'000;
  audio.buffer_window_ms = 3000;
  audio.format.assign(20, 0);
  store_u16le(audio.format.data(), 1);          // PCM
  store_u16le(audio.format.data() + 2, 1);      // channels
  store_u32le(audio.format.data() + 4, 8000);   // samples per second
  store_u32le(audio.format.data() + 8, 16000);  // bytes per second
  store_u16le(audio.format.data() + 12, 2);     // block align
  store_u16le(audio.format.data() + 14, 16);    // bits per sample
  store_u16le(audio.format.data() + 16, 2);     // cbSize
  audio.format[18] = 0xAB;
  audio.format[19] = 0xCD;
  info.streams.push_back(audio);
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

std::vector<Sample> VideoSamples(std::mt19937& rng, int count, size_t min_size, size_t max_size) {
  std::vector<Sample> samples;
  std::uniform_int_distribution<size_t> size(min_size, max_size);
  for (int i = 0; i < count; ++i) {
    samples.push_back(Sample{kVideoStream, static_cast<uint64_t>(i) * kFrameTime, i % 25 == 0,
                             RandomBytes(rng, size(rng))});
  }
  return samples;
}

namespace {
HoldCount g_holds;
void ReleaseHold(void*) { --g_holds.outstanding; }
}  // namespace

HoldCount HeldByWriteAll() { return g_holds; }

void WriteAll(Muxer& muxer, const std::vector<Sample>& samples, bool end) {
  g_holds = HoldCount{};
  ASSERT_EQ(muxer.Begin(), kOk);
  for (const Sample& s : samples) {
    g_holds.most = std::max(g_holds.most, ++g_holds.outstanding);
    ASSERT_EQ(muxer.WriteSample(s.stream, s.time, kFrameTime, s.key, s.bytes.data(),
                                s.bytes.size(), SampleHold(ReleaseHold, nullptr)),
              kOk);
  }
  if (end) {
    ASSERT_EQ(muxer.End(), kOk);
  }
}

std::vector<uint8_t> MuxedFile(const FileInfo& info, const std::vector<Sample>& samples, bool end,
                               bool streamed) {
  MemorySink sink;
  sink.stream = streamed;
  {
    Muxer muxer(sink, info);
    WriteAll(muxer, samples, end);
  }
  return sink.bytes;
}

std::string TempPath(const std::string& name) {
  std::filesystem::create_directories(KESTRUM_TEST_TMPDIR);
  return std::string(KESTRUM_TEST_TMPDIR) + "/" + name;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

#ifdef _WIN32
// The command-line tools are run from the build machine (Linux) only: under
// Windows there is no shell to find them, and the callers skip.
std::string RunCommand(const std::string&, int* status) {
  if (status != nullptr) *status = -1;
  return std::string();
}
#else
std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int rc = ::pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}
#endif

bool HaveTool(const char* name) {
  int status = 0;
  RunCommand(std::string("command -v ") + name + " >/dev/null 2>&1", &status);
  return status == 0;
}

}  // namespace kestrum::asf::testing
