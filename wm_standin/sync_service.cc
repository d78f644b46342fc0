#include "wm_standin/sync_service.h"

#include <algorithm>
#include <new>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "platform/record_context.h"
#include "wm_standin/sync_thread.h"

namespace kestrum::wmsdk {
namespace {

using Clock = std::chrono::steady_clock;

// Never destroyed: files may be handed over while the statics go.
std::mutex& ServiceMutex() {
  static auto* const mutex = new std::mutex;
  return *mutex;
}
SyncService* g_service = nullptr;  // under ServiceMutex()

#if !defined(_WIN32)
pid_t g_service_process = 0;  // the process whose thread serves

// The process exits, or the library is unloaded: the service ends the files
// handed to it and its thread stops. Not in a child forked meanwhile, which
// has none of its threads.
struct StopsAtExit {
  ~StopsAtExit() {
    SyncService* service = nullptr;
    {
      std::lock_guard<std::mutex> lock(ServiceMutex());
      if (g_service_process == getpid()) service = g_service;
    }
    if (service != nullptr) service->Stop();
  }
} g_stops_at_exit;
#endif

}  // namespace

SyncService* SyncService::Get() {
  std::lock_guard<std::mutex> lock(ServiceMutex());
#if !defined(_WIN32)
  // A child forked from the process has none of its threads: it has a
  // service of its own, which keeps the one it inherited.
  if (g_service != nullptr && g_service_process != getpid()) {
    auto* service = new (std::nothrow) SyncService;
    if (service == nullptr) return nullptr;
    service->inherited_ = g_service;
    g_service = service;
  }
#endif
  if (g_service == nullptr) g_service = new (std::nothrow) SyncService;
#if !defined(_WIN32)
  g_service_process = getpid();
#endif
  return g_service;
}

bool SyncService::Add(SyncThread* file) {
  std::thread finished;  // the thread that ran out of files, if it has not been joined
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return false;
    try {
      files_.push_back(file);
      if (!running_) {
        finished = std::move(thread_);
        thread_ = std::thread([this] { Run(); });
        running_ = true;
      }
    } catch (const std::exception&) {  // no memory, or no thread to be had
      if (!files_.empty() && files_.back() == file) files_.pop_back();
      return false;  // the file is synced as it ends
    }
    file->served_ = true;
  }
  if (finished.joinable()) finished.join();
  wake_.notify_one();
  return true;
}

void SyncService::Remove(SyncThread* file) {
  std::thread finished;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [&] { return working_ != file && !file->then_; });
    if (file->served_) {
      files_.erase(std::find(files_.begin(), files_.end(), file));
      file->served_ = false;
    }
    // The last file gone: the thread ends (the next file starts another),
    // so that no thread is left over while the process has no file to sync.
    if (files_.empty() && running_) {
      wake_.notify_one();
      idle_.wait(lock, [&] { return !running_ || !files_.empty(); });
    }
    if (!running_) finished = std::move(thread_);
  }
  if (finished.joinable()) finished.join();
}

bool SyncService::HandEnd(SyncThread* file, std::function<void()>& then,
                          std::function<void()>& after) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || !file->served_) return false;
    file->then_ = std::move(then);
    file->after_ = std::move(after);
  }
  wake_.notify_one();
  return true;
}

void SyncService::Stop() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop_) return;
    stop_ = true;
    thread = std::move(thread_);
  }
  wake_.notify_one();
  if (thread.joinable()) thread.join();
}

SyncThread* SyncService::Next(Clock::time_point& when) {
  const Clock::time_point now = Clock::now();
  when = Clock::time_point::max();
  for (SyncThread* file : files_) {
    if (file->then_) return file;
    if (stop_) continue;  // stopping: only the ends handed over
    const Clock::time_point due = file->DueAt();
    if (due <= now) return file;
    when = std::min(when, due);
  }
  return nullptr;
}

void SyncService::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Clock::time_point when;
    SyncThread* const file = Next(when);
    if (file == nullptr) {
      if (stop_ || files_.empty()) break;
      if (when == Clock::time_point::max()) {
        wake_.wait(lock);
      } else {
        wake_.wait_until(lock, when);
      }
      continue;
    }
    const std::function<void()> then = std::move(file->then_), after = std::move(file->after_);
    file->then_ = nullptr;
    working_ = file;
    lock.unlock();
    {
      RecordScope scope(file->record_.get());  // its lines go where its recording's go
      if (then) {
        file->Sync();
        then();
        file->Sync();
        after();
      } else {
        file->Work(Clock::now());
      }
    }
    lock.lock();
    working_ = nullptr;
    // The file goes to the back: every file gets its turn.
    const auto at = std::find(files_.begin(), files_.end(), file);
    if (then) {
      files_.erase(at);
      file->served_ = false;
    } else {
      std::rotate(at, at + 1, files_.end());
    }
    idle_.notify_all();
  }
  running_ = false;
  idle_.notify_all();
}

}  // namespace kestrum::wmsdk
