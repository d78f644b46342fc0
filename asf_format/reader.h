// The one reader of ASF files: the header objects, the data packets with the
// samples (media objects) reassembled from their payloads, and the objects
// after the data. Bounded: every length read from the file is checked
// against the bytes really there, the header it holds is at most 64 MiB, a
// sample at most kMaxSampleSize bytes, and the packets are read one at a
// time from the source, so a file of any length is walked in little memory.
//
// Two ways of reading:
//  - kDamage (the default): whatever a file holds, damage is told as
//    problems, in the order it is met, and reading goes on past it ("packet 7
//    does not parse", "sample 12 of stream 8 is cut: 100 of its 5000 bytes
//    are in the file").
//  - kLayout: the file must also be laid out exactly as this system's muxer
//    lays it out (error correction data, 8 bytes of replicated data, zero
//    padding, equal file IDs, whole packets in a finished file, an index
//    that points at packets there are ...). The first thing that is not so
//    is the one problem, and reading stops there. A file that was never
//    ended may end in a cut packet or a cut sample: that is no problem.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asf_format/objects.h"

namespace kestrum::asf {

// Where the reader's bytes come from.
class ReadSource {
 public:
  virtual ~ReadSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly `size` bytes at `offset`; false when they cannot all be read.
  [[nodiscard]] virtual bool ReadAt(uint64_t offset, uint8_t* data, size_t size) = 0;
};

class MemorySource final : public ReadSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  [[nodiscard]] bool ReadAt(uint64_t offset, uint8_t* data, size_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// The file at `path`, read as it stands; null when it cannot be opened.
std::unique_ptr<ReadSource> OpenReadFile(const std::string& path);

enum class ReadChecks { kDamage, kLayout };

struct ReadOptions {
  ReadChecks checks = ReadChecks::kDamage;
  // False: samples come without their bytes (counting and timing only).
  // A sample that says it holds kMaxSampleSize bytes or more, which no
  // writer makes, comes without them either way: a file cannot make the
  // reader hold more than that for one sample.
  bool keep_payload = true;
};

struct ObjectInfo {
  Guid guid;
  uint64_t offset = 0;  // in the file
  uint64_t size = 0;
};

struct StreamDescription {
  uint16_t number = 0;
  MediaKind kind = MediaKind::kOther;
  bool declared = false;           // has a Stream Properties object
  bool has_extended = false;       // has Extended Stream Properties
  bool declared_seekable = false;  // which say so
  // Video: the format data, a BITMAPINFOHEADER and its codec data (the
  // stream's own header, for this system's files); empty when it is short.
  std::vector<uint8_t> format;
  int32_t width = 0;   // biWidth
  int32_t height = 0;  // biHeight
  uint32_t fourcc = 0;
};

struct HeaderInfo {
  uint64_t source_size = 0;  // the bytes there are
  uint64_t header_size = 0;  // the Header Object's
  uint32_t header_object_count = 0;
  std::vector<ObjectInfo> header_children;
  std::vector<ObjectInfo> extension_children;
  // File Properties
  bool has_file_properties = false;
  ObjectInfo file_properties;
  uint64_t file_size = 0, packet_count = 0, play_duration = 0, send_duration = 0;
  uint64_t creation_time = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  uint64_t preroll = 0;  // ms
  uint32_t flags = 0;    // kFileFlagBroadcast: not ended; kFileFlagSeekable
  uint32_t packet_size = 0;  // 0 unless the minimum and maximum agree
  std::string title;         // UTF-8
  std::string description;
  std::vector<StreamDescription> streams;  // in the order they are met
  // Written as a stream, where nothing could be patched: Broadcast set and
  // every stream declared not seekable (no index to come).
  bool streamed = false;
  // Data Object
  bool has_data = false;
  uint64_t data_offset = 0, data_size = 0, data_packet_count = 0;

  // The first header child or Header Extension child with this GUID.
  const ObjectInfo* Find(const Guid& guid) const;
};

struct PacketInfo {
  bool multiple = false;
  uint32_t payloads = 0;
  uint32_t padding = 0;
  uint32_t send_ms = 0;
};

// One sample, in the order samples end in the data.
struct MediaObject {
  uint8_t stream = 0;
  uint8_t object_number = 0;
  bool key = false;
  uint32_t presentation_ms = 0;  // preroll included
  uint32_t size = 0;             // as its replicated data says; 0 when it has none
  uint64_t first_packet = 0;
  uint64_t last_packet = 0;
  // Fewer of its bytes are in the file than its size: a later sample of its
  // stream began first, a fragment did not continue it, or the data ended.
  bool cut = false;
  uint32_t have = 0;           // its bytes in the file
  std::vector<uint8_t> bytes;  // with keep_payload, below kMaxSampleSize
};

struct IndexInfo {
  uint64_t offset = 0;
  uint64_t interval = 0;
  uint32_t max_packet_count = 0;
  uint32_t declared_entries = 0;  // as the object says
  // Packet number, packet count; those that are in the object.
  std::vector<std::pair<uint32_t, uint16_t>> entries;
};

class Reader {
 public:
  explicit Reader(ReadSource& source, ReadOptions options = {});
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Reads the Header Object and the Data Object's header. False when the
  // source has no readable ASF header (error() says why); damage past it goes
  // to problems().
  [[nodiscard]] bool Open();
  const HeaderInfo& header() const;
  const std::string& error() const;

  // The next sample, whole or cut; false once the data are walked (or, with
  // kLayout, at the first problem). Then the objects after the data are read.
  [[nodiscard]] bool NextSample(MediaObject* sample);

  // Data packets walked so far, and, with kLayout, what each held.
  uint64_t packets_read() const;
  const std::vector<PacketInfo>& packets() const;
  // Bytes after the last whole packet of a file that was not ended.
  bool trailing_bytes() const;
  // After the walk: the Simple Index objects, and whether the last object
  // after the data is cut short by the end of the file.
  const std::vector<IndexInfo>& indexes() const;
  bool truncated_index() const;

  // The first kProblemsKept problems met, in order, and how many were met
  // in all: a file damaged throughout costs no more memory than a whole one.
  static constexpr size_t kProblemsKept = 100;
  const std::vector<std::string>& problems() const;
  uint64_t problem_count() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A whole file in memory read with kLayout, for checks of what the muxer
// wrote: the header, every packet, every whole sample with its bytes (cut
// ones, which only a file that was not ended may have, are counted), the
// indexes, and the first problem (empty when everything added up).
struct AsfFile : HeaderInfo {
  std::string error;
  std::vector<PacketInfo> packets;
  std::vector<MediaObject> samples;
  uint64_t cut_samples = 0;
  bool trailing_bytes = false;
  std::vector<IndexInfo> indexes;
  bool truncated_index = false;
};
AsfFile ReadAsfFile(const std::vector<uint8_t>& bytes);

// Whether the 16 bytes at `p` are the Header Object's GUID.
bool IsAsfHeader(const uint8_t* p);

}  // namespace kestrum::asf
