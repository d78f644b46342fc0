// The six exports of the two roads (the durability settings are exported
// from sync_interval_export.cc, the debug-output hook from
// debug_output_export.cc, the host's view of a recording from the other
// *_exports.cc files). The handle a host holds is the RecordInstance's
// address. Each one that works for an instance makes its context current
// meanwhile (platform/record_context.h): its lines go to its route too.
#include <new>

#include "api/conversion.h"
#include "api/record_instance.h"
#include "convert/transfer.h"
#include "diagnostics/lines.h"
#include "kestrum.h"
#include "platform/debug_output.h"

namespace {

kestrum::RecordInstance* FromHandle(KestrumHandle handle) {
  return reinterpret_cast<kestrum::RecordInstance*>(handle);
}

// The instance TransferToAsf works on: constructed when the library is loaded,
// destroyed when it is unloaded.
kestrum::RecordInstance g_static_instance(kestrum::WmFactories::ForConversion());

kestrum::RecordContext* ContextOf(KestrumHandle handle) {
  return &FromHandle(handle)->stats.context();
}

// No exception leaves an export. Below them an allocation that fails is a
// refused sample or piece with a line of its own; should one still come up
// here, its line says what the call did not do ("SendOneFrame : out of
// memory; the piece was dropped").
template <typename Call>
void Guarded(const kestrum::lines::ExportUndone& line, Call call) noexcept {
  try {
    call();
  } catch (const std::bad_alloc&) {
    kestrum::DebugLine(kestrum::lines::kExportOutOfMemoryFormat, line.name, line.undone);
  } catch (...) {
    kestrum::DebugLine(kestrum::lines::kExportFailedFormat, line.name, line.undone);
  }
}

}  // namespace

kestrum::RecordInstance& kestrum::FileRoadInstance() { return g_static_instance; }

extern "C" {

KESTRUM_API KestrumHandle KESTRUM_CALL CreateRecordInstance(void) {
  KestrumHandle handle = nullptr;
  Guarded(kestrum::lines::kCreateRecordInstanceUndone, [&] {
    handle = reinterpret_cast<KestrumHandle>(
        kestrum::RecordInstance::Create(kestrum::WmFactories::LinkedSdk()));
  });
  return handle;
}

KESTRUM_API void KESTRUM_CALL ReleaseRecordInstance(KestrumHandle* handle) {
  if (handle == nullptr || *handle == nullptr) return;
  // The context outlives the instance's end: lines of the writer's release
  // still go to the recording's route.
  const auto context = FromHandle(*handle)->stats.shared_context();
  kestrum::RecordScope scope(context.get());
  delete FromHandle(*handle);
  *handle = nullptr;
}

KESTRUM_API void KESTRUM_CALL SendOneFrame(KestrumHandle handle, const void* data,
                                           int32_t length) {
  if (handle == nullptr) return;
  // A null data pointer reads nothing: it acts as a piece of length 0.
  if (data == nullptr) length = 0;
  kestrum::RecordScope scope(ContextOf(handle));
  Guarded(kestrum::lines::kSendOneFrameUndone,
          [&] { FromHandle(handle)->SendOneFrame(static_cast<const uint8_t*>(data), length); });
}

KESTRUM_API int32_t KESTRUM_CALL StartRecord(KestrumHandle handle, const char* file_name,
                                             int32_t /*reserved1*/, int32_t /*reserved2*/) {
  if (handle == nullptr) return 0;
  FromHandle(handle)->file_name = file_name;
  FromHandle(handle)->stats.Named(file_name != nullptr);
  return 1;
}

KESTRUM_API void KESTRUM_CALL StopRecord(KestrumHandle handle) {
  if (handle == nullptr) return;
  kestrum::RecordScope scope(ContextOf(handle));
  Guarded(kestrum::lines::kStopRecordUndone, [&] { FromHandle(handle)->StopRecord(); });
}

KESTRUM_API int32_t KESTRUM_CALL TransferToAsf(intptr_t source, const char* destination) {
  int32_t result = E_OUTOFMEMORY;
  Guarded(kestrum::lines::kTransferToAsfUndone, [&] {
    result = kestrum::RunConversion(g_static_instance, source, destination, nullptr);
  });
  return result;
}

}  // extern "C"
