#include "stream_header.h"

#include <cstdio>

#include "base/bytes.h"

namespace kestrum_cli {

namespace {

std::string Hex(uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

// Picture size of an older header's resolution code; base height 288 for
// the 0x1001 video standard, else 240.
void SizeFromResolution(StreamHeader& h) {
  const int32_t base = h.video_standard == 0x1001 ? 288 : 240;
  int32_t w = 352;
  int32_t ht = base;
  switch (h.resolution) {
    case 0x1001:
      break;
    case 0x1002:
      w = 176;
      ht = base / 2;
      break;
    case 0x1003:
    case 0x1004:
      w = 704;
      ht = 2 * base;
      break;
    case 0x1005:
      w = 88;
      ht = base / 4;
      break;
    case 0x1006:
      w = 320;
      ht = 240;
      break;
    case 0x1007:
      w = 160;
      ht = 120;
      break;
    case 0x1008:
      w = 528;
      ht = h.video_standard == 0x1001 ? 384 : 320;
      break;
    default:
      break;
  }
  h.picture_width = w;
  h.picture_height = ht;
}

}  // namespace

StreamHeader DecodeStreamHeader(const uint8_t* p) {
  StreamHeader h;
  h.tag = kestrum::load_u32le(p);
  h.version = kestrum::load_u32le(p + 8);
  h.stream_type = kestrum::load_u16le(p + 16);
  h.video_standard = kestrum::load_u16le(p + 18);
  h.rate_factor = kestrum::load_u16le(p + 22);
  h.rate_base = kestrum::load_u32le(p + 24);
  h.resolution = kestrum::load_u32le(p + 28);
  h.width = kestrum::load_u16le(p + 28);
  h.height = kestrum::load_u16le(p + 30);
  h.explicit_size = h.version >= kExplicitSizeVersion;

  if (h.explicit_size) {
    h.picture_width = h.width;
    h.picture_height = h.height;
    if (h.width == 704 && (h.height == 240 || h.height == 288)) h.picture_height = 2 * h.height;
  } else {
    SizeFromResolution(h);
  }

  if (h.tag != 1) {
    h.refusal = "tag is " + Hex(h.tag) + ", not 1";
  } else if (h.stream_type < 0x1001 || h.stream_type > 0x1003) {
    h.refusal = "stream type " + Hex(h.stream_type) + " is not 0x1001, 0x1002 or 0x1003";
  } else if (h.explicit_size && (h.picture_width == 0 || h.picture_height == 0 ||
                                 h.picture_width > 704 || h.picture_height > 576)) {
    h.refusal = "picture size " + std::to_string(h.picture_width) + " x " +
                std::to_string(h.picture_height) + " is outside 1..704 x 1..576";
  }
  h.accepted = h.refusal.empty();
  return h;
}

}  // namespace kestrum_cli
