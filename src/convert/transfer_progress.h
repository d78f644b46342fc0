// How far a conversion has come, told to the host's callback
// (KestrumTransferToAsfEx) on the converting thread: after a packet, once
// 4 MiB of input or 250 ms have passed since the last call, and once at the
// end of the stream with all of it read. The callback's answer may stop the
// conversion.
#pragma once

#include <chrono>
#include <cstdint>

#include "kestrum.h"

namespace kestrum {

class RecordStats;

class TransferProgress {
 public:
  using Callback = int32_t(KESTRUM_CALL*)(uint64_t bytes_read, uint64_t bytes_total,
                                          uint64_t samples_written, void* context);

  // `total`: the source's size in bytes, or -1 when it is not known (a pipe).
  // `stats`: where the samples written are counted.
  TransferProgress(Callback callback, void* context, int64_t total, const RecordStats& stats);

  // After a packet, with `bytes_read` of the source handed out so far: tells
  // the callback when a call is due. True when it asked to stop (a nonzero
  // answer, or a C++ exception out of it).
  bool Stopped(uint64_t bytes_read);
  // The stream was read to its end, `bytes_read` bytes in all.
  void Finished(uint64_t bytes_read);

 private:
  bool Tell(uint64_t bytes_read, uint64_t bytes_total);

  const Callback callback_;
  void* const context_;
  const int64_t total_;
  const RecordStats& stats_;
  uint64_t told_bytes_ = 0;
  std::chrono::steady_clock::time_point told_at_;
};

}  // namespace kestrum
