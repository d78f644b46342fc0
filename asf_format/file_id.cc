#include "asf_format/file_id.h"

#include <cstddef>
#include <cstdint>
#include <random>

namespace kestrum::asf {

Guid RandomFileId() {
  std::random_device random;
  Guid id{};
  id.data1 = random();
  const uint32_t middle = random();
  id.data2 = static_cast<uint16_t>(middle);
  id.data3 = static_cast<uint16_t>(((middle >> 16) & 0x0FFF) | 0x4000);  // version 4
  for (size_t i = 0; i < sizeof id.data4; i += 4) {
    const uint32_t bits = random();
    for (size_t j = 0; j < 4; ++j) id.data4[i + j] = static_cast<uint8_t>(bits >> (8 * j));
  }
  id.data4[0] = static_cast<uint8_t>((id.data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
  return id;
}

}  // namespace kestrum::asf
