#include "convert_one.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "cli.h"
#include "piece_reader.h"
#include "segments.h"
#include "stream_relay.h"
#include "kestrum.h"
#include "progress.h"
#include "base/bytes.h"
#include "stream_format/file_header.h"

namespace kestrum_cli {

namespace {

// The conversion is one blocking call; while it runs, a second thread draws
// progress from the size of the output so far against the input's.
class OutputWatch {
 public:
  OutputWatch(const std::string& output, uint64_t input_size, bool allowed)
      : output_(output), progress_("convert", input_size, allowed) {
    if (allowed && ::isatty(STDERR_FILENO) != 0) thread_ = std::thread([this] { Run(); });
  }
  ~OutputWatch() { Stop(); }
  OutputWatch(const OutputWatch&) = delete;
  OutputWatch& operator=(const OutputWatch&) = delete;

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    progress_.Finish();
  }
  double elapsed_seconds() const { return progress_.elapsed_seconds(); }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
      const int64_t size = FileSize(output_);
      if (size > 0) progress_.Update(static_cast<uint64_t>(size));
    }
  }

  std::string output_;
  Progress progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// Results of TransferToAsf the program tells apart.
constexpr int32_t kSharingViolation = static_cast<int32_t>(0x80070020u);
constexpr int32_t kReadFault = static_cast<int32_t>(0x8007001Eu);
constexpr int32_t kDiskFull = static_cast<int32_t>(0x80070070u);

ConvertOutcome Failed(int code, std::string message) {
  ConvertOutcome outcome;
  outcome.code = code;
  outcome.message = std::move(message);
  return outcome;
}

}  // namespace

namespace {

// The input, opened once by the program when it cannot be read twice (or
// when it is to be cut into several files): its header read here, the rest
// handed to the library through a relay.
struct HeldInput {
  std::unique_ptr<InputFile> file;
  std::unique_ptr<PieceReader> reader;
};

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// Reads and checks the input's header: through the program's own open of a
// regular file, which the library then opens again, or from `held`.
ConvertOutcome CheckInput(const std::string& input, HeldInput* held, uint8_t (&header)[40]) {
  std::string error;
  if (held == nullptr) {
    const int read = ReadStreamHeader(input, header, error);
    if (read != kExitOk) return Failed(read, error);
  } else {
    held->file = std::make_unique<InputFile>(input);
    if (held->file->fd() < 0) return Failed(kExitInput, held->file->OpenError());
    held->reader = std::make_unique<PieceReader>(held->file->fd(), 0);
    if (!held->reader->ReadHeader(header)) {
      if (held->reader->failed()) return Failed(kExitInput, "cannot read '" + input + "'");
      return Failed(kExitNotStream, "'" + input + "' is not a stream: fewer than its 40-byte header");
    }
  }
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  if (!decoded.accepted()) {
    return Failed(kExitNotStream,
                  "'" + input + "' is not a stream: its header is refused: " + stream_format::RefusalText(decoded));
  }
  return {};
}

// One call of TransferToAsf for `output`, with the checks around it:
// `source` names what the packet source opens (the input, or a relay's
// FIFO); `transfer` makes the call.
ConvertOutcome TransferOne(const std::string& input, const std::string& output,
                           const ConvertOptions& options,
                           const std::function<int32_t(const std::string&)>& transfer) {
  std::string error;
  if (SameFile(input, output)) {
    return Failed(kExitUsage, "OUTPUT would overwrite INPUT ('" + input + "')");
  }
  if (!CheckOutputWritable(output, error)) return Failed(kExitOutput, error);
  const std::string in_use = "'" + output +
                             "' is in use by another program (being written, or read by a "
                             "conversion); it was left as it is";
  if (OutputInUse(output)) return Failed(kExitOutput, in_use);

  ConvertOutcome outcome;
  const int64_t input_size = FileSize(input);
  outcome.input_bytes = input_size > 0 ? static_cast<uint64_t>(input_size) : 0;
  int32_t result = 0;
  WriteFaults faults;
  {
    DiagnosticWatch diagnostics(options.verbose);
    OutputWatch watch(output, outcome.input_bytes, options.progress && !options.verbose);
    result = transfer(output);
    watch.Stop();
    outcome.seconds = watch.elapsed_seconds();
    faults = diagnostics.faults();
  }
  if (result == 0) {
    return Failed(kExitInput, "the library could not open '" + input +
                                  "' (unreadable, or being written by another program)");
  }
  if (result == kSharingViolation) return Failed(kExitOutput, in_use);
  if (result == kReadFault) {
    return Failed(kExitInput, "reading '" + input + "' failed part way: '" + output +
                                  "' holds what was read before, ended");
  }
  if (result < 0 && faults.any()) {
    return Failed(kExitFailure, "writing '" + output + "' failed with " +
                                    DescribeWriteFaults(faults) +
                                    "; the file holds every sample before, ended");
  }
  if (result == kDiskFull) return Failed(kExitOutput, "no room to write '" + output + "'");
  if (result < 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(result));
    return Failed(kExitFailure, std::string("conversion failed with status ") + code);
  }
  struct stat info;
  if (::stat(output.c_str(), &info) != 0) {
    return Failed(kExitFailure,
                  "the conversion ended but wrote no '" + output + "' (see --verbose)");
  }
  // A device or a pipe has no size to tell.
  outcome.output_bytes = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
  return outcome;
}

volatile std::sig_atomic_t g_relay_stop = 0;

// The input opened once and relayed to one TransferToAsf a file: a new file,
// named by `name`, at the first group that may start a recording once the
// file holds `segment_ms` of media.
ConvertOutcome ConvertRelayed(const std::string& input,
                              const std::function<std::string(uint64_t)>& name,
                              uint64_t segment_ms, const ConvertOptions& options,
                              std::vector<std::string>& outputs) {
  uint8_t header[40];
  HeldInput held;
  ConvertOutcome checked = CheckInput(input, &held, header);
  if (checked.code != kExitOk) return checked;
  StreamRelay relay;
  std::string error;
  if (!relay.Make(error)) return Failed(kExitFailure, error);
  PieceReader& reader = *held.reader;
  reader.StopWhen(&g_relay_stop);
  SegmentClock clock(SegmentClock::Road::kFile, kestrum::load_u16le(header + 16), segment_ms);
  // The piece that begins the next file, read while this one was written.
  const uint8_t* held_data = nullptr;
  size_t held_size = 0;
  bool ended = false;
  const StreamRelay::NextPiece next = [&](const uint8_t*& data, size_t& size) {
    if (held_data != nullptr) {
      data = held_data;
      size = held_size;
      held_data = nullptr;
      return true;
    }
    if (!reader.Next(data, size)) {
      ended = true;
      return false;
    }
    if (clock.StartsNewFile(data, size)) {
      held_data = data;
      held_size = size;
      return false;
    }
    return true;
  };
  ConvertOutcome total;
  for (uint64_t number = 0; !ended; ++number) {
    ConvertOutcome one = TransferOne(input, name(number), options, [&](const std::string& out) {
      return relay.Run(header, next, [&] {
        return TransferToAsf(reinterpret_cast<intptr_t>(relay.path().c_str()), out.c_str());
      }, &g_relay_stop);
    });
    if (one.code != kExitOk) return one;
    outputs.push_back(name(number));
    total.output_bytes += one.output_bytes;
    total.seconds += one.seconds;
    if (held_data == nullptr) ended = true;  // no next file begun
  }
  total.input_bytes = reader.consumed();
  if (reader.failed()) {
    return Failed(kExitInput, "reading '" + input + "' failed part way: what was read before is in '" +
                                  outputs.back() + "', ended");
  }
  return total;
}

}  // namespace

ConvertOutcome ConvertOne(const std::string& input, const std::string& output,
                          const ConvertOptions& options) {
  uint8_t header[40];
  if (IsRegularFile(input)) {
    ConvertOutcome checked = CheckInput(input, nullptr, header);
    if (checked.code != kExitOk) return checked;
    return TransferOne(input, output, options, [&](const std::string& out) {
      return TransferToAsf(reinterpret_cast<intptr_t>(input.c_str()), out.c_str());
    });
  }
  // A FIFO, a pipe, a device: read once, by the program, and relayed.
  std::vector<std::string> outputs;
  return ConvertRelayed(input, [&output](uint64_t) { return output; }, UINT64_MAX, options,
                        outputs);
}

ConvertOutcome ConvertSegments(const std::string& input, const OutputPattern& pattern,
                               uint64_t segment_ms, const ConvertOptions& options,
                               std::vector<std::string>& outputs) {
  return ConvertRelayed(input, [&pattern](uint64_t number) { return pattern.Name(number); },
                        segment_ms, options, outputs);
}

std::string DescribeConverted(const std::string& input, const std::string& output,
                              const ConvertOutcome& outcome) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", outcome.seconds);
  return "converted " + input + " -> " + output + ": " + FormatMegabytes(outcome.input_bytes) +
         " read, " + FormatMegabytes(outcome.output_bytes) + " written, " + seconds + ", " +
         FormatRate(outcome.input_bytes, outcome.seconds);
}

}  // namespace kestrum_cli
