// Where the ASF muxer's bytes go. A sink appends, can overwrite bytes it
// already holds (the muxer patches header fields at the end), and hands what
// it has to the operating system on Flush. Every call reports failure as an
// HRESULT and never throws; after a failure the sink keeps what it had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace kestrum::asf {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Appends `size` bytes.
  virtual HRESULT Write(const uint8_t* data, size_t size) = 0;
  // Overwrites `size` bytes at `offset`; offset + size must not pass Size().
  virtual HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) = 0;
  // Bytes appended so far.
  virtual uint64_t Size() const = 0;
  // Hands everything written so far to the operating system.
  virtual HRESULT Flush() = 0;
};

// A sink over a file it creates (or truncates). Null, with *error set, when
// the file cannot be created.
std::unique_ptr<ByteSink> OpenFileSink(const std::string& path, HRESULT* error);

// A sink in memory, for tests. When fail_after is set, any write that would
// take the bytes written past it fails (as a full disk would), keeping what
// fits.
class MemorySink : public ByteSink {
 public:
  HRESULT Write(const uint8_t* data, size_t size) override;
  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override;
  uint64_t Size() const override { return bytes.size(); }
  HRESULT Flush() override { ++flushes; return S_OK; }

  std::vector<uint8_t> bytes;
  size_t flushes = 0;
  std::unique_ptr<size_t> fail_after;  // limit on appended bytes, when set
};

}  // namespace kestrum::asf
