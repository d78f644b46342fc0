#include "wm_standin/sync_thread.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

#include "diagnostics/lines.h"
#include "platform/record_context.h"
#include "wm_standin/sync_service.h"

namespace kestrum::wmsdk {
namespace {

// Write-back is started this many times an interval at most.
constexpr int kWriteBacksPerInterval = 8;

}  // namespace

SyncThread::SyncThread(asf::ByteSink& sink, uint32_t interval_ms,
                       std::function<void(const char*)> report,
                       std::function<bool(uint64_t durable)> note)
    : sink_(sink),
      interval_(interval_ms),
      step_(std::max<Clock::duration>(interval_ / kWriteBacksPerInterval,
                                      std::chrono::milliseconds(1))),
      report_(std::move(report)),
      note_(std::move(note)) {
  if (interval_ms == 0) return;
  // The service works for the recording the file's writer was made for:
  // its lines go where that recording's go.
  RecordContext* record = CurrentRecord();
  if (record != nullptr) record_ = record->weak_from_this().lock();
  service_ = SyncService::Get();
  if (service_ != nullptr && !service_->Add(this)) service_ = nullptr;
}

SyncThread::~SyncThread() {
  if (!finished_) Finish();
  if (service_ != nullptr) service_->Remove(this);  // once its end has run
}

void SyncThread::Written(uint64_t handed_over) {
  handed_over_.store(handed_over, std::memory_order_release);
  if (written_.exchange(true, std::memory_order_acq_rel)) return;  // already noted
  if (service_ != nullptr) service_->Tell([] {});
}

void SyncThread::Finish() {
  finished_ = true;
  if (service_ != nullptr) service_->Remove(this);
  Sync();
}

void SyncThread::FinishThen(std::function<void()> then, std::function<void()> after) {
  finished_ = true;
  if (service_ != nullptr && service_->HandEnd(this, then, after)) return;
  Sync();
  then();
  Sync();
  after();
}

SyncThread::Clock::time_point SyncThread::DueAt() const {
  Clock::time_point due = deadline_;
  if (written_.load(std::memory_order_acquire)) due = std::min(due, next_write_back_);
  if (NoteDue()) due = std::min(due, next_note_);
  return due;
}

// What reached the file from the first write-back of a round on is synced
// by its deadline: a step before the interval is up, so that the service
// coming late, or the sync itself, still leaves it durable within the
// interval.
void SyncThread::Work(Clock::time_point now) {
  if (now >= next_write_back_ && written_.exchange(false, std::memory_order_acq_rel)) {
    if (deadline_ == Clock::time_point::max()) deadline_ = now + interval_ - step_;
    sink_.StartWriteBack();
    next_write_back_ = now + step_;
  }
  if (NoteDue() && now >= next_note_) {
    const uint64_t durable = Durable();
    if (note_(durable)) {
      noted_ = durable;
      written_.store(true, std::memory_order_release);  // the note itself, to be made durable
    } else {
      next_note_ = now + step_;  // the writer was busy: try again
    }
  }
  if (now >= deadline_) {
    Sync();
    deadline_ = Clock::time_point::max();
  }
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
