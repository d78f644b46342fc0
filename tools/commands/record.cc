// kestrum record: the live road, fed from a file or standard input.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "asf_format/status.h"
#include "commands/commands.h"
#include "frame/args.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "io/group_follower.h"
#include "io/input_file.h"
#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/piece_reader.h"
#include "io/piece_sender.h"
#include "io/segments.h"
#include "io/standard_output.h"
#include "io/stop_signals.h"
#include "kestrum.h"
#include "report/diagnostic_watch.h"
#include "report/json_output.h"
#include "report/loss_summary.h"
#include "report/outcome.h"
#include "report/progress.h"
#include "stream_format/file_header.h"
#include "stream_format/frame_time.h"

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
    "  --piece-size N   bytes per piece after the header (default 4096; K, M: 2^10,\n"
    "                   2^20 bytes, so 4K is 4096; at most 256M)\n"
    "  --piece-size group\n"
    "                   one whole group per piece; bytes that belong to no group\n"
    "                   go out as pieces of their own\n"
    "  -n, --no-overwrite\n"
    "                   refuse an OUTPUT file that exists (exit 5)\n"
    "  -y, --overwrite  rewrite an OUTPUT file that exists, whatever it holds\n"
    "                   (without -y or -n: an ASF file or an empty one only)\n"
    "      --strict     exit 1 when anything was lost\n"
    "  --segment-time SECONDS\n"
    "                   record into a series of files named by OUTPUT_PATTERN,\n"
    "                   numbered from 0 by its one %d (such as cam1-%03d.asf; %%\n"
    "                   for a '%'). One recording (one instance, the header sent\n"
    "                   once) goes on from file to file (KestrumSwitchOutput),\n"
    "                   each file whole (header, duration, index, from time 0):\n"
    "                   once a file holds SECONDS of media (40 ms a video block),\n"
    "                   the next begins at the next group that may start a\n"
    "                   recording, so no group is lost or repeated between files.\n"
    "                   SECONDS as ffmpeg takes a time: 10, 10.5, 10s, 500ms,\n"
    "                   1:30 or 00:00:10.5\n"
    "  --sync-interval SECONDS\n"
    "                   make the file durable (synced to the disk) at most SECONDS\n"
    "                   behind what was sent (default 1; 0 turns syncing off)\n"
    "  --report-json FILE\n"
    "                   write to FILE, as JSON, how the recording ended and what\n"
    "                   it lost (docs/json.md)\n"
    "  -v, --verbose    print the library's diagnostic lines on stderr\n"
    "  -h, --help       this text\n"
    "\n"
    "OUTPUT is written through, never removed: an existing ASF file (or an empty\n"
    "file) is rewritten, a symlink's target written (or made), and a device, a\n"
    "FIFO or '-' (standard output) gets a stream written front to back (no sizes,\n"
    "duration or index). An existing file that holds anything else (a stream,\n"
    "a text: arguments given the wrong way round) is rewritten only with -y, and\n"
    "refused without it (exit 5) before a byte is written; so is a series whose\n"
    "files include one.\n"
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
    kNoOverwriteOption,   kOverwriteOption,        kStrictOption,         {"sync-interval", true},
    {kReportJsonOption, true}};

constexpr size_t kDefaultPieceSize = 4096;
constexpr uint64_t kMaxPieceSize = uint64_t{256} << 20;
constexpr char kCommand[] = "record";
constexpr int kMaxSyncSeconds = 86400;

// What the command line asks for.
struct RecordRequest {
  std::string input;
  std::string output;
  size_t piece_size = kDefaultPieceSize;  // 0: one whole group per piece
  bool segmented = false;                 // --segment-time: a series of files
  uint64_t segment_ms = 0;
  OutputPattern pattern;  // segmented: the files' names
  bool verbose = false;
  Overwrite overwrite = Overwrite::kSameKind;  // -n, -y
  bool strict = false;
  int32_t sync_interval_ms = -1;  // --sync-interval; -1: the library's default
  std::optional<std::string> report_json;  // --report-json FILE

  bool from_stdin() const { return input == "-"; }
  bool to_stdout() const { return output == "-" && !segmented; }
};

// --sync-interval SECONDS: 0 (off) or more, to the millisecond (a nonzero
// interval at least 1 ms).
bool ParseSyncInterval(const std::string& text, int32_t& milliseconds, std::string& error) {
  char* end = nullptr;
  const double seconds =
      text.empty() || text[0] == '-' || text[0] == '+' ? -1 : std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0' || !std::isfinite(seconds) || seconds < 0 ||
      seconds > kMaxSyncSeconds) {
    error = "--sync-interval '" + text + "' is not a number of seconds from 0 to " +
            std::to_string(kMaxSyncSeconds);
    return false;
  }
  const auto rounded = static_cast<int32_t>(std::llround(seconds * 1000.0));
  milliseconds = rounded == 0 && seconds > 0 ? 1 : rounded;
  return true;
}

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, RecordRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  std::string error;
  if (args.positionals().size() != 2) return UsageError(kCommand, "expected INPUT and OUTPUT");
  request.input = args.positionals()[0];
  request.output = args.positionals()[1];
  if (auto s = args.Value("piece-size")) {
    if (*s == "group") {
      request.piece_size = 0;
    } else {
      uint64_t v = 0;
      if (!ParseByteSize(*s, "--piece-size", kMaxPieceSize, v, error)) {
        return UsageError(kCommand, error);
      }
      request.piece_size = v == 40 ? 41 : static_cast<size_t>(v);
    }
  }

  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(kCommand, conflict);
  }

  request.segmented = args.Has("segment-time");
  if (request.segmented &&
      (!ParseSegmentTime(*args.Value("segment-time"), request.segment_ms, error) ||
       !request.pattern.Parse(request.output, error))) {
    return UsageError(kCommand, error);
  }
  if (auto s = args.Value("sync-interval")) {
    if (!ParseSyncInterval(*s, request.sync_interval_ms, error)) return UsageError(kCommand, error);
  }
  request.verbose = args.Has("verbose");
  request.overwrite = OverwriteOf(args);
  request.strict = args.Has(kStrictOption.name);
  request.report_json = args.Value(kReportJsonOption);
  return std::nullopt;
}

// One recording, in the order its steps run: OpenInput, Start, PumpPieces
// (which asks for a series' next file with AskSwitch), StopAndReport. A step
// that returns an exit code ends the command with it.
class Recording {
 public:
  explicit Recording(const RecordRequest& request)
      : request_(request),
        output_name_(request.segmented ? request.pattern.Name(0) : request.output) {}

  // Opens the input (and standard output as the output), reads the header
  // and refuses what the live road would drop without saying why.
  std::optional<int> OpenInput();
  // Watches the library's lines, begins the first file and sends the header.
  std::optional<int> Start();
  // Sends the input on in pieces until it ends, a signal stops it, the
  // library drops a piece for want of an output, or writing has ended.
  std::optional<int> PumpPieces();
  // Ends the recording and tells how it went.
  int StopAndReport();
  // The recording as --report-json tells it, once it ended with `code`.
  Json ReportJson(int code, const std::vector<std::string>& messages) const;

 private:
  // Makes the recording's instance, or sets refused_ to say why not.
  bool BeginFile();
  // A series: the checks a file passes before it is written, for `name`.
  OutputRefusal CheckFile(const std::string& name) const;
  // A series: asks the library to go on in the next file from the next
  // group that may start a recording; the file in hand goes on until then.
  std::optional<int> AskSwitch();
  // A series: sends whole pieces of the size asked for (a group a piece
  // with --piece-size group), keeping the rest for the next group.
  std::optional<int> SendSegmented(const uint8_t* data, size_t size);
  // A series: sends one piece, asking for the next file first when it is
  // due (`may_switch`), and follows the groups the live road now has whole.
  std::optional<int> SendPiece(const uint8_t* data, size_t size, bool may_switch);
  // A series: whether the first group that may start a recording among
  // those the live road gets whole with the stream's bytes up to
  // `piece_end` comes once the next file is due: a switch asked for before
  // them begins the next file there.
  bool SwitchDue(uint64_t piece_end) const;
  // A series: the live road went on in the file asked for.
  void FileBegun();
  // A series: sends the bytes kept, less than a piece (a next file due
  // among them is asked for, but not once a signal came).
  std::optional<int> FlushPending();
  // Once the writer has made the file in hand: holds it open, to tell at
  // the end whether its name still leads to it.
  void HoldMadeFile();
  // The file in hand no longer at its name (removed with its folder, moved
  // away): what became of it, in a line; nullopt when it is there.
  std::optional<int> MadeFileGone();
  // The output could not be prepared (the first data piece was dropped):
  // why, as the recording's stats tell it.
  int NotPrepared();
  // The line of what was recorded, and of what was lost.
  int Report(double seconds, const WriteFaults& faults, const struct stat& info);
  // What the live road dropped: as its lines tell it, and the group the
  // input ended inside.
  LiveLosses Losses() const;

  // The output as the user named it.
  std::string shown() const {
    return request_.segmented || !request_.to_stdout() ? output_name_ : request_.output;
  }

  const RecordRequest& request_;
  // The library keeps this pointer until StopRecord.
  std::string output_name_;
  std::optional<InputFile> in_;
  std::optional<PieceReader> reader_;
  GroupFollower follower_;  // what the live road holds at the input's end
  uint8_t header_[40] = {};
  stream_format::DecodedHeader decoded_;
  std::optional<DiagnosticWatch> diagnostics_;
  // One instance for the whole recording, a series too (KestrumSwitchOutput).
  KestrumHandle handle_ = nullptr;
  // Memory that runs out in the program itself, and a series' next file
  // refused, still leave the recording ended (the normal way out releases
  // the handle first).
  struct EndOnUnwind {
    KestrumHandle& handle;
    ~EndOnUnwind() {
      if (handle != nullptr) StopRecord(handle);
      ReleaseRecordInstance(&handle);
    }
  } end_on_unwind_{handle_};
  std::optional<int> refused_;
  std::vector<std::string> files_;  // those begun, the one in hand last
  std::optional<Progress> progress_;
  std::optional<PieceSender> sender_;
  std::optional<StopOnSignals> signals_;
  std::optional<SegmentClock> clock_;
  std::vector<uint8_t> pending_;  // segmented: bytes not yet sent, less than a piece
  // A series: the groups read but not yet whole in the live road (their
  // last byte not sent), with where each ends in the stream after the header.
  struct Unsent {
    uint64_t end = 0;
    SegmentClock::Group group;
  };
  std::deque<Unsent> unsent_;
  uint64_t read_end_ = 0;       // bytes read after the header
  uint64_t sent_end_ = 0;       // of those, the bytes sent
  std::string next_name_;       // the file asked for, while switching_
  bool switching_ = false;      // a switch waits for a group that may start
  int32_t switch_failure_ = 0;  // the next file could not be begun: why
  // The file in hand as the writer made it (HoldMadeFile); -1 before, or
  // when it is no regular file.
  struct MadeFile {
    int fd = -1;
    bool tried = false;
    uint64_t calls_before = 0;  // pieces sent before the file's first data piece
    void Close() {
      if (fd >= 0) ::close(fd);
      fd = -1;
      tried = false;
    }
    ~MadeFile() { Close(); }
  } made_;
  uint64_t written_ = 0;          // the output's size, or the bytes written into a stream
  // What the library tells of the file in hand, once it is ended.
  KestrumRecordStats stats_ = [] {
    KestrumRecordStats stats{};
    stats.struct_size = sizeof stats;
    return stats;
  }();
  std::string lost_;              // the line of what was lost
};

std::optional<int> Recording::OpenInput() {
  const std::string& input = request_.input;
  std::string error;
  if (request_.to_stdout()) {
    const int code = StandardOutput(false, output_name_, error);
    if (code != kExitOk) return Refuse(kCommand, code, error);
  }
  in_.emplace(input);
  if (in_->fd() < 0) return Fail(kCommand, kExitInput, in_->OpenError());
  const int fd = in_->fd();

  if (IdOfDescriptor(fd) == IdOfPath(output_name_)) {
    return UsageError(
        kCommand,
        "OUTPUT '" + (request_.to_stdout() ? request_.output : output_name_) +
            "' would overwrite INPUT " +
            (request_.from_stdin() ? std::string("(standard input)") : "'" + input + "'"));
  }
  // A series: groups are read whole, for the clock to follow them as the
  // live road does, and sent on in pieces of the size asked for.
  reader_.emplace(fd, request_.segmented ? 0 : request_.piece_size);
  if (!reader_->ReadHeader(header_)) {
    if (reader_->out_of_memory()) return Fail(kCommand, kExitFailure, "out of memory");
    if (reader_->failed()) return Fail(kCommand, kExitInput, "cannot read '" + input + "'");
    return Fail(kCommand, kExitNotStream, ShortHeaderMessage(input));
  }
  decoded_ = stream_format::DecodeFileHeader(header_);
  if (!decoded_.accepted()) {
    return Fail(kCommand, kExitNotStream, RefusedHeaderMessage(input, decoded_));
  }
  // The live road would drop every piece without saying why.
  if (output_name_.size() > kMaxOutputName) {
    return Fail(kCommand, kExitOutput,
                "cannot write '" + output_name_ +
                    "': " + DescribeCode(kestrum::asf::kFileNameTooLong.code()));
  }
  return std::nullopt;
}

OutputRefusal Recording::CheckFile(const std::string& name) const {
  const OutputRefusal repeat = RepeatInSeries(name, files_);
  if (repeat.code != kExitOk) return repeat;
  // Standard output is whatever the shell made of it: never refused by -n.
  return CheckOutput(name, request_.segmented || !request_.to_stdout() ? name : request_.output,
                     {request_.input},
                     request_.to_stdout() ? Overwrite::kAlways : request_.overwrite,
                     OutputKind::kAsf);
}

bool Recording::BeginFile() {
  const OutputRefusal checked = CheckFile(output_name_);
  if (checked.code != kExitOk) {
    refused_ = Refuse(kCommand, checked.code, checked.message);
  } else if ((handle_ = CreateRecordInstance()) == nullptr) {
    refused_ = Fail(kCommand, kExitFailure, "the library made no instance (out of memory)");
  } else if (StartRecord(handle_, output_name_.c_str(), 0, 0) == 0) {
    ReleaseRecordInstance(&handle_);
    refused_ = Fail(kCommand, kExitFailure, "StartRecord refused the instance");
  }
  return !refused_;
}

std::optional<int> Recording::Start() {
  diagnostics_.emplace(request_.verbose);
  if (request_.sync_interval_ms >= 0) KestrumSetSyncInterval(request_.sync_interval_ms);
  // A series is refused before its first byte, not where it meets such a file.
  if (request_.segmented && request_.overwrite == Overwrite::kSameKind) {
    const std::string foreign =
        ForeignInSeries(request_.pattern, OutputKind::kAsf, {request_.input});
    if (!foreign.empty()) return Fail(kCommand, kExitOutput, foreign);
  }
  if (!BeginFile()) return refused_;
  const int64_t input_size = request_.from_stdin() ? -1 : FileSize(request_.input);
  progress_.emplace("record", input_size > 0 ? static_cast<uint64_t>(input_size) : 0,
                    !request_.verbose);
  sender_.emplace(
      [this](const uint8_t* piece, int32_t size) { SendOneFrame(handle_, piece, size); });
  signals_.emplace();
  reader_->StopWhen(StopOnSignals::flag());
  sender_->Header(header_);
  made_.calls_before = sender_->calls();
  clock_.emplace(SegmentClock::Road::kLive, decoded_.stream_type, request_.segment_ms);
  files_ = {output_name_};
  return std::nullopt;
}

std::optional<int> Recording::PumpPieces() {
  const uint8_t* data = nullptr;
  size_t size = 0;
  // The header went first: a data piece the library drops because the
  // output cannot be prepared would be followed by every other; and once
  // writing has ended (an output that cannot be cut back failed: a pipe
  // whose reader went away), nothing more can be written.
  while (StopOnSignals::signal() == 0 && diagnostics_->not_ready() == 0 &&
         switch_failure_ == 0 && !diagnostics_->faults().writing_ended &&
         reader_->Next(data, size)) {
    follower_.Feed(data, size);
    if (request_.segmented) {
      if (const auto code = SendSegmented(data, size)) return code;
    } else {
      sender_->Piece(data, size);
    }
    HoldMadeFile();
    progress_->Update(reader_->consumed(), diagnostics_->groups(),
                      static_cast<double>(diagnostics_->samples()) * stream_format::kFrameSeconds);
  }
  return std::nullopt;
}

std::optional<int> Recording::AskSwitch() {
  const std::string name = request_.pattern.Name(files_.size());
  const OutputRefusal checked = CheckFile(name);
  int32_t code = 0;
  if (checked.code != kExitOk) {
    refused_ = Refuse(kCommand, checked.code, checked.message);
  } else if ((code = KestrumSwitchOutput(handle_, name.c_str())) != 0) {
    refused_ = Fail(kCommand, kExitFailure,
                    "cannot write '" + name + "': " + DescribeCode(static_cast<uint32_t>(code)));
  }
  if (refused_) {
    progress_->Finish();
    std::fprintf(stderr, "kestrum record: %zu files were written before, the last '%s'\n",
                 files_.size(), Escaped(files_.back()).c_str());
    return refused_;
  }
  next_name_ = name;
  switching_ = true;
  return std::nullopt;
}

std::optional<int> Recording::SendSegmented(const uint8_t* data, size_t size) {
  read_end_ += size;
  unsent_.push_back({read_end_, clock_->Measure(data, size)});
  const size_t piece_size = request_.piece_size;
  if (piece_size == 0) return SendPiece(data, size, true);
  pending_.insert(pending_.end(), data, data + size);
  size_t at = 0;
  std::optional<int> code;
  for (; !code && pending_.size() - at >= piece_size; at += piece_size) {
    code = SendPiece(pending_.data() + at, piece_size, true);
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  return code;
}

std::optional<int> Recording::SendPiece(const uint8_t* data, size_t size, bool may_switch) {
  // The clock counts what the live road has whole; a switch asked for now
  // is made at the first group that may start a recording it gets whole.
  if (may_switch && !switching_ && SwitchDue(sent_end_ + size)) {
    if (const auto code = AskSwitch()) {
      // The file in hand, ended as the command unwinds, keeps the groups
      // before the one that was to begin the next.
      uint64_t end = sent_end_;
      for (const Unsent& unsent : unsent_) {
        if (unsent.group.whole && unsent.group.may_start) break;
        end = unsent.end;
      }
      if (end > sent_end_) sender_->Piece(data, static_cast<size_t>(end - sent_end_));
      return code;
    }
  }
  sender_->Piece(data, size);
  sent_end_ += size;
  while (!unsent_.empty() && unsent_.front().end <= sent_end_) {
    if (clock_->Take(unsent_.front().group, switching_)) FileBegun();
    unsent_.pop_front();
  }
  return std::nullopt;
}

bool Recording::SwitchDue(uint64_t piece_end) const {
  SegmentClock ahead = *clock_;
  for (const Unsent& unsent : unsent_) {
    if (unsent.end > piece_end) break;
    if (unsent.group.whole && unsent.group.may_start) return ahead.Due();
    ahead.Take(unsent.group, false);
  }
  return false;
}

void Recording::FileBegun() {
  switching_ = false;
  output_name_ = next_name_;
  files_.push_back(output_name_);
  // The live road made the file in the piece just sent.
  made_.Close();
  made_.calls_before = sender_->calls() - 1;
  // A file that could not be begun leaves the recording waiting, its status
  // recorded.
  KestrumRecordStats stats{};
  stats.struct_size = sizeof stats;
  if (KestrumGetRecordStats(handle_, &stats) == 0 && stats.state == KESTRUM_STATE_WAITING &&
      stats.last_failure != 0) {
    switch_failure_ = stats.last_failure;
  }
}

std::optional<int> Recording::FlushPending() {
  std::optional<int> code;
  if (!pending_.empty()) {
    code = SendPiece(pending_.data(), pending_.size(), StopOnSignals::signal() == 0);
  }
  pending_.clear();
  return code;
}

int Recording::StopAndReport() {
  const std::string& input = request_.input;
  const std::string& output = request_.output;
  if (const auto code = FlushPending()) return *code;
  StopRecord(handle_);
  KestrumGetRecordStats(handle_, &stats_);
  ReleaseRecordInstance(&handle_);
  if (request_.to_stdout()) EndStandardOutput();
  progress_->Finish();
  const double seconds = progress_->elapsed_seconds();
  const WriteFaults faults = diagnostics_->faults();
  const std::string fault_note =
      faults.any() ? "; writing failed: " + DescribeWriteFaults(faults) : "";

  if (StopOnSignals::signal() != 0) {
    const int number = StopOnSignals::signal();
    Fail(kCommand, 128 + number,
         EndedBySignal(number, "the recording",
                       OutputInWords(request_.segmented ? files_.back() : output)) +
             fault_note);
    return 128 + number;
  }
  if (diagnostics_->not_ready() > 0 || switch_failure_ != 0) return NotPrepared();
  if (reader_->failed()) {
    if (reader_->shrank()) {
      return Fail(kCommand, kExitInput,
                  CutShorterMessage(input) + ": what came before was recorded; the rest is lost" +
                      fault_note);
    }
    if (reader_->out_of_memory()) {
      return Fail(
          kCommand, kExitFailure,
          "out of memory reading '" + input + "'; what came before was recorded" + fault_note);
    }
    return Fail(kCommand, kExitInput,
                "reading '" + input + "' failed; what came before was recorded" + fault_note);
  }
  if (faults.reader_gone()) {
    return Fail(kCommand, kExitFailure,
                ReaderWentAway(shown()) + ", and the recording was stopped");
  }
  if (faults.writing_ended) {
    return Fail(kCommand, kExitFailure,
                WritingFailed(shown(), faults) +
                    "; a stream cannot be cut back, so writing ended there and the recording "
                    "was stopped");
  }
  if (faults.any()) {
    return Fail(kCommand, kExitFailure,
                WritingFailed(output, faults) +
                    "; the recording went on, and the file holds the rest, ended");
  }
  if (const auto gone = MadeFileGone()) return *gone;
  struct stat info;
  if (sender_->calls() <= 1 || ::stat(output_name_.c_str(), &info) != 0) {
    return Fail(kCommand, kExitFailure,
                "no output was written to " + OutputInWords(output) + " (see --verbose)");
  }
  return Report(seconds, faults, info);
}

void Recording::HoldMadeFile() {
#ifndef _WIN32
  // The writer makes the file at the first data piece it takes.
  if (made_.tried || request_.to_stdout() || diagnostics_->not_ready() > 0 ||
      sender_->calls() <= made_.calls_before) {
    return;
  }
  made_.tried = true;
  struct stat info;
  if (::stat(output_name_.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
  made_.fd = ::open(output_name_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (made_.fd >= 0 && !(IdOfDescriptor(made_.fd) == IdOfPath(output_name_))) made_.Close();
#endif
}

std::optional<int> Recording::MadeFileGone() {
#ifndef _WIN32
  struct stat info;
  if (made_.fd < 0 || ::fstat(made_.fd, &info) != 0 ||
      IdOfDescriptor(made_.fd) == IdOfPath(output_name_)) {
    return std::nullopt;
  }
  const std::string size = FormatMegabytes(static_cast<uint64_t>(info.st_size));
  if (info.st_nlink == 0) {
    return Fail(kCommand, kExitFailure,
                OutputInWords(shown()) + " was removed while it was recorded (the file, or its "
                "folder): the " + size + " written into it went with it");
  }
  return Fail(kCommand, kExitFailure,
              OutputInWords(shown()) + " was moved away while it was recorded: the file (" +
                  size + ", ended) is under another name");
#else
  return std::nullopt;
#endif
}

int Recording::NotPrepared() {
  if (OutputInUse(output_name_)) return Fail(kCommand, kExitOutput, InUseMessage(shown()));
  std::string nothing =
      files_.size() > 1 ? "; nothing was recorded into it (" + std::to_string(files_.size() - 1) +
                              " files were written before, the last '" +
                              files_[files_.size() - 2] + "')"
                        : "; nothing was recorded";
  // A series: what the files before it lost (a disk that filled while one
  // was written leaves the next ones without samples until even a header
  // no longer fits).
  if (files_.size() > 1) {
    const std::string lost = DescribeLosses(diagnostics_->live_losses(), diagnostics_->faults(), 0);
    if (!lost.empty()) nothing += "; before it, " + lost;
  }
  // Why the writer could not be prepared: the recording's first failure.
  const auto code =
      static_cast<uint32_t>(switch_failure_ != 0 ? switch_failure_ : stats_.first_failure);
  if (code != 0) {
    return Fail(kCommand, DescribeResult(static_cast<int32_t>(code)).exit_code,
                "cannot write " + OutputInWords(shown()) + ": " + DescribeCode(code) + nothing);
  }
  return Fail(kCommand, kExitFailure,
              "the library could not prepare " + OutputInWords(shown()) + " (see --verbose)" +
                  nothing);
}

int Recording::Report(double seconds, const WriteFaults& faults, const struct stat& info) {
  const std::string& input = request_.input;
  const uint64_t consumed = reader_->consumed();
  std::string lost = DescribeLosses(Losses(), faults, 0);
  if (!lost.empty()) lost += "; " + std::to_string(diagnostics_->groups()) + " groups recorded";
  lost_ = lost;
  written_ = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : stats_.bytes_written;
  if (request_.segmented) {
    std::printf("recorded %s -> %zu files, %s to %s: %llu bytes in %llu pieces, %.2f s, %s\n",
                Escaped(input).c_str(), files_.size(), Escaped(files_.front()).c_str(),
                Escaped(files_.back()).c_str(), static_cast<unsigned long long>(consumed),
                static_cast<unsigned long long>(sender_->calls()), seconds,
                FormatRate(consumed, seconds).c_str());
  } else {
    // A file's size, or what the library wrote into a stream (a pipe, a
    // FIFO, a device).
    const std::string written = FormatMegabytes(written_) + " written, ";
    // Standard output carries the file: the report goes to stderr then.
    std::fprintf(request_.to_stdout() ? stderr : stdout,
                 "recorded %s -> %s: %llu bytes in %llu pieces, %s%.2f s, %s\n",
                 Escaped(input).c_str(),
                 request_.to_stdout() ? "standard output" : Escaped(request_.output).c_str(),
                 static_cast<unsigned long long>(consumed),
                 static_cast<unsigned long long>(sender_->calls()), written.c_str(), seconds,
                 FormatRate(consumed, seconds).c_str());
  }
  if (lost.empty()) return kExitOk;
  if (request_.strict) return Fail(kCommand, kExitFailure, lost + " (--strict)");
  // Samples the writer refused are missing from a recording that went on.
  if (faults.refused() > 0) return Fail(kCommand, kExitFailure, lost);
  Fail(kCommand, kExitOk, lost);
  return kExitOk;
}

LiveLosses Recording::Losses() const {
  LiveLosses losses = diagnostics_->live_losses();
  losses.unfinished_bytes = follower_.unfinished();
  return losses;
}

Json Recording::ReportJson(int code, const std::vector<std::string>& messages) const {
  ConvertOutcome outcome;
  outcome.code = code;
  if (code != kExitOk && !messages.empty()) outcome.message = messages.back();
  outcome.input_bytes = reader_ ? reader_->consumed() : 0;
  outcome.output_bytes = written_;
  outcome.seconds = progress_ ? progress_->elapsed_seconds() : 0;
  outcome.lost = lost_;
  if (diagnostics_) {
    outcome.counts.live = Losses();
    outcome.counts.faults = diagnostics_->faults();
  }
  const std::vector<std::string> outputs =
      request_.to_stdout() && !files_.empty() ? std::vector<std::string>{"-"} : files_;
  return ConversionJson(request_.input, outputs, outcome);
}

int Record(Recording& recording) {
  if (const auto done = recording.OpenInput()) return *done;
  if (const auto done = recording.Start()) return *done;
  if (const auto done = recording.PumpPieces()) return *done;
  return recording.StopAndReport();
}

}  // namespace

int RunRecord(const std::vector<std::string>& argv) {
  RecordRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  bool made = false;  // the report's file, by -n
  if (request.report_json) {
    const OutputRefusal refused = CheckReportJson(*request.report_json,
                                                  {request.input, request.output},
                                                  request.overwrite);
    if (refused.code != kExitOk) return Fail(kCommand, refused.code, refused.message);
    made = refused.made;
  }
  const KeptMessages kept;
  Recording recording(request);
  const int code = Record(recording);
  if (!request.report_json) return code;
  return WriteReportJson(kCommand, *request.report_json, code, kept.lines(),
                         {recording.ReportJson(code, kept.lines())}, made);
}

}  // namespace kestrum_cli
