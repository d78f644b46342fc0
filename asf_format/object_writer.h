// Appends ASF objects to a byte vector: little-endian fields, GUIDs, raw
// bytes, and object framing (GUID + QWORD size) whose size is filled in when
// the object is closed, so nested objects need no size arithmetic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "asf_format/objects.h"

namespace kestrum::asf {


class ObjectWriter {
 public:
  explicit ObjectWriter(std::vector<uint8_t>& out) : out_(out) {}

  void U8(uint8_t v) { out_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Id(const Guid& g);
  void Bytes(const uint8_t* data, size_t size);

  // Writes `id` and a size placeholder; returns the object's start, which
  // EndObject takes to fill in the size of everything appended since.
  size_t BeginObject(const Guid& id);
  void EndObject(size_t start);

  size_t size() const { return out_.size(); }
  // Overwrites a DWORD already appended at `offset`.
  void PatchU32(size_t offset, uint32_t v);

 private:
  std::vector<uint8_t>& out_;
};

}  // namespace kestrum::asf
