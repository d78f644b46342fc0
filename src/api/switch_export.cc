// The live road's switch to the next file (KestrumSwitchOutput).
#include <new>

#include "api/record_instance.h"
#include "kestrum.h"

extern "C" KESTRUM_API int32_t KESTRUM_CALL KestrumSwitchOutput(KestrumHandle handle,
                                                                const char* next_file_name) {
  if (handle == nullptr) return E_INVALIDARG;
  return reinterpret_cast<kestrum::RecordInstance*>(handle)->SwitchOutput(next_file_name);
}
