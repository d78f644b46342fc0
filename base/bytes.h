// Little-endian fields at any byte address, read and written through memcpy.
#pragma once

#include <cstdint>
#include <cstring>

namespace kestrum {

inline uint16_t load_u16le(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t load_u32le(const uint8_t* p) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
#else
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
#endif
}

inline uint64_t load_u64le(const uint8_t* p) {
  return static_cast<uint64_t>(load_u32le(p)) | (static_cast<uint64_t>(load_u32le(p + 4)) << 32);
}

inline void store_u16le(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void store_u32le(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

inline void store_u64le(uint8_t* p, uint64_t v) {
  store_u32le(p, static_cast<uint32_t>(v));
  store_u32le(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace kestrum
