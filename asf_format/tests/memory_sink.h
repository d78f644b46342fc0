// A byte sink in memory, for the tests of the muxer and of what writes
// through it, and a file to repair in memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "asf_format/byte_sink.h"
#include "asf_format/repair.h"

namespace kestrum::asf {

// A sink in memory, for tests. When fail_after is set, any write that would
// take the bytes held past it fails (as a full disk would), keeping what
// fits. With `stream` set it only appends, as a pipe does (and has nothing to
// sync: the writer never asks). Its calls may come from two threads (a
// writer's own notes in the file); Snapshot reads the bytes meanwhile.
class MemorySink : public ByteSink {
 public:
  std::vector<uint8_t> Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex);
    return bytes;
  }
  Status Write(const uint8_t* data, size_t size) override;
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override;
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override;
  Status Truncate(uint64_t size) override;
  uint64_t Size() const override { return bytes.size(); }
  Status Flush() override { ++flushes; return kOk; }
  bool seekable() const override { return !stream; }
  // Counts the syncs (from any thread) and answers sync_result.
  Status Sync() override {
    ++syncs;
    return sync_result;
  }

  std::vector<uint8_t> bytes;
  size_t flushes = 0;
  std::atomic<int> syncs{0};
  Status sync_result = kOk;
  std::unique_ptr<size_t> fail_after;  // limit on the bytes held, when set
  bool stream = false;
  mutable std::mutex mutex;  // held by each call that changes `bytes`
};

// Hands everything to a MemorySink that outlives it: a writer owns its sink
// and drops it at the end of writing, the test reads the bytes afterwards.
class SharedSink final : public ByteSink {
 public:
  explicit SharedSink(std::shared_ptr<MemorySink> target) : target_(std::move(target)) {}
  Status Write(const uint8_t* data, size_t size) override { return target_->Write(data, size); }
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return target_->WriteAt(offset, data, size);
  }
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    return target_->ReadAt(offset, data, size);
  }
  Status Truncate(uint64_t size) override { return target_->Truncate(size); }
  bool seekable() const override { return target_->seekable(); }
  uint64_t Size() const override { return target_->Size(); }
  Status Flush() override { return target_->Flush(); }
  Status Sync() override { return target_->Sync(); }

 private:
  std::shared_ptr<MemorySink> target_;
};

// A file to repair in memory. It counts the writes (truncations too), and
// fails the one numbered `fail_write` (from 1; 0: none); a read past its
// end fails and is noted in `read_past`.
class MemoryRepairFile final : public RepairFile {
 public:
  explicit MemoryRepairFile(std::vector<uint8_t> b) : bytes(std::move(b)) {}
  uint64_t Size() const override { return bytes.size(); }
  Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override;
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override;
  Status Truncate(uint64_t size) override;
  Status Sync() override { return kOk; }

  std::vector<uint8_t> bytes;
  size_t writes = 0, fail_write = 0;
  bool read_past = false;
};

}  // namespace kestrum::asf
