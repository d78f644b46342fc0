#include "api/record_instance.h"

#include <new>

#include "platform/com.h"
#include "platform/page_memory.h"
#if KESTRUM_BUILTIN_WRITER
#include "wm_interfaces/builtin_writer.h"
#endif

namespace kestrum {

WmFactories WmFactories::LinkedSdk() {
  return WmFactories{
      [](IWMProfileManager** manager) { return WMCreateProfileManager(manager); },
      [](IUnknown* certificate, IWMWriter** writer) { return WMCreateWriter(certificate, writer); },
  };
}

WmFactories WmFactories::ForConversion() {
  WmFactories factories = LinkedSdk();
#if KESTRUM_BUILTIN_WRITER
  factories.create_writer = [](IUnknown*, IWMWriter** writer) {
    return wmsdk::CreateWriterEndingAtFault(writer);
  };
#endif
  return factories;
}

RecordInstance* RecordInstance::Create(WmFactories factories) {
  auto* instance = new (std::nothrow) RecordInstance(std::move(factories));
  if (instance != nullptr && instance->splitter.buffer == nullptr) {
    delete instance;
    return nullptr;
  }
  return instance;
}

RecordInstance::RecordInstance(WmFactories factories) : factories_(std::move(factories)) {
  InitializeCriticalSection(&packer.lock);
  CoInitialize(nullptr);  // result not examined
  session.audio_enabled = 0;
  session.video_enabled = 1;
  if (factories_.create_profile_manager) {
    factories_.create_profile_manager(&session.profile_manager);  // failure leaves it null
  }
  splitter.buffer_capacity = kReassemblyBufferSize;
  // In pages of its own, none touched before the groups held need them.
  splitter.buffer = static_cast<uint8_t*>(AllocatePages(kReassemblyBufferSize));
  splitter.bytes_held = 0;
  splitter.synchronised = 0;
  session.writer_ready = 0;
  packer.next_video_time = 0;
  splitter.wait_for_start = 1;
}

RecordInstance::~RecordInstance() {
  ReleaseWriter();
  ReleaseAndClear(output_switch.ended_writer);
  ReleaseAndClear(session.profile_manager);
  FreePages(splitter.buffer, kReassemblyBufferSize);
  splitter.buffer = nullptr;
  DeleteCriticalSection(&packer.lock);
}

}  // namespace kestrum
