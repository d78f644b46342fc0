// The one thread of a process that keeps every written file durable
// (wm_standin/sync_thread.h): it goes round the files it has, works on each
// one when something of it is due, and sleeps until the next is. Started
// when a file needs it, it ends when it has none left (the next file starts
// it again); as the process exits (not on Windows) it runs the file ends it
// was handed, then stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrum::wmsdk {

class SyncThread;

class SyncService {
 public:
  // The process's service; null when there is no memory for it.
  static SyncService* Get();

  // Hands the file over, starting the thread if need be: false when no
  // thread can be had, or the process exits.
  bool Add(SyncThread* file);
  // Takes the file back once the service is not working on it and has run
  // the end it was handed (FinishThen); nothing when it does not have it.
  // The last file taken back ends the thread, and waits for that.
  void Remove(SyncThread* file);
  // Something of `file` may be due sooner: `change` runs under the lock.
  template <typename Change>
  void Tell(Change change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change();
    }
    wake_.notify_one();
  }
  // Hands the file's end over (FinishThen), taking `then` and `after`:
  // false, with them left as they are, when the service has stopped.
  bool HandEnd(SyncThread* file, std::function<void()>& then, std::function<void()>& after);
  // Runs the ends handed over and stops the thread (the process exits).
  void Stop();

 private:
  SyncService() = default;
  void Run();
  // Under the lock: the file due first, and when.
  SyncThread* Next(std::chrono::steady_clock::time_point& when);

  std::mutex mutex_;
  std::condition_variable wake_;  // the thread: something may be due
  std::condition_variable idle_;  // Remove: the thread left a file
  std::vector<SyncThread*> files_;
  SyncThread* working_ = nullptr;  // the file the thread works on, without the lock
  bool stop_ = false;              // the process exits
  bool running_ = false;           // the thread serves; it ends when it has no file
  std::thread thread_;
  SyncService* inherited_ = nullptr;  // a forked child's: its parent's, kept
};

}  // namespace kestrum::wmsdk
