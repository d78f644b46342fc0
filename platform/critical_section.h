// The Win32 critical section: a recursive lock owned by one thread at a time.
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
#include <pthread.h>

struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};

void InitializeCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
#endif

namespace kestrum {

// Holds a critical section for its own lifetime, also when an exception leaves
// the scope.
class CriticalSectionGuard {
 public:
  explicit CriticalSectionGuard(CRITICAL_SECTION* section) : section_(section) {
    EnterCriticalSection(section_);
  }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
  ~CriticalSectionGuard() { LeaveCriticalSection(section_); }

 private:
  CRITICAL_SECTION* section_;
};

}  // namespace kestrum
