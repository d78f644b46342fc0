// kestrum record: the live road, fed from a file or standard input.
#include <fcntl.h>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "commands/commands.h"
#include "commands/recording.h"
#include "frame/args.h"
#include "frame/cli.h"
#include "io/output_kind.h"
#include "io/retention.h"
#include "io/segments.h"
#include "report/json_output.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum record INPUT|- OUTPUT.asf [--piece-size N|group]\n"
    "       kestrum record INPUT|- OUTPUT_PATTERN --segment-time SECONDS\n"
    "                      [--strftime [--utc]] [--segment-atclocktime]\n"
    "                      [--keep-segments N] [--max-total SIZE] [--keep-free SIZE]\n"
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
    "  --segment-atclocktime\n"
    "                   with --segment-time SECONDS, a file begins at the first\n"
    "                   group that may start a recording at or after each multiple\n"
    "                   of SECONDS of the wall clock since local midnight (the\n"
    "                   first file shorter), instead of by the media a file holds\n"
    "  --keep-segments N\n"
    "                   keep the newest N files of the series, the new one among\n"
    "                   them: before each new file the oldest go\n"
    "  --max-total SIZE keep the series' files within SIZE bytes in all (K, M, G:\n"
    "                   2^10, 2^20, 2^30), a new file counted as large as the one\n"
    "                   before it: before each new file the oldest go\n"
    "  --keep-free SIZE keep SIZE free in the file system once the new file is\n"
    "                   written (counted as large as the one before it): before\n"
    "                   each new file the oldest files of the series go\n"
    "  --realtime, -re  read INPUT at its own pace, as a camera sends it: each group\n"
    "                   at its frame time, 25 a second (ffmpeg's -re; for demos,\n"
    "                   tests, and replaying a stored stream as if live)\n"
    "  --strftime       OUTPUT (or OUTPUT_PATTERN) is expanded by strftime(3) at the\n"
    "                   wall-clock time each file begins, in local time (such as\n"
    "                   cam1-%Y%m%d-%H%M%S.asf; %% for a '%'), instead of numbered;\n"
    "                   a name a file has already gets -1, -2, ... before its\n"
    "                   extension: no file is ever overwritten\n"
    "      --utc        --strftime in UTC\n"
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
    "With --keep-segments, --max-total or --keep-free (a series: OUTPUT_PATTERN\n"
    "with --segment-time, or --strftime, its files in one folder), only files of\n"
    "the series are ever removed, oldest first (by the time each was last\n"
    "written), those of earlier runs of the pattern too: names the pattern\n"
    "makes, regular files, ASF files that Kestrum's writer ended, that no writer\n"
    "holds (one whose end is not yet synced to the disk waits); never one being\n"
    "written. Each removal is a line (\"removed\n"
    "cam1-20261209-100000.asf (112.4 MB): --keep-free 10G\") and a row of\n"
    "--report-json. When the disk fills, the oldest file is removed at once, one\n"
    "for each sample that finds no room, and writing goes on; with none left,\n"
    "as above.\n"
    "\n"
    "SIGINT, SIGTERM or SIGHUP (Ctrl-C) ends the recording: the file is ended\n"
    "(duration, index), a line says so, and the exit code is 128 + the signal's\n"
    "number. A second signal ends the program at once.\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"piece-size", true}, {"segment-time", true},
    {"realtime", false}, {"strftime", false}, {"utc", false},
    {"segment-atclocktime", false}, {"keep-segments", true}, {"max-total", true},
    {"keep-free", true},
    kNoOverwriteOption,   kOverwriteOption,        kStrictOption,         {"sync-interval", true},
    {kReportJsonOption, true}};

constexpr uint64_t kMaxPieceSize = uint64_t{256} << 20;
constexpr const char* kCommand = kRecordCommand;
constexpr int kMaxSyncSeconds = 86400;
constexpr uint64_t kMaxRetainedSize = uint64_t{1} << 60;

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

// --keep-segments N, --max-total SIZE, --keep-free SIZE: limits to a series
// of files in one folder. An exit code when the command line is refused.
std::optional<int> ParseRetention(const Args& args, RecordRequest& request) {
  RetentionLimits& limits = request.retention;
  std::string error;
  const auto text = [&args](const char* name) {
    return "--" + std::string(name) + " " + *args.Value(name);
  };
  if (args.Has("keep-segments") &&
      !ParseUnsigned(*args.Value("keep-segments"), 1, UINT32_MAX, "--keep-segments",
                     limits.keep_segments, error)) {
    return UsageError(kCommand, error);
  }
  for (auto [name, value, shown] :
       {std::tuple{"max-total", &limits.max_total, &limits.max_total_text},
        std::tuple{"keep-free", &limits.keep_free, &limits.keep_free_text}}) {
    if (args.Has(name) && !ParseByteSize(*args.Value(name), "--" + std::string(name),
                                         kMaxRetainedSize, *value, error)) {
      return UsageError(kCommand, error);
    }
    if (args.Has(name)) *shown = text(name);
  }
  if (args.Has("keep-segments")) limits.keep_segments_text = text("keep-segments");
  if (!limits.any()) return std::nullopt;
  if (!request.segmented && !request.pattern.timed()) {
    return UsageError(kCommand, "--keep-segments, --max-total and --keep-free keep a series: "
                                "OUTPUT_PATTERN with --segment-time, or --strftime");
  }
  if (!request.pattern.one_folder()) {
    return UsageError(kCommand, "OUTPUT_PATTERN '" + request.output +
                                    "' names folders by the time: a series kept within limits "
                                    "has its files in one folder");
  }
  return std::nullopt;
}

// ffmpeg's -re, a word of its own, is --realtime: `argv` with it so named
// (not where it is the value of an option, nor after "--").
std::vector<std::string> WithRealtimeWord(const std::vector<std::string>& argv) {
  std::vector<std::string> named = argv;
  for (size_t i = 0; i < named.size() && named[i] != "--"; ++i) {
    if (named[i] == "-re") named[i] = "--realtime";
    for (const OptionSpec& option : kOptions) {
      if (option.takes_value && named[i] == "--" + std::string(option.name)) ++i;
    }
  }
  return named;
}

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, RecordRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, WithRealtimeWord(argv), kOptions, kHelp, args)) {
    return *done;
  }
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
      !ParseSegmentTime(*args.Value("segment-time"), request.segment_ms, error)) {
    return UsageError(kCommand, error);
  }
  request.at_clock_time = args.Has("segment-atclocktime");
  if (request.at_clock_time && !request.segmented) {
    return UsageError(kCommand, "--segment-atclocktime goes with --segment-time (the period)");
  }
  if (args.Has("utc") && !args.Has("strftime")) {
    return UsageError(kCommand, "--utc goes with --strftime (names made from the time in UTC)");
  }
  if (args.Has("strftime") ? !request.pattern.ParseTimed(request.output, args.Has("utc"), error)
                           : request.segmented && !request.pattern.Parse(request.output, error)) {
    return UsageError(kCommand, error);
  }
  if (const auto code = ParseRetention(args, request)) return code;
  if (auto s = args.Value("sync-interval")) {
    if (!ParseSyncInterval(*s, request.sync_interval_ms, error)) return UsageError(kCommand, error);
  }
  request.realtime = args.Has("realtime");
  request.verbose = args.Has("verbose");
  request.overwrite = OverwriteOf(args);
  request.strict = args.Has(kStrictOption.name);
  request.report_json = args.Value(kReportJsonOption);
  return std::nullopt;
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
