// Recordings whose output fails part way: a sink that takes only the first N
// bytes (for many N, through the whole library over the stand-in writer) and
// a real disk that fills up (a small tmpfs, or a file size limit where none
// can be mounted), on which room comes back for the live road. None may
// crash the host; the failure is reported wherever an interface has a
// result; the file is cut back to its last whole sample and ended; the file
// road stops there, the live road records on when room comes back; and
// ffprobe reads every sample left whole, in its place.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "api/record_instance.h"
#include "convert/transfer.h"
#include "base/bytes.h"
#include "kestrum.h"
#include "robust/robust_support.h"
#include "support/expected_samples.h"
#include "asf_format/reader.h"
#include "support/memory_writer.h"

namespace kestrum::testing {
namespace {

using asf::ReadAsfFile;

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
  return instance->session.writer != nullptr ? instance->session.writer->EndWriting() : E_FAIL;
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

TEST(WriteFaultTest, SinkFailingAfterAnyByteCountIsReportedAndLeavesWholeSamples) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::vector<ProbedPacket> expected = ExpectedLivePackets(Stream());
  const std::string dir = TestDirectory("write_fault_sink");
  ASSERT_EQ(WholeRecording().sample_ends.size(), expected.size());
  const std::vector<size_t> limits = Limits();
  ASSERT_GT(limits.size(), 60u);
  const uint64_t header_size = ReadAsfFile(WholeRecording().file).data_offset + 50;
  for (size_t limit : limits) {
    SCOPED_TRACE("fail after " + std::to_string(limit) + " bytes");
    auto output = std::make_shared<MemoryOutput>();
    EXPECT_TRUE(FAILED(RecordToMemory(output, limit))) << "the failure went unreported";
    ASSERT_LE(output->sink.bytes.size(), limit);
    if (limit < header_size) {
      EXPECT_TRUE(output->sink.bytes.empty()) << "a header cut short was left";
      continue;
    }
    const asf::AsfFile walked = ReadAsfFile(output->sink.bytes);
    EXPECT_EQ(walked.error, "");
    EXPECT_EQ(walked.flags & 1, 0u) << "the file was not ended";
    const std::string path = dir + "/limit" + std::to_string(limit) + ".asf";
    WriteFile(path, output->sink.bytes);
    ExpectWholeSamples(path, expected, SamplesWithin(limit));
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

// A stored stream cut shorter under the packet source's mapping while it is
// converted, by another program that ignores the source's lock: right after
// the packet source handed out a group, (a) inside that group, under the
// file road's copy of it, or (b) at the page after it, under the packet
// source's own reads of what follows. Neither may crash the host; each ends
// as a read failure, not as a clean end, with an ended file of every sample
// before the group that could not be read.
namespace cut_source {
std::string g_path;
uint64_t g_after_group = 0;  // offset of the group after whose packet the file is cut
uint64_t g_cut_to = 0;
// The packet source library's own, and then the cut.
int32_t GetThenCut(int32_t channel, PacketRecord* record) {
  const int32_t result = PacketSource::Library().get_packet(channel, record);
  // The packet's offset in the file: the first 8 bytes the driver does not read.
  if (result == kPacketMore && record->kind == kPacketGroup &&
      load_u64le(record->reserved) == g_after_group) {
    EXPECT_EQ(::truncate(g_path.c_str(), static_cast<off_t>(g_cut_to)), 0);
  }
  return result;
}
}  // namespace cut_source

constexpr uint64_t kPage = 4096;
uint64_t PageUp(uint64_t n) { return (n + kPage - 1) / kPage * kPage; }

// The first of two groups in a row of more than three pages each, so that a
// page made unreadable at either leaves part of the group readable and part
// of it gone.
size_t GroupOverPages() {
  const std::vector<GroupExtent>& groups = Stream().groups();
  size_t n = 1;
  while (n + 1 < groups.size() && (groups[n].end - groups[n].begin < 4 * kPage ||
                                   groups[n + 1].end - groups[n + 1].begin < 4 * kPage)) {
    ++n;
  }
  EXPECT_LT(n + 1, groups.size());
  return n;
}

// Samples of the groups before group n: the file road writes one per block.
size_t SamplesBefore(size_t n) {
  size_t samples = 0;
  for (size_t i = 0; i < n; ++i) samples += Stream().groups()[i].blocks.size();
  return samples;
}

// A file road output ended after a read failure: well formed, ended, and
// holding exactly the first `samples` samples, whole.
void ExpectEndedWith(const std::string& out, const std::vector<ProbedPacket>& expected,
                     size_t samples) {
  const asf::AsfFile f = ReadAsfFile(ReadFile(out));
  EXPECT_EQ(f.error, "");
  EXPECT_EQ(f.flags & 1, 0u) << "the file was not ended";
  EXPECT_EQ(ExpectWholeSamples(out, expected, samples), static_cast<int64_t>(samples));
}

TEST(WriteFaultTest, SourceCutUnderTheMappingIsAReadFailure) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::vector<GroupExtent>& groups = Stream().groups();
  const std::vector<ProbedPacket> expected = ExpectedFilePackets(Stream());
  const size_t n = GroupOverPages();
  const size_t samples_before = SamplesBefore(n);

  const std::string dir = TestDirectory("cut_source");
  const std::string out = dir + "/out.asf";
  struct Cut {
    const char* what;
    uint64_t to;
    size_t samples;
  };
  for (const Cut& cut :
       {Cut{"inside the group handed out", PageUp(groups[n].first_block + 20) + kPage,
            samples_before},
        Cut{"after the group handed out", PageUp(groups[n].end),
            samples_before + groups[n].blocks.size()}}) {
    SCOPED_TRACE(cut.what);
    cut_source::g_path = dir + "/source.bin";
    WriteFile(cut_source::g_path, Stream().bytes());
    cut_source::g_after_group = groups[n].begin;
    cut_source::g_cut_to = cut.to;
    RecordInstance instance(WmFactories::ForConversion());
    const PacketSource source{PacketSource::Library().open, cut_source::GetThenCut};
    EXPECT_EQ(TransferToAsf(instance, source, reinterpret_cast<intptr_t>(cut_source::g_path.c_str()),
                            out.c_str()),
              E_READ_FAULT);
    ExpectEndedWith(out, expected, cut.samples);
  }
}

// A page of the stored stream that cannot be read, as on a failing disk:
// inside a group, under the file road's reads of it, or where the next group
// begins, under the packet source's own reads of what follows as well.
// Through the exports: a read failure, and an ended file of every sample
// before the group that could not be read.
TEST(WriteFaultTest, SourcePageUnreadableUnderTheMappingIsAReadFailure) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::vector<GroupExtent>& groups = Stream().groups();
  const std::vector<ProbedPacket> expected = ExpectedFilePackets(Stream());
  const size_t n = GroupOverPages();
  const std::string out = TestDirectory("unreadable_source_out") + "/out.asf";
  struct Bad {
    const char* what;
    uint64_t page;
    size_t samples;
  };
  for (const Bad& bad : {Bad{"a page inside a group", PageUp(groups[n].first_block + 20),
                             SamplesBefore(n)},
                         Bad{"the page where the next group begins",
                             PageUp(groups[n + 1].begin + 1) - kPage, SamplesBefore(n)}}) {
    SCOPED_TRACE(bad.what);
    const UnreadableFile source("unreadable_source", Stream().bytes(), bad.page, bad.page + kPage);
    if (!source.mounted()) GTEST_SKIP() << source.why_not();
    // In a child with a deadline: a conversion that never ends fails here.
    const pid_t child = ::fork();
    if (child == 0) {
      ::alarm(30);
      const int32_t result =
          ::TransferToAsf(reinterpret_cast<intptr_t>(source.path().c_str()), out.c_str());
      if (result != static_cast<int32_t>(E_READ_FAULT)) std::fprintf(stderr, "result %d\n", result);
      ::_exit(result == static_cast<int32_t>(E_READ_FAULT) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFSIGNALED(status) ? "ended by signal " + std::to_string(WTERMSIG(status))
                                : "not the read failure");
    ExpectEndedWith(out, expected, bad.samples);
  }
}

// One writer per output, and none over a source being read: a conversion
// onto its own source is refused and the source stays whole; a second
// recording into the file of a first is refused at once, and never takes
// it later, when the first has ended.
TEST(WriteFaultTest, AnOutputHasOneWriterAndASourceBeingReadHasNone) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string dir = TestDirectory("one_writer");
  const std::string source = dir + "/source.bin";
  WriteFile(source, Stream().bytes());
  EXPECT_EQ(::TransferToAsf(reinterpret_cast<intptr_t>(source.c_str()), source.c_str()),
            E_SHARING_VIOLATION);
  EXPECT_TRUE(ReadFile(source) == Stream().bytes()) << "the source was written over";

  const std::string out = dir + "/out.asf";
  KestrumHandle first = CreateRecordInstance();
  KestrumHandle second = CreateRecordInstance();
  StartRecord(first, out.c_str(), 0, 0);
  StartRecord(second, out.c_str(), 0, 0);
  const StreamBuilder& stream = Stream();
  const auto send = [&stream](KestrumHandle handle, size_t group) {
    const GroupExtent& g = stream.groups()[group];
    SendOneFrame(handle, stream.bytes().data() + g.begin, static_cast<int32_t>(g.end - g.begin));
  };
  SendOneFrame(first, stream.bytes().data(), 40);
  SendOneFrame(second, stream.bytes().data(), 40);
  for (size_t i = 0; i < stream.groups().size(); ++i) {
    send(first, i);
    send(second, i);
  }
  StopRecord(first);
  ReleaseRecordInstance(&first);
  for (size_t i = 0; i < 5; ++i) send(second, i);  // the first is done: still not its file
  StopRecord(second);
  ReleaseRecordInstance(&second);
  const std::vector<ProbedPacket> expected = ExpectedLivePackets(stream);
  EXPECT_EQ(ExpectWholeSamples(out, expected, expected.size()),
            static_cast<int64_t>(expected.size()));
}

#ifndef _WIN32  // child processes, tmpfs and file size limits
constexpr char kFaultLine[] = "writer : write failed (";

// What a child recording onto a SmallDisk tells through its lines file: the
// library's writer lines, and "room at N" when room came back after N groups
// had been sent.
struct ChildRun {
  int status = -1;  // the child's exit code, -1 when it did not exit normally
  std::vector<std::string> lines;
  size_t room_at = SIZE_MAX;
};

FILE* g_lines = nullptr;
bool g_fault_seen = false;

void KeepWriterLines(const char* line, void*) {
  if (std::strncmp(line, "writer : ", 9) != 0) return;
  if (std::strncmp(line, kFaultLine, sizeof kFaultLine - 1) == 0) g_fault_seen = true;
  std::fprintf(g_lines, "%s\n", line);
}

// Runs `record(path)` in a child on `disk`, its writer lines kept in
// `lines_path`; with `room_after` set, the child gives the room back that
// many groups after the first write fault.
ChildRun OnSmallDisk(const SmallDisk& disk, const std::string& path, std::optional<size_t> room_after,
                     int (*record)(const std::string&, const SmallDisk&, std::optional<size_t>)) {
  const std::string lines_path = disk.Beside("lines.txt");
  const pid_t child = ::fork();
  if (child == 0) {
    g_lines = std::fopen(lines_path.c_str(), "w");
    disk.Enter();
    KestrumSetDebugOutput(KeepWriterLines, nullptr);
    const int status = record(path, disk, room_after);
    KestrumSetDebugOutput(nullptr, nullptr);
    std::fclose(g_lines);
    ::_exit(status);
  }
  ChildRun run;
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  const std::vector<uint8_t> text = ReadFile(lines_path);
  for (const std::string& line : Lines(std::string(text.begin(), text.end()))) {
    if (line.rfind("room at ", 0) == 0) {
      run.room_at = std::stoul(line.substr(8));
    } else {
      run.lines.push_back(line);
    }
  }
  return run;
}

// The live road through the exports, one group per piece.
int RecordLive(const std::string& path, const SmallDisk& disk, std::optional<size_t> room_after) {
  KestrumHandle handle = CreateRecordInstance();
  StartRecord(handle, path.c_str(), 0, 0);
  const StreamBuilder& stream = Stream();
  SendOneFrame(handle, stream.bytes().data(), 40);
  size_t since_fault = 0;
  for (size_t i = 0; i < stream.groups().size(); ++i) {
    const GroupExtent& g = stream.groups()[i];
    SendOneFrame(handle, stream.bytes().data() + g.begin, static_cast<int32_t>(g.end - g.begin));
    if (room_after && g_fault_seen && ++since_fault == *room_after) {
      disk.MakeRoom();
      std::fprintf(g_lines, "room at %zu\n", i + 1);
    }
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  return 0;
}

// The file road as the export runs it (its writer ends at a fault).
int Convert(const std::string& path, const SmallDisk&, std::optional<size_t>) {
  RecordInstance instance(WmFactories::ForConversion());
  const int32_t result = TransferToAsf(instance, ScriptedSource(Stream()), 0, path.c_str());
  return result == E_DISK_FULL ? 0 : 10 + (result > 0 ? result : 9);
}

// The samples lost that the lines count; checks that each outage begins
// with its fault line and is closed by the next one.
uint64_t LostByLines(const std::vector<std::string>& lines, const std::string& begin) {
  uint64_t lost = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i % 2 == 0) {
      EXPECT_EQ(lines[i], "writer : write failed (0x80070070); " + begin);
      continue;
    }
    unsigned long long n = 0;
    char what[40] = {};
    EXPECT_EQ(std::sscanf(lines[i].c_str(), "writer : writing %39[a-z ]; %llu samples", what, &n), 2)
        << lines[i];
    lost += n;
  }
  EXPECT_EQ(lines.size() % 2, 0u) << "an outage was never closed";
  return lost;
}

TEST(WriteFaultTest, FullDiskOnBothRoads) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::vector<ProbedPacket> live_expected = ExpectedLivePackets(Stream());
  const std::vector<ProbedPacket> file_expected = ExpectedFilePackets(Stream());
  const uint64_t first_packet_end = WholeRecording().sample_ends.front();
  const uint64_t size = WholeRecording().file.size();
  const auto page = [](uint64_t n) { return n / 4096 * 4096; };
  for (uint64_t room : {uint64_t{4096}, page(first_packet_end + 64000 * 3), page(size / 2)}) {
    SCOPED_TRACE("room " + std::to_string(room));
    const SmallDisk disk("write_fault_disk", room, page(size) + 8192);
    if (room == 4096) std::printf("full disk: %s\n", disk.mounted() ? "tmpfs" : "RLIMIT_FSIZE");

    // The file road stops at the fault: an ended file of every sample up to it.
    const std::string file = disk.Path("file.asf");
    const ChildRun converted = OnSmallDisk(disk, file, std::nullopt, Convert);
    EXPECT_EQ(converted.status, 0) << "the failure went unreported";
    const asf::AsfFile f = ReadAsfFile(ReadFile(file));
    EXPECT_EQ(f.error, "");
    EXPECT_EQ(f.flags & 1, 0u) << "the file was not ended";
    EXPECT_EQ(ExpectWholeSamples(file, file_expected, SamplesWithin(room)),
              static_cast<int64_t>(SamplesWithin(room)));
    EXPECT_EQ(LostByLines(converted.lines, "writing ends here"),
              file_expected.size() - SamplesWithin(room));
    ::unlink(file.c_str());

    // The live road with no room coming back: ended, the samples that
    // found room, the loss told.
    const std::string stuck = disk.Path("stuck.asf");
    const ChildRun full = OnSmallDisk(disk, stuck, std::nullopt, RecordLive);
    EXPECT_EQ(full.status, 0);
    const int64_t kept = ExpectWholeSamples(stuck, live_expected, SamplesWithin(room));
    EXPECT_EQ(ReadAsfFile(ReadFile(stuck)).flags & 1, 0u) << "the file was not ended";
    const std::string begin = "samples are dropped until writing works again";
    EXPECT_EQ(LostByLines(full.lines, begin) + static_cast<uint64_t>(kept), live_expected.size());
    ::unlink(stuck.c_str());

    // The live road with room back ten groups after the fault: everything
    // from then on is recorded, and the file is ended and indexed.
    const std::string resumed = disk.Path("resumed.asf");
    const ChildRun back = OnSmallDisk(disk, resumed, 10, RecordLive);
    EXPECT_EQ(back.status, 0);
    const int64_t read = ExpectWholeSamples(resumed, live_expected, SamplesWithin(room),
                                            back.room_at);
    const asf::AsfFile r = ReadAsfFile(ReadFile(resumed));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.flags, 2u) << "ended and seekable";
    EXPECT_EQ(LostByLines(back.lines, begin) + static_cast<uint64_t>(read), live_expected.size());
    EXPECT_LT(back.room_at, live_expected.size()) << "no fault met";
    ASSERT_FALSE(back.lines.empty());
    EXPECT_EQ(back.lines.back().rfind("writer : writing works again; ", 0), 0u);
  }
}
#endif

}  // namespace
}  // namespace kestrum::testing
