#include "report/diagnostic_watch.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "diagnostics/lines.h"
#include "frame/escape.h"
#include "kestrum.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrum_cli {

namespace {

DiagnosticWatch* g_watch = nullptr;

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

void WatchLine(const char* line, void* /*context*/) {
  if (g_watch != nullptr) g_watch->See(line);
}

#ifdef _WIN32
// On Windows the library writes its lines with OutputDebugStringA, which
// raises DBG_PRINTEXCEPTION_C (length, text) before handling it itself: a
// vectored handler sees each line first and lets it pass on.
LONG CALLBACK WatchDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
      record->ExceptionInformation[1] != 0) {
    WatchLine(reinterpret_cast<const char*>(record->ExceptionInformation[1]), nullptr);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void* g_watch_handler = nullptr;
#endif

}  // namespace

void DiagnosticWatch::See(const char* line) noexcept {
  if (echo_) {
    try {
      std::fprintf(stderr, "[kestrum] %s\n", Escaped(line, TextBytes::kLibrary).c_str());
    } catch (const std::bad_alloc&) {
      // Piece by piece, for want of memory.
      std::fputs("[kestrum] ", stderr);
      PrintEscaped(stderr, line, TextBytes::kLibrary);
      std::fputc('\n', stderr);
    }
  }
  Tally(line);
}

void DiagnosticWatch::Tally(const char* line) {
  namespace lines = kestrum::lines;
  // "2--BR_FAIL" dropped what was held unless "Small left" follows at once.
  const bool small_left = std::strcmp(line, lines::kSmallLeft) == 0;
  if (held_pending_ && !small_left) ++live_.held_dropped;
  held_pending_ = false;
  if (std::strcmp(line, lines::kEnterProcessGroup) == 0) {
    groups_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kWriteSample) == 0) {
    samples_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kFetchedMore) == 0) {
    packets_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kHeldFail) == 0) {
    held_pending_ = true;
    return;
  }
  if (std::strcmp(line, lines::kProcessFails) == 0) {
    ++live_.malformed;
    return;
  }
  if (std::strcmp(line, lines::kUnknownStreamType) == 0) {
    ++live_.no_start;
    return;
  }
  if (std::strcmp(line, lines::kBufferFull) == 0) {
    ++live_.overflowed;
    return;
  }
  if (StartsWith(line, lines::kGroupTooLargePrefix)) {
    ++live_.too_large;
    return;
  }
  if (std::strcmp(line, lines::kNotReady) == 0) {
    ++not_ready_;
    return;
  }
  if (!StartsWith(line, lines::kWriterPrefix)) return;
  unsigned code = 0;
  unsigned long long samples = 0;
  double seconds = 0;
  char what[32] = {};
  if (std::sscanf(line, lines::kWriteFailedScan, &code) == 1) {
    if (faults_.outages++ == 0) faults_.first_code = code;
    if (std::strstr(line, lines::kWritingEndsSuffix) != nullptr) faults_.writing_ended = true;
    faults_.open = !faults_.writing_ended;
  } else if (std::sscanf(line, lines::kOutageClosedScan, what, &samples, &seconds) == 3) {
    faults_.open = false;
    faults_.samples_lost += samples;
    faults_.seconds_lost += seconds;
  } else if (std::sscanf(line, lines::kIndexDidNotFitScan, &code) == 1) {
    if (!faults_.any()) faults_.first_code = code;
    faults_.no_index = true;
  } else if (std::sscanf(line, lines::kSampleRefusedScan, what) == 1) {
    if (std::strcmp(what, lines::kRefusalTooLarge) == 0) {
      ++faults_.refused_too_large;
    } else if (std::strcmp(what, lines::kRefusalNoMemory) == 0) {
      ++faults_.refused_no_memory;
    } else {
      ++faults_.refused_other;
    }
  }
}

DiagnosticWatch::DiagnosticWatch(bool echo) : echo_(echo) {
  g_watch = this;
#ifdef _WIN32
  g_watch_handler = AddVectoredExceptionHandler(0, &WatchDebugString);
#else
  KestrumSetDebugOutput(&WatchLine, nullptr);
#endif
}

DiagnosticWatch::~DiagnosticWatch() {
#ifdef _WIN32
  if (g_watch_handler != nullptr) RemoveVectoredExceptionHandler(g_watch_handler);
  g_watch_handler = nullptr;
#else
  KestrumSetDebugOutput(nullptr, nullptr);  // final: no line reaches this watch after it
#endif
  g_watch = nullptr;
}

}  // namespace kestrum_cli
