// The guarded copy from the host's memory on Windows: a fault while reading
// is caught and reported, on any thread, without swallowing faults that do
// not come from a guarded copy; the splitter reports it with its message.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstring>
#include <ostream>
#include <thread>
#include <vector>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "platform/host_memory.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"

namespace kestrum {
namespace {

constexpr size_t kPage = 4096;

// Two pages: the first readable and filled with a pattern, the second
// unreadable in the way the test asks for. Released when destroyed.
class TwoPages {
 public:
  enum class Second { kNoAccess, kGuard, kReleased };

  explicit TwoPages(Second second) {
    base_ = static_cast<uint8_t*>(
        VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base_ == nullptr) return;
    for (size_t i = 0; i < kPage; ++i) base_[i] = static_cast<uint8_t>(i * 7 + 1);
    DWORD old = 0;
    switch (second) {
      case Second::kNoAccess:
        VirtualProtect(base_ + kPage, kPage, PAGE_NOACCESS, &old);
        break;
      case Second::kGuard:
        VirtualProtect(base_ + kPage, kPage, PAGE_READWRITE | PAGE_GUARD, &old);
        break;
      case Second::kReleased:
        VirtualFree(base_ + kPage, kPage, MEM_DECOMMIT);
        break;
    }
  }
  ~TwoPages() {
    if (base_ != nullptr) VirtualFree(base_, 0, MEM_RELEASE);
  }
  TwoPages(const TwoPages&) = delete;
  TwoPages& operator=(const TwoPages&) = delete;

  uint8_t* readable() const { return base_; }
  uint8_t* unreadable() const { return base_ + kPage; }

 private:
  uint8_t* base_ = nullptr;
};

struct FaultCase {
  const char* name;
  TwoPages::Second second;
  size_t readable_bytes;  // how many bytes before the unreadable page the copy starts
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class GuardedCopyTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(GuardedCopyTest, FaultIsReportedAndTheNextCopyWorks) {
  const FaultCase& c = GetParam();
  TwoPages pages(c.second);
  ASSERT_NE(pages.readable(), nullptr);
  std::vector<uint8_t> out(kPage + 64, 0);

  SetLastError(1234);
  EXPECT_FALSE(
      CopyFromHost(out.data(), pages.unreadable() - c.readable_bytes, c.readable_bytes + 64));
  EXPECT_EQ(GetLastError(), 1234u);

  // Nothing is left armed: a good copy after a fault copies and succeeds.
  std::vector<uint8_t> again(kPage, 0);
  EXPECT_TRUE(CopyFromHost(again.data(), pages.readable(), kPage));
  EXPECT_EQ(std::memcmp(again.data(), pages.readable(), kPage), 0);
  EXPECT_EQ(GetLastError(), 1234u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, GuardedCopyTest,
    ::testing::Values(FaultCase{"NoAccessPage", TwoPages::Second::kNoAccess, 0},
                      FaultCase{"ReadableThenNoAccess", TwoPages::Second::kNoAccess, 100},
                      FaultCase{"GuardPage", TwoPages::Second::kGuard, 0},
                      FaultCase{"DecommittedPage", TwoPages::Second::kReleased, 3000}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

// Counts access violations that reach a handler behind the guard's.
std::atomic<int> g_later_violations{0};

LONG CALLBACK CountViolation(EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  ++g_later_violations;
  return EXCEPTION_CONTINUE_EXECUTION;  // raised by RaiseException: resumes after it
}

TEST(GuardedCopyTest, FaultsOutsideAGuardedCopyPassOn) {
  TwoPages pages(TwoPages::Second::kNoAccess);
  uint8_t out[16];
  ASSERT_FALSE(CopyFromHost(out, pages.unreadable(), sizeof out));  // the guard is installed
  void* handler = AddVectoredExceptionHandler(0, &CountViolation);
  ASSERT_NE(handler, nullptr);
  g_later_violations = 0;
  RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
  RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(g_later_violations.load(), 1);
}

TEST(GuardedCopyTest, ThreadsKeepTheirOwnRecoveryPoints) {
  TwoPages pages(TwoPages::Second::kNoAccess);
  constexpr int kRounds = 2000;
  std::atomic<int> wrong{0};
  std::thread faulting([&] {
    uint8_t out[64];
    for (int i = 0; i < kRounds; ++i) {
      if (CopyFromHost(out, pages.unreadable() - 32, sizeof out)) ++wrong;
    }
  });
  std::thread reading([&] {
    std::vector<uint8_t> out(kPage);
    for (int i = 0; i < kRounds; ++i) {
      if (!CopyFromHost(out.data(), pages.readable(), kPage) ||
          std::memcmp(out.data(), pages.readable(), kPage) != 0) {
        ++wrong;
      }
    }
  });
  faulting.join();
  reading.join();
  EXPECT_EQ(wrong.load(), 0);
}

// A valid 40-byte stream header for 704 x 576.
std::vector<uint8_t> StreamHeader() {
  std::vector<uint8_t> header(40, 0);
  store_u32le(header.data() + 0, 1);
  store_u32le(header.data() + 8, 0x20050101);
  store_u16le(header.data() + 16, 0x1001);
  store_u16le(header.data() + 18, 0x1001);
  store_u16le(header.data() + 28, 704);
  store_u16le(header.data() + 30, 576);
  return header;
}

// The start of a group of one video block whose payload is `payload` bytes.
std::vector<uint8_t> GroupStart(uint32_t payload, size_t bytes) {
  std::vector<uint8_t> group(kGroupHeaderSize + kBlockHeaderSize + payload, 0x5A);
  std::memset(group.data(), 0, kGroupHeaderSize + kBlockHeaderSize);
  store_u32le(group.data() + 0, kGroupStartCode);
  store_u32le(group.data() + 4, 0x1001);
  store_u32le(group.data() + kGroupTypeOffset, 0x1001);
  store_u32le(group.data() + kGroupBlockCountOffset, 0x1001);
  store_u32le(group.data() + kGroupFrameTypeOffset, 0x1001);
  store_u32le(group.data() + 28, 0x1001);
  store_u16le(group.data() + kGroupHeaderSize, 0x1003);
  store_u32le(group.data() + kGroupHeaderSize + 16, payload);
  group.resize(bytes);
  return group;
}

TEST(SplitterFaultTest, UnreadablePieceAfterAHeldGroupIsReportedNotFatal) {
  testing::FakeWm wm;
  RecordInstance instance(wm.Factories());
  instance.file_name = "out.asf";
  const auto header = StreamHeader();
  instance.SendOneFrame(header.data(), static_cast<int32_t>(header.size()));
  const auto start = GroupStart(5000, 100);
  instance.SendOneFrame(start.data(), static_cast<int32_t>(start.size()));
  ASSERT_EQ(instance.splitter.bytes_held, 100);

  TwoPages pages(TwoPages::Second::kNoAccess);
  testing::DebugCapture debug;
  instance.SendOneFrame(pages.unreadable(), 200);
  EXPECT_EQ(debug.Count("Splitter : mem move error!\n"), 1u);
  // The faulting copy counts as done: the group is still incomplete.
  EXPECT_EQ(instance.splitter.bytes_held, 300);
  EXPECT_EQ(wm.samples.size(), 0u);
}

}  // namespace
}  // namespace kestrum
