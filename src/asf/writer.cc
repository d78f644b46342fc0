#include "api/record_instance.h"

namespace kestrum {

HRESULT RecordInstance::PrepareWriter(const char*) { return E_NOTIMPL; }
HRESULT RecordInstance::CreateWriter() { return E_NOTIMPL; }
HRESULT RecordInstance::ConfigWriter(const char*) { return E_NOTIMPL; }
HRESULT RecordInstance::SetStringAttribute(LPCWSTR, LPCWSTR) { return E_NOTIMPL; }
void RecordInstance::EndRecording() {}

}  // namespace kestrum
