// The writer's own thread that keeps a live file durable while it is written:
// bytes that reach the file are on stable storage at most one interval
// later, and the thread that writes them never waits for the disk. Whenever
// bytes may have reached the file (Written), the thread has the system begin
// writing them back, a few times an interval, and one interval after the
// first of them it syncs the file (ByteSink::Sync: fdatasync, FlushFileBuffers).
// It holds its own lock only to take note of what it is told, never across a
// system call, so Written does not wait for a sync.
//
// Durable() tells how many bytes of the file the last sync that worked
// covered (what had been handed to the system when it began), for the
// muxer to note in the file (Muxer::MarkDurable). The thread also has it
// noted itself after each such sync, through `note`, so that the note
// follows a sync that comes after the last write: `note` answers false when
// it cannot take what it needs at once (the writer is busy), and is tried
// again a few times an interval until it answers true; it must not wait for
// anything the thread is waited for under. A note taken is written to the
// file, so the thread makes it durable in turn, by the next interval.
//
// A sync that fails is told in one line (lines::kSyncFailedFormat, through
// `report`, on the thread that syncs) and writing goes on; the line comes
// again only after a sync has worked. The thread works for the recording
// current on the thread that made it (platform/record_context.h): its lines
// go where that recording's go. Finish ends the thread and syncs on
// the caller's thread; a later Finish syncs again. FinishThen ends the file
// on the thread instead, without the caller waiting: a sync, then what may
// reach the file only once all before it is durable (the confirmation of
// an ended file, Muxer::ConfirmEnd), then a last sync; the destructor waits
// for it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "asf_format/byte_sink.h"

namespace kestrum {
class RecordContext;
}

namespace kestrum::wmsdk {

class SyncThread {
 public:
  // Syncs `sink`, which must outlive the thread (Finish, or the destructor).
  // An interval of 0 starts no thread: the file is synced only by Finish.
  SyncThread(asf::ByteSink& sink, uint32_t interval_ms, std::function<void(const char*)> report,
             std::function<bool(uint64_t durable)> note = {});
  ~SyncThread() {
    if (!finished_) Finish();
    Join();
  }
  SyncThread(const SyncThread&) = delete;
  SyncThread& operator=(const SyncThread&) = delete;

  // Bytes may have reached the file, `handed_over` of them in all so far:
  // called by the writing thread after each write, cheap when nothing is due.
  void Written(uint64_t handed_over);
  // The bytes the last sync that worked made durable (0 before one has).
  uint64_t Durable() const { return durable_.load(std::memory_order_acquire); }
  // Ends the thread (the first time) and makes everything written durable;
  // the destructor calls it if nothing did.
  void Finish();
  // Returns at once; the thread syncs, calls `then`, syncs again and calls
  // `after`, once the sink is no longer touched (all on the caller's thread,
  // before returning, when there is no thread). Once only, instead of
  // Finish; nothing else may be written meanwhile.
  void FinishThen(std::function<void()> then, std::function<void()> after);

 private:
  void Run();
  void Join();  // ends the thread: what it was handed to finish first
  void Sync();  // one sync, with its line when it fails
  // Waits on `lock` until bytes are written or the thread is stopped, having
  // the last sync noted meanwhile.
  void WaitForWrites(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::duration step);
  bool NoteDue() const { return note_ && Durable() > noted_; }
  // Has the last sync noted, if it is due; `lock` is given back meanwhile.
  void NoteIfDue(std::unique_lock<std::mutex>& lock);

  asf::ByteSink& sink_;
  const std::chrono::milliseconds interval_;
  const std::function<void(const char*)> report_;
  const std::function<bool(uint64_t)> note_;
  std::atomic<bool> written_{false};  // bytes not yet started on their way
  std::atomic<uint64_t> handed_over_{0};
  std::atomic<uint64_t> durable_{0};
  std::mutex mutex_;                  // guards stop_ and the waits
  std::condition_variable wake_;
  bool stop_ = false;
  std::function<void()> then_, after_;  // FinishThen's; with stop_
  bool failing_ = false;  // the last sync failed and was told
  uint64_t noted_ = 0;    // on the thread: the durable count last noted through note_
  bool finished_ = false;
  // The recording current where the thread was made (platform/record_context.h).
  std::shared_ptr<RecordContext> record_;
  std::thread thread_;
};

}  // namespace kestrum::wmsdk
