// ParseFileHeader on 40 arbitrary bytes. Checks what the rest of the library
// relies on: the bytes are kept whole, and an accepted header leaves a picture
// size the profile can take.
#include <cstring>
#include <memory>

#include "api/record_instance.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrum;
  if (size != static_cast<size_t>(kFileHeaderSize)) return 0;
  // A heap copy of exactly 40 bytes: any read past them is caught.
  const auto header = std::make_unique<uint8_t[]>(kFileHeaderSize);
  std::memcpy(header.get(), data, size);
  RecordInstance instance{WmFactories{}};
  const HRESULT hr = instance.ParseFileHeader(header.get());
  if (std::memcmp(instance.stream_header.file_header, data, size) != 0) {
    fuzz::Fail("header not kept whole");
  }
  if (hr != S_OK && hr != E_FAIL) fuzz::Fail("result other than S_OK or E_FAIL");
  if (hr == S_OK &&
      (instance.stream_header.picture_width <= 0 || instance.stream_header.picture_width > 704 ||
       instance.stream_header.picture_height <= 0 || instance.stream_header.picture_height > 576)) {
    fuzz::Fail("accepted header with a picture size out of range");
  }
  return 0;
}
