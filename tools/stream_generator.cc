#include "stream_generator.h"

#include <algorithm>
#include <vector>

#include "base/bytes.h"
#include "random.h"
#include "stream_format/file_header.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

using kestrum::store_u16le;
using kestrum::store_u32le;

constexpr uint32_t kExplicitVersion = 0x20090101;
constexpr uint32_t kCodeVersion = 0x20031106;
constexpr uint32_t kVideoBlockLimit = 400000;  // video is split into blocks of at most this
constexpr uint32_t kKeyWeight = 5;             // a start group is this many times larger

// Start groups pass the start rule under every stream type (group type with
// low bits set, frame type 0x1001); the others pass under none.
constexpr uint32_t kStartGroupType = 0x1001;
constexpr uint32_t kStartFrameType = 0x1001;
constexpr uint32_t kOtherGroupType = 0x1000;
constexpr uint32_t kOtherFrameType = 0x1003;

uint16_t VideoStandard(const GenerateOptions& o) {
  if (o.video_standard >= 0) return static_cast<uint16_t>(o.video_standard);
  if (!o.explicit_size) return 0x1001;
  const bool pal = o.height == 576 || o.height == 288 || o.height == 144 || o.height == 72;
  return pal ? 0x1001 : 0x1002;
}

void BuildHeader(const GenerateOptions& o, uint32_t bitrate, uint8_t* h) {
  std::fill(h, h + 40, uint8_t{0});
  store_u32le(h, 1);
  store_u32le(h + 8, o.explicit_size ? kExplicitVersion : kCodeVersion);
  store_u16le(h + 16, o.stream_type);
  store_u16le(h + 18, VideoStandard(o));
  const uint32_t kbps = bitrate / 1000;
  if (kbps <= 0xFFFF) {
    store_u16le(h + 22, static_cast<uint16_t>(kbps));
    store_u32le(h + 24, 1000);
  } else {
    store_u16le(h + 22, static_cast<uint16_t>(std::min<uint32_t>(bitrate / 1000000, 0xFFFF)));
    store_u32le(h + 24, 1000000);
  }
  if (o.explicit_size) {
    store_u16le(h + 28, o.width);
    store_u16le(h + 30, o.height);
  } else {
    store_u32le(h + 28, o.resolution);
  }
}

uint32_t Bitrate(const GenerateOptions& o) {
  if (o.bitrate != 0) return o.bitrate;
  uint8_t header[40];
  BuildHeader(o, 0, header);
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  const double area = static_cast<double>(std::max(decoded.picture_width, 16)) *
                      static_cast<double>(std::max(decoded.picture_height, 16));
  return static_cast<uint32_t>(std::max(64000.0, 2000000.0 * area / (704.0 * 576.0)));
}

struct PlannedBlock {
  uint16_t kind;
  uint32_t length;
};

// Bytes that never hold 0x01, so no group start hides in junk or in a
// malformed group (each is then exactly one skipped region when read back).
void FillWithoutStartByte(Random& random, uint8_t* out, size_t n) {
  random.Fill(out, n);
  for (size_t i = 0; i < n; ++i) {
    if (out[i] == 0x01) out[i] = 0x02;
  }
}

class Writer {
 public:
  Writer(const std::function<bool(const uint8_t*, size_t)>& write, GenerateSummary& summary)
      : write_(write), summary_(summary) {}
  bool Put(const uint8_t* p, size_t n) {
    summary_.bytes += n;
    return write_(p, n);
  }

 private:
  const std::function<bool(const uint8_t*, size_t)>& write_;
  GenerateSummary& summary_;
};

// Lays out one group in `out`: header fields, then each block with a random
// payload.
void BuildGroup(Random& random, uint64_t index, bool start, uint32_t gop_position,
                const std::vector<PlannedBlock>& blocks, uint32_t picture,
                std::vector<uint8_t>& out) {
  size_t total = 48;
  for (const PlannedBlock& b : blocks) total += 20 + b.length;
  out.assign(total, 0);
  uint8_t* g = out.data();
  const uint32_t time_ms = static_cast<uint32_t>(index * 40);
  store_u32le(g, 1);
  store_u32le(g + 4, 0x1000u + static_cast<uint32_t>(index));
  store_u32le(g + 12, start ? kStartGroupType : kOtherGroupType);
  store_u32le(g + 16, 0x1000u + static_cast<uint32_t>(blocks.size()));
  store_u32le(g + 24, start ? kStartFrameType : kOtherFrameType);
  store_u32le(g + 28, 0x1000u + gop_position);
  store_u32le(g + 32, time_ms);
  store_u32le(g + 36, picture);
  size_t at = 48;
  for (const PlannedBlock& b : blocks) {
    store_u16le(g + at, b.kind);
    store_u32le(g + at + 4, time_ms);
    store_u32le(g + at + 16, b.length);
    random.Fill(g + at + 20, b.length);
    at += 20 + b.length;
  }
}

// One malformed group, of three kinds in turn: a block kind out of range, a
// payload length of 500000, a group type other than 0x1000/0x1001.
void BuildMalformed(Random& random, uint64_t nth, std::vector<uint8_t>& out) {
  const uint32_t variant = static_cast<uint32_t>(nth % 3);
  // Up to 250 bytes: the length field then holds no 0x01 byte either.
  const uint32_t stored = random.Between(2, 250);
  out.assign(48 + 20 + stored, 0);
  uint8_t* g = out.data();
  store_u32le(g, 1);
  store_u32le(g + 12, variant == 2 ? 0x1002 : 0x1000);
  store_u32le(g + 16, 0x1001);
  store_u32le(g + 24, kOtherFrameType);
  store_u16le(g + 48, variant == 0 ? 0x1006 : 0x1004);
  store_u32le(g + 48 + 16, variant == 1 ? 500000 : stored);
  FillWithoutStartByte(random, g + 68, stored);
}

}  // namespace

uint32_t AverageGroupBytes(const GenerateOptions& options) {
  return std::max<uint32_t>(Bitrate(options) / 8 / 25, 64);
}

bool GenerateStream(const GenerateOptions& o,
                    const std::function<bool(const uint8_t*, size_t)>& write,
                    const std::function<void(uint64_t)>& progress, GenerateSummary& summary) {
  summary = GenerateSummary{};
  Random random(o.random_state);
  Writer out(write, summary);
  const uint32_t bitrate = Bitrate(o);
  uint8_t header[40];
  BuildHeader(o, bitrate, header);
  if (!out.Put(header, sizeof header)) return false;
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  const uint32_t picture = (static_cast<uint32_t>(decoded.picture_width & 0xFFFF) << 16) |
                           static_cast<uint32_t>(decoded.picture_height & 0xFFFF);

  // Average group size a; with one start group of weight kKeyWeight per K
  // groups: other = a*K / (K + kKeyWeight - 1), start = kKeyWeight * other.
  const uint64_t k = std::max<uint32_t>(o.key_interval, 1);
  const uint64_t average = AverageGroupBytes(o);
  summary.average_group = static_cast<uint32_t>(average);
  const uint64_t other_size = std::max<uint64_t>(average * k / (k + kKeyWeight - 1), 16);
  const uint64_t start_size = kKeyWeight * other_size;
  const uint64_t interval =
      o.problem_interval != 0 ? o.problem_interval : std::max<uint64_t>(o.frames / 4, 1);

  std::vector<uint8_t> group;
  std::vector<PlannedBlock> blocks;
  for (uint64_t i = 0; i < o.frames; ++i) {
    const bool start = i % k == 0;
    const uint64_t base = start ? start_size : other_size;
    const uint64_t video = std::max<uint64_t>(base * random.Between(75, 125) / 100, 1);
    uint64_t pieces = (video + kVideoBlockLimit - 1) / kVideoBlockLimit;
    if (pieces == 1 && !start && video >= 3 && random.Chance(1, 10)) pieces = random.Between(2, 3);
    pieces = std::min<uint64_t>(pieces, 250);
    const uint16_t video_kind = start ? 0x1003 : (random.Chance(1, 20) ? 0x1005 : 0x1004);

    blocks.clear();
    const bool audio = random.Chance(1, 2) && !o.video_only;
    const bool audio_first = random.Chance(1, 2);
    const PlannedBlock audio_block{0x1001, random.Between(320, 640)};
    if (audio && audio_first) blocks.push_back(audio_block);
    for (uint64_t p = 0; p < pieces; ++p) {
      const uint64_t share = video / pieces + (p < video % pieces ? 1 : 0);
      blocks.push_back({video_kind, static_cast<uint32_t>(std::min<uint64_t>(share, 499999))});
    }
    if (audio && !audio_first) blocks.push_back(audio_block);
    if (random.Chance(1, 20) && !o.video_only) blocks.push_back({0x1002, random.Between(16, 128)});

    BuildGroup(random, i, start, static_cast<uint32_t>(i % k), blocks, picture, group);
    const bool last = i + 1 == o.frames;
    if (last && o.truncate) {
      if (!out.Put(group.data(), std::max<size_t>(group.size() / 2, 1))) return false;
    } else {
      if (!out.Put(group.data(), group.size())) return false;
      ++summary.groups;
      if (start) ++summary.start_groups;
      for (const PlannedBlock& b : blocks) ++summary.blocks[b.kind - 0x1001];
    }

    if ((i + 1) % interval == 0 && !last) {
      if (o.malformed) {
        BuildMalformed(random, summary.malformed_groups, group);
        if (!out.Put(group.data(), group.size())) return false;
        ++summary.malformed_groups;
      }
      if (o.junk) {
        group.resize(random.Between(64, 4096));
        FillWithoutStartByte(random, group.data(), group.size());
        if (!out.Put(group.data(), group.size())) return false;
        ++summary.junk_runs;
      }
    }
    if (progress) progress(summary.bytes);
  }
  return true;
}

}  // namespace kestrum_cli
