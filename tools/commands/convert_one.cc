#include "commands/convert_one.h"

#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "asf_format/byte_sink.h"
#include "asf_format/status.h"
#include "base/bytes.h"
#include "frame/cli.h"
#include "frame/results.h"
#include "io/input_file.h"
#include "io/output_path.h"
#include "io/piece_reader.h"
#include "io/segments.h"
#include "io/standard_output.h"
#include "io/stop_signals.h"
#include "io/stream_relay.h"
#include "kestrum.h"
#include "quarnel.h"
#include "report/diagnostic_watch.h"
#include "report/loss_summary.h"
#include "report/progress.h"
#include "stream_format/file_header.h"
#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace {

// Stats to be filled in by the library, of this version's size.
KestrumRecordStats EmptyStats() {
  KestrumRecordStats stats{};
  stats.struct_size = sizeof stats;
  return stats;
}

// The conversion is one blocking call (KestrumTransferToAsfEx); its progress
// callback, on this thread, draws the status line from how far the packet
// source has handed out its stream, the samples written and the time of the
// last (the conversion's stats), and stops the
// conversion on a signal or once the output's reader went away (nothing
// more can be written). `before`: bytes of the input that lie before the
// stream the source reads, past its header (a later file of a series, whose
// relayed stream begins with the header again).
class TransferWatch {
 public:
  TransferWatch(uint64_t before, uint64_t input_size, const DiagnosticWatch& lines, bool allowed)
      : before_(before), lines_(lines), progress_("convert", input_size, allowed) {
    progress_.FollowStats(nullptr);
  }
  TransferWatch(const TransferWatch&) = delete;
  TransferWatch& operator=(const TransferWatch&) = delete;

  KestrumTransferOptions options() {
    KestrumTransferOptions options{};
    options.struct_size = sizeof options;
    options.progress = &TransferWatch::Told;
    options.context = this;
    return options;
  }
  // The conversion returned `stats`: the progress report's part ends with
  // every group it wrote, 40 ms each.
  void Finish(const KestrumRecordStats& stats) {
    const uint64_t frames = Frames(stats);
    progress_.Tally(frames, static_cast<double>(frames) * stream_format::kFrameSeconds);
    progress_.Finish(&stats);
  }
  double elapsed_seconds() const { return progress_.elapsed_seconds(); }

 private:
  static int32_t KESTRUM_CALL Told(uint64_t bytes_read, uint64_t /*bytes_total*/,
                                   uint64_t /*samples_written*/, void* context) {
    auto& watch = *static_cast<TransferWatch*>(context);
    // The media time: that of the last sample written (the file road's
    // samples carry their packet's time).
    KestrumRecordStats stats = EmptyStats();
    const double media_seconds =
        KestrumGetRecordStats(nullptr, &stats) == 0 ? static_cast<double>(stats.media_time) / 1e7
                                                    : 0;
    watch.progress_.Update(watch.before_ + bytes_read, Frames(stats), media_seconds);
    return StopOnSignals::signal() != 0 || watch.lines_.faults().reader_gone() ? 1 : 0;
  }

  // A frame is a group: the file road gives group k's samples the time
  // k x 40 ms (bytes in no group take none), so the last sample's time tells
  // the groups up to it.
  static uint64_t Frames(const KestrumRecordStats& stats) {
    if (stats.samples_written == 0) return 0;
    const double seconds = static_cast<double>(stats.media_time) / 1e7;
    return static_cast<uint64_t>(seconds / stream_format::kFrameSeconds + 0.5) + 1;
  }

  uint64_t before_;
  const DiagnosticWatch& lines_;
  Progress progress_;
};

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
      return Failed(kExitNotStream, ShortHeaderMessage(input));
    }
  }
  const stream_format::DecodedHeader decoded = stream_format::DecodeFileHeader(header);
  if (!decoded.accepted()) return Failed(kExitNotStream, RefusedHeaderMessage(input, header, decoded));
  return {};
}

// Makes the conversion into the name given, with the options asked for,
// and fills in its stats.
using Transfer = std::function<int32_t(const std::string&, const KestrumTransferOptions&,
                                       KestrumRecordStats&)>;

// Where one conversion writes: the name the library opens, and the one
// messages give (the OUTPUT as given; "-" for standard output).
struct Target {
  std::string opened;
  std::string shown;
  bool standard_output = false;
};

// Set when the conversion is to end early: the relay stops reading.
volatile std::sig_atomic_t g_relay_stop = 0;

// In the signal handler: the relay stops, and the packet source ends its
// stream at the next packet, so that a conversion held up writing into a
// FIFO ends there once it can write again, without waiting for its next
// progress call (the library makes one at most every 250 ms). A signal
// that came before the source was opened (which clears the mark) stops the
// conversion at that progress call (TransferWatch).
void EndOnSignal() {
  g_relay_stop = 1;
  QuarnelEndStream(1);
}

// What a conversion ended by a signal holds, in one line.
ConvertOutcome Stopped(int number, const Target& target, bool begun) {
  if (!begun) {
    return Failed(128 + number, StoppedBy(number) + " before anything was written; " +
                                    OutputInWords(target.shown) + " was left as it is");
  }
  struct stat info;
  const bool file = ::stat(target.opened.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  return Failed(
      128 + number,
      EndedBySignal(number, "the conversion", OutputInWords(target.shown)) +
          (file ? " (" + FormatMegabytes(static_cast<uint64_t>(info.st_size)) + ", ended)" : ""));
}

// What one call of KestrumTransferToAsfEx came to, as the program saw it.
struct TransferRun {
  int32_t result = 0;
  WriteFaults faults;
  bool begun = false;  // the library took a packet
  KestrumRecordStats stats = EmptyStats();
  double seconds = 0;  // the call alone
};

// Makes the call, with the library's lines watched and the status line
// drawn from its progress. `before` and `input_bytes`: see TransferWatch.
TransferRun RunTransfer(const Target& target, const ConvertOptions& options, uint64_t before,
                        uint64_t input_bytes, const Transfer& transfer) {
  TransferRun run;
  DiagnosticWatch diagnostics(options.verbose);
  TransferWatch watch(before, input_bytes, diagnostics, options.progress && !options.verbose);
  const KestrumTransferOptions asked = watch.options();
  run.result = transfer(target.opened, asked, run.stats);
  watch.Finish(run.stats);
  run.seconds = watch.elapsed_seconds();
  run.faults = diagnostics.faults();
  run.begun = diagnostics.packets() > 0;
  return run;
}

// `outcome`, failed with `code` and `message`: a failure after the call
// still tells what was written and lost.
ConvertOutcome Told(ConvertOutcome outcome, int code, std::string message) {
  outcome.code = code;
  outcome.message = std::move(message);
  return outcome;
}

// The outcome of a call that a signal or a failure ended (`outcome` holds
// what it wrote); nullopt when it ran to its end. `input_size`: the input's
// size before the call.
std::optional<ConvertOutcome> EndedEarly(const std::string& input, const Target& target,
                                         const TransferRun& run, int64_t input_size,
                                         const ConvertOutcome& outcome) {
  const int32_t result = run.result;
  const WriteFaults& faults = run.faults;
  const int stop = StopOnSignals::signal();
  // Stopped from the progress callback, or the relay ended the stream.
  if (stop != 0 && (result >= 0 || result == KESTRUM_E_CANCELLED)) {
    return Stopped(stop, target, run.begun && result != 0);
  }
  // Interrupted while the output was being opened (a FIFO nobody reads yet).
  if (stop != 0 && !faults.any()) return Stopped(stop, target, false);
  if (result == 0) {
    return Told(outcome, kExitInput,
                "the library could not open '" + input +
                    "' (unreadable, being written by another program, or out of memory)");
  }
  if (static_cast<uint32_t>(result) == kestrum::asf::kSharingViolation.code()) {
    return Told(outcome, kExitOutput, InUseMessage(target.shown));
  }
  if (static_cast<uint32_t>(result) == kestrum::asf::kReadFault.code()) {
    const int64_t now = FileSize(input);
    const std::string why = now >= 0 && now < input_size
                                ? CutShorterMessage(input)
                                : "reading '" + input + "' failed part way";
    return Told(outcome, kExitInput,
                why + ": " + OutputInWords(target.shown) + " holds what was read before, ended");
  }
  if (result < 0 && faults.reader_gone()) {
    return Told(outcome, kExitFailure, ReaderWentAway(target.shown));
  }
  if (result < 0 && faults.any()) {
    return Told(
        outcome, kExitFailure,
        WritingFailed(target.shown, faults) + "; the file holds every sample before, ended");
  }
  if (result < 0) {
    // An output that could not be begun (no such folder, disk full, no
    // permission): the conversion's first failure, in words.
    const int32_t cause = run.stats.first_failure != 0 ? run.stats.first_failure : result;
    return Told(outcome, DescribeResult(cause).exit_code,
                "cannot convert into " + OutputInWords(target.shown) + ": " +
                    DescribeCode(static_cast<uint32_t>(cause)));
  }
  return std::nullopt;
}

// A call that ran to its end: what was lost (with --strict, the bytes in no
// group: those that passed `relayed` since it had passed `outside_before`,
// or for a stored stream as the conversion's stats count them), what was
// written, and with --sync made durable.
ConvertOutcome Completed(const Target& target, const ConvertOptions& options,
                         const PieceReader* relayed, uint64_t outside_before,
                         const TransferRun& run, ConvertOutcome outcome) {
  uint64_t skipped = 0;
  if (options.strict) {
    skipped = relayed != nullptr ? relayed->outside_groups() - outside_before
                                 : run.stats.bytes_in_no_group;
    outcome.counts.skipped_bytes = skipped;
    outcome.counts.skipped_counted = true;
  }
  outcome.lost = DescribeLosses(LiveLosses{}, run.faults, skipped, run.stats.groups_dropped);
  if (options.strict && relayed == nullptr && !outcome.lost.empty()) {
    return Told(outcome, kExitFailure,
                OutputInWords(target.shown) + " was written, but " + outcome.lost + " (--strict)");
  }
  // Samples the writer refused are missing from a file that looks whole.
  outcome.lost_fails = run.faults.refused() > 0;
  struct stat info;
  if (::stat(target.opened.c_str(), &info) != 0) {
    return Told(
        outcome, kExitFailure,
        "the conversion ended but wrote no " + OutputInWords(target.shown) + " (see --verbose)");
  }
  outcome.streamed = !S_ISREG(info.st_mode);
  outcome.output_bytes =
      outcome.streamed ? run.stats.bytes_written : static_cast<uint64_t>(info.st_size);
  if (options.sync && !outcome.streamed) {
    const kestrum::asf::Status synced = kestrum::asf::SyncFile(target.opened);
    if (kestrum::asf::Failed(synced)) {
      return Told(outcome, kExitFailure,
                  OutputInWords(target.shown) +
                      " was written, but making it durable (--sync) failed: " +
                      DescribeCode(synced.code()) + "; it may not survive a power cut");
    }
  }
  return outcome;
}

// One call of KestrumTransferToAsfEx for `target`, with the checks around it;
// `transfer` makes the call with the name to open. `relayed`: the reader
// of the relay the library reads instead of `input`: --strict counts the
// bytes in no group as they pass through it, and the caller fails on what
// was lost once every file of the input is written; null for a stored
// stream, whose conversion's stats count them, failed on here. `before`: the input's bytes before the
// relayed stream, past its header (see TransferWatch).
ConvertOutcome TransferOne(const std::string& input, const Target& target,
                           const ConvertOptions& options, const PieceReader* relayed,
                           uint64_t before, const Transfer& transfer) {
  // Standard output is whatever the shell made of it.
  const OutputRefusal refused = CheckOutput(
      target.opened, target.shown, {input},
      target.standard_output ? Overwrite::kAlways : options.overwrite, OutputKind::kAsf);
  if (refused.code != kExitOk) return Failed(refused.code, refused.message);

  ConvertOutcome outcome;
  const int64_t input_size = FileSize(input);
  outcome.input_bytes = input_size > 0 ? static_cast<uint64_t>(input_size) : 0;
  const uint64_t outside_before = relayed != nullptr ? relayed->outside_groups() : 0;
  const TransferRun run = RunTransfer(target, options, before, outcome.input_bytes, transfer);
  outcome.seconds = run.seconds;
  outcome.counts.faults = run.faults;
  outcome.counts.refused_groups = run.stats.groups_dropped;
  if (target.standard_output) EndStandardOutput();
  if (auto ended = EndedEarly(input, target, run, input_size, outcome)) return *std::move(ended);
  return Completed(target, options, relayed, outside_before, run, outcome);
}

// The pieces of a relayed stream as the relay asks for them
// (StreamRelay::NextPiece), cut into files: the piece that begins a new
// file ends the file in hand, and is held back to begin the next.
class SeriesFeed {
 public:
  SeriesFeed(PieceReader& reader, uint16_t stream_type, uint64_t segment_ms)
      : reader_(reader), clock_(SegmentClock::Road::kFile, stream_type, segment_ms) {}

  bool Next(const uint8_t*& data, size_t& size) {
    if (held_data_ != nullptr) {
      data = held_data_;
      size = held_size_;
      held_data_ = nullptr;
      return true;
    }
    // Stopped: what was read part way is not handed on.
    if (StopOnSignals::signal() != 0 || !reader_.Next(data, size) || StopOnSignals::signal() != 0) {
      ended_ = true;
      return false;
    }
    if (clock_.StartsNewFile(data, size)) {
      held_data_ = data;
      held_size_ = size;
      return false;
    }
    return true;
  }

  // No file follows: the input ended, a signal stopped it, or the file
  // just written ended without a piece held back for another.
  bool ended() const { return ended_; }
  void EndUnlessHolding() { ended_ = ended_ || held_data_ == nullptr; }
  // The input's bytes handed on so far, the piece held back not counted.
  uint64_t sent() const { return reader_.consumed() - (held_data_ != nullptr ? held_size_ : 0); }

 private:
  PieceReader& reader_;
  SegmentClock clock_;
  const uint8_t* held_data_ = nullptr;  // the piece that begins the next file
  size_t held_size_ = 0;
  bool ended_ = false;
};

// Adds a file of a series that was written (`one`, named `shown`) to the
// series' `total`, `outputs` and `lost` ("NAME: ..." for a file that lost
// anything).
void AddFile(const ConvertOutcome& one, const std::string& shown, ConvertOutcome& total,
             std::vector<std::string>& lost, std::vector<std::string>& outputs) {
  if (!one.lost.empty()) lost.push_back(shown + ": " + one.lost);
  total.lost = one.lost;  // as it is when this file is the only one
  outputs.push_back(shown);
  total.lost_fails = total.lost_fails || one.lost_fails;
  total.output_bytes += one.output_bytes;
  total.streamed = total.streamed || one.streamed;
  total.seconds += one.seconds;
}

// After the series' last file: a failed read of the input, or with
// --strict what any file lost, fails it; else `total`.
ConvertOutcome EndOfSeries(const std::string& input, const PieceReader& reader,
                           const ConvertOptions& options, const std::vector<std::string>& outputs,
                           const std::vector<std::string>& lost, ConvertOutcome total) {
  total.input_bytes = reader.consumed();
  if (reader.failed()) {
    const std::string what = reader.out_of_memory() ? "out of memory reading '" + input + "'"
                             : reader.shrank()      ? CutShorterMessage(input)
                                                    : "reading '" + input + "' failed part way";
    return Failed(reader.out_of_memory() ? kExitFailure : kExitInput,
                  what + ": what was read before is in '" + outputs.back() + "', ended");
  }
  if (outputs.size() > 1) {
    total.lost.clear();
    for (const std::string& l : lost) total.lost += (total.lost.empty() ? "" : "; ") + l;
  }
  if (options.strict && !total.lost.empty()) {
    const std::string written = outputs.size() == 1
                                    ? OutputInWords(outputs[0]) + " was written"
                                    : std::to_string(outputs.size()) + " files were written";
    ConvertOutcome failed = Failed(kExitFailure, written + ", but " + total.lost + " (--strict)");
    failed.files_told = true;
    failed.counts = total.counts;
    return failed;
  }
  return total;
}

// The input opened once and relayed to one TransferToAsf a file: a new file,
// named by `name`, at the first group that may start a recording once the
// file holds `segment_ms` of media.
ConvertOutcome ConvertRelayed(const std::string& input,
                              const std::function<Target(uint64_t)>& name,
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
  SeriesFeed feed(reader, kestrum::load_u16le(header + 16), segment_ms);
  const StreamRelay::NextPiece next = [&feed](const uint8_t*& data, size_t& size) {
    return feed.Next(data, size);
  };
  ConvertOutcome total;
  std::vector<std::string> lost;
  for (uint64_t number = 0; !feed.ended() && StopOnSignals::signal() == 0; ++number) {
    const Target target = name(number);
    const OutputRefusal repeat = RepeatInSeries(target.opened, outputs);
    if (repeat.code != kExitOk) return Failed(repeat.code, repeat.message);
    // The piece held back begins this file; the relay sends the header again.
    const uint64_t before = feed.sent() - sizeof header;
    ConvertOutcome one = TransferOne(
        input, target, options, &reader, before,
        [&](const std::string& out, const KestrumTransferOptions& asked, KestrumRecordStats& stats) {
          return relay.Run(header, next, [&] {
            return KestrumTransferToAsfEx(reinterpret_cast<intptr_t>(relay.path().c_str()),
                                          out.c_str(), &asked, &stats);
          }, &g_relay_stop);
        });
    total.counts.Add(one.counts);
    if (one.code > 128) outputs.push_back(target.shown);  // stopped: it holds what came before
    if (one.code != kExitOk) {
      one.counts = total.counts;
      return one;
    }
    AddFile(one, target.shown, total, lost, outputs);
    feed.EndUnlessHolding();  // no next file begun
  }
  // A signal between two files: the series ends with the one before.
  if (StopOnSignals::signal() != 0 && !feed.ended() && !outputs.empty()) {
    return Stopped(StopOnSignals::signal(), name(outputs.size() - 1), true);
  }
  return EndOfSeries(input, reader, options, outputs, lost, std::move(total));
}

// The output as the command line gives it: "-" is standard output.
bool TargetOf(const std::string& output, Target& target, ConvertOutcome& refused) {
  target = Target{output, output, output == "-"};
  if (!target.standard_output) return true;
  std::string error;
  const int code = StandardOutput(false, target.opened, error);
  if (code == kExitOk) return true;
  refused = Failed(code, error);
  return false;
}

}  // namespace

ConvertOutcome ConvertOne(const std::string& input, const std::string& output,
                          const ConvertOptions& options) {
  (void)QuarnelEndStream(0);  // binds it now rather than first in a signal handler
  const StopOnSignals signals(&EndOnSignal);
  Target target;
  ConvertOutcome refused;
  uint8_t header[40];
  if (IsRegularFile(input)) {
    ConvertOutcome checked = CheckInput(input, nullptr, header);
    if (checked.code != kExitOk) return checked;
    if (!TargetOf(output, target, refused)) return refused;
    return TransferOne(
        input, target, options, nullptr, 0,
        [&](const std::string& out, const KestrumTransferOptions& asked, KestrumRecordStats& stats) {
          return KestrumTransferToAsfEx(reinterpret_cast<intptr_t>(input.c_str()), out.c_str(),
                                        &asked, &stats);
        });
  }
  // A FIFO, a pipe, a device: read once, by the program, and relayed.
  if (!TargetOf(output, target, refused)) return refused;
  std::vector<std::string> outputs;
  return ConvertRelayed(input, [&target](uint64_t) { return target; }, UINT64_MAX, options,
                        outputs);
}

ConvertOutcome ConvertSegments(const std::string& input, const OutputPattern& pattern,
                               uint64_t segment_ms, const ConvertOptions& options,
                               std::vector<std::string>& outputs) {
  if (options.overwrite == Overwrite::kSameKind) {
    std::string foreign = ForeignInSeries(pattern, OutputKind::kAsf, {input});
    if (!foreign.empty()) return Failed(kExitOutput, std::move(foreign));
  }
  (void)QuarnelEndStream(0);
  const StopOnSignals signals(&EndOnSignal);
  return ConvertRelayed(
      input,
      [&pattern](uint64_t number) {
        const std::string name = pattern.Name(number);
        return Target{name, name, false};
      },
      segment_ms, options, outputs);
}

ConvertOutcome ForBatch(ConvertOutcome outcome, const std::string& output) {
  if (outcome.code != kExitOk) return outcome;
  outcome.message = outcome.lost;
  if (outcome.lost_fails) {
    outcome.code = kExitFailure;
    outcome.message = "'" + output + "' was written, but " + outcome.lost;
  }
  return outcome;
}

std::string DescribeConverted(const std::string& input, const std::string& output,
                              const ConvertOutcome& outcome) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", outcome.seconds);
  // A file's size, or what the library wrote into a stream (a pipe, a FIFO,
  // a device).
  const std::string written = FormatMegabytes(outcome.output_bytes) + " written, ";
  return "converted " + input + " -> " + (output == "-" ? "standard output" : output) + ": " +
         FormatMegabytes(outcome.input_bytes) + " read, " + written + seconds + ", " +
         FormatRate(outcome.input_bytes, outcome.seconds);
}

}  // namespace kestrum_cli
