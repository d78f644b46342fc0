#include "api/record_instance.h"

namespace kestrum {

HRESULT RecordInstance::ConfigureProfile() { return E_NOTIMPL; }

}  // namespace kestrum
