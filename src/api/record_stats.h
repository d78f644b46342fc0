// What one recording has done so far, for its host (KestrumGetRecordStats),
// with the recording's context (platform/record_context.h): where its lines
// go besides the process's output, what its writer reports. The roads tell
// it as they go, on the thread that drives the instance; it is read from any
// thread, so every count is an atomic of its own.
//
// State: 0 no output name; 1 waiting for the header, the writer or a group
// that may start the recording (the file road: for its header); 2
// recording (a group was handed to the packer); 3 ended (StopRecord ended
// the writer; the file road: the conversion is over, its file ended); 4
// failed: the writer's latest write failed (a recording goes back to 2
// when a sample gets through again), or the conversion failed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "kestrum.h"
#include "platform/record_context.h"
#include "platform/win_types.h"

namespace kestrum {

class RecordStats {
 public:
  enum State : int32_t { kNoName = 0, kWaiting = 1, kRecording = 2, kEnded = 3, kFailed = 4 };

  RecordStats();
  // Detaches the recording's line route: its sink is never called again.
  ~RecordStats();
  RecordStats(const RecordStats&) = delete;
  RecordStats& operator=(const RecordStats&) = delete;

  RecordContext& context() { return *context_; }
  const std::shared_ptr<RecordContext>& shared_context() const { return context_; }

  // StartRecord, with a name or without.
  void Named(bool named);
  // PrepareWriter's result: a failure is recorded (the next piece tries again).
  void Prepared(HRESULT result);
  // A group handed to the sample packer.
  void GroupHandedOn();
  // A whole group not written: before a group that may start the recording,
  // malformed, too large, or cut off when the held bytes were dropped.
  void GroupDropped() { Add(groups_dropped_, 1); }
  void BytesInNoGroup(uint64_t count) { Add(bytes_in_no_group_, count); }
  // A sample of `size` bytes at `time` the writer took (S_OK) or refused
  // (its status; also for a sample it could not allocate).
  void SampleWritten(HRESULT result, uint64_t time, uint64_t size);
  // StopRecord's EndWriting and its result; only the first end counts.
  void Ended(HRESULT result);
  // A switch of the output ended the current file (with `result`) at `time`
  // on its clock: the next file's times count on from there.
  void FileSwitched(HRESULT result, uint64_t time);
  // A switch could not prepare its file: waiting for the next start group.
  void SwitchFailed();

  // The file road: a conversion begins (everything but the route is
  // forgotten), and what it returned.
  void ConversionBegins();
  void ConversionEnded(int32_t result);

  uint64_t samples_written() const { return samples_written_.load(std::memory_order_relaxed); }

  // Fills `stats`, all but its struct_size, up to `size` bytes of it (at
  // least the first version's).
  void Fill(KestrumRecordStats* stats, size_t size) const;

 private:
  static void Add(std::atomic<uint64_t>& count, uint64_t more) {
    count.store(count.load(std::memory_order_relaxed) + more, std::memory_order_relaxed);
  }
  State state() const { return static_cast<State>(state_.load(std::memory_order_relaxed)); }
  void SetState(State state) { state_.store(state, std::memory_order_relaxed); }

  const std::shared_ptr<RecordContext> context_;
  std::atomic<int32_t> state_{kNoName};
  std::atomic<uint64_t> samples_written_{0};
  std::atomic<uint64_t> bytes_handed_{0};  // sample bytes handed to the writer
  std::atomic<uint64_t> media_time_{0};
  uint64_t media_before_ = 0;  // the media time of the files ended by switches
  std::atomic<uint64_t> groups_dropped_{0};
  std::atomic<uint64_t> samples_refused_{0};
  std::atomic<uint64_t> bytes_in_no_group_{0};
};

}  // namespace kestrum
