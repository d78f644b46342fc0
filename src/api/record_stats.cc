#include "api/record_stats.h"

#include <algorithm>
#include <cstring>

#include "output/results.h"

namespace kestrum {
namespace {

// A sample the writer refused on its own account, after which it goes on:
// one too large or empty, or no memory for it. Any other failure is the
// writer's: it could not write.
bool RefusedAlone(HRESULT result) { return result == E_INVALIDARG || result == E_OUTOFMEMORY; }

}  // namespace

RecordStats::RecordStats() : context_(std::make_shared<RecordContext>()) {}

RecordStats::~RecordStats() {
  try {
    context_->lines().Set(nullptr, nullptr);
  } catch (...) {  // no lock to be had: nothing more can be done
  }
}

void RecordStats::Named(bool named) {
  const State now = state();
  if (now == kNoName || now == kWaiting) SetState(named ? kWaiting : kNoName);
}

void RecordStats::Prepared(HRESULT result) { context_->Failed(result); }

void RecordStats::GroupHandedOn() {
  if (state() == kWaiting) SetState(kRecording);
}

void RecordStats::SampleWritten(HRESULT result, uint64_t time, uint64_t size) {
  const State now = state();
  if (now == kEnded) return;  // pieces after StopRecord are not recorded
  if (SUCCEEDED(result)) {
    Add(samples_written_, 1);
    Add(bytes_handed_, size);
    media_time_.store(media_before_ + time, std::memory_order_relaxed);
    if (now == kFailed) SetState(kRecording);
    return;
  }
  Add(samples_refused_, 1);
  context_->Failed(result);
  if (!RefusedAlone(result)) SetState(kFailed);
}

void RecordStats::Ended(HRESULT result) {
  if (state() == kEnded) return;
  context_->Failed(result);
  SetState(kEnded);
}

void RecordStats::FileSwitched(HRESULT result, uint64_t time) {
  context_->Failed(result);
  media_before_ += time;
}

void RecordStats::SwitchFailed() {
  if (state() != kEnded) SetState(kWaiting);
}

void RecordStats::ConversionBegins() {
  SetState(kWaiting);
  media_before_ = 0;
  context_->Restart();
  for (std::atomic<uint64_t>* count : {&samples_written_, &bytes_handed_, &media_time_,
                                       &groups_dropped_, &samples_refused_, &bytes_in_no_group_}) {
    count->store(0, std::memory_order_relaxed);
  }
}

void RecordStats::ConversionEnded(int32_t result) {
  // 0: the source did not open; 1: done; a cancelled conversion is ended.
  if (result < 0 && result != kCancelled) context_->Failed(result);
  SetState(result == 1 || result == kCancelled ? kEnded : kFailed);
}

void RecordStats::Fill(KestrumRecordStats* stats, size_t size) const {
  KestrumRecordStats filled{};
  filled.struct_size = stats->struct_size;
  filled.state = state();
  filled.first_failure = context_->first_failure();
  filled.last_failure = context_->last_failure();
  filled.samples_written = samples_written();
  const WriterFigures& figures = context_->figures();
  if (figures.reported.load(std::memory_order_relaxed)) {
    filled.bytes_written = figures.bytes_written.load(std::memory_order_relaxed);
    filled.bytes_durable =
        std::min(filled.bytes_written, figures.bytes_durable.load(std::memory_order_relaxed));
  } else {
    filled.bytes_written = bytes_handed_.load(std::memory_order_relaxed);
  }
  filled.media_time = media_time_.load(std::memory_order_relaxed);
  filled.groups_dropped = groups_dropped_.load(std::memory_order_relaxed);
  filled.samples_refused = samples_refused_.load(std::memory_order_relaxed);
  filled.bytes_in_no_group = bytes_in_no_group_.load(std::memory_order_relaxed);
  std::memcpy(stats, &filled, std::min(size, sizeof filled));
}

}  // namespace kestrum
