#include "commands/stream_generator.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "commands/random.h"
#include "stream_format/file_header.h"
#include "stream_format/frame_time.h"
#include "stream_format/layout.h"
#include "stream_builder/stream_builder.h"

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

namespace {

using stream_format::Block;
using stream_format::FileHeaderBuilder;
using stream_format::Group;

constexpr uint32_t kExplicitVersion = 0x20090101;
constexpr uint32_t kCodeVersion = 0x20031106;
constexpr uint32_t kVideoBlockLimit = 400000;  // video is split into blocks of at most this
constexpr uint32_t kKeyWeight = 5;             // a start group is this many times larger
constexpr uint32_t kLargestPayload = stream_format::kPayloadLengthLimit - 1;

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

FileHeaderBuilder BuildHeader(const GenerateOptions& o, uint32_t bitrate) {
  FileHeaderBuilder h;
  h.Tag(stream_format::kFileHeaderTag)
      .Version(o.explicit_size ? kExplicitVersion : kCodeVersion)
      .StreamType(o.stream_type)
      .VideoStandard(VideoStandard(o));
  const uint32_t kbps = bitrate / 1000;
  if (kbps <= 0xFFFF) {
    h.RateFactor(static_cast<uint16_t>(kbps)).RateBase(1000);
  } else {
    h.RateFactor(static_cast<uint16_t>(std::min<uint32_t>(bitrate / 1000000, 0xFFFF)))
        .RateBase(1000000);
  }
  if (o.explicit_size) {
    h.Size(o.width, o.height);
  } else {
    h.Resolution(o.resolution);
  }
  return h;
}

}  // namespace

std::string PictureSizeRefusal(const GenerateOptions& options) {
  GenerateOptions sized = options;
  sized.stream_type = 0x1001;  // the size alone
  const stream_format::DecodedHeader decoded =
      stream_format::DecodeFileHeader(BuildHeader(sized, 0).data());
  return decoded.verdict == stream_format::HeaderVerdict::kSizeOutOfRange
             ? stream_format::RefusalText(decoded)
             : "";
}

namespace {

uint32_t Bitrate(const GenerateOptions& o) {
  if (o.bitrate != 0) return o.bitrate;
  const stream_format::DecodedHeader decoded =
      stream_format::DecodeFileHeader(BuildHeader(o, 0).data());
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

// A payload of `length` random bytes.
std::vector<uint8_t> RandomPayload(Random& random, size_t length) {
  std::vector<uint8_t> payload(length);
  random.Fill(payload.data(), length);
  return payload;
}

// One group: header fields, then each block with a random payload; each
// block carries the group's time at bytes 4..7 of its header.
std::vector<uint8_t> BuildGroup(Random& random, uint64_t index, bool start,
                                uint32_t gop_position, const std::vector<PlannedBlock>& blocks,
                                uint32_t picture) {
  const uint32_t time_ms = static_cast<uint32_t>(index * stream_format::kFrameMs);
  std::array<uint8_t, 14> carried{};
  for (size_t k = 0; k < 4; ++k) carried[2 + k] = static_cast<uint8_t>(time_ms >> (8 * k));
  Group group;
  group.FrameNumber(static_cast<uint32_t>(index))
      .GroupType(start ? kStartGroupType : kOtherGroupType)
      .FrameType(start ? kStartFrameType : kOtherFrameType)
      .Word28(stream_format::kFieldBias + gop_position)
      .Word32(time_ms)
      .Word36(picture);
  for (const PlannedBlock& b : blocks) {
    group.Add(Block(b.kind).Carried(carried).Payload(RandomPayload(random, b.length)));
  }
  return group.Bytes();
}

// One malformed group, of three kinds in turn: a block kind out of range, a
// payload length of 500000, a group type other than 0x1000/0x1001.
std::vector<uint8_t> BuildMalformed(Random& random, uint64_t nth) {
  const uint32_t variant = static_cast<uint32_t>(nth % 3);
  // Up to 250 bytes: the length field then holds no 0x01 byte either.
  const uint32_t stored = random.Between(2, 250);
  std::vector<uint8_t> payload(stored);
  FillWithoutStartByte(random, payload.data(), stored);
  return Group()
      .U32(stream_format::kGroupFrameNumberOffset, 0)
      .GroupType(variant == 2 ? 0x1002 : stream_format::kGroupTypeIntra)
      .FrameType(kOtherFrameType)
      .Word28(0)
      .Add(Block(variant == 0 ? 0x1006 : 0x1004)
               .DeclaredLength(variant == 1 ? stream_format::kPayloadLengthLimit : stored)
               .Payload(std::move(payload)))
      .Bytes();
}

}  // namespace

uint32_t AverageGroupBytes(const GenerateOptions& options) {
  if (options.largest_blocks > 0) return options.largest_blocks * kLargestPayload;
  return std::max<uint32_t>(Bitrate(options) / 8 / stream_format::kFramesPerSecond, 64);
}

bool GenerateStream(const GenerateOptions& o,
                    const std::function<bool(const uint8_t*, size_t)>& write,
                    const std::function<void(uint64_t)>& progress, GenerateSummary& summary) {
  summary = GenerateSummary{};
  Random random(o.random_state);
  Writer out(write, summary);
  const uint32_t bitrate = Bitrate(o);
  const FileHeaderBuilder header = BuildHeader(o, bitrate);
  if (!out.Put(header.data(), stream_format::kFileHeaderSize)) return false;
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header.data());
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
    uint64_t pieces = o.one_block ? 1 : (video + kVideoBlockLimit - 1) / kVideoBlockLimit;
    if (pieces == 1 && !start && video >= 3 && !o.one_block && random.Chance(1, 10)) {
      pieces = random.Between(2, 3);
    }
    pieces = std::min<uint64_t>(pieces, 250);
    const uint16_t video_kind = start ? 0x1003 : (random.Chance(1, 20) ? 0x1005 : 0x1004);

    blocks.clear();
    const bool audio = random.Chance(1, 2) && !o.video_only;
    const bool audio_first = random.Chance(1, 2);
    const PlannedBlock audio_block{0x1001, random.Between(320, 640)};
    if (audio && audio_first) blocks.push_back(audio_block);
    if (o.largest_blocks > 0) {
      blocks.insert(blocks.end(), o.largest_blocks, PlannedBlock{video_kind, kLargestPayload});
    } else {
      for (uint64_t p = 0; p < pieces; ++p) {
        const uint64_t share = video / pieces + (p < video % pieces ? 1 : 0);
        blocks.push_back({video_kind, static_cast<uint32_t>(std::min<uint64_t>(share, 499999))});
      }
    }
    if (audio && !audio_first) blocks.push_back(audio_block);
    if (random.Chance(1, 20) && !o.video_only) blocks.push_back({0x1002, random.Between(16, 128)});

    group = BuildGroup(random, i, start, static_cast<uint32_t>(i % k), blocks, picture);
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
        group = BuildMalformed(random, summary.malformed_groups);
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
