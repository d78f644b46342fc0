#include <cstdio>
#include <string>

#include "asf_reader.h"
#include "cli.h"
#include "inspect.h"

namespace kestrum_cli {

namespace {

std::string FourccText(uint32_t v) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((v >> (8 * i)) & 0xFF);
    s += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return s;
}

}  // namespace

int InspectAsf(const std::string& command, const std::string& path) {
  AsfInfo info;
  std::string error;
  if (!ReadAsf(path, info, error)) {
    return Fail(command, kExitNotStream, "'" + path + "' is not a readable ASF file: " + error);
  }
  std::printf("file: %s\n", path.c_str());
  std::printf("format: ASF\n");
  std::printf("size: %llu bytes\n", static_cast<unsigned long long>(info.file_size));
  std::printf("title: %s\n", info.title.c_str());
  std::printf("description: %s\n", info.description.c_str());
  if (info.has_file_properties) {
    const bool unfinished = (info.flags & 1) != 0;
    if (unfinished && info.streamed) {
      std::printf(
          "duration: unknown (a stream: written where it could not seek, it has no sizes, "
          "duration or index)\n");
    } else if (unfinished) {
      std::printf("duration: unknown (the file was not finished)\n");
    } else {
      const double ms =
          static_cast<double>(info.play_duration) / 1e4 - static_cast<double>(info.preroll_ms);
      std::printf("duration: %.3f s\n", ms / 1000.0);
    }
    std::printf("preroll: %llu ms\n", static_cast<unsigned long long>(info.preroll_ms));
    std::printf("flags: 0x%X%s%s%s\n", info.flags, (info.flags & 1) ? " broadcast" : "",
                (info.flags & 2) ? " seekable" : "", info.streamed ? " (streamed)" : "");
  }
  if (info.has_samples) {
    const uint64_t last = info.last_presentation_ms >= info.preroll_ms
                              ? info.last_presentation_ms - info.preroll_ms
                              : 0;
    std::printf("last sample time: %.3f s\n", static_cast<double>(last) / 1000.0);
  }
  std::printf("packets: %llu of %u bytes (header says %llu)\n",
              static_cast<unsigned long long>(info.packets_read), info.packet_size,
              static_cast<unsigned long long>(info.declared_packets));
  if (info.has_simple_index) {
    std::printf("index: %u entries\n", info.index_entries);
  } else {
    std::printf("index: none\n");
  }
  for (const AsfStream& s : info.streams) {
    std::printf("stream %u: %s", s.number, s.type.c_str());
    if (s.type == "video") {
      std::printf(", fourcc %s, %d x %d, codec data %u bytes", FourccText(s.fourcc).c_str(),
                  s.width, s.height, s.codec_data);
    }
    if (!s.declared) std::printf(", not declared in the header");
    std::printf(", %llu samples (%llu key), %llu sample bytes",
                static_cast<unsigned long long>(s.samples),
                static_cast<unsigned long long>(s.key_samples),
                static_cast<unsigned long long>(s.sample_bytes));
    if (s.cut_samples > 0) {
      std::printf(", %llu cut", static_cast<unsigned long long>(s.cut_samples));
    }
    std::printf("\n");
  }
  std::printf("problems: %zu\n", info.problems.size());
  for (const std::string& p : info.problems) std::printf("problem: %s\n", p.c_str());
  return kExitOk;
}

}  // namespace kestrum_cli
