#include "stream_builder/stream_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "base/bytes.h"
#include "stream_format/layout.h"

namespace kestrum::stream_format {
namespace {

void CheckRange(size_t offset, size_t width, size_t size, const char* what) {
  if (offset > size || width > size - offset) throw std::out_of_range(what);
}

// The generator state of a PayloadLength() block: distinct per frame number
// and block index.
uint32_t BlockState(uint32_t frame_number, size_t index) {
  return (frame_number * 0x01000193u) ^ (static_cast<uint32_t>(index) * 0x2545F491u) ^ 0xB10Cu;
}

}  // namespace

std::vector<uint8_t> PseudoRandomBytes(size_t length, uint32_t state) {
  XorShift32 generator(state);
  std::vector<uint8_t> bytes(length);
  for (auto& byte : bytes) byte = static_cast<uint8_t>(generator.Next() >> 24);
  return bytes;
}

// --- FileHeaderBuilder

FileHeaderBuilder::FileHeaderBuilder() {
  Tag(1).Version(0x20040308).StreamType(0x1001).VideoStandard(0x1001);
  RateFactor(1).RateBase(1000000).Size(352, 288);
}

FileHeaderBuilder& FileHeaderBuilder::Tag(uint32_t tag) { return U32(0, tag); }
FileHeaderBuilder& FileHeaderBuilder::Version(uint32_t version) { return U32(8, version); }
FileHeaderBuilder& FileHeaderBuilder::StreamType(uint16_t type) { return U16(16, type); }
FileHeaderBuilder& FileHeaderBuilder::VideoStandard(uint16_t standard) { return U16(18, standard); }
FileHeaderBuilder& FileHeaderBuilder::RateFactor(uint16_t factor) { return U16(22, factor); }
FileHeaderBuilder& FileHeaderBuilder::RateBase(uint32_t base) { return U32(24, base); }
FileHeaderBuilder& FileHeaderBuilder::Resolution(uint32_t code) { return U32(28, code); }
FileHeaderBuilder& FileHeaderBuilder::Width(uint16_t width) { return U16(28, width); }
FileHeaderBuilder& FileHeaderBuilder::Height(uint16_t height) { return U16(30, height); }
FileHeaderBuilder& FileHeaderBuilder::Size(uint16_t width, uint16_t height) {
  return Width(width).Height(height);
}

FileHeaderBuilder& FileHeaderBuilder::U8(size_t offset, uint8_t value) {
  CheckRange(offset, 1, kFileHeaderSize, "FileHeaderBuilder::U8");
  bytes_[offset] = value;
  return *this;
}

FileHeaderBuilder& FileHeaderBuilder::U16(size_t offset, uint16_t value) {
  CheckRange(offset, 2, kFileHeaderSize, "FileHeaderBuilder::U16");
  store_u16le(bytes_.data() + offset, value);
  return *this;
}

FileHeaderBuilder& FileHeaderBuilder::U32(size_t offset, uint32_t value) {
  CheckRange(offset, 4, kFileHeaderSize, "FileHeaderBuilder::U32");
  store_u32le(bytes_.data() + offset, value);
  return *this;
}

// --- Block

Block& Block::Kind(uint16_t kind) {
  kind_ = kind;
  return *this;
}

Block& Block::Payload(std::vector<uint8_t> payload) {
  payload_ = std::move(payload);
  deferred_length_.reset();
  return *this;
}

Block& Block::Payload(std::initializer_list<uint8_t> payload) {
  return Payload(std::vector<uint8_t>(payload));
}

Block& Block::Payload(size_t length, uint32_t state) {
  return Payload(PseudoRandomBytes(length, state));
}

Block& Block::PayloadLength(size_t length) {
  payload_.clear();
  deferred_length_ = length;
  return *this;
}

Block& Block::Carried(const std::array<uint8_t, 14>& bytes) {
  carried_ = bytes;
  return *this;
}

Block& Block::HeaderByte(size_t offset, uint8_t value) {
  CheckRange(offset, 1, kBlockHeaderSize, "Block::HeaderByte");
  header_bytes_.emplace_back(offset, value);
  return *this;
}

Block& Block::DeclaredLength(uint32_t length) {
  declared_length_ = length;
  return *this;
}

size_t Block::size() const {
  return kBlockHeaderSize + (deferred_length_ ? *deferred_length_ : payload_.size());
}

std::vector<uint8_t> Block::Bytes(uint32_t default_state) const {
  std::vector<uint8_t> bytes;
  AppendTo(bytes, default_state);
  return bytes;
}

void Block::AppendTo(std::vector<uint8_t>& out, uint32_t default_state) const {
  const size_t at = out.size();
  out.resize(at + kBlockHeaderSize);
  uint8_t* header = out.data() + at;
  store_u16le(header, kind_);
  std::copy(carried_.begin(), carried_.end(), header + 2);
  const size_t payload_size = deferred_length_ ? *deferred_length_ : payload_.size();
  store_u32le(header + 16,
              declared_length_ ? *declared_length_ : static_cast<uint32_t>(payload_size));
  for (const auto& [offset, value] : header_bytes_) header[offset] = value;
  if (deferred_length_) {
    const std::vector<uint8_t> payload = PseudoRandomBytes(*deferred_length_, default_state);
    out.insert(out.end(), payload.begin(), payload.end());
  } else {
    out.insert(out.end(), payload_.begin(), payload_.end());
  }
}

// --- Group

Group& Group::StartCode(uint32_t start_code) {
  start_code_ = start_code;
  return *this;
}

Group& Group::FrameNumber(uint32_t frame_number) {
  frame_number_ = frame_number;
  return *this;
}

Group& Group::GroupType(uint32_t group_type) {
  group_type_ = group_type;
  return *this;
}

Group& Group::BlockCount(uint32_t field) {
  block_count_ = field;
  return *this;
}

Group& Group::FrameType(uint32_t frame_type) {
  frame_type_ = frame_type;
  return *this;
}

Group& Group::Word28(uint32_t value) {
  words_[0] = value;
  return *this;
}

Group& Group::Word32(uint32_t value) {
  words_[1] = value;
  return *this;
}

Group& Group::Word36(uint32_t value) {
  words_[2] = value;
  return *this;
}

Group& Group::Word40(uint32_t value) {
  words_[3] = value;
  return *this;
}

Group& Group::U32(size_t offset, uint32_t value) {
  CheckRange(offset, 4, kGroupHeaderSize, "Group::U32");
  overrides_.emplace_back(offset, value);
  return *this;
}

Group& Group::Add(Block block) {
  blocks_.push_back(std::move(block));
  return *this;
}

Group& Group::AddBlock(uint16_t kind, size_t length) {
  return Add(Block(kind).PayloadLength(length));
}

size_t Group::size() const {
  size_t total = kGroupHeaderSize;
  for (const Block& block : blocks_) total += block.size();
  return total;
}

std::array<uint8_t, 48> Group::HeaderBytes() const {
  std::array<uint8_t, 48> header{};
  uint8_t* p = header.data();
  store_u32le(p + 0, start_code_);
  store_u32le(p + 4, frame_number_.value_or(0) + kFieldBias);
  store_u32le(p + 12, group_type_);
  store_u32le(p + 16, block_count_.value_or(kFieldBias + static_cast<uint32_t>(blocks_.size())));
  store_u32le(p + 24, frame_type_);
  for (size_t k = 0; k < words_.size(); ++k) store_u32le(p + 28 + 4 * k, words_[k]);
  for (const auto& [offset, value] : overrides_) store_u32le(p + offset, value);
  return header;
}

std::vector<uint8_t> Group::Bytes() const {
  const std::array<uint8_t, 48> header = HeaderBytes();
  std::vector<uint8_t> bytes(header.begin(), header.end());
  const uint32_t frame_number = frame_number_.value_or(0);
  bytes.reserve(size());
  for (size_t k = 0; k < blocks_.size(); ++k) blocks_[k].AppendTo(bytes, BlockState(frame_number, k));
  return bytes;
}

// --- StreamBuilder

StreamBuilder& StreamBuilder::Header(const FileHeaderBuilder& header) {
  headers_.push_back(bytes_.size());
  bytes_.insert(bytes_.end(), header.array().begin(), header.array().end());
  return *this;
}

StreamBuilder& StreamBuilder::Add(const Group& group) {
  Group numbered = group;
  if (!numbered.frame_number_) numbered.frame_number_ = static_cast<uint32_t>(groups_.size());

  GroupExtent extent;
  extent.begin = bytes_.size();
  extent.first_block = extent.begin + kGroupHeaderSize;
  extent.frame_number = *numbered.frame_number_;
  size_t cursor = extent.first_block;
  for (const Block& block : numbered.blocks_) {
    extent.blocks.push_back(
        BlockExtent{cursor, cursor + kBlockHeaderSize, cursor + block.size(), block.kind()});
    cursor += block.size();
  }
  extent.end = cursor;

  const std::vector<uint8_t> bytes = numbered.Bytes();
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  groups_.push_back(std::move(extent));
  return *this;
}

StreamBuilder& StreamBuilder::Groups(size_t count, size_t payload_length) {
  for (size_t k = 0; k < count; ++k) Add(Group().AddBlock(0x1003, payload_length));
  return *this;
}

StreamBuilder& StreamBuilder::Junk(size_t length, uint32_t state) {
  const std::vector<uint8_t> junk = PseudoRandomBytes(length, state);
  bytes_.insert(bytes_.end(), junk.begin(), junk.end());
  return *this;
}

StreamBuilder& StreamBuilder::Raw(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

StreamBuilder& StreamBuilder::Raw(std::initializer_list<uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

std::vector<uint8_t> StreamBuilder::Slice(size_t begin, size_t end) const {
  if (begin > end || end > bytes_.size()) throw std::out_of_range("StreamBuilder::Slice");
  return {bytes_.begin() + static_cast<std::ptrdiff_t>(begin),
          bytes_.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::vector<uint8_t> StreamBuilder::GroupBytes(size_t index) const {
  const GroupExtent& extent = groups_.at(index);
  return Slice(extent.begin, extent.end);
}

}  // namespace kestrum::stream_format
