#include "convert_one.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli.h"
#include "kestrum.h"
#include "progress.h"
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

ConvertOutcome ConvertOne(const std::string& input, const std::string& output,
                          const ConvertOptions& options) {
  uint8_t header[40];
  std::string error;
  const int read = ReadStreamHeader(input, header, error);
  if (read != kExitOk) return Failed(read, error);
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  if (!decoded.accepted()) {
    return Failed(kExitNotStream,
                  "'" + input + "' is not a stream: its header is refused: " + stream_format::RefusalText(decoded));
  }
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
    result = TransferToAsf(reinterpret_cast<intptr_t>(input.c_str()), output.c_str());
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

std::string DescribeConverted(const std::string& input, const std::string& output,
                              const ConvertOutcome& outcome) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", outcome.seconds);
  return "converted " + input + " -> " + output + ": " + FormatMegabytes(outcome.input_bytes) +
         " read, " + FormatMegabytes(outcome.output_bytes) + " written, " + seconds + ", " +
         FormatRate(outcome.input_bytes, outcome.seconds);
}

}  // namespace kestrum_cli
