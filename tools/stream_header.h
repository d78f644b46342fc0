// The 40-byte stream header, decoded with the library's acceptance and
// picture-size rules, so the program can explain a refusal before the
// library is asked.
#pragma once

#include <cstdint>
#include <string>

namespace kestrum_cli {

inline constexpr uint32_t kExplicitSizeVersion = 0x20040308;

struct StreamHeader {
  uint32_t tag = 0;
  uint32_t version = 0;
  uint16_t stream_type = 0;
  uint16_t video_standard = 0;
  uint16_t rate_factor = 0;
  uint32_t rate_base = 0;
  uint32_t resolution = 0;  // headers before kExplicitSizeVersion
  uint16_t width = 0;       // headers from kExplicitSizeVersion on
  uint16_t height = 0;
  bool explicit_size = false;
  // The picture size the library derives (also when it refuses the size).
  int32_t picture_width = 0;
  int32_t picture_height = 0;
  bool accepted = false;
  std::string refusal;  // why it is refused; empty when accepted
};

StreamHeader DecodeStreamHeader(const uint8_t* header);

}  // namespace kestrum_cli
