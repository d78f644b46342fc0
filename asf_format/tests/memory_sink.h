// A byte sink in memory, for the tests of the muxer and of what writes
// through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "asf_format/byte_sink.h"

namespace kestrum::asf {

// A sink in memory, for tests. When fail_after is set, any write that would
// take the bytes held past it fails (as a full disk would), keeping what
// fits. With `stream` set it only appends, as a pipe does.
class MemorySink : public ByteSink {
 public:
  HRESULT Write(const uint8_t* data, size_t size) override;
  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override;
  HRESULT ReadAt(uint64_t offset, uint8_t* data, size_t size) override;
  HRESULT Truncate(uint64_t size) override;
  uint64_t Size() const override { return bytes.size(); }
  HRESULT Flush() override { ++flushes; return S_OK; }
  bool seekable() const override { return !stream; }

  std::vector<uint8_t> bytes;
  size_t flushes = 0;
  std::unique_ptr<size_t> fail_after;  // limit on the bytes held, when set
  bool stream = false;
};

}  // namespace kestrum::asf
