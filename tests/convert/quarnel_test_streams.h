// Small builders of stored streams and a reader of every packet the packet
// source hands out, for the packet-source tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "quarnel.h"
#include "stream_builder/stream_builder.h"

namespace quarnel_test {

using Bytes = std::vector<uint8_t>;

inline uint64_t GetU64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// A 40-byte stream header: tag, explicit-size version, stream type 0x1001,
// 704 x 576, no rate.
inline Bytes Header(uint32_t tag = 1) {
  return kestrum::stream_format::FileHeaderBuilder()
      .Tag(tag)
      .Version(0x20090101)
      .RateFactor(0)
      .RateBase(0)
      .Size(704, 576)
      .Bytes();
}

struct Block {
  uint16_t kind;
  uint32_t length;  // payload length as written in the header
  uint32_t stored;  // payload bytes actually written (== length unless cut)
};

inline Block WholeBlock(uint16_t kind, uint32_t length) { return Block{kind, length, length}; }

// Payload bytes never hold 0x01, so no group start hides inside a payload.
inline uint8_t PayloadByte(size_t i, uint8_t salt) {
  return static_cast<uint8_t>(0x80u | ((i * 7u + salt) & 0x7Fu));
}

// A group: 48-byte header (start code 1, frame number `salt`, `group_type`,
// the block count field 0x1000 + blocks unless given) and its blocks.
inline Bytes Group(uint32_t group_type, const std::vector<Block>& blocks, uint8_t salt = 0,
                   int64_t block_count_field = -1) {
  kestrum::stream_format::Group g;
  g.FrameNumber(salt).GroupType(group_type).Word28(0);
  if (block_count_field >= 0) g.BlockCount(static_cast<uint32_t>(block_count_field));
  for (const Block& b : blocks) {
    Bytes payload(b.stored);
    for (size_t i = 0; i < b.stored; ++i) payload[i] = PayloadByte(i, salt);
    g.Add(kestrum::stream_format::Block(b.kind).Payload(std::move(payload)).DeclaredLength(b.length));
  }
  return g.Bytes();
}

inline Bytes VideoGroup(uint32_t payload, uint8_t salt = 0) {
  return Group(0x1000, {WholeBlock(0x1003, payload)}, salt);
}

// Bytes with no group start: never 0x01.
inline Bytes Junk(size_t n, uint8_t salt = 0) {
  Bytes j(n);
  for (size_t i = 0; i < n; ++i) j[i] = static_cast<uint8_t>(0x02u + ((i * 13u + salt) % 200u));
  return j;
}

// The first `n` bytes of `b`.
inline Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

inline void Append(Bytes& out, const Bytes& more) {
  out.insert(out.end(), more.begin(), more.end());
}

// One packet as handed out, its bytes copied.
struct Packet {
  uint32_t kind;
  Bytes data;
  uint32_t length;
  uint64_t offset;
  uint64_t size;
  uint32_t time_ms;
};

// Fetches packets until QUARNEL_END (at most `limit`); fails the test on any
// other result.
inline std::vector<Packet> ReadAll(size_t limit = 1000000) {
  std::vector<Packet> packets;
  PacketRecord record{};
  for (size_t i = 0; i < limit; ++i) {
    const int32_t r = QuarnelGetPacket(1, &record);
    if (r == QUARNEL_END) return packets;
    EXPECT_EQ(r, QUARNEL_MORE);
    Packet p{record.kind,
             {},
             record.length,
             GetU64(record.reserved + QUARNEL_RESERVED_OFFSET),
             GetU64(record.reserved + QUARNEL_RESERVED_SIZE),
             record.time_ms};
    if (record.data != nullptr) p.data.assign(record.data, record.data + record.length);
    packets.push_back(std::move(p));
  }
  ADD_FAILURE() << "no end after " << limit << " packets";
  return packets;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  std::string Write(const std::string& name, const Bytes& bytes) const;
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

}  // namespace quarnel_test
