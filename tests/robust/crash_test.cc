// Recordings whose process is killed (SIGKILL) at random moments, on both
// roads: the file left behind reads back as the start of the recording and
// loses at most the last second of media written before the kill.
//
// The child publishes, in memory shared with the parent, how many samples it
// has handed to the library (calls that returned); the parent kills it after
// a random delay and compares with what ffprobe reads.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <random>

#include "api/record_instance.h"
#include "convert/transfer.h"
#include "kestrum.h"
#include "robust/robust_support.h"
#include "support/expected_samples.h"

namespace kestrum::testing {
namespace {

constexpr int64_t kFrameMs = 40;
// Wall-clock pause per sample in the child: media runs about 40 times faster
// than real time, so a kill lands anywhere in tens of seconds of media.
constexpr useconds_t kPaceMicros = 1'000;

std::atomic<uint32_t>* g_written = nullptr;  // in shared memory

struct Road {
  const char* name;
  bool live;
  size_t min_payload, max_payload;
};

void PrintTo(const Road& road, std::ostream* out) { *out << road.name; }

// Live road: one group per piece, through the exports.
void RecordLive(const StreamBuilder& stream, const std::string& path) {
  KestrumHandle handle = CreateRecordInstance();
  StartRecord(handle, path.c_str(), 0, 0);
  SendOneFrame(handle, stream.bytes().data(), 40);
  for (size_t i = 0; i < stream.groups().size(); ++i) {
    const GroupExtent& g = stream.groups()[i];
    SendOneFrame(handle, stream.bytes().data() + g.begin, static_cast<int32_t>(g.end - g.begin));
    g_written->store(static_cast<uint32_t>(i + 1));
    ::usleep(kPaceMicros);
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
}

// File road: TransferToAsf with the real writer. Packet k being asked for
// means packets before it, the header and k - 1 groups, went through.
void ConvertFile(const StreamBuilder& stream, const std::string& path) {
  RecordInstance instance(WmFactories::LinkedSdk());
  TransferToAsf(instance,
                ScriptedSource(stream,
                               [](size_t k) {
                                 if (k > 0) g_written->store(static_cast<uint32_t>(k - 1));
                                 ::usleep(kPaceMicros);
                               }),
                0, path.c_str());
}

class CrashTest : public ::testing::TestWithParam<Road> {};

TEST_P(CrashTest, KilledRecordingLosesAtMostTheLastSecond) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const Road& road = GetParam();
  // 1500 frames: 60 s of media, longer than any kill waits.
  const StreamBuilder stream = RecordingStream(1'500, road.min_payload, road.max_payload, 11);
  const std::vector<ProbedPacket> expected =
      road.live ? ExpectedLivePackets(stream) : ExpectedFilePackets(stream);
  void* shared = ::mmap(nullptr, sizeof(std::atomic<uint32_t>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  g_written = new (shared) std::atomic<uint32_t>(0);
  const std::string dir = TestDirectory(std::string("crash_") + road.name);
  std::mt19937 random(static_cast<uint32_t>(::getpid()));
  int64_t worst_ms = 0;
  for (int run = 0; run < 6; ++run) {
    const std::string path = dir + "/run" + std::to_string(run) + ".asf";
    g_written->store(0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (road.live) {
        RecordLive(stream, path);
      } else {
        ConvertFile(stream, path);
      }
      ::_exit(0);
    }
    // From the first sample on (however slowly the child starts), a random
    // moment within the next 0.7 s, while the child still has seconds to go.
    for (int waited = 0; g_written->load() == 0 && waited < 20'000; ++waited) ::usleep(1'000);
    ::usleep(static_cast<useconds_t>(random() % 700'000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the recording ended before the kill";
    const int64_t written = g_written->load();
    ASSERT_GT(written, 0);
    // Samples read whole; the sample whose call was under way may have made
    // it too.
    const int64_t read = ExpectReadablePrefix(path, expected, 0);
    ASSERT_GE(read, 0) << path;
    EXPECT_LE(read, written + 1);
    const int64_t lost_ms = (written - read) * kFrameMs;
    EXPECT_LE(lost_ms, 1000) << path << ": " << written << " samples written, " << read << " read";
    worst_ms = std::max(worst_ms, lost_ms);
    std::printf("%s run %d: killed after %lld samples (%.2f s of media), %lld read, %.2f s lost\n",
                road.name, run, static_cast<long long>(written),
                static_cast<double>(written * kFrameMs) / 1000.0, static_cast<long long>(read),
                static_cast<double>(lost_ms) / 1000.0);
  }
  std::printf("%s: worst loss %.2f s\n", road.name, static_cast<double>(worst_ms) / 1000.0);
  ::munmap(shared, sizeof(std::atomic<uint32_t>));
}

// Typical frames, and small ones that fill a 64000-byte packet only every
// second or more, far below the declared 4 Mbit/s.
INSTANTIATE_TEST_SUITE_P(Roads, CrashTest,
                         ::testing::Values(Road{"live_typical", true, 5'000, 60'000},
                                           Road{"live_small", true, 200, 2'500},
                                           Road{"file_typical", false, 5'000, 60'000},
                                           Road{"file_small", false, 200, 2'500}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kestrum::testing
