#include "mapped_file/read_guard.h"

#include <cstring>

#if !defined(_WIN32)
#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <mutex>

#include <pthread.h>
#include <signal.h>
#endif

namespace kestrum::mapped_file {

#if !defined(_WIN32)
namespace {

enum SlotState : int { kFree, kFilling, kArmed };

struct Slot {
  std::atomic<int> state{kFree};
  pthread_t owner{};
  const char* begin = nullptr;
  const char* end = nullptr;
  sigjmp_buf* resume = nullptr;
};

// Threads reading under a guard at once; past that, reads run unguarded.
constexpr size_t kSlots = 64;
Slot g_slots[kSlots];

struct sigaction g_previous;
std::atomic<bool> g_installed{false};

// What would have happened to a SIGBUS without this handler.
void PassOn(int signal, siginfo_t* info, void* context) {
  if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
    if (g_previous.sa_sigaction != nullptr) g_previous.sa_sigaction(signal, info, context);
    return;
  }
  const auto handler = g_previous.sa_handler;
  if (handler == SIG_IGN && info->si_code <= 0) return;  // sent, and ignored
  if (handler == SIG_DFL || handler == SIG_IGN) {
    // The default action: a fault recurs when the instruction runs again,
    // a sent signal is sent again.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0) raise(signal);
    return;
  }
  handler(signal);
}

void OnBusError(int signal, siginfo_t* info, void* context) {
  const pthread_t self = pthread_self();
  const char* const at = static_cast<const char*>(info->si_addr);
  for (Slot& slot : g_slots) {
    if (slot.state.load(std::memory_order_acquire) != kArmed ||
        pthread_equal(slot.owner, self) == 0) {
      continue;
    }
    if (at >= slot.begin && at < slot.end) siglongjmp(*slot.resume, 1);
    break;
  }
  PassOn(signal, info, context);
}

bool Install() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = &OnBusError;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGBUS, &action, &g_previous) == 0) {
      g_installed.store(true, std::memory_order_release);
    }
  });
  return g_installed.load(std::memory_order_acquire);
}

Slot* Claim() {
  for (Slot& slot : g_slots) {
    int expected = kFree;
    if (slot.state.compare_exchange_strong(expected, kFilling, std::memory_order_acq_rel)) {
      return &slot;
    }
  }
  return nullptr;
}

void UnblockBusError() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGBUS);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

// A library that goes (dlclose) leaves the handler it replaced, if its own
// is still the one installed.
struct Uninstall {
  ~Uninstall() {
    if (!g_installed.load(std::memory_order_acquire)) return;
    struct sigaction now;
    if (sigaction(SIGBUS, nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) != 0 &&
        now.sa_sigaction == &OnBusError) {
      sigaction(SIGBUS, &g_previous, nullptr);
    }
  }
} g_uninstall;

}  // namespace

bool ReadGuarded(const void* begin, size_t size, GuardedRead read, void* context) {
  Slot* const slot = Install() ? Claim() : nullptr;
  if (slot == nullptr) {
    read(context);
    return true;
  }
  sigjmp_buf resume;
  slot->owner = pthread_self();
  slot->begin = static_cast<const char*>(begin);
  slot->end = static_cast<const char*>(begin) + size;
  slot->resume = &resume;
  // The signal mask is not saved (that would cost a system call per read):
  // the handler's return by siglongjmp leaves SIGBUS blocked, and the
  // recovery unblocks it.
  if (sigsetjmp(resume, 0) != 0) {
    slot->state.store(kFree, std::memory_order_release);
    UnblockBusError();
    return false;
  }
  slot->state.store(kArmed, std::memory_order_release);
  std::atomic_signal_fence(std::memory_order_seq_cst);  // no read moves before the arming
  read(context);
  std::atomic_signal_fence(std::memory_order_seq_cst);  // nor after the disarming
  slot->state.store(kFree, std::memory_order_release);
  return true;
}

#else

bool ReadGuarded(const void* /*begin*/, size_t /*size*/, GuardedRead read, void* context) {
  read(context);
  return true;
}

#endif

bool GuardedCopy(void* destination, const void* source, size_t size) {
  if (size == 0) return true;
  struct Copy {
    void* destination;
    const void* source;
    size_t size;
  } copy{destination, source, size};
  return ReadGuarded(
      source, size,
      [](void* context) {
        const auto* c = static_cast<const Copy*>(context);
        std::memcpy(c->destination, c->source, c->size);
      },
      &copy);
}

}  // namespace kestrum::mapped_file
