// Diagnostic lines. Every line the library writes goes through one call of
// OutputDebugStringA. On Windows that is the platform's own; elsewhere it feeds
// the sink attached with KestrumSetDebugOutput (lines are dropped when none is).
// The library's code (namespace kestrum) calls kestrum::OutputDebugStringA,
// which also hands the line to the recording the thread works for
// (platform/record_context.h).
#pragma once

#include "platform/win_types.h"

#ifndef _WIN32
void OutputDebugStringA(const char* line);
#endif

namespace kestrum {

// Writes one line to the process's output (::OutputDebugStringA) and to the
// line route of the recording the calling thread works for, if any.
void OutputDebugStringA(const char* line);

#ifndef _WIN32
// Attaches `sink` (null detaches) as KestrumSetDebugOutput does. Once it
// returns, no line is still calling the sink it replaced; the sink itself must
// not call it.
void SetDebugSink(void (*sink)(const char* line, void* context), void* context);
#endif

// Formats with printf rules into a local buffer and writes it as one line.
void DebugLine(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Writes `prefix` followed by `value` in decimal as one line, as
// DebugLine("%s%d", prefix, value) would, without printf's cost (lines
// written once per sample or packet). `prefix` must be short (at most 40
// characters).
void DebugLineNumber(const char* prefix, int32_t value);

}  // namespace kestrum
