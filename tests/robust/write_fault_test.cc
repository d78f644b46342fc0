// Recordings whose output fails part way: a sink that takes only the first N
// bytes (for many N, through the whole library over the stand-in writer) and
// a real file size limit. None may crash the host; the failure is reported
// wherever an interface has a result; and what was written reads back, up to
// its last complete packet, as the start of the recording.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <memory>
#include <set>

#include "api/record_instance.h"
#include "convert/transfer.h"
#include "kestrum.h"
#include "robust/robust_support.h"
#include "support/expected_samples.h"
#include "support/memory_writer.h"

namespace kestrum::testing {
namespace {

// About 3 s of frames of 1-30 KB: some 20 packets of 64000 bytes.
const StreamBuilder& Stream() {
  static const StreamBuilder stream = RecordingStream(75, 1'000, 30'000, 7);
  return stream;
}

// Records Stream() through a RecordInstance over memory, the pieces cut at
// 5000 bytes; returns EndWriting's result (StopRecord discards it).
HRESULT RecordToMemory(const std::shared_ptr<MemoryOutput>& output,
                       std::optional<size_t> fail_after) {
  std::unique_ptr<RecordInstance> instance(
      RecordInstance::Create(MemoryWriterFactories(output, fail_after)));
  if (!instance) return E_OUTOFMEMORY;
  instance->file_name = "memory.asf";
  const std::vector<uint8_t>& bytes = Stream().bytes();
  instance->SendOneFrame(bytes.data(), 40);
  for (const auto& piece : SplitEvery({bytes.data() + 40, bytes.size() - 40}, 5'000)) {
    instance->SendOneFrame(piece.data(), static_cast<int32_t>(piece.size()));
  }
  return instance->writer != nullptr ? instance->writer->EndWriting() : E_FAIL;
}

struct Whole {
  std::vector<uint8_t> file;
  std::vector<uint64_t> sample_ends;
};

const Whole& WholeRecording() {
  static const Whole whole = [] {
    auto output = std::make_shared<MemoryOutput>();
    EXPECT_EQ(RecordToMemory(output, std::nullopt), S_OK);
    Whole w{output->sink.bytes, {}};
    w.sample_ends = SampleEnds(w.file);
    return w;
  }();
  return whole;
}

// Samples a prefix of `size` bytes holds whole.
size_t SamplesWithin(uint64_t size) {
  size_t n = 0;
  for (uint64_t end : WholeRecording().sample_ends) n += end <= size ? 1 : 0;
  return n;
}

// Limits across the whole file: every region (header, first packet, packet
// edges, the index, the final header patch) and a spread between them.
std::vector<size_t> Limits() {
  const Whole& whole = WholeRecording();
  const size_t size = whole.file.size();
  std::set<size_t> limits = {0, 1, 16, 100, 500, size - 1};
  const uint64_t data = whole.sample_ends.front();  // end of the first packet
  for (uint64_t at : {data - 64000, data}) {
    for (int64_t d : {-1, 0, 1}) limits.insert(static_cast<size_t>(static_cast<int64_t>(at) + d));
  }
  for (size_t k = 1; k < 48; ++k) limits.insert(size * k / 48);
  for (uint64_t end : whole.sample_ends) limits.insert(static_cast<size_t>(end) + 7);
  const uint64_t data_end = whole.sample_ends.back();
  for (uint64_t at = data_end; at < size; at += 13) limits.insert(static_cast<size_t>(at));
  limits.erase(limits.upper_bound(size - 1), limits.end());
  return {limits.begin(), limits.end()};
}

TEST(WriteFaultTest, SinkFailingAfterAnyByteCountIsReportedAndLeavesAReadablePrefix) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::vector<ProbedPacket> expected = ExpectedLivePackets(Stream());
  const std::string dir = TestDirectory("write_fault_sink");
  ASSERT_EQ(WholeRecording().sample_ends.size(), expected.size());
  const std::vector<size_t> limits = Limits();
  ASSERT_GT(limits.size(), 60u);
  for (size_t limit : limits) {
    SCOPED_TRACE("fail after " + std::to_string(limit) + " bytes");
    auto output = std::make_shared<MemoryOutput>();
    EXPECT_TRUE(FAILED(RecordToMemory(output, limit))) << "the failure went unreported";
    ASSERT_LE(output->sink.bytes.size(), limit);
    const std::string path = dir + "/limit" + std::to_string(limit) + ".asf";
    WriteFile(path, output->sink.bytes);
    ExpectReadablePrefix(path, expected, SamplesWithin(limit));
    std::remove(path.c_str());
  }
}

TEST(WriteFaultTest, SinkFailureThroughTheExportsNeverCrashesTheHost) {
  // The exports report nothing; the host must simply survive every limit,
  // stopping and releasing as usual, and samples sent after the failure.
  for (size_t limit : {size_t{0}, size_t{700}, size_t{70'000}, size_t{300'000}}) {
    auto output = std::make_shared<MemoryOutput>();
    KestrumHandle handle = reinterpret_cast<KestrumHandle>(
        RecordInstance::Create(MemoryWriterFactories(output, limit)));
    ASSERT_NE(handle, nullptr);
    StartRecord(handle, "memory.asf", 0, 0);
    const std::vector<uint8_t>& bytes = Stream().bytes();
    SendOneFrame(handle, bytes.data(), 40);
    SendOneFrame(handle, bytes.data() + 40, static_cast<int32_t>(bytes.size() - 40));
    StopRecord(handle);
    SendOneFrame(handle, bytes.data() + 40, static_cast<int32_t>(bytes.size() - 40));
    ReleaseRecordInstance(&handle);
    EXPECT_LE(output->sink.bytes.size(), limit);
  }
}

TEST(WriteFaultTest, FileRoadReturnsTheWriteFailure) {
  for (size_t limit :
       {size_t{0}, size_t{5'000}, size_t{200'000}, WholeRecording().file.size() - 1}) {
    auto output = std::make_shared<MemoryOutput>();
    RecordInstance instance(MemoryWriterFactories(output, limit));
    const int32_t result = TransferToAsf(instance, ScriptedSource(Stream()), 0, "memory.asf");
    EXPECT_LT(result, 0) << "limit " << limit;
  }
  auto output = std::make_shared<MemoryOutput>();
  RecordInstance instance(MemoryWriterFactories(output));
  EXPECT_EQ(TransferToAsf(instance, ScriptedSource(Stream()), 0, "memory.asf"), 1);
}

#ifndef _WIN32  // file size limits on child processes
// Runs `record(path)` in a child whose files may not grow past `limit` bytes,
// with SIGXFSZ ignored so that writes fail with EFBIG instead of killing it.
// Returns the child's exit status (-1 when it did not exit normally).
int WithFileSizeLimit(size_t limit, const std::string& path, int (*record)(const std::string&)) {
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit rl{limit, limit};
    if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(90);
    std::signal(SIGXFSZ, SIG_IGN);
    ::_exit(record(path));
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

int RecordLiveToFile(const std::string& path) {
  KestrumHandle handle = CreateRecordInstance();
  StartRecord(handle, path.c_str(), 0, 0);
  const std::vector<uint8_t>& bytes = Stream().bytes();
  SendOneFrame(handle, bytes.data(), 40);
  for (const auto& piece : SplitEvery({bytes.data() + 40, bytes.size() - 40}, 3'000)) {
    SendOneFrame(handle, piece.data(), static_cast<int32_t>(piece.size()));
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  return 0;
}

int ConvertToFile(const std::string& path) {
  RecordInstance instance(WmFactories::Platform());
  const int32_t result = TransferToAsf(instance, ScriptedSource(Stream()), 0, path.c_str());
  return result < 0 ? 0 : 10 + result;  // 0: the failure was returned
}

TEST(WriteFaultTest, FileSizeLimitOnBothRoads) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string dir = TestDirectory("write_fault_rlimit");
  const uint64_t first_packet_end = WholeRecording().sample_ends.front();
  const size_t size = WholeRecording().file.size();
  for (size_t limit : {size_t{300}, static_cast<size_t>(first_packet_end - 1000),
                       static_cast<size_t>(first_packet_end + 64000 * 5 + 77), size / 2,
                       static_cast<size_t>(WholeRecording().sample_ends.back() + 3)}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    const std::string live = dir + "/live" + std::to_string(limit) + ".asf";
    ASSERT_EQ(WithFileSizeLimit(limit, live, RecordLiveToFile), 0);
    EXPECT_LE(ReadFile(live).size(), limit);
    ExpectReadablePrefix(live, ExpectedLivePackets(Stream()), SamplesWithin(limit));

    const std::string file = dir + "/file" + std::to_string(limit) + ".asf";
    EXPECT_EQ(WithFileSizeLimit(limit, file, ConvertToFile), 0) << "the failure went unreported";
    EXPECT_LE(ReadFile(file).size(), limit);
    ExpectReadablePrefix(file, ExpectedFilePackets(Stream()), SamplesWithin(limit));
  }
}
#endif

}  // namespace
}  // namespace kestrum::testing
