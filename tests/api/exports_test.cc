// The exports: null-handle rules, results, ownership of the name pointer,
// and what reaches the instance; a recording's own lines and stats, and the
// conversion with progress, a stop and stats, read back with ffprobe.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "kestrum.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"
#include "support/probe.h"
#include "support/stream_pieces.h"

namespace kestrum {
namespace {

using ::testing::AnyOf;
using testing::DebugCapture;
using ::testing::ElementsAre;
using ::testing::Eq;
using testing::FakeWm;
using testing::FileHeaderBuilder;
using testing::Group;
using testing::StreamBuilder;

RecordInstance* Instance(KestrumHandle handle) { return reinterpret_cast<RecordInstance*>(handle); }

// A valid 40-byte header for 704 x 576.
std::vector<uint8_t> Header(uint16_t stream_type = 0x1001) {
  std::vector<uint8_t> header(40, 0);
  store_u32le(header.data() + 0, 1);
  store_u32le(header.data() + 8, 0x20050101);
  store_u16le(header.data() + 16, stream_type);
  store_u16le(header.data() + 18, 0x1001);
  store_u16le(header.data() + 28, 704);
  store_u16le(header.data() + 30, 576);
  return header;
}

// An instance over recording fakes, driven through the exports.
class FakeHandle {
 public:
  FakeHandle() : handle_(reinterpret_cast<KestrumHandle>(RecordInstance::Create(wm.Factories()))) {}
  ~FakeHandle() { ReleaseRecordInstance(&handle_); }
  KestrumHandle get() const { return handle_; }
  KestrumHandle* address() { return &handle_; }

  FakeWm wm;

 private:
  KestrumHandle handle_;
};

TEST(ExportsTest, NullHandlesAreRefusedQuietly) {
  DebugCapture debug;
  EXPECT_EQ(StartRecord(nullptr, "out.asf", 0, 0), 0);
  const auto header = Header();
  SendOneFrame(nullptr, header.data(), 40);
  SendOneFrame(nullptr, header.data(), 1000);
  StopRecord(nullptr);
  ReleaseRecordInstance(nullptr);
  KestrumHandle none = nullptr;
  ReleaseRecordInstance(&none);
  EXPECT_EQ(none, nullptr);
  EXPECT_TRUE(debug.lines().empty());
}

TEST(ExportsTest, InstancesAreIndependentAndReleaseNullsTheHandle) {
  KestrumHandle first = CreateRecordInstance();
  KestrumHandle second = CreateRecordInstance();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(Instance(first)->splitter.buffer, Instance(second)->splitter.buffer);
  EXPECT_EQ(Instance(first)->splitter.buffer_capacity, 1024000);
  EXPECT_EQ(Instance(first)->splitter.wait_for_start, 1);
  EXPECT_EQ(Instance(first)->splitter.synchronised, 0);
  EXPECT_EQ(Instance(first)->packer.next_video_time, 0u);

  const auto header = Header();
  SendOneFrame(first, header.data(), 40);
  EXPECT_EQ(Instance(first)->stream_header.picture_width, 704);
  EXPECT_EQ(Instance(second)->stream_header.picture_width, 0);

  ReleaseRecordInstance(&first);
  EXPECT_EQ(first, nullptr);
  ReleaseRecordInstance(&first);  // again: nothing
  ReleaseRecordInstance(&second);
  EXPECT_EQ(second, nullptr);
}

TEST(ExportsTest, StartRecordStoresTheHostsPointerAndReturnsOne) {
  FakeHandle h;
  const char* name = "first.asf";
  EXPECT_EQ(StartRecord(h.get(), name, 7, 9), 1);
  EXPECT_EQ(Instance(h.get())->file_name, name);
  EXPECT_EQ(StartRecord(h.get(), nullptr, 0, 0), 1);
  EXPECT_EQ(Instance(h.get())->file_name, nullptr);
}

TEST(ExportsTest, HeaderPieceIsParsedAndARejectedOneReported) {
  FakeHandle h;
  DebugCapture debug;
  auto header = Header();
  SendOneFrame(h.get(), header.data(), 40);
  EXPECT_TRUE(debug.lines().empty());
  EXPECT_EQ(Instance(h.get())->stream_header.picture_height, 576);
  EXPECT_EQ(std::memcmp(Instance(h.get())->stream_header.file_header, header.data(), 40), 0);

  store_u32le(header.data(), 2);  // bad tag
  SendOneFrame(h.get(), header.data(), 40);
  EXPECT_THAT(debug.lines(), ElementsAre("Wrong File header!"));
  EXPECT_EQ(std::memcmp(Instance(h.get())->stream_header.file_header, header.data(), 40), 0);
  EXPECT_EQ(h.wm.CountCalls("CreateEmptyProfile"), 0u);  // a header never prepares the writer
}

TEST(ExportsTest, DataBeforeStartRecordIsDropped) {
  FakeHandle h;
  DebugCapture debug;
  const auto header = Header();
  SendOneFrame(h.get(), header.data(), 40);
  std::vector<uint8_t> piece(100, 0);
  SendOneFrame(h.get(), piece.data(), 100);
  EXPECT_THAT(debug.lines(), ElementsAre("Not ready for Kestrum!"));
  EXPECT_EQ(Instance(h.get())->splitter.synchronised, 0);
  EXPECT_EQ(Instance(h.get())->splitter.bytes_held, 0);
  EXPECT_EQ(h.wm.writers_created, 0);
}

TEST(ExportsTest, NullDataActsAsAnEmptyPiece) {
  FakeHandle h;
  DebugCapture debug;
  // Not taken as a 40-byte header (nothing is read), but as an empty piece.
  SendOneFrame(h.get(), nullptr, 40);
  SendOneFrame(h.get(), nullptr, 100000);
  SendOneFrame(h.get(), nullptr, -5);
  EXPECT_THAT(debug.lines(), ElementsAre("Not ready for Kestrum!", "Not ready for Kestrum!",
                                         "Not ready for Kestrum!"));
}

TEST(ExportsTest, TheNameIsReadWhenTheFirstDataArrives) {
  FakeHandle h;
  char name[32] = "before.asf";
  StartRecord(h.get(), name, 0, 0);
  const auto header = Header();
  SendOneFrame(h.get(), header.data(), 40);
  std::strcpy(name, "after.asf");
  std::vector<uint8_t> piece(10, 0);
  SendOneFrame(h.get(), piece.data(), 10);
  EXPECT_EQ(h.wm.output_filename, u"after.asf");
  EXPECT_EQ(Instance(h.get())->session.writer_ready, 1);
}

TEST(ExportsTest, StopRecordEndsWritingEachTimeAndOnlyWithAWriter) {
  FakeHandle h;
  StartRecord(h.get(), "out.asf", 0, 0);
  StopRecord(h.get());
  EXPECT_EQ(h.wm.CountCalls("EndWriting"), 0u);
  std::vector<uint8_t> piece(10, 0);
  SendOneFrame(h.get(), piece.data(), 10);
  StopRecord(h.get());
  StopRecord(h.get());
  EXPECT_EQ(h.wm.CountCalls("EndWriting"), 2u);
  EXPECT_EQ(Instance(h.get())->session.writer_ready, 1);
}

TEST(ExportsTest, ReleaseWithoutStopGivesBackInterfacesButDoesNotEnd) {
  FakeWm wm;
  auto handle = reinterpret_cast<KestrumHandle>(RecordInstance::Create(wm.Factories()));
  StartRecord(handle, "out.asf", 0, 0);
  std::vector<uint8_t> piece(10, 0);
  SendOneFrame(handle, piece.data(), 10);
  ASSERT_EQ(wm.writers_created, 1);
  ReleaseRecordInstance(&handle);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(wm.CountCalls("EndWriting"), 0u);
  EXPECT_EQ(wm.live_objects, 0);
}

TEST(ExportsTest, HeaderAfterWritingBeganReplacesItWithoutNewProfile) {
  FakeHandle h;
  StartRecord(h.get(), "out.asf", 0, 0);
  auto header = Header(0x1001);
  SendOneFrame(h.get(), header.data(), 40);
  std::vector<uint8_t> piece(10, 0);
  SendOneFrame(h.get(), piece.data(), 10);
  header = Header(0x1002);
  store_u16le(header.data() + 28, 352);
  store_u16le(header.data() + 30, 288);
  SendOneFrame(h.get(), header.data(), 40);
  EXPECT_EQ(load_u16le(Instance(h.get())->stream_header.file_header + 16), 0x1002);
  EXPECT_EQ(Instance(h.get())->stream_header.picture_width, 352);
  EXPECT_EQ(h.wm.profiles_created, 1);
  ASSERT_EQ(h.wm.profile_streams.size(), 1u);
  EXPECT_EQ(load_u32le(h.wm.profile_streams[0].format.data() + 52), 704u);
}

#ifndef _WIN32  // the debug sink: the debugger output on Windows
// Eight threads write lines while the sink is detached: once the detach
// returns, the sink is never called again, so its context can go.
TEST(ExportsTest, DetachingTheDebugSinkIsFinal) {
  struct Watch {
    std::atomic<bool> detached{false};
    std::atomic<int> calls_after{0};
  };
  for (int round = 0; round < 4; ++round) {
    Watch watch;
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&stop] {
        FakeHandle handle;  // never named: every data piece is dropped with a line
        const std::vector<uint8_t> piece(100, 0xAB);
        while (!stop.load()) SendOneFrame(handle.get(), piece.data(), 100);
      });
    }
    KestrumSetDebugOutput(
        [](const char*, void* context) {
          auto* w = static_cast<Watch*>(context);
          std::this_thread::yield();  // the call lasts a while
          if (w->detached.load()) ++w->calls_after;
        },
        &watch);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    KestrumSetDebugOutput(nullptr, nullptr);
    watch.detached.store(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop.store(true);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(watch.calls_after.load(), 0) << "round " << round;
  }
}
#endif

// ---- a recording's own lines and stats, the conversion's progress ----

// Whether the writer reports its output's bytes: the built-in one does; the
// platform's (on Windows, wmvcore.dll) tells nothing, and the stats count
// the samples' bytes handed to it.
#ifdef _WIN32
constexpr bool kWriterReportsBytes = false;
#else
constexpr bool kWriterReportsBytes = true;
#endif

// A stream of `groups` groups of one video block each: the first `refused`
// may not start a recording, then 13 bytes of no group, then a key group.
StreamBuilder CountedStream(size_t refused, size_t groups, size_t payload) {
  StreamBuilder stream;
  stream.Header(FileHeaderBuilder().StreamType(0x1001).Size(352, 288));
  for (size_t i = 0; i < groups; ++i) {
    if (i == refused) stream.Junk(13);
    stream.Add(Group().FrameType(i == refused ? 0x1001 : 0x1003).AddBlock(0x1003, payload));
  }
  return stream;
}

struct SinkLines {
  std::vector<std::string> lines;
  static void KESTRUM_CALL Take(const char* line, void* context) {
    static_cast<SinkLines*>(context)->lines.emplace_back(line);
  }
};

// One recording through the exports, a piece at a time, its lines going to
// a sink of its own.
class SteppedRecording {
 public:
  SteppedRecording(std::string path, std::vector<std::vector<uint8_t>> pieces)
      : path_(std::move(path)), pieces_(std::move(pieces)), handle_(CreateRecordInstance()) {
    KestrumSetRecordDebugOutput(handle_, &SinkLines::Take, &sink_);
    StartRecord(handle_, path_.c_str(), 0, 0);
  }
  // Hands over the next piece; after the last, stops, keeps the stats and
  // releases. False once done.
  bool Step() {
    if (handle_ == nullptr) return false;
    if (next_ < pieces_.size()) {
      const auto& piece = pieces_[next_++];
      SendOneFrame(handle_, piece.data(), static_cast<int32_t>(piece.size()));
      return true;
    }
    StopRecord(handle_);
    EXPECT_EQ(KestrumGetRecordStats(handle_, &stats_), 0);
    ReleaseRecordInstance(&handle_);
    return false;
  }
  void Run() {
    while (Step()) {
    }
  }
  const std::vector<std::string>& lines() const { return sink_.lines; }
  const KestrumRecordStats& stats() const { return stats_; }

 private:
  std::string path_;
  std::vector<std::vector<uint8_t>> pieces_;
  size_t next_ = 0;
  KestrumHandle handle_;
  SinkLines sink_;
  KestrumRecordStats stats_{sizeof(KestrumRecordStats), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
};

// The header as a piece of its own, then the rest in pieces of `piece`.
std::vector<std::vector<uint8_t>> Pieces(const StreamBuilder& stream, size_t piece) {
  std::vector<std::vector<uint8_t>> pieces{stream.Slice(0, 40)};
  for (auto& rest : testing::SplitRandomly(std::span(stream.bytes()).subspan(40), piece, 7)) {
    pieces.push_back(std::move(rest));
  }
  return pieces;
}

// Two recordings: `a` into a folder that does not exist (the writer cannot
// begin), `b` after a refused header, with groups refused before its start.
SteppedRecording MissingFolder(const std::string& dir, const std::string& name) {
  return SteppedRecording(dir + "/missing/" + name, Pieces(CountedStream(0, 6, 900), 3000));
}
SteppedRecording Recorded(const std::string& dir, const std::string& name) {
  auto pieces = Pieces(CountedStream(2, 40, 2500), 5000);
  std::vector<uint8_t> bad_header = pieces[0];
  store_u32le(bad_header.data(), 2);
  pieces.insert(pieces.begin(), bad_header);
  return SteppedRecording(dir + "/" + name, std::move(pieces));
}

TEST(RecordLinesTest, EachSinkGetsExactlyItsRecordingsLines) {
  const std::string dir = testing::TestDirectory("record_lines");
  SteppedRecording a = MissingFolder(dir, "a.asf"), b = Recorded(dir, "b.asf");
  a.Run();
  b.Run();
  ASSERT_FALSE(a.lines().empty());
  ASSERT_NE(a.lines(), b.lines());

  // Interleaved on one thread: the process's sink gets every line.
  DebugCapture all;
  SteppedRecording a1 = MissingFolder(dir, "a1.asf"), b1 = Recorded(dir, "b1.asf");
  while (a1.Step() | b1.Step()) {
  }
  EXPECT_EQ(a1.lines(), a.lines());
  EXPECT_EQ(b1.lines(), b.lines());
#ifndef _WIN32  // there the platform's writer (wmvcore.dll) writes lines of its own
  EXPECT_EQ(all.lines().size(), a.lines().size() + b.lines().size());
#endif

  // On two threads at once.
  SteppedRecording a2 = MissingFolder(dir, "a2.asf"), b2 = Recorded(dir, "b2.asf");
  std::thread other([&b2] { b2.Run(); });
  a2.Run();
  other.join();
  EXPECT_EQ(a2.lines(), a.lines());
  EXPECT_EQ(b2.lines(), b.lines());
}

TEST(RecordStatsTest, StatsTellTheFailureInWordsAndMatchTheFile) {
  if (!testing::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string dir = testing::TestDirectory("record_stats");
  SteppedRecording a = MissingFolder(dir, "a.asf"), b = Recorded(dir, "b.asf");
  a.Run();
  b.Run();

  // The writer could not begin: still waiting, with the status it met.
  EXPECT_EQ(a.stats().state, KESTRUM_STATE_WAITING);
  EXPECT_THAT(static_cast<uint32_t>(a.stats().first_failure),
              AnyOf(Eq(0x80070003u), Eq(0x80070002u)));
  EXPECT_EQ(a.stats().last_failure, a.stats().first_failure);
  EXPECT_EQ(a.stats().samples_written, 0u);
  char words[64];
  EXPECT_EQ(KestrumDescribeStatus(a.stats().first_failure, words, sizeof words), 22);
  EXPECT_STREQ(words, "no such file or folder");

  const auto packets = testing::ProbePackets(dir + "/b.asf");
  ASSERT_TRUE(packets.has_value());
  const KestrumRecordStats& s = b.stats();
  EXPECT_EQ(s.state, KESTRUM_STATE_ENDED);
  EXPECT_EQ(s.first_failure, 0);
  EXPECT_EQ(s.samples_written, packets->size());
  EXPECT_EQ(s.samples_written, 38u);
  const size_t file_size = testing::ReadFile(dir + "/b.asf").size();
  EXPECT_EQ(s.bytes_written, kWriterReportsBytes ? file_size : 38u * (32 + 20 + 2500));
  EXPECT_LE(s.bytes_durable, s.bytes_written);  // the writer's thread makes the end durable later
  EXPECT_EQ(s.media_time, 37u * 400000);
  EXPECT_EQ(s.groups_dropped, 2u);
  EXPECT_EQ(s.samples_refused, 0u);
  EXPECT_EQ(s.bytes_in_no_group, 13u);
}

TEST(RecordStatsTest, WhatCannotBeFilledIsRefused) {
  EXPECT_EQ(KestrumGetRecordStats(nullptr, nullptr), static_cast<int32_t>(E_INVALIDARG));
  KestrumRecordStats small{};
  small.struct_size = sizeof small - 1;
  EXPECT_EQ(KestrumGetRecordStats(nullptr, &small), static_cast<int32_t>(E_INVALIDARG));
  EXPECT_EQ(KestrumTransferToAsfEx(0, "x.asf", nullptr, &small),
            static_cast<int32_t>(E_INVALIDARG));
  KestrumTransferOptions options{};
  options.struct_size = sizeof options - 1;
  EXPECT_EQ(KestrumTransferToAsfEx(0, "x.asf", &options, nullptr),
            static_cast<int32_t>(E_INVALIDARG));
  // A larger structure of a later version: only this version's part is filled.
  struct Later {
    KestrumRecordStats stats;
    uint64_t more;
  } later{};
  later.stats.struct_size = sizeof later;
  later.stats.samples_refused = 99;
  later.more = 7;
  EXPECT_EQ(KestrumGetRecordStats(nullptr, &later.stats), 0);
  EXPECT_EQ(later.stats.struct_size, sizeof later);
  EXPECT_NE(later.stats.samples_refused, 99u);
  EXPECT_EQ(later.more, 7u);

  char text[8] = "xxxxxxx";
  EXPECT_EQ(KestrumDescribeStatus(static_cast<int32_t>(0x80070070u), text, 5), 42);
  EXPECT_STREQ(text, "disk");
  EXPECT_EQ(KestrumDescribeStatus(1, text, 0), 4);
  EXPECT_STREQ(text, "disk");
  EXPECT_EQ(KestrumDescribeStatus(0x12345, nullptr, 100), 34);
  EXPECT_EQ(std::string(KestrumGetVersion()), std::to_string(KESTRUM_VERSION_MAJOR) + "." +
                                                  std::to_string(KESTRUM_VERSION_MINOR) + "." +
                                                  std::to_string(KESTRUM_VERSION_PATCH));
}

// A recording switched to a new name before every piece: its files hold,
// one after the other, exactly the samples of the recording made without
// switching, each ended and beginning with a group that may start, at 0;
// its stats count across them. Then a switch into a missing folder: the
// groups until the next switch that works are dropped and counted.
TEST(SwitchOutputTest, FilesSwitchedAtEveryPieceHoldOneRecordingsSamples) {
  if (!testing::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string dir = testing::TestDirectory("switch_output");
  StreamBuilder stream;
  stream.Header(FileHeaderBuilder().StreamType(0x1001).Size(352, 288));
  for (size_t i = 0; i < 60; ++i) {
    if (i == 17) stream.Junk(13);
    stream.Add(Group().FrameType(i % 5 == 1 ? 0x1001 : 0x1003).AddBlock(0x1003, 700 + 37 * i));
  }
  const auto pieces = Pieces(stream, 1500);
  SteppedRecording whole(dir + "/whole.asf", pieces);
  whole.Run();
  const auto expected = testing::ProbePackets(dir + "/whole.asf");
  ASSERT_TRUE(expected.has_value());
  ASSERT_EQ(expected->size(), 59u);

  const auto name = [&](size_t k) { return dir + "/part-" + std::to_string(k) + ".asf"; };
  KestrumHandle handle = CreateRecordInstance();
  EXPECT_EQ(KestrumSwitchOutput(handle, nullptr), static_cast<int32_t>(E_INVALIDARG));
  EXPECT_EQ(KestrumSwitchOutput(handle, std::string(260, 'x').c_str()),
            static_cast<int32_t>(E_INVALIDARG));
  EXPECT_EQ(KestrumSwitchOutput(nullptr, "x.asf"), static_cast<int32_t>(E_INVALIDARG));
  for (size_t k = 0; k < pieces.size(); ++k) {
    ASSERT_EQ(KestrumSwitchOutput(handle, name(k).c_str()), 0);
    SendOneFrame(handle, pieces[k].data(), static_cast<int32_t>(pieces[k].size()));
  }
  StopRecord(handle);
  EXPECT_EQ(KestrumSwitchOutput(handle, name(0).c_str()), static_cast<int32_t>(E_UNEXPECTED));
  KestrumRecordStats stats{};
  stats.struct_size = sizeof stats;
  ASSERT_EQ(KestrumGetRecordStats(handle, &stats), 0);
  ReleaseRecordInstance(&handle);

  std::vector<testing::ProbedPacket> joined;
  size_t files = 0, bytes = 0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    const std::vector<uint8_t> file = testing::ReadFile(name(k));
    if (file.empty()) continue;
    const auto packets = testing::ProbePackets(name(k));
    ASSERT_TRUE(packets.has_value()) << name(k);
    bytes += file.size();
    if (packets->empty()) {
      EXPECT_EQ(files, 0u) << "only the first file, prepared before the first start group";
      continue;
    }
    ++files;
    for (size_t j = 0; j < packets->size(); ++j) {
      EXPECT_EQ((*packets)[j].pts_ms, static_cast<int64_t>(40 * j)) << name(k);
      joined.push_back((*packets)[j]);
      joined.back().pts_ms = (*expected)[joined.size() - 1].pts_ms;
    }
  }
  EXPECT_EQ(files, 12u);  // one a start group: pieces are shorter than five groups
  EXPECT_EQ(joined, *expected);
  EXPECT_EQ(stats.state, KESTRUM_STATE_ENDED);
  EXPECT_EQ(stats.first_failure, 0);
  EXPECT_EQ(stats.samples_written, 59u);
  if (kWriterReportsBytes) {
    EXPECT_EQ(stats.bytes_written, bytes);
  }
  EXPECT_EQ(stats.media_time, whole.stats().media_time);
  EXPECT_EQ(stats.groups_dropped, whole.stats().groups_dropped);
  EXPECT_EQ(stats.bytes_in_no_group, whole.stats().bytes_in_no_group);

  // Into a missing folder from the piece that holds group 20 on: nothing is
  // written until the switch to an existing folder's file works at a start group.
  const std::string before = dir + "/before.asf", missing = dir + "/missing/m.asf",
                    back = dir + "/back.asf";
  handle = CreateRecordInstance();
  StartRecord(handle, before.c_str(), 0, 0);
  size_t offset = 0;
  for (size_t k = 0; k < pieces.size(); ++k) {
    if (offset <= 40 + 20 * 1100 && offset + pieces[k].size() > 40 + 20 * 1100) {
      // The file being written, by its name or another, would be rewritten.
      EXPECT_EQ(KestrumSwitchOutput(handle, before.c_str()), static_cast<int32_t>(E_INVALIDARG));
      EXPECT_EQ(KestrumSwitchOutput(handle, (dir + "/./before.asf").c_str()),
                static_cast<int32_t>(E_INVALIDARG));
      EXPECT_EQ(KestrumSwitchOutput(handle, missing.c_str()), 0);
    }
    if (offset <= 40 + 40 * 1100 && offset + pieces[k].size() > 40 + 40 * 1100) {
      EXPECT_EQ(KestrumSwitchOutput(handle, back.c_str()), 0);
    }
    offset += pieces[k].size();
    SendOneFrame(handle, pieces[k].data(), static_cast<int32_t>(pieces[k].size()));
  }
  StopRecord(handle);
  ASSERT_EQ(KestrumGetRecordStats(handle, &stats), 0);
  ReleaseRecordInstance(&handle);
  const auto first = testing::ProbePackets(before), last = testing::ProbePackets(back);
  ASSERT_TRUE(first.has_value() && last.has_value());
  EXPECT_THAT(static_cast<uint32_t>(stats.first_failure), AnyOf(Eq(0x80070003u), Eq(0x80070002u)));
  EXPECT_EQ(stats.samples_written, first->size() + last->size());
  EXPECT_EQ(stats.groups_dropped, 60 - stats.samples_written);
  EXPECT_GE(stats.groups_dropped, 6u);  // at least one start group's worth
  ASSERT_FALSE(last->empty());
  EXPECT_EQ(last->front().md5, (*expected)[59 - last->size()].md5);  // the last of them
  EXPECT_EQ(stats.state, KESTRUM_STATE_ENDED);
}

// What a conversion's progress callback was told, and when it stops it.
struct Progress {
  struct Call {
    uint64_t read, total, samples;
  };
  std::vector<Call> calls;
  size_t stop_at = SIZE_MAX;  // the call that answers "stop"
  static int32_t KESTRUM_CALL Take(uint64_t read, uint64_t total, uint64_t samples, void* context) {
    auto* p = static_cast<Progress*>(context);
    p->calls.push_back({read, total, samples});
    return p->calls.size() > p->stop_at ? 1 : 0;
  }
};

TEST(TransferProgressTest, ProgressStatsAndAStopFromTheCallback) {
  if (!testing::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const std::string dir = testing::TestDirectory("transfer_progress");
  const StreamBuilder stream = CountedStream(0, 60, 100000);  // 6 MB
  const std::string input = dir + "/in.bin", output = dir + "/out.asf";
  testing::WriteFile(input, stream.bytes());
  const auto source = reinterpret_cast<intptr_t>(input.c_str());

  Progress whole;
  KestrumTransferOptions options{sizeof options, 1, &Progress::Take, &whole};
  KestrumRecordStats stats{};
  stats.struct_size = sizeof stats;
  ASSERT_EQ(KestrumTransferToAsfEx(source, output.c_str(), &options, &stats), 1);
  ASSERT_GE(whole.calls.size(), 2u);
  uint64_t before = 0;
  for (const Progress::Call& call : whole.calls) {
    EXPECT_LE(call.read - before, (4u << 20) + 100100u);  // at least every 4 MiB (and a group)
    EXPECT_EQ(call.total, stream.size());
    before = call.read;
  }
  EXPECT_EQ(whole.calls.back().read, stream.size());
  EXPECT_EQ(whole.calls.back().samples, 60u);
  auto packets = testing::ProbePackets(output);
  ASSERT_TRUE(packets.has_value());
  EXPECT_EQ(stats.state, KESTRUM_STATE_ENDED);
  EXPECT_EQ(stats.samples_written, packets->size());
  if (kWriterReportsBytes) {
    EXPECT_EQ(stats.bytes_written, testing::ReadFile(output).size());
    EXPECT_EQ(stats.bytes_durable, stats.bytes_written);  // options.sync
  }
  EXPECT_EQ(stats.bytes_in_no_group, 13u);

  // Stopped at the first call: the file is ended with what it holds.
  Progress stopped;
  stopped.stop_at = 0;
  options = {sizeof options, 0, &Progress::Take, &stopped};
  ASSERT_EQ(KestrumTransferToAsfEx(source, output.c_str(), &options, &stats), KESTRUM_E_CANCELLED);
  ASSERT_EQ(stopped.calls.size(), 1u);
  packets = testing::ProbePackets(output);
  ASSERT_TRUE(packets.has_value());
  EXPECT_EQ(stats.state, KESTRUM_STATE_ENDED);
  EXPECT_EQ(packets->size(), stats.samples_written);
  EXPECT_LT(stats.samples_written, 60u);
  if (kWriterReportsBytes) {
    EXPECT_EQ(stats.bytes_written, testing::ReadFile(output).size());
  }
  EXPECT_EQ(stats.bytes_durable, 0u);
}

}  // namespace
}  // namespace kestrum
