// The writer: created and configured once per output, at the first data.
#include <cstring>

#include "api/record_instance.h"
#include "diagnostics/lines.h"
#include "output/results.h"
#include "platform/codepage.h"
#include "platform/com.h"
#include "platform/debug_output.h"

namespace kestrum {

HRESULT RecordInstance::PrepareWriter(const char* name) {
  if (session.writer_ready != 0) return S_OK;
  const HRESULT hr = BeginOutput(name);
  stats.Prepared(hr);
  return hr;
}

HRESULT RecordInstance::BeginOutput(const char* name) {
  HRESULT hr = ConfigureProfile();
  if (FAILED(hr)) return hr;
  hr = CreateWriter();
  if (FAILED(hr)) return hr;
  hr = ConfigWriter(name);
  if (FAILED(hr)) return hr;
  SetStringAttribute(KS_WIDE("Title"), KS_WIDE("ASF"));
  SetStringAttribute(KS_WIDE("Description"), KS_WIDE("Tarvelle Co., Ltd"));
  // A writer that did not begin would lose every sample: report it, and let
  // the next attempt prepare it again.
  hr = session.writer->BeginWriting();
  if (FAILED(hr)) return hr;
  session.writer_ready = 1;
  return S_OK;
}

HRESULT RecordInstance::CreateWriter() {
  OutputDebugStringA(lines::kCreateWriter);
  if (session.writer != nullptr) return S_OK;
  HRESULT hr =
      factories().create_writer ? factories().create_writer(nullptr, &session.writer) : E_FAIL;
  if (FAILED(hr)) {
    session.writer = nullptr;
    return hr;
  }
  hr = session.writer->QueryInterface(IID_IWMWriterAdvanced,
                                      reinterpret_cast<void**>(&session.writer_advanced));
  if (SUCCEEDED(hr)) {
    hr = session.writer->QueryInterface(IID_IWMHeaderInfo,
                                        reinterpret_cast<void**>(&session.header_info));
  }
  if (FAILED(hr)) {
    // A writer without these cannot write samples: give it back so that the
    // next attempt starts over with a new one.
    ReleaseAndClear(session.writer_advanced);
    ReleaseAndClear(session.header_info);
    ReleaseAndClear(session.writer);
    return hr;
  }
  if (FAILED(session.writer->QueryInterface(IID_IWMWriterAdvanced3,
                                            reinterpret_cast<void**>(&session.writer_advanced3)))) {
    session.writer_advanced3 = nullptr;
  }
  return hr;
}

HRESULT RecordInstance::ConfigWriter(const char* name) {
  OutputDebugStringA(lines::kConfigWriter);
  if (name == nullptr) return kNoName;
  // The name and its terminating zero must fit the 260 code units; a longer
  // name is refused rather than cut.
  const size_t length = strnlen(name, kOutputNameCapacity);
  if (length >= kOutputNameCapacity) return kNameTooLong;
  session.output_name[0] = 0;
  MultiByteToWideChar(CP_ACP, 0, name, static_cast<int>(length + 1), session.output_name,
                      static_cast<int>(kOutputNameCapacity));

  HRESULT hr = session.writer->SetProfile(session.profile);
  if (FAILED(hr)) return hr;
  DWORD inputs = 0;
  hr = session.writer->GetInputCount(&inputs);
  if (FAILED(hr)) return hr;
  for (DWORD input = 0; input < inputs; ++input) {
    if (FAILED(session.writer->SetInputProps(input, nullptr))) break;
  }
  return session.writer->SetOutputFilename(session.output_name);
}

HRESULT RecordInstance::SetStringAttribute(LPCWSTR name, LPCWSTR value) {
  size_t characters = 0;
  while (value[characters] != 0) ++characters;
  const auto length = static_cast<WORD>(characters * 2);
  if (session.header_info == nullptr) return E_FAIL;
  return session.header_info->SetAttribute(0, name, WMT_TYPE_STRING,
                                           reinterpret_cast<const BYTE*>(value), length);
}

void RecordInstance::EndRecording() {
  if (session.writer == nullptr) return;
  const HRESULT ended = session.writer->EndWriting();
  if (session.writer_ready != 0) stats.Ended(ended);  // a writer that never began did not end
}

void RecordInstance::ReleaseWriter() {
  ReleaseAndClear(session.writer_advanced3);
  ReleaseAndClear(session.writer_advanced);
  ReleaseAndClear(session.header_info);
  ReleaseAndClear(session.writer);
  ReleaseAndClear(session.profile);
  session.writer_ready = 0;
  packer.next_video_time = 0;
}

}  // namespace kestrum
