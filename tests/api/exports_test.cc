// The six exports: null-handle rules, results, ownership of the name pointer,
// and what reaches the instance.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "kestrum.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using testing::DebugCapture;
using testing::FakeWm;

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

}  // namespace
}  // namespace kestrum
