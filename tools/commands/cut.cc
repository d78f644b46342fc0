// kestrum cut: a time range of a recording (one file, or a series of them)
// as one ASF file, its samples copied unchanged by the muxer Kestrum's
// writer uses. Straight through the muxer rather than the live road's
// exports: the range keeps the times of whichever road made the inputs (the
// live road would set its own, 40 ms a sample) and its first sample's wall
// clock as the creation date (the live road's writer takes the time of
// writing).
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "asf_format/file_id.h"
#include "asf_format/muxer.h"
#include "commands/commands.h"
#include "commands/cut_inputs.h"
#include "commands/cut_walk.h"
#include "commands/packed_samples.h"
#include "frame/args.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/time_text.h"
#include "frame/wall_clock.h"
#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/standard_output.h"
#include "io/stop_signals.h"
#include "report/progress.h"
#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;

namespace {

const char kHelp[] =
    "Usage: kestrum cut INPUT.asf... -o OUTPUT.asf [--from TIME]\n"
    "                   [--to TIME|--duration TIME]\n"
    "\n"
    "Writes into OUTPUT the samples of a time range of one recording: a file, or a\n"
    "series of files given in order (record --segment-time), joined on one\n"
    "timeline. The range begins with the last group that may start a recording at\n"
    "or before FROM (so that OUTPUT begins as a recording does; the first after it\n"
    "when there is none) and ends with the last sample before TO; without --from\n"
    "it begins at the start, without --to it goes to the end. The samples are\n"
    "copied unchanged, their times counted from 0, by the muxer Kestrum's writer\n"
    "uses: OUTPUT is ended and indexed, and its creation date ('started:' of\n"
    "inspect) is the wall-clock time of its first sample. 'kestrum extract OUTPUT'\n"
    "gives back the groups of the range.\n"
    "\n"
    "TIME is seconds from the first input's start (90, 90.5, 1500ms), or\n"
    "[HH:]MM:SS[.mmm] (1:30, 00:01:30.5), or a wall-clock time against the inputs'\n"
    "start times: 2026-12-09T10:15:00 in local time (TZ), or with an offset\n"
    "(2026-12-09T10:15:00+01:00, 2026-12-09T09:15:00Z). --duration TIME: the range\n"
    "lasts TIME from FROM.\n"
    "Each next input's times follow 40 ms after the last sample of the one before;\n"
    "where the start times say it began more than a second later, the time between\n"
    "is kept (the recording had stopped). A wall-clock time falls in the first input\n"
    "whose samples reach it (its start time plus their times); between inputs, at\n"
    "the start of the next.\n"
    "\n"
    "Inputs that are not ASF files Kestrum wrote, carry another stream header than\n"
    "the first, or started more than a second before the input given before them\n"
    "are refused (exit 4). OUTPUT is checked and written as convert's is ('-'\n"
    "standard output, never a terminal; never an INPUT); an existing file that is\n"
    "not an ASF file is rewritten only with -y. A range without samples leaves\n"
    "OUTPUT ended without any (exit 1); samples of the range not whole in their file\n"
    "are left out and told (exit 1). SIGINT, SIGTERM or SIGHUP ends OUTPUT with the\n"
    "samples so far; the exit code is then 128 + the signal's number.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUTPUT  the ASF file to write (required)\n"
    "      --from TIME      where the range begins (default: the start)\n"
    "      --to TIME        where it ends: the last sample before TIME is its last\n"
    "      --duration TIME  or: how long it lasts from FROM\n"
    "  -n, --no-overwrite   refuse an OUTPUT file that exists (exit 5)\n"
    "  -y, --overwrite      rewrite an OUTPUT file that exists, whatever it holds\n"
    "                       (without -y or -n: an empty one or an ASF file)\n"
    "  -v, --verbose        accepted for symmetry; cut does not use the library\n"
    "  -h, --help           this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"output", true, 'o'}, {"from", true},
    {"to", true},         {"duration", true},      kNoOverwriteOption,    kOverwriteOption};

constexpr char kCommand[] = "cut";
constexpr uint64_t kNanosPerMs = 1000000;
constexpr uint64_t kFileTimeUnitsPerMs = 10000;

// What the command line asks for.
struct CutRequest {
  std::vector<std::string> inputs;
  std::string output;  // "-": standard output
  std::optional<CutTime> from, to;
  Overwrite overwrite = Overwrite::kSameKind;
  bool to_stdout() const { return output == "-"; }
  bool wall_clock() const { return (from && from->wall) || (to && to->wall); }
};

// A wall-clock time when it begins as a date does, else a media time.
bool ParseCutTime(const std::string& option, const std::string& text, CutTime& time,
                  std::string& error) {
  if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {
    const std::optional<UnixMs> at = ParseWallClock(text);
    if (!at) {
      error = "--" + option + " '" + text +
              "' is not a wall-clock time such as 2026-12-09T10:15:00, "
              "2026-12-09T10:15:00.500+01:00 or 2026-12-09T09:15:00Z";
      return false;
    }
    time = CutTime{true, 0, *at};
    return true;
  }
  uint64_t ns = 0;
  if (!ParseTime(text, ns)) {
    error = "--" + option + " '" + text +
            "' is not a time: seconds such as 90, 90.5 or 1500ms, [HH:]MM:SS[.mmm] such as "
            "1:30, or a wall-clock time such as 2026-12-09T10:15:00";
    return false;
  }
  if (ns == UINT64_MAX) {
    error = "--" + option + " '" + text + "' is longer than " +
            std::to_string(kLongestTimeSeconds) + " seconds";
    return false;
  }
  time = CutTime{false, (ns + kNanosPerMs / 2) / kNanosPerMs, 0};
  return true;
}

// --from, --to and --duration into `request`; an error when they do not
// make a range.
std::string ParseRange(const Args& args, CutRequest& request) {
  std::string error;
  CutTime time;
  if (const auto text = args.Value("from")) {
    if (!ParseCutTime("from", *text, time, error)) return error;
    request.from = time;
  }
  if (const auto text = args.Value("to")) {
    if (args.Has("duration")) return "--to and --duration are one choice: give one";
    if (!ParseCutTime("to", *text, time, error)) return error;
    request.to = time;
  }
  if (const auto text = args.Value("duration")) {
    if (!ParseCutTime("duration", *text, time, error)) return error;
    if (time.wall || time.ms == 0) {
      return "--duration '" + *text + "' is not a span above 0 such as 90 or 1:30";
    }
    const CutTime from = request.from.value_or(CutTime{});
    request.to = from.wall ? CutTime{true, 0, from.at + static_cast<UnixMs>(time.ms)}
                           : CutTime{false, from.ms + time.ms, 0};
  }
  if (request.from && request.to && request.from->wall == request.to->wall &&
      (request.from->wall ? request.from->at >= request.to->at
                          : request.from->ms >= request.to->ms)) {
    return "--to must come after --from: the range holds nothing";
  }
  return "";
}

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, CutRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  if (args.positionals().empty()) return UsageError(kCommand, "expected INPUT.asf...");
  const auto output = args.Value("output");
  if (!output) return UsageError(kCommand, "expected -o OUTPUT.asf");
  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(kCommand, conflict);
  }
  request.inputs = args.positionals();
  for (const std::string& input : request.inputs) {
    if (input == "-") {
      return UsageError(kCommand, "INPUT '-': cut reads ASF files where they lie, not a stream");
    }
  }
  request.output = *output;
  request.overwrite = OverwriteOf(args);
  if (request.to_stdout() && ::isatty(STDOUT_FILENO) != 0) {
    return UsageError(kCommand, "OUTPUT '-' is a terminal: an ASF file is binary; redirect it");
  }
  if (const std::string error = ParseRange(args, request); !error.empty()) {
    return UsageError(kCommand, error);
  }
  return std::nullopt;
}

// The kept samples into the muxer, begun at the first.
class MuxerOutput final : public CutOutput {
 public:
  MuxerOutput(asf::ByteSink& sink, const asf::FileInfo& info) : sink_(sink), info_(info) {}

  bool Begin(std::optional<UnixMs> start) override {
    asf::FileInfo info = info_;
    info.file_id = asf::RandomFileId();
    info.creation_time = start ? ToFileTime(*start) : 0;
    start_ = start;
    muxer_.emplace(sink_, std::move(info));
    return Note(muxer_->Begin());
  }
  bool Sample(uint64_t ms, const asf::MediaObject& sample) override {
    return Note(muxer_->WriteSample(kRecordingStream, ms * kFileTimeUnitsPerMs,
                                    kestrum::stream_format::kFrameMs * kFileTimeUnitsPerMs,
                                    sample.key, sample.bytes.data(), sample.bytes.size()));
  }
  // Ends the file (begun without samples if none came): the first failure.
  asf::Status Finish() {
    if (!muxer_ && !Begin(std::nullopt)) return status_;
    Note(muxer_->End());
    Note(sink_.Flush());
    return status_;
  }
  const std::optional<UnixMs>& start() const { return start_; }

 private:
  bool Note(asf::Status status) {
    if (asf::Succeeded(status_)) status_ = status;
    return asf::Succeeded(status);
  }

  asf::ByteSink& sink_;
  const asf::FileInfo& info_;
  std::optional<asf::Muxer> muxer_;
  std::optional<UnixMs> start_;
  asf::Status status_ = asf::kOk;
};

std::string Seconds(uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ms) / 1000.0);
  return text;
}

// One cut, in the order its steps run: OpenInputs, OpenOutput, Copy,
// Report. A step that returns an exit code ends the command with it.
class Cut {
 public:
  explicit Cut(const CutRequest& request) : request_(request) {}

  std::optional<int> OpenInputs();
  std::optional<int> OpenOutput();
  std::optional<int> Copy();
  int Report() const;

 private:
  // What OUTPUT holds, for the last line.
  std::string Summary() const;

  const CutRequest& request_;
  CutInputs inputs_;
  std::unique_ptr<asf::ByteSink> sink_;
  std::optional<MuxerOutput> out_;
  std::optional<CutWalk> walk_;
};

std::optional<int> Cut::OpenInputs() {
  if (const auto done = ReadCutInputs(kCommand, request_.inputs, inputs_)) return done;
  if (!request_.wall_clock()) return std::nullopt;
  for (const CutInput& input : inputs_.files) {
    if (!input.start) {
      return UsageError(kCommand, "'" + input.path +
                                      "' holds no start time: give the range in seconds from the "
                                      "first input's start");
    }
  }
  return std::nullopt;
}

std::optional<int> Cut::OpenOutput() {
  OutputRefusal refused;
  sink_ = OpenCheckedOutput(request_.output, request_.inputs, request_.overwrite, refused,
                            OutputKind::kAsf);
  if (sink_ == nullptr) return Refuse(kCommand, refused.code, refused.message);
  return std::nullopt;
}

std::optional<int> Cut::Copy() {
  // A signal ends the walk between samples: OUTPUT is then ended as it is.
  StopOnSignals signals;
  out_.emplace(*sink_, inputs_.info);
  walk_.emplace(inputs_, request_.from, request_.to, *out_);
  const bool walked = walk_->Run();
  const asf::Status status = out_->Finish();
  if (request_.to_stdout()) EndStandardOutput();
  if (asf::Failed(status)) {
    const OutputRefusal failed = WriteFailure(request_.output, status);
    // The muxer cut it back to its last whole sample: fewer than were given.
    return Fail(kCommand, failed.code,
                failed.message + "; it was ended with the samples written before");
  }
  if (!walked && !walk_->counts().unreadable.empty()) {
    return Fail(kCommand, kExitInput,
                "cannot read '" + walk_->counts().unreadable.front() + "; " + Summary());
  }
  return std::nullopt;
}

std::string Cut::Summary() const {
  const CutCounts& c = walk_->counts();
  std::string held =
      OutputInWords(request_.output) + " holds " + std::to_string(c.kept) + " samples";
  if (c.kept > 0) {
    held += " (" + Seconds(c.first_ms) + " to " + Seconds(c.last_ms) + " of the inputs";
    if (out_->start()) held += ", started " + LocalTimeText(*out_->start(), TimeStyle::kText);
    held += ")";
  }
  return held + ", " + FormatMegabytes(c.bytes);
}

int Cut::Report() const {
  const CutCounts& c = walk_->counts();
  if (const int number = StopOnSignals::signal(); number != 0) {
    return Fail(kCommand, 128 + number, StoppedBy(number) + ": " + Summary());
  }
  if (c.kept == 0) {
    return Fail(kCommand, kExitFailure,
                "the inputs hold no sample in the range (their times run to " + Seconds(c.end_ms) +
                    "): " + Summary());
  }
  if (c.cut + c.damaged > 0) {
    const uint64_t left_out = c.cut + c.damaged;
    return Fail(
        kCommand, kExitFailure,
        std::to_string(left_out) +
            (left_out == 1 ? " sample of the range is not whole in its file and was left out: "
                           : " samples of the range are not whole in their file and were "
                             "left out: ") +
            Summary());
  }
  std::fprintf(request_.to_stdout() ? stderr : stdout, "cut %s%s -> %s\n",
               Escaped(request_.inputs.front()).c_str(),
               request_.inputs.size() > 1
                   ? (" and " + std::to_string(request_.inputs.size() - 1) + " more").c_str()
                   : "",
               Escaped(Summary()).c_str());
  return kExitOk;
}

}  // namespace

int RunCut(const std::vector<std::string>& argv) {
  CutRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  Cut cut(request);
  if (const auto done = cut.OpenInputs()) return *done;
  if (const auto done = cut.OpenOutput()) return *done;
  if (const auto done = cut.Copy()) return *done;
  return cut.Report();
}

}  // namespace kestrum_cli
