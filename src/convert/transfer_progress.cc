#include "convert/transfer_progress.h"

#include <algorithm>

#include "api/record_stats.h"

namespace kestrum {
namespace {

constexpr uint64_t kBytesBetweenCalls = uint64_t{4} << 20;
constexpr auto kTimeBetweenCalls = std::chrono::milliseconds(250);

}  // namespace

TransferProgress::TransferProgress(Callback callback, void* context, int64_t total,
                                   const RecordStats& stats)
    : callback_(callback),
      context_(context),
      total_(total),
      stats_(stats),
      told_at_(std::chrono::steady_clock::now()) {}

bool TransferProgress::Stopped(uint64_t bytes_read) {
  const bool bytes_due = bytes_read - std::min(bytes_read, told_bytes_) >= kBytesBetweenCalls;
  if (!bytes_due && std::chrono::steady_clock::now() - told_at_ < kTimeBetweenCalls) return false;
  // A source that grew past the size it had at the start: as far as it was read.
  const uint64_t total = total_ < 0 ? 0 : std::max(static_cast<uint64_t>(total_), bytes_read);
  return Tell(bytes_read, total);
}

void TransferProgress::Finished(uint64_t bytes_read) { (void)Tell(bytes_read, bytes_read); }

bool TransferProgress::Tell(uint64_t bytes_read, uint64_t bytes_total) {
  told_bytes_ = bytes_read;
  told_at_ = std::chrono::steady_clock::now();
  try {
    return callback_(bytes_read, bytes_total, stats_.samples_written(), context_) != 0;
  } catch (...) {  // a C++ host's callback that threw: nothing unwinds through the library
    return true;
  }
}

}  // namespace kestrum
