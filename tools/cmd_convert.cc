// kestrum convert: the file road, TransferToAsf.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "args.h"
#include "cli.h"
#include "commands.h"
#include "kestrum.h"
#include "progress.h"
#include "stream_header.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum convert INPUT OUTPUT.asf\n"
    "\n"
    "Converts the stored stream INPUT into OUTPUT.asf in one call of the file road\n"
    "(TransferToAsf), which reads INPUT through the packet-source library.\n"
    "\n"
    "Options:\n"
    "  -v, --verbose   print the library's diagnostic lines on stderr\n"
    "  -h, --help      this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {{"help", false, 'h'}, {"verbose", false, 'v'}};

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

}  // namespace

int RunConvert(const std::vector<std::string>& argv) {
  const std::string command = "convert";
  Args args;
  std::string error;
  if (!args.Parse(argv, kOptions, error)) return UsageError(command, error);
  if (args.Has("help")) {
    std::fputs(kHelp, stdout);
    std::fputs(kExitCodesHelp, stdout);
    return kExitOk;
  }
  if (args.positionals().size() != 2) return UsageError(command, "expected INPUT and OUTPUT");
  const std::string input = args.positionals()[0];
  const std::string output = args.positionals()[1];

  uint8_t header[40];
  const int read = ReadStreamHeader(input, header, error);
  if (read != kExitOk) return Fail(command, read, error);
  const StreamHeader decoded = DecodeStreamHeader(header);
  if (!decoded.accepted) {
    return Fail(command, kExitNotStream,
                "'" + input + "' is not a stream: its header is refused: " + decoded.refusal);
  }
  if (SameFile(input, output)) return UsageError(command, "OUTPUT would overwrite INPUT");
  if (!CheckOutputWritable(output, error)) return Fail(command, kExitOutput, error);
  ::unlink(output.c_str());  // replaced anyway; lets the result be checked below

  const bool verbose = args.Has("verbose");
  const int64_t input_size = FileSize(input);
  int32_t result = 0;
  double seconds = 0;
  {
    DiagnosticEcho echo(verbose);
    OutputWatch watch(output, input_size > 0 ? static_cast<uint64_t>(input_size) : 0, !verbose);
    result = TransferToAsf(reinterpret_cast<intptr_t>(input.c_str()), output.c_str());
    watch.Stop();
    seconds = watch.elapsed_seconds();
  }
  if (result == 0) return Fail(command, kExitInput, "the library could not open '" + input + "'");
  if (result < 0) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(result));
    return Fail(command, kExitFailure, std::string("conversion failed with status ") + code);
  }
  const int64_t written = FileSize(output);
  if (written < 0) {
    return Fail(command, kExitFailure,
                "the conversion ended but wrote no '" + output + "' (see --verbose)");
  }
  const uint64_t in_bytes = input_size > 0 ? static_cast<uint64_t>(input_size) : 0;
  std::printf("converted %s -> %s: %s read, %s written, %.2f s, %s\n", input.c_str(),
              output.c_str(), FormatMegabytes(in_bytes).c_str(),
              FormatMegabytes(static_cast<uint64_t>(written)).c_str(), seconds,
              FormatRate(in_bytes, seconds).c_str());
  return kExitOk;
}

}  // namespace kestrum_cli
