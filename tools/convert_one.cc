#include "convert_one.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "cli.h"
#include "piece_reader.h"
#include "segments.h"
#include "stream_relay.h"
#include "kestrum.h"
#include "progress.h"
#include "base/bytes.h"
#include "stream_format/file_header.h"
#include "stream_format/stream_scanner.h"

namespace kestrum_cli {

namespace {

// The read position of this process's descriptor open on `path` (the
// packet source's), from /proc; Progress::kUnknownBytes where that cannot be
// told, 0 before the descriptor is open.
uint64_t ReadPosition(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return Progress::kUnknownBytes;
#else
  struct stat want;
  if (::stat(path.c_str(), &want) != 0) return 0;
  // A FIFO's or a pipe's descriptor has no position to tell.
  if (!S_ISREG(want.st_mode)) return Progress::kUnknownBytes;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    struct stat info;
    if (::stat(entry.path().c_str(), &info) != 0 || info.st_dev != want.st_dev ||
        info.st_ino != want.st_ino) {
      continue;
    }
    std::FILE* f = std::fopen(("/proc/self/fdinfo/" + entry.path().filename().string()).c_str(), "r");
    if (f == nullptr) continue;
    unsigned long long position = 0;
    const bool known = std::fscanf(f, "pos: %llu", &position) == 1;
    std::fclose(f);
    if (known) return position;
  }
  return 0;
#endif
}

// Bytes of the stored stream `path` that lie in no group, as the packet
// source's scanner finds them.
uint64_t SkippedBytes(const std::string& path) {
  stream_format::StreamScanner scanner;
  if (!scanner.Open(path.c_str())) return 0;
  uint64_t skipped = 0;
  for (stream_format::ScanEvent e = scanner.Next(); e.kind != stream_format::ScanEvent::Kind::kEnd;
       e = scanner.Next()) {
    if (e.kind == stream_format::ScanEvent::Kind::kSkipped) skipped += e.size;
  }
  return skipped;
}

// The conversion is one blocking call; while it runs, a second thread draws
// progress from how far the library has read the input (the read position
// of the packet source's descriptor for it) and from the packets it has
// handed on (the file road's "0" lines: the header, then one a group,
// 40 ms of media each, or a skipped stretch).
class InputWatch {
 public:
  InputWatch(const std::string& input, uint64_t input_size, const DiagnosticWatch& lines,
             bool allowed)
      : input_(input), lines_(lines), progress_("convert", input_size, allowed) {
    if (allowed && ::isatty(STDERR_FILENO) != 0) {
      try {
        thread_ = std::thread([this] { Run(); });
      } catch (const std::system_error&) {
        // No thread to be had (out of memory): the conversion goes on without it.
      }
    }
  }
  ~InputWatch() { Stop(); }
  InputWatch(const InputWatch&) = delete;
  InputWatch& operator=(const InputWatch&) = delete;

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
    uint64_t read = 0;
    while (!wake_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; })) {
      const uint64_t position = ReadPosition(input_);
      read = position == Progress::kUnknownBytes ? position : std::max(read, position);
      const uint64_t packets = lines_.packets();
      const uint64_t frames = packets > 1 ? packets - 1 : 0;
      progress_.Update(read, frames, static_cast<double>(frames) * 0.04);
    }
  }

  std::string input_;
  const DiagnosticWatch& lines_;
  Progress progress_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

// Results of TransferToAsf the program tells apart.
constexpr int32_t kSharingViolation = static_cast<int32_t>(0x80070020u);
constexpr int32_t kReadFault = static_cast<int32_t>(0x8007001Eu);

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

// One call of TransferToAsf for `output`, with the checks around it;
// `transfer` makes the call. `relayed`: the library reads a relay's FIFO, not
// `input` itself, which can then be neither watched nor read a second time
// (--strict counts the bytes in no group only of a stored stream read whole).
ConvertOutcome TransferOne(const std::string& input, const std::string& output,
                           const ConvertOptions& options, bool relayed,
                           const std::function<int32_t(const std::string&)>& transfer) {
  std::string error;
  if (SameFile(input, output)) {
    return Failed(kExitUsage, "OUTPUT would overwrite INPUT ('" + input + "')");
  }
  if (!CheckOutputWritable(output, error)) return Failed(kExitOutput, error);
  if (options.no_overwrite && RefusedByNoOverwrite(output, error)) {
    return Failed(kExitOutput, error);
  }
  const std::string in_use = "'" + output +
                             "' is in use by another program (being written, or read by a "
                             "conversion); it was left as it is";
  if (OutputInUse(output)) return Failed(kExitOutput, in_use);

  ConvertOutcome outcome;
  const int64_t input_size = FileSize(input);
  outcome.input_bytes = input_size > 0 ? static_cast<uint64_t>(input_size) : 0;
  int32_t result = 0;
  WriteFaults faults;
  uint64_t refused_groups = 0;
  {
    DiagnosticWatch diagnostics(options.verbose);
    InputWatch watch(input, outcome.input_bytes, diagnostics,
                     options.progress && !options.verbose);
    result = transfer(output);
    watch.Stop();
    outcome.seconds = watch.elapsed_seconds();
    faults = diagnostics.faults();
    refused_groups = diagnostics.refused_groups();
  }
  if (result == 0) {
    return Failed(kExitInput, "the library could not open '" + input +
                                  "' (unreadable, being written by another program, or out of memory)");
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
  if (result < 0) {
    const ResultMeaning meaning = DescribeResult(result);
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(result));
    return Failed(meaning.exit_code,
                  "cannot convert into '" + output + "': " + meaning.text + " (" + code + ")");
  }
  outcome.lost = DescribeLosses(LiveLosses{}, faults,
                                options.strict && !relayed ? SkippedBytes(input) : 0,
                                refused_groups);
  if (options.strict && !outcome.lost.empty()) {
    return Failed(kExitFailure, "'" + output + "' was written, but " + outcome.lost + " (--strict)");
  }
  // Samples the writer refused are missing from a file that looks whole.
  outcome.lost_fails = faults.refused() > 0;
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
    ConvertOutcome one = TransferOne(input, name(number), options, true, [&](const std::string& out) {
      return relay.Run(header, next, [&] {
        return TransferToAsf(reinterpret_cast<intptr_t>(relay.path().c_str()), out.c_str());
      }, &g_relay_stop);
    });
    if (one.code != kExitOk) return one;
    if (!one.lost.empty()) {
      total.lost += (total.lost.empty() ? "" : "; ") + name(number) + ": " + one.lost;
    }
    outputs.push_back(name(number));
    total.lost_fails = total.lost_fails || one.lost_fails;
    total.output_bytes += one.output_bytes;
    total.seconds += one.seconds;
    if (held_data == nullptr) ended = true;  // no next file begun
  }
  total.input_bytes = reader.consumed();
  if (reader.failed()) {
    const std::string what = reader.out_of_memory() ? "out of memory reading '" + input + "'"
                                                    : "reading '" + input + "' failed part way";
    return Failed(reader.out_of_memory() ? kExitFailure : kExitInput,
                  what + ": what was read before is in '" + outputs.back() + "', ended");
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
    return TransferOne(input, output, options, false, [&](const std::string& out) {
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

ConvertOutcome ForBatch(ConvertOutcome outcome, const std::string& output) {
  if (outcome.code != kExitOk) return outcome;
  if (outcome.lost_fails) return Failed(kExitFailure, "'" + output + "' was written, but " + outcome.lost);
  outcome.message = outcome.lost;
  return outcome;
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
