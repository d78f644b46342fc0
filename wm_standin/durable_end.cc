#include "wm_standin/durable_end.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <functional>
#include <mutex>
#include <new>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "diagnostics/lines.h"
#include "platform/debug_output.h"
#include "wm_standin/writer.h"

namespace kestrum::wmsdk {
namespace {

// Files whose end a writer's thread is still making durable, each holding
// its file until it is done. Never destroyed, as such a thread may outlive
// the statics.
class EndingsInFlight {
 public:
  void Add() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
  }
  void Done() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      --count_;
    }
    done_.notify_all();
  }
  // Waits until none is in flight; false if none was.
  bool WaitForAll() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (count_ == 0) return false;
    done_.wait(lock, [this] { return count_ == 0; });
    return true;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  size_t count_ = 0;
};

EndingsInFlight& Endings() {
  static EndingsInFlight* const endings = new EndingsInFlight;
  return *endings;
}

#if !defined(_WIN32)
// A process that exits without releasing a recording it stopped still gets
// that file's end: exit waits for the ends in flight (not in a child forked
// meanwhile, which has none of their threads).
const pid_t g_loading_process = getpid();
struct EndsAtExit {
  ~EndsAtExit() {
    if (getpid() == g_loading_process) Endings().WaitForAll();
  }
} g_ends_at_exit;
#endif

// Confirms the end of `muxer`'s file. One that could not be confirmed stays
// a file a repair ends, and may not survive a power cut: told as a failed
// sync.
asf::Status ConfirmEnd(asf::Muxer& muxer) {
  const asf::Status status = muxer.ConfirmEnd();
  if (asf::Failed(status)) {
    char line[128];
    std::snprintf(line, sizeof line, lines::kSyncFailedFormat, status.code());
    OutputDebugStringA(line);
  }
  return status;
}

}  // namespace

std::unique_ptr<WrittenFile> EndLater(WrittenFile& file) {
  std::unique_ptr<WrittenFile> ending(new (std::nothrow) WrittenFile);
  if (ending == nullptr) return nullptr;
  std::function<void()> confirm, close;
  try {
    confirm = [muxer = file.muxer.get()] { (void)ConfirmEnd(*muxer); };
    close = [ending = ending.get()] {
      ending->muxer.reset();
      ending->sink.reset();  // another writer may take the file now
      Endings().Done();
    };
    Endings().Add();
  } catch (const std::exception&) {  // no memory, or no lock to be had
    return nullptr;
  }
  file.sync->Written(file.sink->HandedOver());
  *ending = std::move(file);
  ending->sync->FinishThen(std::move(confirm), std::move(close));
  return ending;
}

HRESULT EndNow(WrittenFile& file, HRESULT hr) {
  if (!file.sync) return hr;
  file.sync->Finish();
  const asf::Status confirmed = ConfirmEnd(*file.muxer);
  if (asf::Failed(confirmed) && SUCCEEDED(hr)) hr = ToHresult(confirmed);
  file.sync->Finish();
  return hr;
}

bool WaitForEndsInFlight() { return Endings().WaitForAll(); }

}  // namespace kestrum::wmsdk
