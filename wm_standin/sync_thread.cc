#include "wm_standin/sync_thread.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <system_error>
#include <utility>

#include "diagnostics/lines.h"
#include "platform/record_context.h"

namespace kestrum::wmsdk {
namespace {

// Write-back is started this many times an interval at most.
constexpr int kWriteBacksPerInterval = 8;

}  // namespace

SyncThread::SyncThread(asf::ByteSink& sink, uint32_t interval_ms,
                       std::function<void(const char*)> report,
                       std::function<bool(uint64_t durable)> note)
    : sink_(sink), interval_(interval_ms), report_(std::move(report)), note_(std::move(note)) {
  if (interval_ms == 0) return;
  try {
    // The thread works for the recording its writer was made for: its
    // lines go where that recording's go.
    RecordContext* record = CurrentRecord();
    if (record != nullptr) record_ = record->weak_from_this().lock();
    thread_ = std::thread([this] {
      RecordScope scope(record_.get());
      Run();
    });
  } catch (const std::system_error&) {
    // No thread to be had: the file is still made durable when it ends.
  }
}

void SyncThread::Written(uint64_t handed_over) {
  handed_over_.store(handed_over, std::memory_order_release);
  if (written_.exchange(true, std::memory_order_acq_rel)) return;  // already noted
  { std::lock_guard<std::mutex> lock(mutex_); }  // the thread waits, or sees the flag
  wake_.notify_one();
}

void SyncThread::Finish() {
  finished_ = true;
  Join();
  Sync();
}

void SyncThread::FinishThen(std::function<void()> then, std::function<void()> after) {
  finished_ = true;
  if (!thread_.joinable()) {
    Sync();
    then();
    Sync();
    after();
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    then_ = std::move(then);
    after_ = std::move(after);
    stop_ = true;
  }
  wake_.notify_one();
}

void SyncThread::Join() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void SyncThread::Run() {
  using Clock = std::chrono::steady_clock;
  const auto step = std::max<Clock::duration>(interval_ / kWriteBacksPerInterval,
                                              std::chrono::milliseconds(1));
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    WaitForWrites(lock, step);
    if (stop_) break;
    // What reached the file from here on is synced by the deadline: a step
    // before the interval is up, so that waking late, or the sync itself,
    // still leaves it durable within the interval.
    const Clock::time_point deadline = Clock::now() + interval_ - step;
    for (;;) {
      if (written_.exchange(false, std::memory_order_acq_rel)) {
        lock.unlock();
        sink_.StartWriteBack();
        lock.lock();
      }
      NoteIfDue(lock);
      const Clock::time_point now = Clock::now();
      if (stop_ || now >= deadline) break;
      wake_.wait_until(lock, std::min(deadline, now + step), [&] { return stop_; });
    }
    if (stop_) break;
    lock.unlock();
    Sync();
    lock.lock();
  }
  if (!then_) return;  // Finish syncs
  const std::function<void()> then = std::move(then_), after = std::move(after_);
  lock.unlock();
  Sync();
  then();
  Sync();
  after();
}

void SyncThread::WaitForWrites(std::unique_lock<std::mutex>& lock,
                               std::chrono::steady_clock::duration step) {
  const auto woken = [&] { return stop_ || written_.load(std::memory_order_acquire); };
  for (;;) {
    NoteIfDue(lock);
    if (woken()) return;
    if (NoteDue()) {
      wake_.wait_for(lock, step, woken);  // the writer was busy: try again
    } else {
      wake_.wait(lock, woken);
    }
  }
}

void SyncThread::NoteIfDue(std::unique_lock<std::mutex>& lock) {
  if (stop_ || !NoteDue()) return;
  const uint64_t durable = Durable();
  lock.unlock();
  const bool taken = note_(durable);
  lock.lock();
  if (!taken) return;
  noted_ = durable;
  written_.store(true, std::memory_order_release);  // the note itself, to be made durable
}

// Never throws: the first sync of a file also syncs its folder, which takes
// memory (its path); without it the sync fails like any other, and the file
// is still ended.
void SyncThread::Sync() {
  const uint64_t covered = handed_over_.load(std::memory_order_acquire);
  asf::Status status = asf::kOutOfMemory;
  try {
    status = sink_.Sync();
  } catch (const std::bad_alloc&) {
  }
  if (asf::Succeeded(status)) {
    durable_.store(covered, std::memory_order_release);
    failing_ = false;
    return;
  }
  if (failing_) return;
  failing_ = true;
  char line[128];
  std::snprintf(line, sizeof line, lines::kSyncFailedFormat, status.code());
  try {
    if (report_) report_(line);
  } catch (const std::bad_alloc&) {
  }
}

}  // namespace kestrum::wmsdk
