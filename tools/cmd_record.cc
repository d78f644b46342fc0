// kestrum record: the live road, fed from a file or standard input.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "args.h"
#include "cli.h"
#include "commands.h"
#include "kestrum.h"
#include "piece_reader.h"
#include "piece_sender.h"
#include "progress.h"
#include "stream_header.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum record INPUT|- OUTPUT.asf [--piece-size N|group]\n"
    "\n"
    "Records a stream through the live road, as a host would push it:\n"
    "CreateRecordInstance, StartRecord(OUTPUT), the 40-byte header as a piece of its\n"
    "own, then the rest of INPUT in pieces, StopRecord, ReleaseRecordInstance.\n"
    "INPUT '-' reads standard input (e.g. a socket piped in).\n"
    "\n"
    "A piece of exactly 40 bytes is always taken as a stream header, so no data\n"
    "piece is ever 40 bytes long: --piece-size 40 sends 41-byte pieces, and a last\n"
    "piece of 40 bytes goes out as 39 + 1.\n"
    "\n"
    "Options:\n"
    "  --piece-size N   bytes per piece after the header (default 4096)\n"
    "  --piece-size group\n"
    "                   one whole group per piece; bytes that belong to no group\n"
    "                   go out as pieces of their own\n"
    "  -v, --verbose    print the library's diagnostic lines on stderr\n"
    "  -h, --help       this text\n"
    "\n"
    "The live road reports nothing back; a header the library would refuse is\n"
    "refused here first (exit 4). With --verbose its lines show what it did.\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"piece-size", true}};

constexpr size_t kDefaultPieceSize = 4096;
constexpr uint64_t kMaxPieceSize = uint64_t{256} << 20;

}  // namespace

int RunRecord(const std::vector<std::string>& argv) {
  const std::string command = "record";
  Args args;
  if (const auto done = ParseCommandLine(command, argv, kOptions, kHelp, args)) return *done;
  std::string error;
  if (args.positionals().size() != 2) return UsageError(command, "expected INPUT and OUTPUT");
  const std::string input = args.positionals()[0];
  const std::string output = args.positionals()[1];
  size_t piece_size = kDefaultPieceSize;
  if (auto s = args.Value("piece-size")) {
    if (*s == "group") {
      piece_size = 0;
    } else {
      uint64_t v = 0;
      if (!ParseUnsigned(*s, 1, kMaxPieceSize, "--piece-size", v, error)) {
        return UsageError(command, error);
      }
      piece_size = v == 40 ? 41 : static_cast<size_t>(v);
    }
  }

  const bool from_stdin = input == "-";
  if (from_stdin) SetBinaryMode(STDIN_FILENO);
  const int fd = from_stdin ? STDIN_FILENO : ::open(input.c_str(), O_RDONLY | kOpenBinary);
  if (fd < 0) {
    return Fail(command, kExitInput, "cannot open '" + input + "': " + std::strerror(errno));
  }
  struct FdCloser {
    int fd;
    bool owned;
    ~FdCloser() {
      if (owned) ::close(fd);
    }
  } closer{fd, !from_stdin};

  if (!from_stdin && SameFile(input, output)) {
    return UsageError(command, "OUTPUT would overwrite INPUT");
  }
  PieceReader reader(fd, piece_size);
  uint8_t header[40];
  if (!reader.ReadHeader(header)) {
    if (reader.failed()) return Fail(command, kExitInput, "cannot read '" + input + "'");
    return Fail(command, kExitNotStream,
                "'" + input + "' is not a stream: fewer than its 40-byte header");
  }
  const StreamHeader decoded = DecodeStreamHeader(header);
  if (!decoded.accepted) {
    return Fail(command, kExitNotStream,
                "'" + input + "' is not a stream: its header is refused: " + decoded.refusal);
  }
  if (!CheckOutputWritable(output, error)) return Fail(command, kExitOutput, error);
  // The output is replaced; removing an old one first lets the check below
  // tell whether the library wrote anything.
  ::unlink(output.c_str());

  const bool verbose = args.Has("verbose");
  DiagnosticEcho echo(verbose);
  KestrumHandle handle = CreateRecordInstance();
  if (handle == nullptr) return Fail(command, kExitFailure, "the library made no instance");
  // The library keeps this pointer until StopRecord.
  const std::string output_name = output;
  if (StartRecord(handle, output_name.c_str(), 0, 0) == 0) {
    ReleaseRecordInstance(&handle);
    return Fail(command, kExitFailure, "StartRecord refused the instance");
  }
  const int64_t input_size = from_stdin ? -1 : FileSize(input);
  Progress progress("record", input_size > 0 ? static_cast<uint64_t>(input_size) : 0, !verbose);
  PieceSender sender(
      [handle](const uint8_t* piece, int32_t size) { SendOneFrame(handle, piece, size); });
  sender.Header(header);
  const uint8_t* data = nullptr;
  size_t size = 0;
  while (reader.Next(data, size)) {
    sender.Piece(data, size);
    progress.Update(reader.consumed());
  }
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  progress.Finish();
  const double seconds = progress.elapsed_seconds();

  if (reader.failed()) {
    return Fail(command, kExitInput,
                "reading '" + input + "' failed; what came before was recorded");
  }
  const int64_t written = FileSize(output);
  if (written < 0) {
    return Fail(command, kExitFailure, "no output was written to '" + output + "' (see --verbose)");
  }
  std::printf("recorded %s -> %s: %llu bytes in %llu pieces, %s written, %.2f s, %s\n",
              input.c_str(), output.c_str(), static_cast<unsigned long long>(reader.consumed()),
              static_cast<unsigned long long>(sender.calls()),
              FormatMegabytes(static_cast<uint64_t>(written)).c_str(), seconds,
              FormatRate(reader.consumed(), seconds).c_str());
  return kExitOk;
}

}  // namespace kestrum_cli
