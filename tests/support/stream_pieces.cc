#include "support/stream_pieces.h"

#include <algorithm>
#include <stdexcept>

#include "stream_format/layout.h"

namespace kestrum::testing {

std::vector<std::vector<uint8_t>> SplitEvery(std::span<const uint8_t> bytes, size_t piece) {
  if (piece == 0) throw std::invalid_argument("SplitEvery: piece size 0");
  std::vector<std::vector<uint8_t>> pieces;
  for (size_t at = 0; at < bytes.size(); at += piece) {
    const size_t length = std::min(piece, bytes.size() - at);
    pieces.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
  }
  return pieces;
}

std::vector<std::vector<uint8_t>> SplitRandomly(std::span<const uint8_t> bytes, size_t max_piece,
                                                uint32_t state) {
  if (max_piece == 0) throw std::invalid_argument("SplitRandomly: piece size 0");
  stream_format::XorShift32 generator(state);
  std::vector<std::vector<uint8_t>> pieces;
  for (size_t at = 0; at < bytes.size();) {
    const size_t want = 1 + generator.Next() % max_piece;
    size_t length = std::min(want, bytes.size() - at);
    if (length == stream_format::kFileHeaderSize) length = stream_format::kFileHeaderSize - 1;
    pieces.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                        bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return pieces;
}

}  // namespace kestrum::testing
