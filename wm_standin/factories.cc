// The SDK's two entry points, over the built-in writer: linked into the
// library when it is built with the built-in writer, and exported by the
// project's own wmvcore.dll on Windows (undecorated names, __stdcall), where
// they stand in for the platform's. Beside them the writer that ends writing
// at a fault (wm_interfaces/builtin_writer.h), which only the library calls.
#include <utility>

#include "platform/record_context.h"
#include "wm_interfaces/builtin_writer.h"
#include "wm_interfaces/wmsdk.h"
#include "wm_standin/profile.h"
#include "wm_standin/reporting_sink.h"
#include "wm_standin/writer.h"

extern "C" HRESULT WINAPI WMCreateProfileManager(IWMProfileManager** profile_manager) {
  if (profile_manager == nullptr) return E_POINTER;
  *profile_manager = kestrum::wmsdk::ProfileManager::Create();
  return *profile_manager != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The certificate is not needed: the writer protects no content. It writes
// files, with a random file ID and the current time.
extern "C" HRESULT WINAPI WMCreateWriter(IUnknown* /*certificate*/, IWMWriter** writer) {
  kestrum::wmsdk::WriterOptions options;
  options.sync_when_ending = false;  // a recording's syncs follow its interval
  options.open_sink = kestrum::wmsdk::OpenReportingFileSink;
  // A recording comes at its own pace: each packet is written as it
  // completes, and the samples it holds are let go, back to the system.
  options.batch_bytes = 0;
  options.samples_in_pages = true;
  // A recording's later files (KestrumSwitchOutput) sync as its first did.
  if (kestrum::RecordContext* record = kestrum::CurrentRecord(); record != nullptr) {
    if (record->kept_sync_interval() >= 0) {
      options.sync_interval_ms = static_cast<uint32_t>(record->kept_sync_interval());
    }
    options.began = [weak = record->weak_from_this()](uint32_t interval_ms) {
      if (const auto kept = weak.lock()) kept->KeepSyncInterval(interval_ms);
    };
  }
  return kestrum::wmsdk::CreateWriter(std::move(options), writer);
}

HRESULT kestrum::wmsdk::CreateWriterEndingAtFault(IWMWriter** writer) {
  WriterOptions options;
  options.on_write_fault = asf::FaultPolicy::kEndWriting;
  options.sync_interval_ms = 0;  // a conversion can be run again; synced as it ends on request
  options.open_sink = OpenReportingFileSink;
  // A conversion that asks for its own end sync has it, whatever the process's setting.
  if (const RecordContext* record = CurrentRecord(); record != nullptr && record->end_sync() >= 0) {
    options.sync_when_ending = record->end_sync() != 0;
  }
  return CreateWriter(std::move(options), writer);
}
