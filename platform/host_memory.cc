// Copies from the host's memory, guarded where the platform can catch a
// fault while reading it.
//
// Windows, MSVC-compatible compilers: structured exception handling
// (__try/__except) around the copy.
//
// Windows, GCC (mingw-w64), which has no __try: a vectored exception handler
// with a per-thread recovery point. Before copying, the thread records where
// to resume (__builtin_setjmp: frame pointer, resume address, stack pointer)
// in its slot of thread-local storage. When the copy faults, the handler
// finds that recovery point on the faulting thread, clears it, points the
// faulting context's frame pointer, stack pointer and instruction pointer at
// it and lets the thread continue there, where the copy reports false. The
// thread resumes through the system's own continuation (as after any handled
// exception), so no dispatcher state is abandoned. Faults on threads without
// a recovery point, and other exceptions, pass on untouched. The handler is
// installed at the first guarded copy and removed when the library unloads.
//
// Elsewhere the copy is unguarded.
#include "platform/host_memory.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#endif

namespace kestrum {

#if !defined(_WIN32)

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size) {
  if (size != 0) std::memcpy(destination, source, size);
  return true;
}

#else

namespace {

// The faults that reading unusable memory raises.
bool IsReadFault(DWORD code) {
  return code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_IN_PAGE_ERROR ||
         code == EXCEPTION_GUARD_PAGE;
}

}  // namespace

#if defined(_MSC_VER)

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size) {
  __try {
    if (size != 0) std::memcpy(destination, source, size);
  } __except (IsReadFault(GetExceptionCode()) ? EXCEPTION_EXECUTE_HANDLER
                                              : EXCEPTION_CONTINUE_SEARCH) {
    return false;
  }
  return true;
}

#elif defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))

namespace {

// What __builtin_setjmp stores: frame pointer, resume address, stack pointer,
// and two words of its own.
struct RecoveryPoint {
  void* words[5];
};

// The thread-local slot holding the current thread's RecoveryPoint while it
// copies (null otherwise). Set before the handler is installed.
std::atomic<DWORD> g_recovery_slot{TLS_OUT_OF_INDEXES};

LONG CALLBACK ResumeAfterFault(EXCEPTION_POINTERS* exception) {
  if (!IsReadFault(exception->ExceptionRecord->ExceptionCode)) return EXCEPTION_CONTINUE_SEARCH;
  const DWORD slot = g_recovery_slot.load(std::memory_order_acquire);
  if (slot == TLS_OUT_OF_INDEXES) return EXCEPTION_CONTINUE_SEARCH;
  // TlsGetValue resets the thread's last error; the faulting code (and any
  // handler after this one) must still see its own.
  const DWORD last_error = GetLastError();
  auto* point = static_cast<RecoveryPoint*>(TlsGetValue(slot));
  SetLastError(last_error);
  if (point == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  TlsSetValue(slot, nullptr);

  CONTEXT* context = exception->ContextRecord;
#if defined(__i386__)
  context->Ebp = static_cast<DWORD>(reinterpret_cast<uintptr_t>(point->words[0]));
  context->Eip = static_cast<DWORD>(reinterpret_cast<uintptr_t>(point->words[1]));
  context->Esp = static_cast<DWORD>(reinterpret_cast<uintptr_t>(point->words[2]));
#else
  context->Rbp = reinterpret_cast<DWORD64>(point->words[0]);
  context->Rip = reinterpret_cast<DWORD64>(point->words[1]);
  context->Rsp = reinterpret_cast<DWORD64>(point->words[2]);
#endif
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Owns the thread-local slot and the handler for the library's lifetime.
class FaultGuard {
 public:
  static FaultGuard& Instance() {
    static FaultGuard guard;
    return guard;
  }

  // The slot to record recovery points in, or TLS_OUT_OF_INDEXES when the
  // guard could not be set up (copies then run unguarded).
  DWORD slot() const { return handler_ != nullptr ? slot_ : TLS_OUT_OF_INDEXES; }

 private:
  FaultGuard() : slot_(TlsAlloc()) {
    if (slot_ == TLS_OUT_OF_INDEXES) return;
    g_recovery_slot.store(slot_, std::memory_order_release);
    handler_ = AddVectoredExceptionHandler(1, &ResumeAfterFault);
  }
  ~FaultGuard() {
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
    g_recovery_slot.store(TLS_OUT_OF_INDEXES, std::memory_order_release);
    if (slot_ != TLS_OUT_OF_INDEXES) TlsFree(slot_);
  }
  FaultGuard(const FaultGuard&) = delete;
  FaultGuard& operator=(const FaultGuard&) = delete;

  DWORD slot_;
  void* handler_ = nullptr;
};

// Not inlined: the recovery point must belong to a frame of its own that is
// still live while the copy runs.
__attribute__((noinline)) bool GuardedCopy(DWORD slot, uint8_t* destination, const uint8_t* source,
                                           size_t size) {
  RecoveryPoint point;
  void* const outer = TlsGetValue(slot);
  if (__builtin_setjmp(point.words) != 0) {
    // Resumed here by ResumeAfterFault, which cleared the slot.
    TlsSetValue(slot, outer);
    return false;
  }
  TlsSetValue(slot, &point);
  std::memcpy(destination, source, size);
  TlsSetValue(slot, outer);
  return true;
}

}  // namespace

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size) {
  if (size == 0) return true;
  const DWORD slot = FaultGuard::Instance().slot();
  if (slot == TLS_OUT_OF_INDEXES) {
    std::memcpy(destination, source, size);
    return true;
  }
  // The thread-local storage calls reset the last error; the host's call
  // leaves it as it was.
  const DWORD last_error = GetLastError();
  const bool copied = GuardedCopy(slot, destination, source, size);
  SetLastError(last_error);
  return copied;
}

#else

bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size) {
  if (size != 0) std::memcpy(destination, source, size);
  return true;
}

#endif
#endif  // _WIN32

}  // namespace kestrum
