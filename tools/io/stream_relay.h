// Hands a stream that the program reads itself to the file road. The
// packet source reads a stream by its name, front to back; the program
// makes a FIFO of its own in a private folder, names that, and writes the
// stream into it from a second thread while TransferToAsf runs. So an input
// that can be read only once (a FIFO, a pipe, a device) is opened once, its
// header read and checked by the program, and every byte read once; and a
// stream can go to several conversions, one stretch each (--segment-time).
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrum_cli {

class StreamRelay {
 public:
  // Where the pieces of one conversion come from: the next piece, valid
  // until the next call; false when this conversion's stream is over.
  // `stop` is set, and a blocked read interrupted, when the conversion has
  // ended without reading on.
  using NextPiece = std::function<bool(const uint8_t*& data, size_t& size)>;

  StreamRelay() = default;
  ~StreamRelay();  // removes the FIFO and its folder
  StreamRelay(const StreamRelay&) = delete;
  StreamRelay& operator=(const StreamRelay&) = delete;

  // Makes the folder and the FIFO. False, with `error`, when it cannot
  // (or where the system has no FIFOs). Each Run removes them once both
  // ends are open, and makes them again first when they are gone.
  bool Make(std::string& error);
  // The FIFO's name: what the packet source is to open.
  const std::string& path() const { return path_; }

  // Runs `convert` (which opens path() and reads it to its end) while the
  // 40-byte `header` and then the pieces `next` gives are written into the
  // FIFO; returns what `convert` returned, or without calling it 0x80070004
  // (too many open files) when the FIFO's two ends cannot both be opened.
  // Never waits for ever: when `convert` returns before the stream is
  // written, the writing stops. `stop` is set then, and a read blocked in
  // `next` is interrupted (see PieceReader::StopWhen).
  int32_t Run(const uint8_t* header, const NextPiece& next, const std::function<int32_t()>& convert,
              volatile std::sig_atomic_t* stop_flag);

 private:
  void Remove();
  std::string folder_, path_;
};

}  // namespace kestrum_cli
