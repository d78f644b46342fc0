#include "asf_format/tests/walker.h"

#include <cstdio>
#include <cstring>
#include <map>

#include "base/bytes.h"

namespace kestrum::asf::testing {
namespace {

const char* const kHeader = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char* const kFileProperties = "8CABDCA1-A947-11CF-8EE4-00C00C205365";
const char* const kHeaderExtension = "5FBF03B5-A92E-11CF-8EE3-00C00C205365";
const char* const kData = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
const char* const kSimpleIndex = "33000890-E5B1-11CF-89F4-00A0C90349CB";

bool GuidAt(const std::vector<uint8_t>& b, uint64_t at, const char* text) {
  const GuidBytes g = GuidFromText(text);
  return at + 16 <= b.size() && std::memcmp(b.data() + at, g.data(), 16) == 0;
}

// Reads fields of the packet being walked, failing on any read past its end.
struct Cursor {
  const uint8_t* p;
  size_t size;
  size_t at = 0;
  bool ok = true;
  uint32_t Field(unsigned type) {  // ASF length type: 0 none, 1 BYTE, 2 WORD, 3 DWORD
    static constexpr size_t kSizes[] = {0, 1, 2, 4};
    const size_t n = kSizes[type & 3];
    if (at + n > size) {
      ok = false;
      return 0;
    }
    uint32_t v = n == 1 ? p[at] : n == 2 ? load_u16le(p + at) : n == 4 ? load_u32le(p + at) : 0;
    at += n;
    return v;
  }
};

struct OpenObject {
  WalkedSample sample;
  uint32_t size = 0;
};

}  // namespace

GuidBytes GuidFromText(const char* t) {
  unsigned d1, d2, d3, b[8];
  std::sscanf(t, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
              &b[4], &b[5], &b[6], &b[7]);
  GuidBytes g{};
  store_u32le(g.data(), d1);
  store_u16le(g.data() + 4, static_cast<uint16_t>(d2));
  store_u16le(g.data() + 6, static_cast<uint16_t>(d3));
  for (int i = 0; i < 8; ++i) g[static_cast<size_t>(8 + i)] = static_cast<uint8_t>(b[i]);
  return g;
}

const WalkedObject* WalkedFile::Find(const char* text) const {
  const GuidBytes g = GuidFromText(text);
  for (const auto* list : {&header_children, &extension_children}) {
    for (const WalkedObject& o : *list) {
      if (o.guid == g) return &o;
    }
  }
  return nullptr;
}

WalkedFile WalkAsf(std::vector<uint8_t> bytes) {
  WalkedFile f;
  f.bytes = std::move(bytes);
  const std::vector<uint8_t>& b = f.bytes;
  auto fail = [&f](const std::string& why) {
    if (f.error.empty()) f.error = why;
    return f;
  };
  if (!GuidAt(b, 0, kHeader) || b.size() < 30) return fail("no Header Object");
  const uint64_t header_size = load_u64le(b.data() + 16);
  f.header_object_count = load_u32le(b.data() + 24);
  if (b[28] != 1 || b[29] != 2) return fail("header reserved bytes");
  if (header_size > b.size()) return fail("header size past the end");
  for (uint64_t at = 30; at < header_size;) {
    WalkedObject o{};
    if (at + 24 > header_size) return fail("header child framing");
    std::memcpy(o.guid.data(), b.data() + at, 16);
    o.offset = at;
    o.size = load_u64le(b.data() + at + 16);
    if (o.size < 24 || o.size > header_size - at) return fail("header child size");
    f.header_children.push_back(o);
    at += o.size;
  }
  if (f.header_children.size() != f.header_object_count) return fail("header object count");
  if (const WalkedObject* ext = f.Find(kHeaderExtension)) {
    const uint64_t data_size = load_u32le(b.data() + ext->offset + 42);
    if (data_size + 46 != ext->size) return fail("header extension data size");
    for (uint64_t at = ext->offset + 46; at < ext->offset + ext->size;) {
      WalkedObject o{};
      std::memcpy(o.guid.data(), b.data() + at, 16);
      o.offset = at;
      o.size = load_u64le(b.data() + at + 16);
      if (o.size < 24 || o.size > ext->offset + ext->size - at) return fail("extension child");
      f.extension_children.push_back(o);
      at += o.size;
    }
  }
  const WalkedObject* fp = f.Find(kFileProperties);
  if (fp == nullptr || fp->size != 104) return fail("File Properties");
  const uint8_t* p = b.data() + fp->offset;
  f.file_size = load_u64le(p + 40);
  f.packet_count = load_u64le(p + 56);
  f.play_duration = load_u64le(p + 64);
  f.send_duration = load_u64le(p + 72);
  f.preroll = load_u64le(p + 80);
  f.flags = load_u32le(p + 88);
  f.packet_size = load_u32le(p + 92);
  if (load_u32le(p + 96) != f.packet_size || f.packet_size < 32) return fail("packet sizes");

  f.data_offset = header_size;
  if (!GuidAt(b, f.data_offset, kData) || f.data_offset + 50 > b.size()) {
    return fail("no Data Object");
  }
  f.data_size = load_u64le(b.data() + f.data_offset + 16);
  if (std::memcmp(b.data() + f.data_offset + 24, p + 24, 16) != 0) return fail("file IDs differ");
  f.data_packet_count = load_u64le(b.data() + f.data_offset + 40);
  if (b[static_cast<size_t>(f.data_offset + 48)] != 1 ||
      b[static_cast<size_t>(f.data_offset + 49)] != 1) {
    return fail("data reserved");
  }
  const bool finished = (f.flags & 1) == 0;
  uint64_t data_end = b.size();
  if (finished) {
    data_end = f.data_offset + f.data_size;
    if (data_end > b.size()) return fail("data size past the end");
  }
  const uint64_t packets_start = f.data_offset + 50;
  const uint64_t whole = (data_end - packets_start) / f.packet_size;
  f.trailing_bytes = packets_start + whole * f.packet_size != data_end;
  if (finished && f.trailing_bytes) return fail("data size not whole packets");

  std::map<uint8_t, OpenObject> open;
  for (uint64_t n = 0; n < whole; ++n) {
    Cursor c{b.data() + packets_start + n * f.packet_size, f.packet_size};
    const std::string where = "packet " + std::to_string(n) + ": ";
    if (c.Field(1) != 0x82 || c.Field(2) != 0) return fail(where + "error correction");
    const uint32_t length_type = c.Field(1);
    const uint32_t props = c.Field(1);
    WalkedPacket pk;
    pk.multiple = (length_type & 1) != 0;
    const uint32_t packet_length = c.Field(length_type >> 5);
    if ((length_type >> 5) != 0 && packet_length != f.packet_size) return fail(where + "length");
    c.Field(length_type >> 1);  // sequence
    pk.padding = c.Field(length_type >> 3);
    pk.send_ms = c.Field(3);
    c.Field(2);  // duration
    uint32_t payload_flags = 0;
    pk.payloads = 1;
    if (pk.multiple) {
      payload_flags = c.Field(1);
      pk.payloads = payload_flags & 0x3F;
      if (pk.payloads == 0) return fail(where + "no payloads");
    }
    for (uint32_t i = 0; i < pk.payloads && c.ok; ++i) {
      const uint32_t stream_byte = c.Field(props >> 6);
      const uint32_t object_number = c.Field(props >> 4);
      const uint32_t offset = c.Field(props >> 2);
      const uint32_t replicated = c.Field(props);
      if (replicated != 8 || c.at + 8 > c.size) return fail(where + "replicated data");
      const uint32_t object_size = load_u32le(c.p + c.at);
      const uint32_t presentation = load_u32le(c.p + c.at + 4);
      c.at += 8;
      uint32_t length = 0;
      if (pk.multiple) {
        length = c.Field(payload_flags >> 6);
      } else {
        if (c.size < c.at + pk.padding) return fail(where + "padding");
        length = static_cast<uint32_t>(c.size - c.at - pk.padding);
      }
      if (!c.ok || length == 0 || c.at + length > c.size) return fail(where + "payload length");
      const uint8_t stream = static_cast<uint8_t>(stream_byte & 0x7F);
      OpenObject& o = open[stream];
      if (offset == 0) {
        if (!o.sample.bytes.empty()) return fail(where + "object replaced before its end");
        o.size = object_size;
        o.sample = WalkedSample{stream,
                                static_cast<uint8_t>(object_number),
                                (stream_byte & 0x80) != 0,
                                presentation,
                                n,
                                n,
                                {}};
      } else if (o.sample.bytes.size() != offset || o.size != object_size ||
                 o.sample.object_number != object_number ||
                 o.sample.presentation_ms != presentation ||
                 o.sample.key != ((stream_byte & 0x80) != 0)) {
        return fail(where + "fragment does not continue its object");
      }
      if (offset + uint64_t{length} > object_size) return fail(where + "fragment past object");
      o.sample.bytes.insert(o.sample.bytes.end(), c.p + c.at, c.p + c.at + length);
      o.sample.last_packet = n;
      c.at += length;
      if (o.sample.bytes.size() == object_size) {
        f.samples.push_back(std::move(o.sample));
        o.sample = WalkedSample{};
      }
    }
    if (!c.ok) return fail(where + "fields past the packet");
    if (c.at + pk.padding != c.size) return fail(where + "payloads and padding do not fill it");
    for (size_t i = c.at; i < c.size; ++i) {
      if (c.p[i] != 0) return fail(where + "non-zero padding");
    }
    f.packets.push_back(pk);
  }
  if (finished) {
    for (const auto& [stream, o] : open) {
      if (!o.sample.bytes.empty()) return fail("a sample cut short at the end of the data");
    }
    for (uint64_t at = data_end; at < b.size();) {
      const uint64_t size = at + 24 <= b.size() ? load_u64le(b.data() + at + 16) : 0;
      if (at + 24 > b.size() || size > b.size() - at) {
        f.truncated_index = true;
        break;
      }
      if (size < 24) return fail("index object size");
      if (GuidAt(b, at, kSimpleIndex)) {
        WalkedIndex index;
        index.interval = load_u64le(b.data() + at + 40);
        index.max_packet_count = load_u32le(b.data() + at + 48);
        const uint32_t count = load_u32le(b.data() + at + 52);
        if (56 + uint64_t{count} * 6 != size) return fail("index entry count");
        for (uint32_t i = 0; i < count; ++i) {
          const uint8_t* e = b.data() + at + 56 + i * 6;
          index.entries.emplace_back(load_u32le(e), load_u16le(e + 4));
          if (load_u32le(e) >= f.packets.size()) return fail("index entry past the packets");
        }
        f.indexes.push_back(std::move(index));
      }
      at += size;
    }
  }
  return f;
}

}  // namespace kestrum::asf::testing
