// Reading back what the library wrote with independent tools: ffprobe and
// ffmpeg (and mediainfo), run as child processes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kestrum::testing {

// Runs `command` through the shell and returns what it printed on standard
// output, or nullopt when it could not run or exited non-zero.
std::optional<std::string> RunCommand(const std::string& command);
bool HaveTool(const std::string& name);
// The non-empty lines of `text`.
std::vector<std::string> Lines(const std::string& text);
// A fresh, empty directory for one test's files under the build tree.
std::string TestDirectory(const std::string& name);
std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// One packet of the first stream as ffprobe reads it.
struct ProbedPacket {
  int64_t pts_ms = 0;
  bool key = false;
  std::string md5;  // of the packet's bytes, lowercase hex

  bool operator==(const ProbedPacket&) const = default;
};
void PrintTo(const ProbedPacket& packet, std::ostream* out);

// The packets ffprobe reads from `path`; nullopt when ffprobe fails.
std::optional<std::vector<ProbedPacket>> ProbePackets(const std::string& path);

// key=value fields ffprobe prints for the file's first stream and format:
// codec_tag_string, width, height, extradata_size, extradata_hash ("MD5:..."),
// duration, nb_read_packets, TAG:title, TAG:comment.
std::optional<std::map<std::string, std::string>> ProbeFields(const std::string& path);

// What a sample written with `bytes` at `time` (100-ns units) looks like to
// ffprobe: pts in milliseconds, key flag, MD5 of the bytes.
ProbedPacket ExpectedPacket(const std::vector<uint8_t>& bytes, uint64_t time, bool key = true);

// A printable form of packets for failure messages: "pts key md5" lines.
std::string Describe(const std::vector<ProbedPacket>& packets, size_t limit = 8);

}  // namespace kestrum::testing
