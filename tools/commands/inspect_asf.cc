// kestrum inspect of an ASF file: what the ASF component's reader finds, as
// "label: value" lines, and, with --masked, the file's bytes with its file ID
// and creation date zeroed.
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "commands/inspect_halves.h"
#include "io/kestrum_asf.h"
#include "frame/wall_clock.h"
#include "io/standard_output.h"
#include "report/json_document.h"
#include "report/json_output.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace kestrum_cli {

namespace asf = kestrum::asf;

namespace {

std::string FourccText(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

const char* KindName(asf::MediaKind kind) {
  switch (kind) {
    case asf::MediaKind::kVideo:
      return "video";
    case asf::MediaKind::kAudio:
      return "audio";
    case asf::MediaKind::kOther:
      break;
  }
  return "other";
}

// Moves `fd` to `offset`.
bool SeekTo(int fd, uint64_t offset) {
#ifdef _WIN32
  return _lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) == static_cast<__int64>(offset);
#else
  return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
#endif
}

uint64_t OffsetOf(int fd) {
#ifdef _WIN32
  const __int64 at = _lseeki64(fd, 0, SEEK_CUR);
#else
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
#endif
  return at < 0 ? 0 : static_cast<uint64_t>(at);
}

// A regular file open at a descriptor, from `base` on; the descriptor is
// the caller's.
class DescriptorSource final : public asf::ReadSource {
 public:
  DescriptorSource(int fd, uint64_t base, uint64_t size) : fd_(fd), base_(base), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (offset > size_ || size > size_ - offset || !SeekTo(fd_, base_ + offset)) return false;
    while (size > 0) {
      const auto n = ::read(fd_, data, static_cast<unsigned>(std::min<size_t>(size, 1 << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t base_, size_;
};

// When a Kestrum file's first sample came (the creation date its writer set)
// and when its last one ended (that and the duration); neither for a file
// another program wrote, whose creation date means what that program made
// it mean, nor for a date never set, and no end before the file is ended.
struct WallTimes {
  std::optional<UnixMs> start, end;
};

WallTimes WallTimesOf(const asf::HeaderInfo& h) {
  WallTimes w;
  if (!h.has_file_properties || !NotKestrumReason(h).empty()) return w;
  w.start = FromFileTime(h.creation_time);
  if (w.start && (h.flags & asf::kFileFlagBroadcast) == 0) {
    const uint64_t play_ms = h.play_duration / 10000;
    w.end = *w.start + static_cast<UnixMs>(play_ms > h.preroll ? play_ms - h.preroll : 0);
  }
  return w;
}

Json TimeJson(const std::optional<UnixMs>& ms) {
  return ms ? Json(LocalTimeText(*ms, TimeStyle::kIso8601)) : Json(nullptr);
}

struct StreamCounts {
  uint64_t samples = 0, key_samples = 0, sample_bytes = 0, cut_samples = 0;
};

void PrintHeader(const std::string& path, const asf::HeaderInfo& h, const WallTimes& wall) {
  // The name, title and description are outside text: escaped, so that
  // none of them can act on a terminal or forge a line.
  std::printf("file: %s\n", Escaped(path).c_str());
  std::printf("format: ASF\n");
  std::printf("size: %llu bytes\n", static_cast<unsigned long long>(h.source_size));
  std::printf("title: %s\n", Escaped(h.title).c_str());
  std::printf("description: %s\n", Escaped(h.description).c_str());
  if (!h.has_file_properties) return;
  const bool unfinished = (h.flags & asf::kFileFlagBroadcast) != 0;
  if (unfinished && h.streamed) {
    std::printf(
        "duration: unknown (a stream: written where it could not seek, it has no sizes, "
        "duration or index)\n");
  } else if (unfinished) {
    std::printf("duration: unknown (the file was not finished)\n");
  } else {
    const double ms = static_cast<double>(h.play_duration) / 1e4 - static_cast<double>(h.preroll);
    std::printf("duration: %.3f s\n", ms / 1000.0);
  }
  if (wall.start) std::printf("started: %s\n", LocalTimeText(*wall.start, TimeStyle::kText).c_str());
  if (wall.end) std::printf("ended: %s\n", LocalTimeText(*wall.end, TimeStyle::kText).c_str());
  std::printf("preroll: %llu ms\n", static_cast<unsigned long long>(h.preroll));
  std::printf("flags: 0x%X%s%s%s\n", h.flags, (h.flags & 1) ? " broadcast" : "",
              (h.flags & 2) ? " seekable" : "", h.streamed ? " (streamed)" : "");
}

size_t CodecDataBytes(const asf::StreamDescription& s) {
  return s.format.size() > asf::kBitmapInfoHeaderSize ? s.format.size() - asf::kBitmapInfoHeaderSize
                                                      : 0;
}

// The report as JSON (docs/json.md): the fields of the text, in numbers.
Json AsfJson(const asf::Reader& reader, const std::vector<StreamCounts>& counts,
             const std::optional<uint64_t>& last_ms, const WallTimes& wall) {
  const asf::HeaderInfo& h = reader.header();
  Json out{{"format", "ASF"},      {"size", h.source_size},
           {"title", h.title},     {"description", h.description},
           {"duration", nullptr},  {"duration_unknown", nullptr},
           {"preroll_ms", nullptr}, {"flags", nullptr},
           {"broadcast", nullptr}, {"seekable", nullptr},
           {"streamed", h.streamed},
           {"start_time", TimeJson(wall.start)},
           {"end_time", TimeJson(wall.end)}};
  if (h.has_file_properties) {
    const bool unfinished = (h.flags & asf::kFileFlagBroadcast) != 0;
    if (unfinished) {
      out["duration_unknown"] = h.streamed ? "streamed" : "unfinished";
    } else {
      const double ms = static_cast<double>(h.play_duration) / 1e4 - static_cast<double>(h.preroll);
      out["duration"] = std::round(ms) / 1000.0;
    }
    out["preroll_ms"] = h.preroll;
    out["flags"] = h.flags;
    out["broadcast"] = (h.flags & 1) != 0;
    out["seekable"] = (h.flags & 2) != 0;
  }
  out["last_sample_time"] =
      last_ms ? Json(static_cast<double>(*last_ms) / 1000.0) : Json(nullptr);
  out["packets"] = {{"read", reader.packets_read()},
                    {"size", h.packet_size},
                    {"declared", h.packet_count}};
  out["index_entries"] = reader.indexes().empty()
                             ? Json(nullptr)
                             : Json(reader.indexes().back().declared_entries);
  Json streams = Json::array();
  for (const asf::StreamDescription& s : h.streams) {
    const StreamCounts& c = counts[s.number & 0x7F];
    Json stream{{"number", s.number}, {"kind", KindName(s.kind)}};
    if (s.kind == asf::MediaKind::kVideo) {
      stream["fourcc"] = FourccText(s.fourcc);
      stream["width"] = s.width;
      stream["height"] = s.height;
      stream["codec_data_bytes"] = CodecDataBytes(s);
    }
    stream["declared"] = s.declared;
    stream["samples"] = c.samples;
    stream["key_samples"] = c.key_samples;
    stream["sample_bytes"] = c.sample_bytes;
    stream["cut_samples"] = c.cut_samples;
    streams.push_back(std::move(stream));
  }
  out["streams"] = std::move(streams);
  out["problem_count"] = reader.problem_count();
  out["problems"] = reader.problems();
  return out;
}

// One sample as --show-samples lists it.
Json SampleJson(const asf::MediaObject& sample, uint64_t preroll) {
  Json problems = Json::array();
  if (sample.cut) {
    problems.push_back("cut: " + std::to_string(sample.have) + " of its " +
                       std::to_string(sample.size) + " bytes are in the file");
  }
  return Json{{"stream", sample.stream},
              {"time", (static_cast<double>(sample.presentation_ms) - static_cast<double>(preroll)) /
                           1000.0},
              {"size", sample.size},
              {"key", sample.key},
              {"first_packet", sample.first_packet},
              {"last_packet", sample.last_packet},
              {"problems", std::move(problems)}};
}

}  // namespace

std::unique_ptr<asf::ReadSource> AsfAtDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  const uint64_t base = OffsetOf(fd);
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  auto source = std::make_unique<DescriptorSource>(fd, base, size > base ? size - base : 0);
  uint8_t first[16] = {};
  const bool asf = source->ReadAt(0, first, sizeof first) && asf::IsAsfHeader(first);
  SeekTo(fd, base);
  return asf ? std::move(source) : nullptr;
}

namespace {

// What the walk over every sample finds.
struct SampleCounts {
  std::vector<StreamCounts> streams = std::vector<StreamCounts>(128);
  std::optional<uint64_t> last_ms;  // the last sample's time, preroll taken off
};

SampleCounts CountSamples(asf::Reader& reader) {
  SampleCounts counts;
  bool has_samples = false;
  uint64_t last_presentation_ms = 0;
  asf::MediaObject sample;
  while (reader.NextSample(&sample)) {
    StreamCounts& c = counts.streams[sample.stream];
    ++c.samples;
    c.key_samples += sample.key ? 1 : 0;
    c.sample_bytes += sample.size;
    c.cut_samples += sample.cut ? 1 : 0;
    has_samples = true;
    last_presentation_ms = std::max<uint64_t>(last_presentation_ms, sample.presentation_ms);
  }
  const uint64_t preroll = reader.header().preroll;
  if (has_samples) {
    counts.last_ms = last_presentation_ms >= preroll ? last_presentation_ms - preroll : 0;
  }
  return counts;
}

// --show-samples: `file`'s object, then a row each of the `count` samples
// counted, read again from the start, each written as it is read.
int WriteSampleRows(const std::string& command, const std::string& path, asf::ReadSource& source,
                    uint64_t count, const Json& file, JsonDocument& rows) {
  rows.BeginRows(file, "samples");
  asf::Reader reader(source, {asf::ReadChecks::kDamage, false});
  bool read = reader.Open();  // as it opened the first time
  asf::MediaObject sample;
  for (uint64_t n = 0; read && n < count && reader.NextSample(&sample); ++n) {
    if (!rows.Row(SampleJson(sample, reader.header().preroll))) break;
  }
  rows.EndRows();
  if (rows.failed()) return StandardOutputFailed(command, rows.error());
  if (read) return kExitOk;
  return Fail(command, kExitInput, "cannot read '" + path + "' again: " + reader.error());
}

void PrintAsf(const std::string& path, const asf::Reader& reader, const SampleCounts& counts,
              const WallTimes& wall) {
  const asf::HeaderInfo& h = reader.header();
  PrintHeader(path, h, wall);
  if (counts.last_ms) {
    std::printf("last sample time: %.3f s\n", static_cast<double>(*counts.last_ms) / 1000.0);
  }
  std::printf("packets: %llu of %u bytes (header says %llu)\n",
              static_cast<unsigned long long>(reader.packets_read()), h.packet_size,
              static_cast<unsigned long long>(h.packet_count));
  if (!reader.indexes().empty()) {
    std::printf("index: %u entries\n", reader.indexes().back().declared_entries);
  } else {
    std::printf("index: none\n");
  }
  for (const asf::StreamDescription& s : h.streams) {
    const StreamCounts& c = counts.streams[s.number & 0x7F];
    std::printf("stream %u: %s", s.number, KindName(s.kind));
    if (s.kind == asf::MediaKind::kVideo) {
      std::printf(", fourcc %s, %d x %d, codec data %zu bytes", FourccText(s.fourcc).c_str(),
                  s.width, s.height, CodecDataBytes(s));
    }
    if (!s.declared) std::printf(", not declared in the header");
    std::printf(", %llu samples (%llu key), %llu sample bytes",
                static_cast<unsigned long long>(c.samples),
                static_cast<unsigned long long>(c.key_samples),
                static_cast<unsigned long long>(c.sample_bytes));
    if (c.cut_samples > 0) {
      std::printf(", %llu cut", static_cast<unsigned long long>(c.cut_samples));
    }
    std::printf("\n");
  }
  std::printf("problems: %llu\n", static_cast<unsigned long long>(reader.problem_count()));
  for (const std::string& p : reader.problems()) std::printf("problem: %s\n", p.c_str());
  if (reader.problem_count() > reader.problems().size()) {
    std::printf("problem: ... and %llu more\n",
                static_cast<unsigned long long>(reader.problem_count() - reader.problems().size()));
  }
}

}  // namespace

int InspectAsf(const std::string& command, const std::string& path, asf::ReadSource* given,
               Json* json, JsonDocument* rows) {
  const std::unique_ptr<asf::ReadSource> opened = given ? nullptr : asf::OpenReadFile(path);
  asf::ReadSource* source = given ? given : opened.get();
  if (source == nullptr) {
    return Fail(command, kExitNotStream,
                "'" + path + "' is not a readable ASF file: cannot open '" + path + "'");
  }
  asf::Reader reader(*source, {asf::ReadChecks::kDamage, false});
  if (!reader.Open()) {
    if (json != nullptr) (*json)["format"] = "ASF";
    return Fail(command, kExitNotStream,
                "'" + path + "' is not a readable ASF file: " + reader.error());
  }
  // Judged by the header alone: the walk may add streams it does not declare.
  const WallTimes wall = WallTimesOf(reader.header());
  const SampleCounts counts = CountSamples(reader);
  if (json == nullptr) {
    PrintAsf(path, reader, counts, wall);
    return kExitOk;
  }
  json->update(AsfJson(reader, counts.streams, counts.last_ms, wall));
  // The rows come after every other field: the file is read a second time
  // for them, so that none is held, up to the samples counted (a file
  // written meanwhile gives the rows of its counts).
  if (rows == nullptr) return kExitOk;
  uint64_t count = 0;
  for (const StreamCounts& c : counts.streams) count += c.samples;
  return WriteSampleRows(command, path, *source, count, *json, *rows);
}

int WriteMaskedAsf(const std::string& command, const std::string& path, asf::ReadSource* given) {
  const std::unique_ptr<asf::ReadSource> opened = given ? nullptr : asf::OpenReadFile(path);
  asf::ReadSource* source = given ? given : opened.get();
  if (source == nullptr) {
    return Fail(command, kExitInput, "cannot open '" + path + "'");
  }
  asf::Reader reader(*source, {asf::ReadChecks::kDamage, false});
  if (!reader.Open()) {
    return Fail(command, kExitNotStream,
                "'" + path + "' is not a readable ASF file: " + reader.error());
  }
  asf::MediaObject sample;
  while (reader.NextSample(&sample)) {
  }
  // Byte ranges to zero: the File Properties' file ID and creation date, and
  // the file ID the Data Object and each Simple Index repeat.
  std::vector<std::pair<uint64_t, uint64_t>> masks;
  const asf::HeaderInfo& h = reader.header();
  if (h.has_file_properties) {
    const uint64_t fp = h.file_properties.offset;
    masks.emplace_back(fp + asf::kFileIdOffset, fp + asf::kFileIdOffset + asf::kGuidSize);
    masks.emplace_back(fp + asf::kFilePropertiesCreationDateOffset,
                       fp + asf::kFilePropertiesCreationDateOffset + 8);
  }
  std::vector<uint64_t> repeats;
  if (h.has_data) repeats.push_back(h.data_offset);
  for (const asf::IndexInfo& index : reader.indexes()) repeats.push_back(index.offset);
  for (const uint64_t at : repeats) {
    masks.emplace_back(at + asf::kFileIdOffset, at + asf::kFileIdOffset + asf::kGuidSize);
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  std::vector<uint8_t> chunk(size_t{1} << 20);
  for (uint64_t at = 0; at < h.source_size;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), h.source_size - at));
    if (!source->ReadAt(at, chunk.data(), n)) {
      return Fail(command, kExitInput, "cannot read '" + path + "'");
    }
    for (const auto& [from, to] : masks) {
      const uint64_t a = std::max(from, at), b = std::min(to, at + n);
      if (a < b) std::memset(chunk.data() + (a - at), 0, static_cast<size_t>(b - a));
    }
    if (std::fwrite(chunk.data(), 1, n, stdout) != n) {
      return StandardOutputFailed(command, errno, true);
    }
    at += n;
  }
  return std::fflush(stdout) == 0 ? kExitOk : StandardOutputFailed(command, errno, true);
}

}  // namespace kestrum_cli
