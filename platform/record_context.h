// The recording a call of the library works for: its own share of what is
// otherwise process-wide. Its diagnostic lines go to its line route as well
// as to the process's output; its writer reports there what only the writer
// sees (bytes written and made durable, failing statuses), and finds there
// what the recording asks of it beyond the process's settings.
//
// Each export that works for an instance makes that instance's context the
// thread's current one for the length of the call (RecordScope); a writer
// that begins writing takes the current one for everything it does later
// for that output, on its own threads too (wm_standin/). Scopes nest, so
// instances driven in turn on one thread, or from one another's callbacks,
// each keep their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/line_route.h"
#include "platform/win_types.h"

namespace kestrum {

// What the writer of a recording reports. Written by the writer's threads,
// read from any thread.
// A recording that switches its output has several: each output adds what
// changed of its own figures.
struct WriterFigures {
  // The writer's output is one that reports (the built-in writer's).
  std::atomic<bool> reported{false};
  // The outputs' sizes together (a stream: bytes appended).
  std::atomic<uint64_t> bytes_written{0};
  // What the last sync that worked covered, of each output, together.
  std::atomic<uint64_t> bytes_durable{0};
};

class RecordContext : public std::enable_shared_from_this<RecordContext> {
 public:
  LineRoute& lines() { return lines_; }
  WriterFigures& figures() { return figures_; }
  const WriterFigures& figures() const { return figures_; }

  // A failing status of the recording: the first is kept, and the latest.
  void Failed(HRESULT status);
  HRESULT first_failure() const { return first_failure_.load(std::memory_order_acquire); }
  HRESULT last_failure() const { return last_failure_.load(std::memory_order_acquire); }

  // Whether the writer made for this recording ends its file durably (1),
  // or not (0), whatever the process's setting; -1 (the default): as that
  // setting says.
  void RequestEndSync(int32_t request) { end_sync_.store(request, std::memory_order_relaxed); }
  int32_t end_sync() const { return end_sync_.load(std::memory_order_relaxed); }

  // The sync interval (ms) the recording's first file began with, which
  // the files it switches to keep; -1 until a file began.
  void KeepSyncInterval(uint32_t interval_ms) {
    int32_t none = -1;
    sync_interval_.compare_exchange_strong(none, static_cast<int32_t>(interval_ms),
                                           std::memory_order_relaxed);
  }
  int32_t kept_sync_interval() const { return sync_interval_.load(std::memory_order_relaxed); }

  // Forgets the figures and failures (a new conversion); the route stays.
  void Restart();

 private:
  LineRoute lines_;
  WriterFigures figures_;
  std::atomic<HRESULT> first_failure_{S_OK};
  std::atomic<HRESULT> last_failure_{S_OK};
  std::atomic<int32_t> end_sync_{-1};
  std::atomic<int32_t> sync_interval_{-1};
};

// The context the calling thread works for, or null.
RecordContext* CurrentRecord();

// Makes `context` (may be null) the thread's current one until destroyed,
// then the one before it again.
class RecordScope {
 public:
  explicit RecordScope(RecordContext* context);
  ~RecordScope();
  RecordScope(const RecordScope&) = delete;
  RecordScope& operator=(const RecordScope&) = delete;

 private:
  RecordContext* const previous_;
};

}  // namespace kestrum
