// Byte sinks: the file sink against an in-memory model, and how both fail.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <random>

#include "asf_format/tests/test_support.h"
#include "asf_format/buffered_file_sink.h"
#include "asf_format/tests/memory_sink.h"

namespace kestrum::asf {
namespace {

uint64_t SizeOnDisk(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

TEST(MemorySinkTest, LimitKeepsWhatFitsAndFailsTheRest) {
  MemorySink sink;
  sink.fail_after = std::make_unique<size_t>(6);
  const uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(sink.Write(data, 4), kOk);
  EXPECT_EQ(sink.Write(data, 4), kDiskFull);
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{1, 2, 3, 4, 1, 2}));
  EXPECT_EQ(sink.Write(data, 1), kDiskFull);
  EXPECT_EQ(sink.WriteAt(5, data, 2), kInvalidArgument);
  EXPECT_EQ(sink.WriteAt(4, data + 8, 2), kOk);
  EXPECT_EQ(sink.bytes, (std::vector<uint8_t>{1, 2, 3, 4, 9, 10}));
}

class FileSinkModelTest : public ::testing::TestWithParam<unsigned> {};

// Small and large appends, overwrites and read-backs reaching into flushed
// bytes, buffered bytes or both, cuts back, flushes: the file ends up as the
// model says.
TEST_P(FileSinkModelTest, FileHoldsWhatWasWritten) {
  const std::string path = testing::TempPath("sink_model_" + std::to_string(GetParam()));
  std::mt19937 rng(GetParam());
  std::vector<uint8_t> model;
  {
    Status status = kFailed;
    std::unique_ptr<ByteSink> sink = OpenFileSink(path, &status);
    ASSERT_EQ(status, kOk);
    ASSERT_NE(sink, nullptr);
    for (int op = 0; op < 300; ++op) {
      const auto kind = static_cast<unsigned>(rng() % 12);
      if (kind < 6 || model.empty()) {
        const size_t size = rng() % 4 == 0 ? 60'000 + rng() % 300'000 : rng() % 5000;
        const std::vector<uint8_t> data = testing::RandomBytes(rng, size);
        ASSERT_EQ(sink->Write(data.data(), data.size()), kOk);
        model.insert(model.end(), data.begin(), data.end());
      } else if (kind < 9) {
        const size_t offset = rng() % model.size();
        const std::vector<uint8_t> data =
            testing::RandomBytes(rng, rng() % (model.size() - offset + 1));
        ASSERT_EQ(sink->WriteAt(offset, data.data(), data.size()), kOk);
        std::copy(data.begin(), data.end(), model.begin() + static_cast<ptrdiff_t>(offset));
      } else if (kind == 9) {
        ASSERT_EQ(sink->Flush(), kOk);
        EXPECT_EQ(SizeOnDisk(path), model.size());
      } else if (kind == 10) {
        const size_t offset = rng() % model.size();
        std::vector<uint8_t> back(rng() % (model.size() - offset + 1));
        ASSERT_EQ(sink->ReadAt(offset, back.data(), back.size()), kOk);
        EXPECT_TRUE(std::equal(back.begin(), back.end(),
                               model.begin() + static_cast<ptrdiff_t>(offset)));
      } else {
        const size_t size = model.size() - rng() % std::min<size_t>(model.size(), 70'000);
        ASSERT_EQ(sink->Truncate(size), kOk);
        model.resize(size);
      }
      ASSERT_EQ(sink->Size(), model.size());
    }
    const uint8_t byte = 0;
    EXPECT_EQ(sink->WriteAt(model.size(), &byte, 1), kInvalidArgument);
  }
  EXPECT_EQ(testing::ReadFileBytes(path), model);
}

INSTANTIATE_TEST_SUITE_P(GeneratorStates, FileSinkModelTest, ::testing::Range(1u, 6u));

TEST(FileSinkTest, SmallWritesAreBatchedUntilFlush) {
  const std::string path = testing::TempPath("sink_batched");
  Status status = kFailed;
  std::unique_ptr<ByteSink> sink = OpenFileSink(path, &status);
  ASSERT_NE(sink, nullptr);
  const std::vector<uint8_t> piece(1000, 7);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(sink->Write(piece.data(), piece.size()), kOk);
  EXPECT_EQ(SizeOnDisk(path), 0u);
  ASSERT_EQ(sink->Flush(), kOk);
  EXPECT_EQ(SizeOnDisk(path), 500'000u);
}

#ifndef _WIN32  // device nodes
// A full device (a node of our own): a stream, failing and failing again,
// and held by one writer.
TEST(FileSinkTest, FullDeviceFailsAndKeepsFailing) {
  const std::string node = testing::TempPath("sink_full_device");
  ::unlink(node.c_str());
  if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) GTEST_SKIP() << "no mknod here";
  Status status = kFailed;
  std::unique_ptr<ByteSink> sink = OpenFileSink(node, &status);
  ASSERT_NE(sink, nullptr);
  EXPECT_FALSE(sink->seekable());
  const std::vector<uint8_t> small(100, 1), large(200'000, 2);
  EXPECT_EQ(sink->Write(small.data(), small.size()), kOk);  // buffered
  EXPECT_EQ(sink->Flush(), kDiskFull);
  EXPECT_EQ(sink->Write(small.data(), small.size()), kDiskFull);
  EXPECT_EQ(sink->Flush(), kDiskFull);
  EXPECT_EQ(sink->Truncate(0), kNotSeekable);
  // One writer at a time, as on a file.
  EXPECT_EQ(OpenFileSink(node, &status), nullptr);
  EXPECT_EQ(status, kSharingViolation);

  sink.reset();
  sink = OpenFileSink(node, &status);
  ASSERT_NE(sink, nullptr);
  EXPECT_EQ(sink->Write(large.data(), large.size()), kDiskFull);  // direct
  sink.reset();
  struct stat st {};
  EXPECT_EQ(::lstat(node.c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the node was replaced";
  ::unlink(node.c_str());
}

#endif

#ifndef _WIN32  // a file size limit on a child process
TEST(FileSinkTest, FileSizeLimitIsADiskFullAndTheFileKeepsWhatFit) {
  const std::string path = testing::TempPath("sink_limit");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);  // so write(2) reports EFBIG
    rlimit limit{300'000, 300'000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Status status = kFailed;
    std::unique_ptr<ByteSink> sink = OpenFileSink(path, &status);
    const std::vector<uint8_t> data(100'000, 3);
    int failed_at = 0;
    for (int i = 1; i <= 5 && failed_at == 0; ++i) {
      if (sink->Write(data.data(), data.size()) == kDiskFull) failed_at = i;
    }
    const bool later_fails = sink->Flush() == kDiskFull;
    ::_exit(failed_at == 4 && later_fails ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(SizeOnDisk(path), 300'000u);
}
#endif

// An open file that keeps what reaches it and fails the call numbered
// `fail_call` (counting from 1) with `failure`.
struct ScriptedFile : OpenFile {
  struct Log {
    std::vector<uint8_t> bytes;
    int calls = 0;
    bool closed = false;
  };
  ScriptedFile(Log* log_to, int call_to_fail, Status failure_to_give)
      : log(log_to), fail_call(call_to_fail), failure(failure_to_give) {}
  ~ScriptedFile() override { log->closed = true; }
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    if (++log->calls == fail_call) return failure;
    if (offset + size > log->bytes.size()) log->bytes.resize(static_cast<size_t>(offset + size));
    std::copy(data, data + size, log->bytes.begin() + static_cast<ptrdiff_t>(offset));
    return kOk;
  }
  Status Truncate(uint64_t size) override {
    log->bytes.resize(static_cast<size_t>(size));
    return kOk;
  }
  Log* log;
  int fail_call;
  Status failure;
};

TEST(BufferedFileSinkTest, PatchesBufferedBytesInPlaceAndHandsAllOverOnClose) {
  ScriptedFile::Log log;
  Status status = kFailed;
  std::unique_ptr<ByteSink> sink =
      MakeBufferedFileSink(std::make_unique<ScriptedFile>(&log, 0, kOk), &status);
  ASSERT_EQ(status, kOk);
  const std::vector<uint8_t> head(100, 1), batch(70'000, 2), tail(50, 3), patch(20, 9);
  ASSERT_EQ(sink->Write(head.data(), head.size()), kOk);
  ASSERT_EQ(sink->WriteAt(10, patch.data(), patch.size()), kOk);
  EXPECT_EQ(log.calls, 0);  // header and patch are still buffered
  ASSERT_EQ(sink->Write(batch.data(), batch.size()), kOk);
  EXPECT_EQ(log.calls, 2);  // the buffer, then the batch straight through
  ASSERT_EQ(sink->Write(tail.data(), tail.size()), kOk);
  // One patch across the file's end and the buffer: file part, then buffer.
  ASSERT_EQ(sink->WriteAt(70'090, patch.data(), patch.size()), kOk);
  EXPECT_EQ(log.calls, 3);
  EXPECT_EQ(sink->Size(), 70'150u);

  std::vector<uint8_t> expected = head;
  expected.insert(expected.end(), batch.begin(), batch.end());
  expected.insert(expected.end(), tail.begin(), tail.end());
  std::fill_n(expected.begin() + 10, 20, uint8_t{9});
  std::fill_n(expected.begin() + 70'090, 20, uint8_t{9});
  sink.reset();
  EXPECT_TRUE(log.closed);
  EXPECT_EQ(log.bytes, expected);
}

TEST(BufferedFileSinkTest, FirstFailureIsLatchedAndNothingMoreReachesTheFile) {
  for (int fail_call = 1; fail_call <= 3; ++fail_call) {
    SCOPED_TRACE(fail_call);
    ScriptedFile::Log log;
    Status status = kFailed;
    std::unique_ptr<ByteSink> sink =
        MakeBufferedFileSink(std::make_unique<ScriptedFile>(&log, fail_call, kWriteFault), &status);
    const std::vector<uint8_t> small(10, 1), large(100'000, 2);
    Status first = kOk;
    for (int i = 0; i < 3 && Succeeded(first); ++i) {
      first = sink->Write(small.data(), small.size());
      if (Succeeded(first)) first = sink->Flush();
      if (Succeeded(first)) first = sink->WriteAt(0, small.data(), 5);
      if (Succeeded(first)) first = sink->Write(large.data(), large.size());
    }
    EXPECT_EQ(first, kWriteFault);
    const int calls = log.calls;
    EXPECT_EQ(calls, fail_call);
    EXPECT_EQ(sink->Write(small.data(), small.size()), kWriteFault);
    EXPECT_EQ(sink->WriteAt(0, small.data(), 1), kWriteFault);
    EXPECT_EQ(sink->Flush(), kWriteFault);
    EXPECT_EQ(log.calls, calls);
    // Cut back, the sink writes again from there.
    const uint64_t keep = std::min<uint64_t>(sink->Size(), 5);
    ASSERT_EQ(sink->Truncate(keep), kOk);
    EXPECT_EQ(sink->Size(), keep);
    EXPECT_EQ(sink->Write(small.data(), small.size()), kOk);
    EXPECT_EQ(sink->Flush(), kOk);
    sink.reset();
    EXPECT_TRUE(log.closed);
    EXPECT_EQ(log.bytes.size(), keep + 10);
  }
}

// A file one sink has (an exclusive lock; on Windows, a share mode without
// write sharing) is refused to a second one before anything of it is
// touched; once the first is gone, it is the second's.
TEST(FileSinkTest, SecondSinkOnAFileIsRefusedAndTouchesNothing) {
  const std::string path = testing::TempPath("sink_taken");
  Status status = kFailed;
  std::unique_ptr<ByteSink> first = OpenFileSink(path, &status);
  ASSERT_NE(first, nullptr);
  const std::vector<uint8_t> data(5000, 4);
  ASSERT_EQ(first->Write(data.data(), data.size()), kOk);
  ASSERT_EQ(first->Flush(), kOk);
  EXPECT_EQ(OpenFileSink(path, &status), nullptr);
  EXPECT_EQ(status, kSharingViolation);
  EXPECT_EQ(SizeOnDisk(path), data.size());
  first.reset();
  EXPECT_NE(OpenFileSink(path, &status), nullptr);
  EXPECT_EQ(SizeOnDisk(path), 0u);
}
TEST(FileSinkTest, OpenFailuresSayWhy) {
  Status status = kOk;
  EXPECT_EQ(OpenFileSink(testing::TempPath("no/such/dir/x.asf"), &status), nullptr);
  EXPECT_EQ(status, kFileNotFound);
  EXPECT_EQ(OpenFileSink(testing::TempPath(""), &status), nullptr);
  EXPECT_EQ(status, kAccessDenied);
}

}  // namespace
}  // namespace kestrum::asf
