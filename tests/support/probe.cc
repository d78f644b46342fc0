#include "support/probe.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/md5.h"

namespace kestrum::testing {

std::optional<std::string> RunCommand(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char chunk[65536];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  if (::pclose(pipe) != 0) return std::nullopt;
  return out;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + name + " >/dev/null 2>&1").has_value();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

std::string TestDirectory(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(KESTRUM_TEST_TMPDIR) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::optional<std::vector<ProbedPacket>> ProbePackets(const std::string& path) {
  const auto out = RunCommand(
      "ffprobe -v error -select_streams 0 -show_entries packet=pts,flags,data_hash "
      "-show_data_hash MD5 -of csv=p=0 '" + path + "'");
  if (!out) return std::nullopt;
  std::vector<ProbedPacket> packets;
  for (const std::string& line : Lines(*out)) {
    // "pts,flags,MD5:hash"
    const size_t first = line.find(',');
    const size_t second = line.find(',', first + 1);
    if (first == std::string::npos || second == std::string::npos) return std::nullopt;
    ProbedPacket p;
    p.pts_ms = std::stoll(line.substr(0, first));
    p.key = line.compare(first + 1, 1, "K") == 0;
    const std::string hash = line.substr(second + 1);
    p.md5 = hash.rfind("MD5:", 0) == 0 ? hash.substr(4) : hash;
    packets.push_back(p);
  }
  return packets;
}

std::optional<std::map<std::string, std::string>> ProbeFields(const std::string& path) {
  const auto out = RunCommand(
      "ffprobe -v error -count_packets -show_data_hash MD5 -show_entries "
      "stream=codec_tag_string,width,height,extradata_size,extradata_hash,nb_read_packets:"
      "format=duration:format_tags=title,comment -of default=noprint_wrappers=1 '" + path + "'");
  if (!out) return std::nullopt;
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(*out)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return fields;
}

ProbedPacket ExpectedPacket(const std::vector<uint8_t>& bytes, uint64_t time, bool key) {
  return ProbedPacket{static_cast<int64_t>(time / 10000), key, Md5Hex(bytes.data(), bytes.size())};
}

void PrintTo(const ProbedPacket& packet, std::ostream* out) {
  *out << "{pts " << packet.pts_ms << (packet.key ? " K " : " _ ") << packet.md5 << "}";
}

std::string Describe(const std::vector<ProbedPacket>& packets, size_t limit) {
  std::string out;
  for (size_t i = 0; i < packets.size() && i < limit; ++i) {
    out += std::to_string(packets[i].pts_ms) + (packets[i].key ? " K " : " _ ") + packets[i].md5 +
           "\n";
  }
  if (packets.size() > limit) out += "... (" + std::to_string(packets.size()) + " packets)\n";
  return out;
}

}  // namespace kestrum::testing
