// The ASF muxer behind the stand-in writer: header, fixed-size data packets,
// Simple Index.
//
// Layout while writing: the whole header goes out first with the Broadcast
// flag set and zero sizes, counts and durations, so a file that is never
// ended stays readable up to its last complete packet. End() flushes the last
// packet, appends the index and patches sizes, counts, durations and flags.
// Memory stays bounded whatever the length of the recording.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"
#include "platform/wmsdk/asf/byte_sink.h"

namespace kestrum::asf {

enum class StreamKind { kVideo, kAudio };

struct StreamInfo {
  StreamKind kind = StreamKind::kVideo;
  uint16_t number = 0;               // 1..127
  uint32_t bitrate = 0;              // bits per second
  uint32_t buffer_window_ms = 0;
  uint64_t avg_time_per_frame = 0;   // 100-ns units; video only
  // Video: the BITMAPINFOHEADER followed by its codec data, written verbatim
  // as the format data (width and height are read from it). Audio: the
  // WAVEFORMATEX with its extra bytes, verbatim.
  std::vector<uint8_t> format;
};

struct FileInfo {
  GUID file_id{};
  uint64_t creation_time = 0;  // FILETIME: 100-ns units since 1601-01-01 UTC
  uint32_t packet_size = 0;    // 0: the muxer's default
  uint32_t preroll_ms = 0;     // the largest buffer window of the streams
  std::u16string title;
  std::u16string author;
  std::u16string copyright;
  std::u16string description;
  std::u16string rating;
  std::vector<StreamInfo> streams;
};

class Muxer {
 public:
  Muxer(ByteSink& sink, FileInfo info);
  ~Muxer();
  Muxer(const Muxer&) = delete;
  Muxer& operator=(const Muxer&) = delete;

  // Writes the header (Broadcast set) and the Data Object's header.
  HRESULT Begin();
  // Adds one sample of `stream` at `time` (100-ns units, before preroll).
  // Fails for an unknown stream, an empty or oversized sample, or once the
  // sink has failed; a failing call leaves the file readable up to the last
  // complete packet written.
  HRESULT WriteSample(uint16_t stream, uint64_t time, uint64_t duration, bool key_frame,
                      const uint8_t* data, size_t size);
  // Writes the last packet, the Simple Index, and patches the header.
  HRESULT End();

 private:
  struct State;
  State* state_;
};

}  // namespace kestrum::asf
