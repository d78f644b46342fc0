// The debug-output hook of the builds without the platform's debugger output.
#ifndef _WIN32
#include "kestrum.h"
#include "platform/debug_output.h"

extern "C" KESTRUM_API void KestrumSetDebugOutput(void (*sink)(const char* line, void* context),
                                                  void* context) {
  try {
    kestrum::SetDebugSink(sink, context);
  } catch (...) {  // a lock that cannot be taken: nothing leaves the export
  }
}
#endif
