// What keeps a live file durable while it is written: bytes that reach the
// file are on stable storage at most one interval later, and the thread
// that writes them never waits for the disk. One thread per process does it
// for every file (the sync service, started when the first file needs it and
// kept for the process); a SyncThread is one file's share of it. Whenever
// bytes may have reached the file (Written), the service has the system
// begin writing them back, a few times an interval, and one interval after
// the first of them it syncs the file (ByteSink::Sync: fdatasync,
// FlushFileBuffers). The file's own state is taken note of under the
// service's lock, never held across a system call, so Written does not wait
// for a sync.
//
// Durable() tells how many bytes of the file the last sync that worked
// covered (what had been handed to the system when it began), for the
// muxer to note in the file (Muxer::MarkDurable). The service also has it
// noted itself after each such sync, through `note`, so that the note
// follows a sync that comes after the last write: `note` answers false when
// it cannot take what it needs at once (the writer is busy), and is tried
// again a few times an interval until it answers true; it must not wait for
// anything the service is waited for under. A note taken is written to the
// file, so the service makes it durable in turn, by the next interval.
//
// A sync that fails is told in one line (lines::kSyncFailedFormat, through
// `report`, on the thread that syncs) and writing goes on; the line comes
// again only after a sync has worked. The service works for each file on
// behalf of the recording current on the thread that made its SyncThread
// (platform/record_context.h): its lines go where that recording's go.
// Finish takes the file from the service and syncs on the caller's thread;
// a later Finish syncs again. FinishThen ends the file on the service
// instead, without the caller waiting: a sync, then what may reach the file
// only once all before it is durable (the confirmation of an ended file,
// Muxer::ConfirmEnd), then a last sync; the destructor waits for it, and
// so does the process as it exits (not on Windows, where the system ends
// the thread first). Without the service (an interval of 0, or no thread to
// be had) every sync runs on the caller's thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>

#include "asf_format/byte_sink.h"

namespace kestrum {
class RecordContext;
}

namespace kestrum::wmsdk {

class SyncService;

class SyncThread {
 public:
  // Syncs `sink`, which must outlive this (Finish, or the destructor). An
  // interval of 0 leaves the file to Finish alone.
  SyncThread(asf::ByteSink& sink, uint32_t interval_ms, std::function<void(const char*)> report,
             std::function<bool(uint64_t durable)> note = {});
  ~SyncThread();
  SyncThread(const SyncThread&) = delete;
  SyncThread& operator=(const SyncThread&) = delete;

  // Bytes may have reached the file, `handed_over` of them in all so far:
  // called by the writing thread after each write, cheap when nothing is due.
  void Written(uint64_t handed_over);
  // The bytes the last sync that worked made durable (0 before one has).
  uint64_t Durable() const { return durable_.load(std::memory_order_acquire); }
  // Takes the file from the service (the first time) and makes everything
  // written durable; the destructor calls it if nothing did.
  void Finish();
  // Returns at once; the service syncs, calls `then`, syncs again and calls
  // `after`, once the sink is no longer touched (all on the caller's thread,
  // before returning, without the service). Once only, instead of Finish;
  // nothing else may be written meanwhile.
  void FinishThen(std::function<void()> then, std::function<void()> after);

 private:
  friend class SyncService;
  using Clock = std::chrono::steady_clock;

  void Sync();  // one sync, with its line when it fails
  bool NoteDue() const { return note_ && Durable() > noted_; }
  // On the service, under its lock: when this file is next due (max: not
  // until it is written to).
  Clock::time_point DueAt() const;
  // On the service, without its lock: what is due at `now`.
  void Work(Clock::time_point now);

  asf::ByteSink& sink_;
  const std::chrono::milliseconds interval_;
  const Clock::duration step_;
  const std::function<void(const char*)> report_;
  const std::function<bool(uint64_t)> note_;
  std::atomic<bool> written_{false};  // bytes not yet started on their way
  std::atomic<uint64_t> handed_over_{0};
  std::atomic<uint64_t> durable_{0};
  // On the service only: the sync due for what was written since the last
  // one, the next write-back, the next try of a note that was refused.
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::time_point next_write_back_{};
  Clock::time_point next_note_{};
  bool failing_ = false;  // the last sync failed and was told
  uint64_t noted_ = 0;    // the durable count last noted through note_
  // Under the service's lock: FinishThen's, until the service runs them.
  std::function<void()> then_, after_;
  bool served_ = false;  // the service has the file
  bool finished_ = false;
  SyncService* service_ = nullptr;  // the process's, while it may have the file
  // The recording current where the file was handed over (platform/record_context.h).
  std::shared_ptr<RecordContext> record_;
};

}  // namespace kestrum::wmsdk
