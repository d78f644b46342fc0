// Composes input streams field by field, for `kestrum generate` and the tests:
// a 40-byte stream header,
// groups (48-byte header + blocks), blocks (20-byte header + payload) and junk,
// concatenated into one byte vector with a record of where everything landed.
//
// Everything is deterministic: payloads that are not given explicitly are
// pseudo-random bytes from a 32-bit generator state, so the same calls always
// build the same bytes. Every builder starts from a valid, typical value, so a
// test names only the fields it is about:
//
//   using namespace kestrum::stream_format;
//   StreamBuilder stream;
//   stream.Header(FileHeaderBuilder().StreamType(0x1003).Size(704, 288))
//         .Add(Group().GroupType(0x1000).FrameType(0x1001)
//                  .Add(Block(0x1001).PayloadLength(100))
//                  .Add(Block(0x1003).Payload({1, 2, 3})))
//         .Junk(7)
//         .Add(Group().Add(Block(0x1004).PayloadLength(499999)));
//   const std::vector<uint8_t>& bytes = stream.bytes();
//   const GroupExtent& first = stream.groups()[0];  // offsets into bytes()
//
// Fields are written exactly as given (no range checks), so malformed input is
// built the same way: Block(0x1006), Block().DeclaredLength(500000),
// Group().StartCode(2), Group().BlockCount(0x1100), Group().U32(44, ...).
// To cut a group short, take Group::Bytes() and resize it, then Raw() it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "stream_format/layout.h"

namespace kestrum::stream_format {

// A small xorshift generator; equal states give equal numbers everywhere.
class XorShift32 {
 public:
  explicit XorShift32(uint32_t state) : x_(state * 0x9E3779B9u + 0x7F4A7C15u) {
    if (x_ == 0) x_ = 1;  // zero is the generator's fixed point
  }
  uint32_t Next() {
    x_ ^= x_ << 13;
    x_ ^= x_ >> 17;
    x_ ^= x_ << 5;
    return x_;
  }

 private:
  uint32_t x_;
};

// `length` bytes from a small xorshift generator started at `state`. Equal
// arguments give equal bytes on every platform.
std::vector<uint8_t> PseudoRandomBytes(size_t length, uint32_t state);

// A version older than the one that carries an explicit picture size, so the
// header's bytes 28..31 are read as a resolution code.
inline constexpr uint32_t kResolutionCodeVersion = 0x20030101;

// The 40-byte stream header. Defaults: tag 1, version 0x20040308 (explicit
// size), stream_type 0x1001, video_standard 0x1001, rate_factor 1, rate_base
// 1,000,000, width 352, height 288; bytes 4..7, 12..15, 20..21 and 32..39 zero.
class FileHeaderBuilder {
 public:
  FileHeaderBuilder();

  FileHeaderBuilder& Tag(uint32_t tag);
  FileHeaderBuilder& Version(uint32_t version);
  FileHeaderBuilder& StreamType(uint16_t stream_type);
  FileHeaderBuilder& VideoStandard(uint16_t video_standard);
  FileHeaderBuilder& RateFactor(uint16_t rate_factor);
  FileHeaderBuilder& RateBase(uint32_t rate_base);
  // Bytes 28..31 as one u32 (read only when the version is below 0x20040308;
  // pair it with Version(kResolutionCodeVersion)). Overwrites width/height.
  FileHeaderBuilder& Resolution(uint32_t resolution);
  FileHeaderBuilder& Width(uint16_t width);
  FileHeaderBuilder& Height(uint16_t height);
  FileHeaderBuilder& Size(uint16_t width, uint16_t height);
  // Any byte or little-endian field, including the ones nothing reads.
  FileHeaderBuilder& U8(size_t offset, uint8_t value);
  FileHeaderBuilder& U16(size_t offset, uint16_t value);
  FileHeaderBuilder& U32(size_t offset, uint32_t value);

  const std::array<uint8_t, 40>& array() const { return bytes_; }
  const uint8_t* data() const { return bytes_.data(); }
  std::vector<uint8_t> Bytes() const { return {bytes_.begin(), bytes_.end()}; }

 private:
  std::array<uint8_t, 40> bytes_{};
};

// One block: a 20-byte header (u16 kind at 0, 14 carried bytes at 2..15, u32
// payload length at 16) and its payload. Defaults: kind 0x1003, empty payload,
// the 14 carried bytes zero, the length field equal to the payload's size.
class Block {
 public:
  explicit Block(uint16_t kind = 0x1003) : kind_(kind) {}

  Block& Kind(uint16_t kind);
  // The payload bytes themselves.
  Block& Payload(std::vector<uint8_t> payload);
  Block& Payload(std::initializer_list<uint8_t> payload);
  // `length` pseudo-random bytes from `state`.
  Block& Payload(size_t length, uint32_t state);
  // `length` pseudo-random bytes; the generator state is chosen when the block
  // is laid out, from the group's frame number and the block's position, so
  // blocks of one stream differ.
  Block& PayloadLength(size_t length);
  // The 14 bytes at 2..15 of the header.
  Block& Carried(const std::array<uint8_t, 14>& bytes);
  Block& HeaderByte(size_t offset, uint8_t value);  // offset 0..19, applied last
  // Writes `length` into the length field instead of the payload's size (the
  // payload bytes stay as they are), for lying or oversized blocks.
  Block& DeclaredLength(uint32_t length);

  uint16_t kind() const { return kind_; }
  // 20 + the payload's size (not the declared length).
  size_t size() const;
  // Header and payload; `default_state` fills a PayloadLength() payload.
  std::vector<uint8_t> Bytes(uint32_t default_state = 0) const;
  void AppendTo(std::vector<uint8_t>& out, uint32_t default_state = 0) const;

 private:
  uint16_t kind_;
  std::vector<uint8_t> payload_;
  std::optional<size_t> deferred_length_;
  std::array<uint8_t, 14> carried_{};
  std::optional<uint32_t> declared_length_;
  std::vector<std::pair<size_t, uint8_t>> header_bytes_;
};

// One group: a 48-byte header and its blocks. Defaults: start code 1, frame
// number unset (see Add to StreamBuilder; 0 when built alone), group type
// 0x1000, block count field 0x1000 + the number of blocks, frame type 0x1001,
// words 28/32/36/40 = 0x1000, 0, 0, 0, the rest zero.
class Group {
 public:
  Group() = default;

  Group& StartCode(uint32_t start_code);
  // The frame's number; the header holds it plus 0x1000.
  Group& FrameNumber(uint32_t frame_number);
  Group& GroupType(uint32_t group_type);
  // The raw block count field (0x1000 + count); overrides the derived value.
  Group& BlockCount(uint32_t field);
  Group& FrameType(uint32_t frame_type);
  // The raw words at 28, 32, 36 and 40 (28 holds a value plus 0x1000).
  Group& Word28(uint32_t value);
  Group& Word32(uint32_t value);
  Group& Word36(uint32_t value);
  Group& Word40(uint32_t value);
  // Any header word (offset 0..44), applied after every named field.
  Group& U32(size_t offset, uint32_t value);

  Group& Add(Block block);
  // Shorthand for Add(Block(kind).PayloadLength(length)).
  Group& AddBlock(uint16_t kind, size_t length);

  const std::vector<Block>& blocks() const { return blocks_; }
  std::optional<uint32_t> frame_number() const { return frame_number_; }
  size_t size() const;  // 48 + the blocks' sizes
  std::array<uint8_t, 48> HeaderBytes() const;
  std::vector<uint8_t> Bytes() const;

 private:
  friend class StreamBuilder;
  uint32_t start_code_ = 1;
  std::optional<uint32_t> frame_number_;
  uint32_t group_type_ = 0x1000;
  std::optional<uint32_t> block_count_;
  uint32_t frame_type_ = 0x1001;
  std::array<uint32_t, 4> words_{kFieldBias, 0, 0, 0};  // at 28, 32, 36, 40
  std::vector<std::pair<size_t, uint32_t>> overrides_;
  std::vector<Block> blocks_;
};

// Where a block landed in StreamBuilder::bytes().
struct BlockExtent {
  size_t begin = 0;    // its header
  size_t payload = 0;  // begin + 20
  size_t end = 0;      // one past its payload
  uint16_t kind = 0;
};

// Where a group landed in StreamBuilder::bytes().
struct GroupExtent {
  size_t begin = 0;        // its header (the start code)
  size_t first_block = 0;  // begin + 48
  size_t end = 0;          // one past its last block; where the next thing starts
  uint32_t frame_number = 0;
  std::vector<BlockExtent> blocks;
};

class StreamBuilder {
 public:
  StreamBuilder() = default;

  // Appends a 40-byte header (anywhere, any number of times).
  StreamBuilder& Header(const FileHeaderBuilder& header = FileHeaderBuilder());
  // Appends a group. A group without a frame number gets the number of groups
  // added before it; PayloadLength() blocks get a generator state unique to
  // (frame number, block index).
  StreamBuilder& Add(const Group& group);
  // Appends `count` default groups, each with one video block of `length`.
  StreamBuilder& Groups(size_t count, size_t payload_length = 64);
  // Appends bytes that belong to no group.
  StreamBuilder& Junk(size_t length, uint32_t state = 0x7A3C);
  StreamBuilder& Raw(std::span<const uint8_t> bytes);
  StreamBuilder& Raw(std::initializer_list<uint8_t> bytes);

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }
  // Groups in stream order, offsets into bytes().
  const std::vector<GroupExtent>& groups() const { return groups_; }
  // Offsets of each Header() call.
  const std::vector<size_t>& headers() const { return headers_; }
  // A copy of the bytes of [begin, end).
  std::vector<uint8_t> Slice(size_t begin, size_t end) const;
  std::vector<uint8_t> GroupBytes(size_t index) const;

 private:
  std::vector<uint8_t> bytes_;
  std::vector<GroupExtent> groups_;
  std::vector<size_t> headers_;
};

}  // namespace kestrum::stream_format
