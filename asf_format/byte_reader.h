// A bounded reader of little-endian fields: every read checks that its bytes
// lie within the span it was given and says whether they did, so a length
// read from a file never takes a reader past the bytes really there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asf_format/objects.h"
#include "base/bytes.h"

namespace kestrum::asf {

class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t position() const { return position_; }
  size_t left() const { return size_ - position_; }
  const uint8_t* here() const { return data_ + position_; }

  [[nodiscard]] bool U8(uint32_t* v) { return Field(1, v); }
  [[nodiscard]] bool U16(uint32_t* v) { return Field(2, v); }
  [[nodiscard]] bool U32(uint32_t* v) { return Field(4, v); }
  [[nodiscard]] bool U64(uint64_t* v) {
    if (left() < 8) return false;
    *v = load_u64le(here());
    position_ += 8;
    return true;
  }
  [[nodiscard]] bool ReadGuid(Guid* g) {
    if (left() < kGuidSize) return false;
    *g = LoadGuid(here());
    position_ += kGuidSize;
    return true;
  }
  // A field of the width an ASF length type gives: 0 none (reads 0), 1 BYTE,
  // 2 WORD, 3 DWORD.
  [[nodiscard]] bool Var(uint32_t length_type, uint32_t* v) {
    static constexpr size_t kWidth[4] = {0, 1, 2, 4};
    return Field(kWidth[length_type & 3], v);
  }
  // The next `n` bytes, in place.
  [[nodiscard]] bool Take(size_t n, const uint8_t** at) {
    if (left() < n) return false;
    *at = here();
    position_ += n;
    return true;
  }
  [[nodiscard]] bool Skip(size_t n) {
    const uint8_t* ignored = nullptr;
    return Take(n, &ignored);
  }
  // Ends the span `n` bytes from its start (never before the position, never
  // past its end).
  void Limit(size_t n) {
    if (n < size_) size_ = n < position_ ? position_ : n;
  }

 private:
  [[nodiscard]] bool Field(size_t width, uint32_t* v) {
    if (left() < width) return false;
    const uint8_t* p = here();
    *v = width == 1 ? p[0] : width == 2 ? load_u16le(p) : width == 4 ? load_u32le(p) : 0;
    position_ += width;
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace kestrum::asf
