// kestrum record: the live road, fed from a file or standard input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "cli.h"
#include "commands.h"
#include "diagnostic_watch.h"
#include "input_file.h"
#include "kestrum.h"
#include "loss_summary.h"
#include "piece_reader.h"
#include "piece_sender.h"
#include "output_path.h"
#include "progress.h"
#include "segments.h"
#include "stop_signals.h"
#include "stream_format/file_header.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum record INPUT|- OUTPUT.asf [--piece-size N|group]\n"
    "       kestrum record INPUT|- OUTPUT_PATTERN --segment-time SECONDS\n"
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
    "  -n, --no-overwrite\n"
    "                   refuse an OUTPUT file that exists (exit 5)\n"
    "  -y, --overwrite  rewrite an OUTPUT file that exists (the default)\n"
    "      --strict     exit 1 when anything was lost\n"
    "  --segment-time SECONDS\n"
    "                   record into a series of files named by OUTPUT_PATTERN,\n"
    "                   numbered from 0 by its one %d (such as cam1-%03d.asf; %%\n"
    "                   for a '%'). Each is a recording of its own (an instance,\n"
    "                   header, duration, index); a new one begins at the first\n"
    "                   group that may start a recording once the file holds\n"
    "                   SECONDS of media (40 ms a video block), so no group is\n"
    "                   lost or repeated between files\n"
    "  -v, --verbose    print the library's diagnostic lines on stderr\n"
    "  -h, --help       this text\n"
    "\n"
    "OUTPUT is written through, never removed: an existing file is rewritten, a\n"
    "symlink's target written (or made), and a device, a FIFO or '-' (standard\n"
    "output) gets a stream written front to back (no sizes, duration or index).\n"
    "An OUTPUT that another program is writing, or is converting from, is refused,\n"
    "and so is one that is INPUT itself (also when INPUT is standard input). A\n"
    "stored INPUT is read under a shared lock: no other program may write it\n"
    "meanwhile, and one that writes it keeps it from being recorded (exit 3).\n"
    "\n"
    "The live road reports nothing back; a header the library would refuse is\n"
    "refused here first (exit 4), and so is an OUTPUT name longer than 259 bytes\n"
    "(exit 5). Its diagnostic lines tell what it dropped: after the recording one\n"
    "line names it (malformed groups, held bytes, groups too large, samples not\n"
    "written), and --strict makes that exit 1. With --verbose the lines show. When\n"
    "the disk fills, the recording goes on: what cannot be written is lost, writing\n"
    "resumes when there is room again, the file is ended as usual, and the exit\n"
    "code is 1 with what was lost. When the reader of '-' or of a FIFO goes away,\n"
    "the recording stops there (exit 1).\n"
    "\n"
    "SIGINT, SIGTERM or SIGHUP (Ctrl-C) ends the recording: the file is ended\n"
    "(duration, index), a line says so, and the exit code is 128 + the signal's\n"
    "number. A second signal ends the program at once.\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"piece-size", true}, {"segment-time", true},
    kNoOverwriteOption,   kOverwriteOption,        kStrictOption};

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

  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(command, conflict);
  }

  uint64_t segment_ms = 0;
  OutputPattern pattern;
  const bool segmented = args.Has("segment-time");
  if (segmented && (!ParseSegmentTime(*args.Value("segment-time"), segment_ms, error) ||
                    !pattern.Parse(output, error))) {
    return UsageError(command, error);
  }

  const bool from_stdin = input == "-";
  const bool to_stdout = output == "-" && !segmented;
  // The library keeps this pointer until StopRecord.
  std::string output_name = segmented ? pattern.Name(0) : output;
  if (to_stdout) {
    const int code = StandardOutput(false, output_name, error);
    if (code == kExitUsage) return UsageError(command, error);
    if (code != kExitOk) return Fail(command, code, error);
  }
  const InputFile in(input);
  if (in.fd() < 0) return Fail(command, kExitInput, in.OpenError());
  const int fd = in.fd();

  if (IdOfDescriptor(fd) == IdOfPath(output_name)) {
    return UsageError(command, "OUTPUT '" + (to_stdout ? output : output_name) +
                                   "' would overwrite INPUT " +
                                   (from_stdin ? std::string("(standard input)") : "'" + input + "'"));
  }
  // Cut into files at group boundaries: groups are read whole, and sent on
  // in pieces of the size asked for.
  PieceReader reader(fd, segmented ? 0 : piece_size);
  uint8_t header[40];
  if (!reader.ReadHeader(header)) {
    if (reader.out_of_memory()) return Fail(command, kExitFailure, "out of memory");
    if (reader.failed()) return Fail(command, kExitInput, "cannot read '" + input + "'");
    return Fail(command, kExitNotStream,
                "'" + input + "' is not a stream: fewer than its 40-byte header");
  }
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  if (!decoded.accepted()) {
    return Fail(command, kExitNotStream,
                "'" + input + "' is not a stream: its header is refused: " + stream_format::RefusalText(decoded));
  }
  // The live road would drop every piece without saying why.
  if (output_name.size() > kMaxOutputName) {
    return Fail(command, kExitOutput,
                "cannot write '" + output_name + "': " + DescribeResult(kNameTooLongResult).text);
  }
  const auto shown = [&] { return segmented || !to_stdout ? output_name : output; };
  const bool verbose = args.Has("verbose");
  DiagnosticWatch diagnostics(verbose);
  KestrumHandle handle = nullptr;
  // Memory that runs out in the program itself still leaves the recording
  // ended (the normal ways out release the handle first).
  struct EndOnUnwind {
    KestrumHandle& handle;
    ~EndOnUnwind() {
      if (handle != nullptr) StopRecord(handle);
      ReleaseRecordInstance(&handle);
    }
  } end_on_unwind{handle};
  // Makes the instance of the next file, or says why not.
  std::optional<int> refused;
  std::vector<std::string> files;  // those written before this one
  const auto begin_file = [&]() -> bool {
    const FileId id = IdOfPath(output_name);
    bool again = false;
    for (const std::string& earlier : files) again = again || id == IdOfPath(earlier);
    // Standard output is whatever the shell made of it: never refused by -n.
    const OutputRefusal checked =
        again ? OutputRefusal{kExitUsage, "OUTPUT '" + output_name +
                                              "' is a file this series has written already"}
              : CheckOutput(output_name, shown(), {input},
                            args.Has(kNoOverwriteOption.name) && !to_stdout);
    if (checked.code == kExitUsage) {
      refused = UsageError(command, checked.message);
    } else if (checked.code != kExitOk) {
      refused = Fail(command, checked.code, checked.message);
    } else if ((handle = CreateRecordInstance()) == nullptr) {
      refused = Fail(command, kExitFailure, "the library made no instance (out of memory)");
    } else if (StartRecord(handle, output_name.c_str(), 0, 0) == 0) {
      ReleaseRecordInstance(&handle);
      refused = Fail(command, kExitFailure, "StartRecord refused the instance");
    }
    return !refused;
  };
  if (!begin_file()) return *refused;
  const int64_t input_size = from_stdin ? -1 : FileSize(input);
  Progress progress("record", input_size > 0 ? static_cast<uint64_t>(input_size) : 0, !verbose);
  PieceSender sender(
      [&handle](const uint8_t* piece, int32_t size) { SendOneFrame(handle, piece, size); });
  const StopOnSignals signals;
  reader.StopWhen(StopOnSignals::flag());
  sender.Header(header);
  const uint8_t* data = nullptr;
  size_t size = 0;
  SegmentClock clock(SegmentClock::Road::kLive, decoded.stream_type, segment_ms);
  std::vector<uint8_t> pending;  // segmented: bytes not yet sent, less than a piece
  const auto flush = [&] {
    if (!pending.empty()) sender.Piece(pending.data(), pending.size());
    pending.clear();
  };
  files = {output_name};
  // The header went first: a data piece the library drops because the
  // output cannot be prepared would be followed by every other; and once
  // writing has ended (an output that cannot be cut back failed: a pipe
  // whose reader went away), nothing more can be written.
  while (StopOnSignals::signal() == 0 && diagnostics.not_ready() == 0 &&
         !diagnostics.faults().writing_ended && reader.Next(data, size)) {
    if (segmented) {
      if (clock.StartsNewFile(data, size)) {
        flush();
        StopRecord(handle);
        ReleaseRecordInstance(&handle);
        output_name = pattern.Name(files.size());
        if (!begin_file()) {
          progress.Finish();
          std::fprintf(stderr, "kestrum record: %zu files were written before, the last '%s'\n",
                       files.size(), files.back().c_str());
          return *refused;
        }
        files.push_back(output_name);
        sender.Header(header);
      }
      if (piece_size == 0) {
        sender.Piece(data, size);
      } else {
        pending.insert(pending.end(), data, data + size);
        size_t at = 0;
        for (; pending.size() - at >= piece_size; at += piece_size) {
          sender.Piece(pending.data() + at, piece_size);
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(at));
      }
    } else {
      sender.Piece(data, size);
    }
    progress.Update(reader.consumed(), diagnostics.groups(),
                    static_cast<double>(diagnostics.samples()) * 0.04);
  }
  flush();
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  if (to_stdout) EndStandardOutput();
  progress.Finish();
  const double seconds = progress.elapsed_seconds();
  const WriteFaults faults = diagnostics.faults();
  const std::string fault_note =
      faults.any() ? "; writing failed with " + DescribeWriteFaults(faults) : "";

  if (StopOnSignals::signal() != 0) {
    const int number = StopOnSignals::signal();
    Fail(command, 128 + number,
         std::string("stopped by ") + SignalName(number) + ": the recording was ended, '" +
             (segmented ? files.back() : output) +
             "' holds what came before" + fault_note);
    return 128 + number;
  }
  if (diagnostics.not_ready() > 0) {
    if (OutputInUse(output_name)) return Fail(command, kExitOutput, InUseMessage(shown()));
    return Fail(command, kExitFailure,
                "the library could not prepare '" + output + "' (see --verbose); nothing was "
                "recorded");
  }
  if (reader.failed()) {
    if (reader.out_of_memory()) {
      return Fail(command, kExitFailure,
                  "out of memory reading '" + input + "'; what came before was recorded" +
                      fault_note);
    }
    return Fail(command, kExitInput,
                "reading '" + input + "' failed; what came before was recorded" + fault_note);
  }
  if (faults.writing_ended && faults.first_code == kBrokenPipeCode) {
    return Fail(command, kExitFailure,
                "writing '" + shown() +
                    "' ended: its reader went away (broken pipe, 0x8007006D); it was given every "
                    "sample before, and the recording was stopped");
  }
  if (faults.writing_ended) {
    return Fail(command, kExitFailure,
                "writing '" + shown() + "' failed with " + DescribeWriteFaults(faults) +
                    "; a stream cannot be cut back, so writing ended there and the recording "
                    "was stopped");
  }
  if (faults.any()) {
    return Fail(command, kExitFailure,
                "writing '" + output + "' failed with " + DescribeWriteFaults(faults) +
                    "; the recording went on, and the file holds the rest, ended");
  }
  struct stat info;
  if (sender.calls() <= files.size() || ::stat(output_name.c_str(), &info) != 0) {
    return Fail(command, kExitFailure, "no output was written to '" + output + "' (see --verbose)");
  }
  std::string lost = DescribeLosses(diagnostics.live_losses(), faults, 0);
  if (!lost.empty()) lost += "; " + std::to_string(diagnostics.groups()) + " groups recorded";
  if (segmented) {
    std::printf("recorded %s -> %zu files, %s to %s: %llu bytes in %llu pieces, %.2f s, %s\n",
                input.c_str(), files.size(), files.front().c_str(), files.back().c_str(),
                static_cast<unsigned long long>(reader.consumed()),
                static_cast<unsigned long long>(sender.calls()), seconds,
                FormatRate(reader.consumed(), seconds).c_str());
  } else {
    // A device or a pipe has no size to tell.
    const uint64_t written = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : 0;
    // Standard output carries the file: the report goes to stderr then.
    std::fprintf(to_stdout ? stderr : stdout,
                 "recorded %s -> %s: %llu bytes in %llu pieces, %s written, %.2f s, %s\n",
                 input.c_str(), output.c_str(), static_cast<unsigned long long>(reader.consumed()),
                 static_cast<unsigned long long>(sender.calls()), FormatMegabytes(written).c_str(),
                 seconds, FormatRate(reader.consumed(), seconds).c_str());
  }
  if (lost.empty()) return kExitOk;
  if (args.Has(kStrictOption.name)) return Fail(command, kExitFailure, lost + " (--strict)");
  // Samples the writer refused are missing from a recording that went on.
  if (faults.refused() > 0) return Fail(command, kExitFailure, lost);
  Fail(command, kExitOk, lost);
  return kExitOk;
}

}  // namespace kestrum_cli
