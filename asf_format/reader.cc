#include "asf_format/reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>

#include "asf_format/byte_reader.h"
#include "asf_format/header_objects.h"
#include "asf_format/muxer.h"
#include "asf_format/object_walk.h"
#include "asf_format/objects.h"
#include "asf_format/packet_layout.h"
#include "base/bytes.h"
#include "base/utf16.h"
#include "base/utf8.h"

namespace kestrum::asf {
namespace {

constexpr uint64_t kMaxHeaderSize = uint64_t{64} << 20;
constexpr uint32_t kMaxPacketSize = uint32_t{1} << 20;
constexpr uint32_t kMinLaidOutPacketSize = 32;
constexpr size_t kStreamSlots = 128;

// UTF-16LE (n bytes, up to a terminating zero) as UTF-8.
std::string Utf8FromUtf16(const uint8_t* p, size_t n) {
  std::string out;
  DecodeUtf16(
      n / 2, [p](size_t i) { return load_u16le(p + 2 * i); },
      [&out](uint32_t code, char16_t) { AppendUtf8(out, code); });
  return out;
}

// Where the reading stands.
enum class Phase {
  kHeader,   // Open has not read a header
  kPackets,  // the data packets, one at a time
  kTrailer,  // the packets walked, or none to walk: the objects after them next
  kDone,     // all read
  kStopped,  // kLayout: at the first problem
};

// What a packet's header says its payloads are.
struct PacketHead {
  PacketInfo info;
  uint32_t properties = 0;   // the property flags: the payload fields' lengths
  uint32_t length_type = 0;  // of the payloads' lengths, in a multiple-payload packet
};

// A payload's fields before its replicated data.
struct PayloadHead {
  uint32_t stream_byte = 0, object_number = 0, offset = 0, replicated_size = 0;
};

// A sample whose payloads are being gathered.
struct OpenSample {
  bool open = false;
  uint64_t number = 0;  // from 1, among the samples its stream began
  MediaObject object;
};

}  // namespace

bool MemorySource::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  if (offset > size_ || size > size_ - offset) return false;
  if (size != 0) std::memcpy(data, data_ + offset, size);
  return true;
}

const ObjectInfo* HeaderInfo::Find(const Guid& guid) const {
  for (const auto* list : {&header_children, &extension_children}) {
    for (const ObjectInfo& o : *list) {
      if (o.guid == guid) return &o;
    }
  }
  return nullptr;
}

bool IsAsfHeader(const uint8_t* p) { return LoadGuid(p) == kHeaderObject; }

struct Reader::State {
  State(ReadSource& s, ReadOptions o) : source(s), options(o) {}

  bool layout() const { return options.checks == ReadChecks::kLayout; }
  // Records a problem; false with kLayout, which stops at the first.
  bool Problem(const std::string& what) {
    Note(what);
    if (layout()) phase = Phase::kStopped;
    return !layout();
  }
  // Records a problem and reads on.
  void Note(const std::string& what) {
    if (problems.size() < kProblemsKept) problems.push_back(what);
    ++problem_count;
  }
  StreamDescription& StreamNumbered(uint16_t number);

  void ReadHeaderObjects(const std::vector<uint8_t>& bytes);
  void ReadFileProperties(const uint8_t* o, size_t size);
  void ReadStreamProperties(const uint8_t* o, size_t size);
  void ReadContentDescription(const uint8_t* o, size_t size);
  void ReadExtendedContentDescription(const uint8_t* o, size_t size);
  void ReadHeaderExtension(const uint8_t* o, uint64_t offset, size_t size);
  void ReadDataObject();

  void ReadPacket(uint64_t number);
  bool ParsePacket(uint64_t number, const uint8_t* p, size_t size, std::string* why);
  bool ParsePacketHead(ByteReader& r, size_t size, PacketHead* head, std::string* why);
  bool ParsePayload(uint64_t number, ByteReader& r, const PacketHead& head, std::string* why);
  bool ParseCompressed(uint64_t number, ByteReader& r, const PacketHead& head,
                       const PayloadHead& payload, std::string* why);
  bool AddFragment(uint64_t packet, uint32_t stream_byte, uint32_t object_number,
                   uint32_t offset, const uint8_t* replicated, uint32_t replicated_size,
                   const uint8_t* data, uint32_t length, std::string* why);
  void Cut(OpenSample& o);
  void EndOfData();
  void ReadTrailer();

  ReadSource& source;
  const ReadOptions options;
  HeaderInfo header;
  std::string error;
  std::vector<std::string> problems;
  uint64_t problem_count = 0;
  Phase phase = Phase::kHeader;
  bool stopped() const { return phase == Phase::kStopped; }

  uint64_t packets_start = 0, data_end = 0, whole_packets = 0, packets_read = 0;
  bool trailing = false;
  bool packet_problem_told = false;
  std::vector<uint8_t> packet;
  std::vector<PacketInfo> packets;
  std::array<OpenSample, kStreamSlots> open;
  std::array<uint64_t, kStreamSlots> started{};
  std::deque<MediaObject> ready;
  std::vector<IndexInfo> indexes;
  bool truncated_index = false;
};

StreamDescription& Reader::State::StreamNumbered(uint16_t number) {
  for (StreamDescription& s : header.streams) {
    if (s.number == number) return s;
  }
  header.streams.push_back(StreamDescription{});
  header.streams.back().number = number;
  return header.streams.back();
}

void Reader::State::ReadFileProperties(const uint8_t* o, size_t size) {
  if (size < kFilePropertiesSize) {
    (void)Problem(layout() ? "File Properties" : "file properties object too short");
    return;
  }
  header.has_file_properties = true;
  const FilePropertiesFields f = ReadFilePropertiesFields(o);
  header.file_size = f.file_size;
  header.creation_time = f.creation_time;
  header.packet_count = f.packet_count;
  header.play_duration = f.play_duration;
  header.send_duration = f.send_duration;
  header.preroll = f.preroll;
  header.flags = f.flags;
  const uint32_t min_packet = f.min_packet_size;
  const uint32_t max_packet = f.max_packet_size;
  if (min_packet == max_packet) header.packet_size = min_packet;
  if (layout() && (size != kFilePropertiesSize || min_packet != max_packet ||
                   min_packet < kMinLaidOutPacketSize)) {
    (void)Problem(size != kFilePropertiesSize ? "File Properties" : "packet sizes");
  }
}

void Reader::State::ReadStreamProperties(const uint8_t* o, size_t size) {
  if (size < kStreamPropertiesFixedSize) {
    (void)Problem("stream properties object too short");
    return;
  }
  const StreamPropertiesFields f = ReadStreamPropertiesFields(o, size);
  StreamDescription& s = StreamNumbered(f.number);
  s.declared = true;
  s.kind = f.kind;
  if (s.kind != MediaKind::kVideo) return;
  constexpr size_t kLeast = kVideoTypeSpecificHeaderSize + kBitmapInfoHeaderSize;
  if (f.type_specific_size < kLeast || !f.fits) {
    (void)Problem("video format of stream " + std::to_string(f.number) + " too short");
    return;
  }
  const uint8_t* format = f.type_specific + kVideoTypeSpecificHeaderSize;
  s.format.assign(format, f.type_specific + f.type_specific_size);
  s.width = static_cast<int32_t>(load_u32le(format + kBihWidthOffset));
  s.height = static_cast<int32_t>(load_u32le(format + kBihHeightOffset));
  s.fourcc = load_u32le(format + kBihCompressionOffset);
}

void Reader::State::ReadContentDescription(const uint8_t* o, size_t size) {
  if (size < kDescriptionStringsOffset) {
    (void)Problem("content description object too short");
    return;
  }
  DescriptionString strings[kDescriptionStringCount];
  const size_t read = ReadDescriptionStrings(o, size, strings);
  if (read > 0) header.title = Utf8FromUtf16(strings[0].bytes, strings[0].size);
  if (read > 3) header.description = Utf8FromUtf16(strings[3].bytes, strings[3].size);
  if (read < kDescriptionStringCount) {
    (void)Problem("content description strings run past the object");
  }
}

// Name/value attributes; "Title" and "Description" strings fill in what the
// Content Description object did not give.
void Reader::State::ReadExtendedContentDescription(const uint8_t* o, size_t size) {
  ByteReader r(o, size);
  uint32_t count = 0;
  if (!r.Skip(kObjectHeaderSize) || !r.U16(&count)) return;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name_length = 0, type = 0, value_length = 0;
    const uint8_t* name = nullptr;
    const uint8_t* value = nullptr;
    if (!r.U16(&name_length) || !r.Take(name_length, &name) || !r.U16(&type) ||
        !r.U16(&value_length) || !r.Take(value_length, &value)) {
      return;
    }
    if (type != 0) continue;
    const std::string text = Utf8FromUtf16(name, name_length);
    if (text == "Title" && header.title.empty()) {
      header.title = Utf8FromUtf16(value, value_length);
    }
    if (text == "Description" && header.description.empty()) {
      header.description = Utf8FromUtf16(value, value_length);
    }
  }
}

// The Extended Stream Properties inside the Header Extension: whether each
// stream says it is seekable.
void Reader::State::ReadHeaderExtension(const uint8_t* o, uint64_t offset, size_t size) {
  if (size < kHeaderExtensionFixedSize) {
    if (layout()) (void)Problem("header extension data size");
    return;
  }
  const uint64_t data_size = load_u32le(o + kHeaderExtensionDataSizeOffset);
  if (layout() && kHeaderExtensionFixedSize + data_size != size) {
    (void)Problem("header extension data size");
    return;
  }
  ObjectWalk children(o, kHeaderExtensionFixedSize, size);
  for (ObjectWalk::Object c; children.Next(&c);) {
    header.extension_children.push_back({c.guid, offset + c.offset, c.size});
    if (c.guid == kExtendedStreamPropertiesObject && c.size >= kExtendedStreamNumberOffset + 2) {
      const ExtendedStreamFields e = ReadExtendedStreamFields(c.bytes, c.size);
      StreamDescription& s = StreamNumbered(e.number & kStreamNumberMask);
      s.has_extended = true;
      s.declared_seekable = (e.flags & kExtendedStreamSeekable) != 0;
    }
  }
  if (layout() && (children.bad() || !children.at_end())) (void)Problem("extension child");
}

void Reader::State::ReadHeaderObjects(const std::vector<uint8_t>& bytes) {
  ObjectWalk walk(bytes.data(), kHeaderObjectFixedSize, bytes.size());
  for (ObjectWalk::Object o; !stopped() && walk.Next(&o);) {
    header.header_children.push_back({o.guid, o.offset, o.size});
    if (o.guid == kFilePropertiesObject) {
      header.file_properties = header.header_children.back();
      ReadFileProperties(o.bytes, o.size);
    } else if (o.guid == kStreamPropertiesObject) {
      ReadStreamProperties(o.bytes, o.size);
    } else if (o.guid == kContentDescriptionObject) {
      ReadContentDescription(o.bytes, o.size);
    } else if (o.guid == kExtendedContentDescriptionObject) {
      ReadExtendedContentDescription(o.bytes, o.size);
    } else if (o.guid == kHeaderExtensionObject) {
      ReadHeaderExtension(o.bytes, o.offset, o.size);
    }
  }
  if (walk.bad()) {
    (void)Problem(layout() ? "header child size"
                           : "header object at offset " + std::to_string(walk.position()) +
                                 " has a bad size");
    return;
  }
  if (!layout() || stopped()) return;
  if (!walk.at_end()) {
    (void)Problem("header child framing");
  } else if (header.header_children.size() != header.header_object_count) {
    (void)Problem("header object count");
  } else if (!header.has_file_properties) {
    (void)Problem("File Properties");
  }
}

void Reader::State::ReadDataObject() {
  const uint64_t start = header.header_size;
  uint8_t head[kDataObjectHeaderSize];
  data_end = header.source_size;
  phase = Phase::kTrailer;  // until there are packets to walk
  if (header.source_size - start < sizeof head || !source.ReadAt(start, head, sizeof head) ||
      LoadGuid(head) != kDataObject) {
    (void)Problem(layout() ? "no Data Object" : "no data object after the header");
    return;
  }
  header.has_data = true;
  header.data_offset = start;
  header.data_size = load_u64le(head + kObjectSizeOffset);
  header.data_packet_count = load_u64le(head + kDataObjectPacketCountOffset);
  const bool finished = (header.flags & kFileFlagBroadcast) == 0;
  packets_start = start + sizeof head;
  if (layout()) {
    uint8_t file_id[kGuidSize] = {};
    if (!source.ReadAt(header.file_properties.offset + kFileIdOffset, file_id, kGuidSize) ||
        std::memcmp(file_id, head + kFileIdOffset, kGuidSize) != 0) {
      (void)Problem("file IDs differ");
      return;
    }
    if (head[kDataObjectReservedOffset] != 1 || head[kDataObjectReservedOffset + 1] != 1) {
      (void)Problem("data reserved");
      return;
    }
    if (finished) {
      if (header.data_size < sizeof head || header.data_size > header.source_size - start) {
        (void)Problem("data size past the end");
        return;
      }
      data_end = start + header.data_size;
    }
  } else if (finished) {
    if (header.data_size >= sizeof head && header.data_size <= header.source_size - start) {
      data_end = start + header.data_size;
    } else {
      (void)Problem("data object size does not match the file");
    }
  }
  if (header.packet_size == 0 || header.packet_size > kMaxPacketSize) {
    (void)Problem("no usable fixed packet size");
    return;
  }
  whole_packets = (data_end - packets_start) / header.packet_size;
  trailing = packets_start + whole_packets * header.packet_size != data_end;
  if (layout() && finished && trailing) {
    (void)Problem("data size not whole packets");
    return;
  }
  packet.resize(header.packet_size);
  phase = Phase::kPackets;
}

void Reader::State::Cut(OpenSample& o) {
  MediaObject& s = o.object;
  s.cut = true;
  if (!layout()) {
    Note("sample " + std::to_string(o.number) + " of stream " +
                       std::to_string(s.stream) + " is cut: " + std::to_string(s.have) +
                       " of its " + std::to_string(s.size) + " bytes are in the file");
  }
  ready.push_back(std::move(s));
  o = OpenSample{};
}

// One payload: a fragment, `length` bytes at `offset` into its sample.
bool Reader::State::AddFragment(uint64_t packet_number, uint32_t stream_byte,
                                uint32_t object_number, uint32_t offset,
                                const uint8_t* replicated, uint32_t replicated_size,
                                const uint8_t* data, uint32_t length, std::string* why) {
  const uint8_t stream = static_cast<uint8_t>(stream_byte & kStreamNumberMask);
  const bool key = (stream_byte & kKeyFrameBit) != 0;
  const bool has_replicated = replicated != nullptr && replicated_size >= 8;
  const uint32_t size = has_replicated ? load_u32le(replicated) : 0;
  const uint32_t presentation = has_replicated ? load_u32le(replicated + 4) : 0;
  OpenSample& o = open[stream];
  if (offset == 0) {
    ++started[stream];
    if (o.open) {
      if (layout()) return (*why = "object replaced before its end", false);
      Cut(o);
    }
    MediaObject s;
    s.stream = stream;
    s.object_number = static_cast<uint8_t>(object_number);
    s.key = key;
    s.presentation_ms = presentation;
    s.size = size;
    s.first_packet = s.last_packet = packet_number;
    if (!has_replicated) {  // nothing says how long it is: it is what it is
      ready.push_back(std::move(s));
      return true;
    }
    o.open = true;
    o.number = started[stream];
    o.object = std::move(s);
  } else if (!o.open || offset != o.object.have) {
    if (layout()) return (*why = "fragment does not continue its object", false);
    if (o.open) Cut(o);
    return true;
  } else if (layout() && (o.object.size != size || o.object.object_number != object_number ||
                          o.object.presentation_ms != presentation || o.object.key != key)) {
    return (*why = "fragment does not continue its object", false);
  }
  MediaObject& s = o.object;
  if (layout() && offset + uint64_t{length} > s.size) {
    return (*why = "fragment past object", false);
  }
  const uint32_t take = std::min(length, s.size - s.have);
  if (options.keep_payload && s.size < kMaxSampleSize) {
    s.bytes.insert(s.bytes.end(), data, data + take);
  }
  s.have += take;
  s.last_packet = packet_number;
  if (s.have >= s.size) {
    ready.push_back(std::move(s));
    o = OpenSample{};
  }
  return true;
}

// The packet's header, through the payload flags of a multiple-payload
// packet; `r` is left at its first payload, limited to the bytes before its
// padding.
bool Reader::State::ParsePacketHead(ByteReader& r, size_t size, PacketHead* head,
                                    std::string* why) {
  uint32_t flags = 0;
  if (!r.U8(&flags)) return (*why = "error correction", false);
  if ((flags & kErrorCorrectionPresent) != 0) {
    const uint8_t* correction = nullptr;
    if (!r.Take(flags & kErrorCorrectionLengthMask, &correction)) {
      return (*why = "error correction", false);
    }
    if (layout() && (flags != kErrorCorrectionFlags || correction[0] != 0 || correction[1] != 0)) {
      return (*why = "error correction", false);
    }
    if (!r.U8(&flags)) return (*why = "fields past the packet", false);
  } else if (layout()) {
    return (*why = "error correction", false);
  }
  uint32_t packet_length = 0, sequence = 0, padding = 0, send = 0, duration = 0;
  if (!r.U8(&head->properties) || !r.Var(flags >> 5, &packet_length) ||
      !r.Var(flags >> 1, &sequence) || !r.Var(flags >> 3, &padding) || !r.U32(&send) ||
      !r.U16(&duration)) {
    return (*why = "fields past the packet", false);
  }
  if (((flags >> 5) & 3) != 0) {
    if (layout() && packet_length != size) return (*why = "length", false);
    if (packet_length != 0) r.Limit(packet_length);
  }
  if (padding > r.left()) return (*why = "padding", false);
  r.Limit(r.position() + r.left() - padding);
  PacketInfo& info = head->info;
  info.multiple = (flags & kMultiplePayloadsBit) != 0;
  info.padding = padding;
  info.send_ms = send;
  info.payloads = 1;
  if (info.multiple) {
    uint32_t payload_flags = 0;
    if (!r.U8(&payload_flags)) return (*why = "fields past the packet", false);
    info.payloads = payload_flags & kPayloadCountMask;
    head->length_type = payload_flags >> 6;
    if (layout() && info.payloads == 0) return (*why = "no payloads", false);
  }
  return true;
}

// A compressed payload (one byte of replicated data, the presentation time
// in the offset field): sub-payloads, each a whole sample.
bool Reader::State::ParseCompressed(uint64_t number, ByteReader& r, const PacketHead& head,
                                    const PayloadHead& payload, std::string* why) {
  uint32_t delta = 0, length = 0;
  const uint8_t* data = nullptr;
  if (!r.U8(&delta) ||
      !(head.info.multiple ? r.Var(head.length_type, &length)
                           : (length = static_cast<uint32_t>(r.left()), true)) ||
      !r.Take(length, &data)) {
    return (*why = "payload length", false);
  }
  for (size_t q = 0; q < length;) {
    const uint32_t sub = data[q];
    if (sub + 1 > length - q) return (*why = "payload length", false);
    MediaObject s;
    s.stream = static_cast<uint8_t>(payload.stream_byte & kStreamNumberMask);
    s.object_number = static_cast<uint8_t>(payload.object_number);
    s.key = (payload.stream_byte & kKeyFrameBit) != 0;
    s.presentation_ms = payload.offset;
    s.size = s.have = sub;
    s.first_packet = s.last_packet = number;
    if (options.keep_payload) s.bytes.assign(data + q + 1, data + q + 1 + sub);
    ++started[s.stream];
    ready.push_back(std::move(s));
    q += 1 + sub;
  }
  return true;
}

bool Reader::State::ParsePayload(uint64_t number, ByteReader& r, const PacketHead& head,
                                 std::string* why) {
  PayloadHead payload;
  if (!r.U8(&payload.stream_byte)) return (*why = "fields past the packet", false);
  (void)StreamNumbered(payload.stream_byte & kStreamNumberMask);
  if (!r.Var(head.properties >> 4, &payload.object_number) ||
      !r.Var(head.properties >> 2, &payload.offset) ||
      !r.Var(head.properties, &payload.replicated_size)) {
    return (*why = "fields past the packet", false);
  }
  if (layout() && payload.replicated_size != kReplicatedDataSize) {
    return (*why = "replicated data", false);
  }
  if (payload.replicated_size == 1) return ParseCompressed(number, r, head, payload, why);
  const uint8_t* replicated = nullptr;
  const uint8_t* data = nullptr;
  uint32_t length = static_cast<uint32_t>(r.left());
  if (!r.Take(payload.replicated_size, &replicated)) return (*why = "replicated data", false);
  if (head.info.multiple) {
    if (!r.Var(head.length_type, &length)) return (*why = "payload length", false);
  } else {
    length = static_cast<uint32_t>(r.left());
  }
  if (!r.Take(length, &data) || (layout() && length == 0)) {
    return (*why = "payload length", false);
  }
  return AddFragment(number, payload.stream_byte, payload.object_number, payload.offset, replicated,
                     payload.replicated_size, data, length, why);
}

bool Reader::State::ParsePacket(uint64_t number, const uint8_t* p, size_t size, std::string* why) {
  ByteReader r(p, size);
  PacketHead head;
  if (!ParsePacketHead(r, size, &head, why)) return false;
  for (uint32_t k = 0; k < head.info.payloads; ++k) {
    if (!ParsePayload(number, r, head, why)) return false;
  }
  if (layout()) {
    if (r.left() != 0) return (*why = "payloads and padding do not fill it", false);
    for (size_t i = r.position(); i < size; ++i) {
      if (p[i] != 0) return (*why = "non-zero padding", false);
    }
    packets.push_back(head.info);
  }
  return true;
}

void Reader::State::ReadPacket(uint64_t number) {
  if (!source.ReadAt(packets_start + number * header.packet_size, packet.data(), packet.size())) {
    (void)Problem("read error in the data packets");
    if (!stopped()) phase = Phase::kTrailer;  // no more packets
    return;
  }
  ++packets_read;
  std::string why;
  if (ParsePacket(number, packet.data(), packet.size(), &why)) return;
  if (layout()) {
    (void)Problem("packet " + std::to_string(number) + ": " + why);
  } else if (!packet_problem_told) {
    Note("packet " + std::to_string(number) + " does not parse");
    packet_problem_told = true;
  }
}

void Reader::State::EndOfData() {
  phase = Phase::kTrailer;
  if (trailing && !layout()) {
    const uint64_t at = packets_start + whole_packets * header.packet_size;
    Note(std::to_string(data_end - at) + " bytes of a cut packet at the end");
  }
  const bool finished = (header.flags & kFileFlagBroadcast) == 0;
  for (const StreamDescription& s : header.streams) {
    OpenSample& o = open[s.number & kStreamNumberMask];
    if (!o.open) continue;
    if (layout() && finished) {
      (void)Problem("a sample cut short at the end of the data");
      return;
    }
    Cut(o);
  }
}

void Reader::State::ReadTrailer() {
  phase = Phase::kDone;
  uint64_t at = data_end;
  uint8_t head[kSimpleIndexFixedSize];
  while (!stopped() && at < header.source_size) {
    const uint64_t left = header.source_size - at;
    if (left < kObjectHeaderSize || !source.ReadAt(at, head, kObjectHeaderSize)) {
      if (layout()) truncated_index = true;
      return;
    }
    const uint64_t size = load_u64le(head + kObjectSizeOffset);
    if (size > left || (size < kObjectHeaderSize && !layout())) {
      if (layout()) {
        truncated_index = true;
      } else {
        Note("object at offset " + std::to_string(at) + " has a bad size");
      }
      return;
    }
    if (size < kObjectHeaderSize) {
      (void)Problem("index object size");
      return;
    }
    if (LoadGuid(head) == kSimpleIndexObject && size >= sizeof head &&
        source.ReadAt(at, head, sizeof head)) {
      IndexInfo index;
      index.offset = at;
      index.interval = load_u64le(head + kIndexIntervalOffset);
      index.max_packet_count = load_u32le(head + kIndexMaxPacketCountOffset);
      const uint32_t count = load_u32le(head + kIndexEntryCountOffset);
      index.declared_entries = count;
      const uint64_t room = (size - sizeof head) / kIndexEntrySize;
      if (layout() && sizeof head + uint64_t{count} * kIndexEntrySize != size) {
        (void)Problem("index entry count");
        return;
      }
      std::vector<uint8_t> entries(static_cast<size_t>(std::min<uint64_t>(count, room)) *
                                   kIndexEntrySize);
      if (!source.ReadAt(at + sizeof head, entries.data(), entries.size())) entries.clear();
      for (size_t e = 0; e + kIndexEntrySize <= entries.size(); e += kIndexEntrySize) {
        const uint32_t packet_number = load_u32le(entries.data() + e);
        if (layout() && packet_number >= packets_read) {
          (void)Problem("index entry past the packets");
          return;
        }
        index.entries.emplace_back(packet_number, load_u16le(entries.data() + e + 4));
      }
      indexes.push_back(std::move(index));
    }
    at += size;
  }
}

Reader::Reader(ReadSource& source, ReadOptions options)
    : state_(std::make_unique<State>(source, options)) {}
Reader::~Reader() = default;

bool Reader::Open() {
  State& s = *state_;
  HeaderInfo& h = s.header;
  h.source_size = s.source.Size();
  uint8_t top[kHeaderObjectFixedSize];
  if (h.source_size < sizeof top || !s.source.ReadAt(0, top, sizeof top) || !IsAsfHeader(top)) {
    s.error = "no ASF header object";
    return false;
  }
  h.header_size = load_u64le(top + kObjectSizeOffset);
  h.header_object_count = load_u32le(top + kHeaderObjectCountOffset);
  if (h.header_size < sizeof top || h.header_size > h.source_size ||
      h.header_size > kMaxHeaderSize) {
    s.error = "ASF header object size " + std::to_string(h.header_size) + " is impossible";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(h.header_size));
  if (!s.source.ReadAt(0, bytes.data(), bytes.size())) {
    s.error = "cannot read the ASF header";
    return false;
  }
  if (s.layout() &&
      (top[kHeaderObjectReservedOffset] != 1 || top[kHeaderObjectReservedOffset + 1] != 2)) {
    (void)s.Problem("header reserved bytes");
    return true;
  }
  s.ReadHeaderObjects(bytes);
  h.streamed = (h.flags & kFileFlagBroadcast) != 0 && !h.streams.empty();
  for (const StreamDescription& stream : h.streams) {
    if (!stream.has_extended || stream.declared_seekable) h.streamed = false;
  }
  if (!s.stopped()) s.ReadDataObject();
  return true;
}

bool Reader::NextSample(MediaObject* sample) {
  State& s = *state_;
  while (true) {
    if (s.stopped()) return false;
    if (!s.ready.empty()) {
      *sample = std::move(s.ready.front());
      s.ready.pop_front();
      return true;
    }
    if (s.phase == Phase::kTrailer) s.ReadTrailer();
    if (s.phase != Phase::kPackets) return false;
    if (s.packets_read < s.whole_packets) {
      s.ReadPacket(s.packets_read);
    } else {
      s.EndOfData();
    }
  }
}

const HeaderInfo& Reader::header() const { return state_->header; }
const std::string& Reader::error() const { return state_->error; }
uint64_t Reader::packets_read() const { return state_->packets_read; }
const std::vector<PacketInfo>& Reader::packets() const { return state_->packets; }
bool Reader::trailing_bytes() const { return state_->trailing; }
const std::vector<IndexInfo>& Reader::indexes() const { return state_->indexes; }
bool Reader::truncated_index() const { return state_->truncated_index; }
const std::vector<std::string>& Reader::problems() const { return state_->problems; }
uint64_t Reader::problem_count() const { return state_->problem_count; }

AsfFile ReadAsfFile(const std::vector<uint8_t>& bytes) {
  AsfFile f;
  MemorySource source(bytes.data(), bytes.size());
  Reader reader(source, {ReadChecks::kLayout, true});
  if (!reader.Open()) {
    f.error = reader.error();
    return f;
  }
  MediaObject sample;
  while (reader.NextSample(&sample)) {
    if (sample.cut) {
      ++f.cut_samples;
    } else {
      f.samples.push_back(std::move(sample));
    }
  }
  static_cast<HeaderInfo&>(f) = reader.header();
  if (!reader.problems().empty()) f.error = reader.problems().front();
  f.packets = reader.packets();
  f.trailing_bytes = reader.trailing_bytes();
  f.indexes = reader.indexes();
  f.truncated_index = reader.truncated_index();
  return f;
}

}  // namespace kestrum::asf
