#include "platform/record_context.h"

namespace kestrum {
namespace {

thread_local RecordContext* t_current = nullptr;

}  // namespace

void RecordContext::Failed(HRESULT status) {
  if (SUCCEEDED(status)) return;
  HRESULT none = S_OK;
  first_failure_.compare_exchange_strong(none, status, std::memory_order_acq_rel);
  last_failure_.store(status, std::memory_order_release);
}

void RecordContext::Restart() {
  figures_.reported.store(false, std::memory_order_relaxed);
  figures_.bytes_written.store(0, std::memory_order_relaxed);
  figures_.bytes_durable.store(0, std::memory_order_relaxed);
  sync_interval_.store(-1, std::memory_order_relaxed);
  first_failure_.store(S_OK, std::memory_order_release);
  last_failure_.store(S_OK, std::memory_order_release);
}

RecordContext* CurrentRecord() { return t_current; }

RecordScope::RecordScope(RecordContext* context) : previous_(t_current) { t_current = context; }

RecordScope::~RecordScope() { t_current = previous_; }

}  // namespace kestrum
