#include "asf_format/object_writer.h"

#include "base/bytes.h"
#include "asf_format/objects.h"

namespace kestrum::asf {

void ObjectWriter::U16(uint16_t v) {
  uint8_t b[2];
  store_u16le(b, v);
  Bytes(b, sizeof b);
}

void ObjectWriter::U32(uint32_t v) {
  uint8_t b[4];
  store_u32le(b, v);
  Bytes(b, sizeof b);
}

void ObjectWriter::U64(uint64_t v) {
  uint8_t b[8];
  store_u64le(b, v);
  Bytes(b, sizeof b);
}

void ObjectWriter::Id(const Guid& g) {
  uint8_t b[kGuidSize];
  StoreGuid(b, g);
  Bytes(b, sizeof b);
}

void ObjectWriter::Bytes(const uint8_t* data, size_t size) {
  if (size != 0) out_.insert(out_.end(), data, data + size);
}

size_t ObjectWriter::BeginObject(const Guid& id) {
  const size_t start = out_.size();
  Id(id);
  U64(0);
  return start;
}

void ObjectWriter::EndObject(size_t start) {
  store_u64le(out_.data() + start + kGuidSize, static_cast<uint64_t>(out_.size() - start));
}

void ObjectWriter::PatchU32(size_t offset, uint32_t v) { store_u32le(out_.data() + offset, v); }

}  // namespace kestrum::asf
