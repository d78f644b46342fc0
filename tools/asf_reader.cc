#include "asf_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <sys/types.h>

#include "base/bytes.h"

namespace kestrum_cli {

namespace {

using kestrum::load_u16le;
using kestrum::load_u32le;
using kestrum::load_u64le;

using Guid = uint8_t[16];

// On-disk byte order of each GUID.
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                    0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                              0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr Guid kDataObject = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kHeaderExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid kExtendedStreamProperties = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                            0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
constexpr Guid kSimpleIndex = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                               0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
constexpr Guid kVideoMedia = {0xC0, 0xEF, 0x19, 0xBC, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
constexpr Guid kAudioMedia = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                              0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

constexpr size_t kObjectHeader = 24;  // GUID + QWORD size
constexpr uint64_t kMaxHeaderSize = 64ull << 20;
constexpr uint32_t kMaxPacketSize = 1u << 20;

bool Is(const uint8_t* p, const Guid& guid) { return std::memcmp(p, guid, 16) == 0; }

class File {
 public:
  explicit File(const std::string& path) : f_(std::fopen(path.c_str(), "rb")) {}
  ~File() {
    if (f_ != nullptr) std::fclose(f_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  bool ok() const { return f_ != nullptr; }
  uint64_t Size() {
    if (::fseeko(f_, 0, SEEK_END) != 0) return 0;
    const off_t end = ::ftello(f_);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
  }
  // Reads exactly n bytes at `offset`.
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) {
    if (::fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, n, f_) == n;
  }
  // Reads exactly n bytes at the current position.
  bool Read(uint8_t* out, size_t n) { return std::fread(out, 1, n, f_) == n; }

 private:
  std::FILE* f_;
};

// UTF-16LE (n bytes, up to a terminating zero) as UTF-8.
std::string Utf8FromUtf16(const uint8_t* p, size_t n) {
  std::string out;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t c = load_u16le(p + i);
    if (c == 0) break;
    if (c >= 0xD800 && c < 0xDC00 && i + 3 < n) {
      const uint32_t low = load_u16le(p + i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

AsfStream& StreamNumbered(AsfInfo& info, uint16_t number) {
  for (AsfStream& s : info.streams) {
    if (s.number == number) return s;
  }
  info.streams.push_back(AsfStream{});
  info.streams.back().number = number;
  info.streams.back().type = "other";
  return info.streams.back();
}

void ReadStreamProperties(const uint8_t* o, size_t size, AsfInfo& info) {
  if (size < 78) {
    info.problems.push_back("stream properties object too short");
    return;
  }
  const uint32_t specific = load_u32le(o + 64);
  const uint16_t number = load_u16le(o + 72) & 0x7F;
  AsfStream& s = StreamNumbered(info, number);
  s.declared = true;
  s.type = Is(o + 24, kVideoMedia) ? "video" : Is(o + 24, kAudioMedia) ? "audio" : "other";
  if (s.type != "video") return;
  // Type-specific data: width, height, flags, format size, BITMAPINFOHEADER.
  if (specific < 11 + 40 || 78 + uint64_t{specific} > size) {
    info.problems.push_back("video format of stream " + std::to_string(number) + " too short");
    return;
  }
  const uint8_t* format = o + 78 + 11;
  s.width = static_cast<int32_t>(load_u32le(format + 4));
  s.height = static_cast<int32_t>(load_u32le(format + 8));
  s.fourcc = load_u32le(format + 16);
  s.codec_data = specific - 11 - 40;
}

void ReadContentDescription(const uint8_t* o, size_t size, AsfInfo& info) {
  if (size < 34) {
    info.problems.push_back("content description object too short");
    return;
  }
  size_t at = 34;
  const uint16_t lengths[5] = {load_u16le(o + 24), load_u16le(o + 26), load_u16le(o + 28),
                               load_u16le(o + 30), load_u16le(o + 32)};
  for (int i = 0; i < 5; ++i) {
    if (lengths[i] > size - at) {
      info.problems.push_back("content description strings run past the object");
      return;
    }
    if (i == 0) info.title = Utf8FromUtf16(o + at, lengths[i]);
    if (i == 3) info.description = Utf8FromUtf16(o + at, lengths[i]);
    at += lengths[i];
  }
}

// Name/value attributes; "Title" and "Description" strings fill in what the
// Content Description object did not give.
void ReadExtendedContentDescription(const uint8_t* o, size_t size, AsfInfo& info) {
  if (size < 26) return;
  const uint32_t count = load_u16le(o + 24);
  size_t at = 26;
  for (uint32_t i = 0; i < count; ++i) {
    if (size - at < 2) break;
    const size_t name_length = load_u16le(o + at);
    if (size - at - 2 < name_length + 4) break;
    const std::string name = Utf8FromUtf16(o + at + 2, name_length);
    const uint8_t* after_name = o + at + 2 + name_length;
    const uint16_t type = load_u16le(after_name);
    const size_t value_length = load_u16le(after_name + 2);
    const size_t value_at = at + 2 + name_length + 4;
    if (size - value_at < value_length) break;
    if (type == 0 && name == "Title" && info.title.empty()) {
      info.title = Utf8FromUtf16(o + value_at, value_length);
    }
    if (type == 0 && name == "Description" && info.description.empty()) {
      info.description = Utf8FromUtf16(o + value_at, value_length);
    }
    at = value_at + value_length;
  }
}

// The Extended Stream Properties inside the Header Extension: whether each
// stream says it is seekable.
void ReadHeaderExtension(const uint8_t* o, size_t size, AsfInfo& info) {
  constexpr size_t kDataAt = 46;
  if (size < kDataAt) return;
  size_t at = kDataAt;
  while (size - at >= kObjectHeader) {
    const uint64_t child = load_u64le(o + at + 16);
    if (child < kObjectHeader || child > size - at) return;
    if (Is(o + at, kExtendedStreamProperties) && child >= 74) {
      const uint32_t flags = load_u32le(o + at + 68);
      AsfStream& s = StreamNumbered(info, load_u16le(o + at + 72) & 0x7F);
      s.has_extended = true;
      s.declared_seekable = (flags & 0x02) != 0;
    }
    at += static_cast<size_t>(child);
  }
}

// Walks the objects inside the Header Object's body.
void ReadHeaderObjects(const std::vector<uint8_t>& header, AsfInfo& info) {
  size_t at = 30;
  while (header.size() - at >= kObjectHeader) {
    const uint8_t* o = header.data() + at;
    const uint64_t size = load_u64le(o + 16);
    if (size < kObjectHeader || size > header.size() - at) {
      info.problems.push_back("header object at offset " + std::to_string(at) + " has a bad size");
      return;
    }
    const size_t n = static_cast<size_t>(size);
    if (Is(o, kFileProperties)) {
      if (n >= 104) {
        info.has_file_properties = true;
        info.declared_packets = load_u64le(o + 56);
        info.play_duration = load_u64le(o + 64);
        info.preroll_ms = load_u64le(o + 80);
        info.flags = load_u32le(o + 88);
        const uint32_t min_packet = load_u32le(o + 92);
        const uint32_t max_packet = load_u32le(o + 96);
        if (min_packet == max_packet) info.packet_size = min_packet;
      } else {
        info.problems.push_back("file properties object too short");
      }
    } else if (Is(o, kStreamProperties)) {
      ReadStreamProperties(o, n, info);
    } else if (Is(o, kContentDescription)) {
      ReadContentDescription(o, n, info);
    } else if (Is(o, kExtendedContentDescription)) {
      ReadExtendedContentDescription(o, n, info);
    } else if (Is(o, kHeaderExtension)) {
      ReadHeaderExtension(o, n, info);
    }
    at += n;
  }
}

// Reads fields of the sizes coded 0 (absent), 1 (byte), 2 (word), 3 (dword),
// never past the end.
class Cursor {
 public:
  Cursor(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t left() const { return n_ - pos_; }
  uint32_t Var(uint32_t type) {
    static constexpr size_t kWidth[4] = {0, 1, 2, 4};
    const size_t w = kWidth[type & 3];
    if (!Need(w)) return 0;
    uint32_t v = 0;
    if (w == 1) v = p_[pos_];
    if (w == 2) v = load_u16le(p_ + pos_);
    if (w == 4) v = load_u32le(p_ + pos_);
    pos_ += w;
    return v;
  }
  uint32_t U8() { return Var(1); }
  uint32_t U16() { return Var(2); }
  uint32_t U32() { return Var(3); }
  const uint8_t* Take(size_t w) {
    if (!Need(w)) return nullptr;
    const uint8_t* at = p_ + pos_;
    pos_ += w;
    return at;
  }
  void Limit(size_t n) {
    if (n < n_) n_ = std::max(n, pos_);
  }

 private:
  bool Need(size_t w) {
    if (!ok_ || w > n_ - pos_) ok_ = false;
    return ok_;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// A sample that ended before all its bytes came.
void CutSample(AsfStream& s, AsfInfo& info) {
  ++s.cut_samples;
  info.problems.push_back("sample " + std::to_string(s.sample_number) + " of stream " +
                          std::to_string(s.number) + " is cut: " + std::to_string(s.sample_have) +
                          " of its " + std::to_string(s.sample_size) + " bytes are in the file");
  s.sample_open = false;
}

// One fragment of a sample, `length` bytes at `offset` into it.
void AddFragment(AsfStream& s, AsfInfo& info, uint32_t offset, uint32_t length,
                 const uint8_t* replicated, uint32_t replicated_size) {
  if (offset == 0) {
    if (s.sample_open) CutSample(s, info);
    if (replicated == nullptr || replicated_size < 8) return;
    s.sample_open = true;
    s.sample_number = s.samples;
    s.sample_size = load_u32le(replicated);
    s.sample_have = 0;
  } else if (!s.sample_open || offset != s.sample_have) {
    if (s.sample_open) CutSample(s, info);
    return;
  }
  s.sample_have += std::min(length, s.sample_size - s.sample_have);
  if (s.sample_have >= s.sample_size) s.sample_open = false;
}

// Counts the samples that start in one data packet. False when the packet
// does not parse.
bool ReadPacket(const uint8_t* p, size_t n, AsfInfo& info) {
  Cursor c(p, n);
  uint32_t flags = c.U8();
  if (flags & 0x80) {  // error correction data first
    c.Take(flags & 0x0F);
    flags = c.U8();
  }
  const uint32_t properties = c.U8();
  const uint32_t packet_length = c.Var(flags >> 5);
  c.Var(flags >> 1);  // sequence
  const uint32_t padding = c.Var(flags >> 3);
  c.U32();  // send time
  c.U16();  // duration
  if (!c.ok()) return false;
  if (packet_length != 0) c.Limit(packet_length);
  if (padding > c.left()) return false;
  c.Limit(c.pos() + c.left() - padding);
  const bool multiple = (flags & 1) != 0;
  uint32_t count = 1;
  uint32_t length_type = 0;
  if (multiple) {
    const uint32_t payload_flags = c.U8();
    count = payload_flags & 0x3F;
    length_type = payload_flags >> 6;
  }
  for (uint32_t k = 0; k < count && c.ok(); ++k) {
    const uint32_t number = c.U8();
    c.Var(properties >> 4);  // media object number
    const uint32_t offset = c.Var(properties >> 2);
    const uint32_t replicated = c.Var(properties);
    AsfStream& s = StreamNumbered(info, static_cast<uint16_t>(number & 0x7F));
    const bool key = (number & 0x80) != 0;
    if (replicated == 1) {  // compressed: one presentation time, sub-payloads of whole objects
      c.U8();
      const uint32_t length = multiple ? c.Var(length_type) : static_cast<uint32_t>(c.left());
      const uint8_t* data = c.Take(length);
      if (data == nullptr) return false;
      for (size_t q = 0; q < length;) {
        const size_t sub = data[q];
        if (sub + 1 > length - q) return false;
        ++s.samples;
        s.key_samples += key ? 1 : 0;
        s.sample_bytes += sub;
        q += 1 + sub;
      }
      info.has_samples = true;
      info.last_presentation_ms = std::max<uint64_t>(info.last_presentation_ms, offset);
      continue;
    }
    const uint8_t* rep = c.Take(replicated);
    const uint32_t length = multiple ? c.Var(length_type) : static_cast<uint32_t>(c.left());
    if (c.Take(length) == nullptr) return false;
    if (offset == 0) ++s.samples;
    AddFragment(s, info, offset, length, rep, replicated);
    if (offset == 0) {
      s.key_samples += key ? 1 : 0;
      info.has_samples = true;
      if (rep != nullptr && replicated >= 8) {
        s.sample_bytes += load_u32le(rep);
        info.last_presentation_ms =
            std::max<uint64_t>(info.last_presentation_ms, load_u32le(rep + 4));
      }
    }
  }
  return c.ok();
}

void ReadData(File& file, uint64_t data_start, AsfInfo& info, uint64_t& data_end) {
  uint8_t head[50];
  data_end = info.file_size;
  if (info.file_size - data_start < sizeof head || !file.ReadAt(data_start, head, sizeof head) ||
      !Is(head, kDataObject)) {
    info.problems.push_back("no data object after the header");
    return;
  }
  const uint64_t size = load_u64le(head + 16);
  const bool finished = (info.flags & 1) == 0;
  if (finished && size >= sizeof head && size <= info.file_size - data_start) {
    data_end = data_start + size;
  } else if (finished) {
    info.problems.push_back("data object size does not match the file");
  }
  if (info.packet_size == 0 || info.packet_size > kMaxPacketSize) {
    info.problems.push_back("no usable fixed packet size");
    return;
  }
  std::vector<uint8_t> packet(info.packet_size);
  uint64_t at = data_start + sizeof head;
  bool reported = false;
  while (data_end - at >= info.packet_size) {
    if (!file.Read(packet.data(), packet.size())) {
      info.problems.push_back("read error in the data packets");
      return;
    }
    if (!ReadPacket(packet.data(), packet.size(), info) && !reported) {
      info.problems.push_back("packet " + std::to_string(info.packets_read) + " does not parse");
      reported = true;
    }
    ++info.packets_read;
    at += info.packet_size;
  }
  if (at != data_end) {
    info.problems.push_back(std::to_string(data_end - at) + " bytes of a cut packet at the end");
  }
  for (AsfStream& s : info.streams) {
    if (s.sample_open) CutSample(s, info);
  }
}

void ReadTrailingObjects(File& file, uint64_t at, AsfInfo& info) {
  uint8_t head[56];
  while (info.file_size - at >= kObjectHeader && file.ReadAt(at, head, kObjectHeader)) {
    const uint64_t size = load_u64le(head + 16);
    if (size < kObjectHeader || size > info.file_size - at) {
      info.problems.push_back("object at offset " + std::to_string(at) + " has a bad size");
      return;
    }
    if (Is(head, kSimpleIndex) && size >= sizeof head && file.ReadAt(at, head, sizeof head)) {
      info.has_simple_index = true;
      info.index_entries = load_u32le(head + 52);
    }
    at += size;
  }
}

}  // namespace

bool IsAsfHeader(const uint8_t* p) { return Is(p, kHeaderObject); }

bool ReadAsf(const std::string& path, AsfInfo& info, std::string& error) {
  info = AsfInfo{};
  File file(path);
  if (!file.ok()) {
    error = "cannot open '" + path + "'";
    return false;
  }
  info.file_size = file.Size();
  uint8_t top[30];
  if (info.file_size < sizeof top || !file.ReadAt(0, top, sizeof top) || !IsAsfHeader(top)) {
    error = "no ASF header object";
    return false;
  }
  info.header_size = load_u64le(top + 16);
  if (info.header_size < sizeof top || info.header_size > info.file_size ||
      info.header_size > kMaxHeaderSize) {
    error = "ASF header object size " + std::to_string(info.header_size) + " is impossible";
    return false;
  }
  std::vector<uint8_t> header(static_cast<size_t>(info.header_size));
  if (!file.ReadAt(0, header.data(), header.size())) {
    error = "cannot read the ASF header";
    return false;
  }
  ReadHeaderObjects(header, info);
  info.streamed = (info.flags & 1) != 0 && !info.streams.empty();
  for (const AsfStream& s : info.streams) {
    if (!s.has_extended || s.declared_seekable) info.streamed = false;
  }
  uint64_t data_end = info.file_size;
  ReadData(file, info.header_size, info, data_end);
  ReadTrailingObjects(file, data_end, info);
  return true;
}

}  // namespace kestrum_cli
