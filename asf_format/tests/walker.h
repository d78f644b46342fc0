// A reader of the ASF files the muxer writes, independent of the muxer's own
// code: walks the objects by their sizes, checks every packet's layout
// adds up to the packet size, and reassembles samples from their payloads.
// Anything that does not add up is reported in `error`.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum::asf::testing {

using GuidBytes = std::array<uint8_t, 16>;

// On-disk Guid bytes, written out by hand from the format's Guid table.
GuidBytes GuidFromText(const char* text);  // "75B22630-668E-11CF-A6D9-00AA0062CE6C"

struct WalkedObject {
  GuidBytes guid{};
  uint64_t offset = 0;  // in the file
  uint64_t size = 0;
};

struct WalkedPacket {
  bool multiple = false;
  uint32_t payloads = 0;
  uint32_t padding = 0;
  uint32_t send_ms = 0;
};

struct WalkedSample {
  uint8_t stream = 0;
  uint8_t object_number = 0;
  bool key = false;
  uint32_t presentation_ms = 0;
  uint64_t first_packet = 0;
  uint64_t last_packet = 0;
  std::vector<uint8_t> bytes;
};

struct WalkedIndex {
  uint64_t interval = 0;
  uint32_t max_packet_count = 0;
  std::vector<std::pair<uint32_t, uint16_t>> entries;  // packet number, packet count
};

struct WalkedFile {
  std::string error;  // empty when everything added up
  std::vector<uint8_t> bytes;
  uint32_t header_object_count = 0;
  std::vector<WalkedObject> header_children;
  std::vector<WalkedObject> extension_children;
  // File Properties
  uint64_t file_size = 0, packet_count = 0, play_duration = 0, send_duration = 0, preroll = 0;
  uint32_t flags = 0, packet_size = 0;
  // Data Object
  uint64_t data_offset = 0, data_size = 0, data_packet_count = 0;
  bool trailing_bytes = false;  // bytes after the last whole packet of an unfinished file
  std::vector<WalkedPacket> packets;
  std::vector<WalkedSample> samples;  // in the order they completed
  std::vector<WalkedIndex> indexes;
  bool truncated_index = false;  // an index object cut short at the end of the file

  // The first header child (or Header Extension child) with this Guid.
  const WalkedObject* Find(const char* guid_text) const;
};

WalkedFile WalkAsf(std::vector<uint8_t> bytes);

}  // namespace kestrum::asf::testing
