// A writer of the stand-in over an in-memory sink that the test keeps, with
// a fixed file ID and creation time.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "asf_format/tests/memory_sink.h"
#include "wm_standin/tests/wm_fixtures.h"
#include "wm_standin/writer.h"

namespace kestrum::testing {

using asf::SharedSink;

inline constexpr asf::Guid kFileId = {
    0x01234567, 0x89AB, 0xCDEF, {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}};
inline constexpr uint64_t kCreationTime = 133000000000000000ull;  // a day in 2022

// One sample through AllocateSample, as the library writes it.
inline HRESULT WriteOneSample(IWMWriter* writer, WORD stream, QWORD time,
                              const std::vector<uint8_t>& bytes, DWORD flags) {
  ComRef<INSSBuffer> sample;
  HRESULT hr = writer->AllocateSample(static_cast<DWORD>(bytes.size()), sample.Put());
  if (FAILED(hr)) return hr;
  BYTE* buffer = nullptr;
  sample->GetBuffer(&buffer);
  std::copy(bytes.begin(), bytes.end(), buffer);
  sample->SetLength(static_cast<DWORD>(bytes.size()));
  ComRef<IWMWriterAdvanced> advanced;
  hr = writer->QueryInterface(IID_IWMWriterAdvanced, advanced.PutVoid());
  if (FAILED(hr)) return hr;
  return advanced->WriteStreamSample(stream, time, static_cast<DWORD>(time / 10000), 400000, flags,
                                     sample.Get());
}

class WriterFixture : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(wmsdk::CreateWriter(Options(), writer_.Put()), S_OK); }

  wmsdk::WriterOptions Options() {
    wmsdk::WriterOptions options;
    options.open_sink = [this](const std::string& path, asf::Status* error) {
      opened_.push_back(path);
      if (asf::Failed(open_error_)) {
        *error = open_error_;
        return std::unique_ptr<asf::ByteSink>();
      }
      return std::unique_ptr<asf::ByteSink>(new SharedSink(memory_));
    };
    options.file_id = [] { return kFileId; };
    options.creation_time = [] { return kCreationTime; };
    return options;
  }

  IWMWriterAdvanced* advanced() {
    if (!advanced_) writer_->QueryInterface(IID_IWMWriterAdvanced, advanced_.PutVoid());
    return advanced_.Get();
  }
  IWMHeaderInfo* header() {
    if (!header_) writer_->QueryInterface(IID_IWMHeaderInfo, header_.PutVoid());
    return header_.Get();
  }

  // Profile with the video stream and an output name, as the library sets up.
  void Configure(IWMWriter* writer) {
    ComRef<IWMProfile> profile(MakeVideoProfile());
    ASSERT_TRUE(profile);
    ASSERT_EQ(writer->SetProfile(profile.Get()), S_OK);
    ASSERT_EQ(writer->SetOutputFilename(KS_WIDE("out.asf")), S_OK);
  }
  void Configure() { Configure(writer_.Get()); }

  static HRESULT WriteSample(IWMWriter* writer, WORD stream, QWORD time,
                             const std::vector<uint8_t>& bytes, DWORD flags = 3) {
    return WriteOneSample(writer, stream, time, bytes, flags);
  }
  HRESULT WriteSample(WORD stream, QWORD time, const std::vector<uint8_t>& bytes) {
    return WriteOneSample(writer_.Get(), stream, time, bytes, 3);
  }

  std::shared_ptr<asf::MemorySink> memory_ = std::make_shared<asf::MemorySink>();
  std::vector<std::string> opened_;
  asf::Status open_error_ = asf::kOk;
  ComRef<IWMWriter> writer_;
  ComRef<IWMWriterAdvanced> advanced_;
  ComRef<IWMHeaderInfo> header_;
};

}  // namespace kestrum::testing
