// A minimal, bounded reader of ASF files for `kestrum inspect`: the header
// objects it needs, a walk over every data packet to count samples, and the
// objects after the data. Every length read from the file is checked against
// the bytes really there; damage is reported as problems, never trusted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrum_cli {

struct AsfStream {
  uint16_t number = 0;
  std::string type;         // "video", "audio", or "other"
  bool declared = false;    // has a Stream Properties object
  uint32_t fourcc = 0;      // video: the BITMAPINFOHEADER compression
  int32_t width = 0;        // video: biWidth
  int32_t height = 0;       // video: biHeight
  uint32_t codec_data = 0;  // video: format bytes after the 40-byte BITMAPINFOHEADER
  uint64_t samples = 0;     // media objects that start in the data packets
  uint64_t key_samples = 0;
  uint64_t sample_bytes = 0;
  uint64_t cut_samples = 0;  // samples whose bytes are not all in the file
  bool declared_seekable = false;  // its Extended Stream Properties say so
  bool has_extended = false;       // it has Extended Stream Properties
  // The sample being reassembled while the packets are read.
  bool sample_open = false;
  uint64_t sample_number = 0;  // from 1, of the open sample
  uint32_t sample_size = 0;    // its size, from its replicated data
  uint32_t sample_have = 0;    // its bytes met so far
};

struct AsfInfo {
  uint64_t file_size = 0;
  uint64_t header_size = 0;
  bool has_file_properties = false;
  uint64_t declared_packets = 0;
  uint64_t play_duration = 0;  // 100 ns units, preroll included
  uint64_t preroll_ms = 0;
  uint32_t flags = 0;  // bit 0 broadcast (unfinished), bit 1 seekable
  uint32_t packet_size = 0;
  std::string title;
  std::string description;
  std::vector<AsfStream> streams;
  uint64_t packets_read = 0;
  bool has_samples = false;
  uint64_t last_presentation_ms = 0;  // the latest sample time, preroll included
  // Written as a stream, where nothing could be patched: Broadcast set and
  // every stream declared not seekable (no index to come).
  bool streamed = false;
  bool has_simple_index = false;
  uint32_t index_entries = 0;
  std::vector<std::string> problems;
};

// True when the 16 bytes at `p` are the ASF Header Object's GUID.
bool IsAsfHeader(const uint8_t* p);

// Reads `path`. False, with `error`, when it has no readable ASF header;
// damage past the header goes to info.problems.
bool ReadAsf(const std::string& path, AsfInfo& info, std::string& error);

}  // namespace kestrum_cli
