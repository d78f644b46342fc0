// What a host learns of one recording, or of the file road's latest
// conversion (a null handle): its stats, its own diagnostic lines; and the
// conversion with options and stats.
#include <new>

#include "api/conversion.h"
#include "api/record_instance.h"
#include "diagnostics/lines.h"
#include "kestrum.h"
#include "platform/debug_output.h"
#include "platform/record_context.h"

namespace {

// The first version of each structure: anything smaller is refused.
constexpr uint32_t kFirstStatsSize = sizeof(KestrumRecordStats);
constexpr uint32_t kFirstOptionsSize = sizeof(KestrumTransferOptions);

kestrum::RecordInstance& InstanceOf(KestrumHandle handle) {
  return handle != nullptr ? *reinterpret_cast<kestrum::RecordInstance*>(handle)
                           : kestrum::FileRoadInstance();
}

bool StatsUsable(const KestrumRecordStats* stats) {
  return stats != nullptr && stats->struct_size >= kFirstStatsSize;
}

}  // namespace

extern "C" {

KESTRUM_API int32_t KESTRUM_CALL KestrumGetRecordStats(KestrumHandle handle,
                                                       KestrumRecordStats* stats) {
  if (!StatsUsable(stats)) return E_INVALIDARG;
  InstanceOf(handle).stats.Fill(stats, stats->struct_size);
  return S_OK;
}

KESTRUM_API void KESTRUM_CALL KestrumSetRecordDebugOutput(KestrumHandle handle,
                                                          void(KESTRUM_CALL* sink)(const char* line,
                                                                                   void* context),
                                                          void* context) {
  try {
    InstanceOf(handle).stats.context().lines().Set(sink, context);
  } catch (...) {  // a lock that cannot be taken: nothing leaves the export
  }
}

KESTRUM_API int32_t KESTRUM_CALL KestrumTransferToAsfEx(intptr_t source, const char* destination,
                                                        const KestrumTransferOptions* options,
                                                        KestrumRecordStats* stats) {
  if (options != nullptr && options->struct_size < kFirstOptionsSize) return E_INVALIDARG;
  if (stats != nullptr && !StatsUsable(stats)) return E_INVALIDARG;
  kestrum::RecordInstance& instance = kestrum::FileRoadInstance();
  kestrum::RecordScope scope(&instance.stats.context());
  int32_t result = E_OUTOFMEMORY;
  try {
    result = kestrum::RunConversion(instance, source, destination, options);
  } catch (const std::bad_alloc&) {
    const kestrum::lines::ExportUndone& line = kestrum::lines::kTransferToAsfUndone;
    kestrum::DebugLine(kestrum::lines::kExportOutOfMemoryFormat, line.name, line.undone);
  } catch (...) {
    const kestrum::lines::ExportUndone& line = kestrum::lines::kTransferToAsfUndone;
    kestrum::DebugLine(kestrum::lines::kExportFailedFormat, line.name, line.undone);
  }
  if (stats != nullptr) instance.stats.Fill(stats, stats->struct_size);
  return result;
}

}  // extern "C"
