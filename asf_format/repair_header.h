// What a repair reads from a file's header image (the Header Object and the
// Data Object's 50-byte header, as they stand in the file) besides what the
// header declares (ReadDeclaredHeader, header_objects.h): the fields that
// ending a file changes, and the notes the writer leaves in it while it
// writes (Broadcast, the count of durable bytes in the File Size field).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrum::asf {

// Zeroes the fields of a header image that ending the file changes.
void ClearTotals(std::vector<uint8_t>& header);

// The File Properties fields a header holds, where the header has them.
struct HeaderNotes {
  // Where its File Size field stands in the header (0: it has none); the
  // field is followed, 48 bytes on, by the flags.
  size_t file_size_field = 0;
  uint64_t file_size = 0;     // while Broadcast is set: the bytes the writer made durable
  bool ended = false;         // Broadcast clear: the writer (or a repair) ended it
  uint64_t data_packets = 0;  // as the Data Object counts them
};
HeaderNotes ReadHeaderNotes(const std::vector<uint8_t>& header);

}  // namespace kestrum::asf
