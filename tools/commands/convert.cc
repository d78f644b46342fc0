// kestrum convert: the file road, TransferToAsf, for one stream or a batch.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "frame/args.h"
#include "commands/batch_convert.h"
#include "frame/cli.h"
#include "io/input_file.h"
#include "commands/commands.h"
#include "commands/convert_one.h"
#include "frame/escape.h"
#include "io/output_kind.h"
#include "report/json_output.h"
#include "report/progress.h"
#include "report/progress_report.h"
#include "kestrum.h"
#include "io/segments.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum convert INPUT OUTPUT.asf\n"
    "       kestrum convert INPUT OUTPUT_PATTERN --segment-time SECONDS\n"
    "       kestrum convert INPUT... -o FOLDER [--jobs N]\n"
    "       kestrum convert INPUT... FOLDER/ [--jobs N]\n"
    "\n"
    "Converts the stored stream INPUT into OUTPUT.asf in one call of the file road\n"
    "(TransferToAsf), which reads INPUT through the packet-source library.\n"
    "OUTPUT is written through, never removed: an existing ASF file (or an empty\n"
    "file) is rewritten, a symlink's target written (or made), and a device, a\n"
    "FIFO or '-' (standard output) gets a stream written front to back (no sizes,\n"
    "duration or index). An existing file that holds anything else (a stream,\n"
    "a text: arguments given the wrong way round) is rewritten only with -y, and\n"
    "refused without it (exit 5) before a byte is written; so is a series whose\n"
    "files include one.\n"
    "An OUTPUT that another program is writing, or is converting from, is refused\n"
    "(a FIFO, a pipe or a device too), and so is one that is INPUT (the same file,\n"
    "also through a link or standard input). '-' opened for appending ('>>'), or\n"
    "a file that holds bytes already, is refused: an ASF file begins its file.\n"
    "INPUT may be '-' (standard input), a FIFO, a pipe or a device: it is read\n"
    "once, its header checked, and the stream handed to the library through a\n"
    "FIFO of the program's own.\n"
    "\n"
    "With --segment-time, OUTPUT_PATTERN names a series of files, numbered from 0\n"
    "by its one %d (such as cam1-%03d.asf; %% for a '%'). Each is a conversion of\n"
    "its own (header, duration, index, times from 0); a new one begins at the\n"
    "first group that may start a recording once the file holds SECONDS of media\n"
    "(40 ms a group), so no group is lost or repeated between files.\n"
    "When the disk fills (or a file size limit is reached), the file is ended\n"
    "with every sample before the fault. When the reader of '-' or of a FIFO goes\n"
    "away, writing ends there (exit 1).\n"
    "SIGINT, SIGTERM or SIGHUP (Ctrl-C) ends the conversion: the file is ended as\n"
    "at the end of the input, a line says what it holds, and the exit code is\n"
    "128 + the signal's number. A second signal ends the program at once. A batch\n"
    "then begins no further conversion.\n"
    "\n"
    "With an output folder (-o, or a last argument that is an existing folder or\n"
    "ends in '/'), converts every INPUT into FOLDER/NAME.asf, NAME being the\n"
    "input's file name without its last extension. An INPUT that is a folder\n"
    "stands for its files (not its subfolders; hidden names and *.asf files are\n"
    "skipped), in name order. The folder is made if it does not exist.\n"
    "Each conversion runs in a process of its own (the library converts one\n"
    "stream at a time per process), N at a time; a line tells how each went and a\n"
    "summary lists every failure. The exit code is 1 when any conversion failed.\n"
    "\n"
    "On a terminal, a status line tells how far INPUT has been read, the frames\n"
    "and media time handed to the writer and the speed (media time over wall time).\n"
    "A failure is told in words (disk full, name longer than 259 bytes, output in\n"
    "use by another writer, ...) with the library's status code.\n"
    "\n"
    "Options:\n"
    "  -o, --output-dir FOLDER   convert into FOLDER (batch)\n"
    "  -j, --jobs N              conversions at once in a batch (default 1; also -jN)\n"
    "      --segment-time SECONDS  a new file every SECONDS (or a little more): as\n"
    "                            ffmpeg takes a time, 10, 10.5, 10s, 500ms, 1:30 or\n"
    "                            00:00:10.5\n"
    "  -n, --no-overwrite        refuse an OUTPUT file that exists (exit 5); a new\n"
    "                            one is made exclusively\n"
    "  -y, --overwrite           rewrite an OUTPUT file that exists, whatever it\n"
    "                            holds (without -y or -n: an ASF file or an empty\n"
    "                            one only)\n"
    "      --strict              exit 1 when anything was lost; a stored INPUT is read\n"
    "                            a second time to count the bytes that lie in no\n"
    "                            group, a relayed one has them counted as they pass\n"
    "      --sync                make each OUTPUT file durable (synced to the disk)\n"
    "                            before it counts as converted; off by default, as a\n"
    "                            conversion cut short by a power cut can be run again\n"
    "      --report-json FILE    write to FILE, as JSON, how each conversion ended and\n"
    "                            what it lost (docs/json.md)\n"
    "      --progress FILE|-     (also -progress) write the progress to FILE ('-':\n"
    "                            standard output) as ffmpeg's -progress does: key=value\n"
    "                            lines (frame, total_size, out_time_us, out_time,\n"
    "                            speed, ...) in blocks ending progress=continue, the\n"
    "                            last progress=end; one conversion or a series\n"
    "  -v, --verbose             print the library's diagnostic lines on stderr\n"
    "  -h, --help                this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"output-dir", true, 'o'}, {"jobs", true, 'j'},
    {"segment-time", true}, kNoOverwriteOption,    kOverwriteOption,          kStrictOption,
    {"sync", false}, {kReportJsonOption, true}, kProgressOption};

constexpr uint64_t kMaxJobs = 256;

constexpr char kCommand[] = "convert";

// What the command line asks for: one conversion, a series of files, or a
// batch into a folder.
struct ConvertRequest {
  enum class Road { kOne, kSeries, kBatch };
  Road road = Road::kOne;
  std::vector<std::string> inputs;  // kOne and kSeries: exactly one
  std::string output;               // kOne: OUTPUT ("-": standard output)
  OutputPattern pattern;            // kSeries: the files' names
  uint64_t segment_ms = 0;          // kSeries: --segment-time
  std::string output_dir;           // kBatch: -o, or a last argument that names a folder
  uint64_t jobs = 1;                // kBatch: -j
  ConvertOptions options;
};

// Where the outputs go, and which road: -o or a last argument that names a
// folder is a batch, --segment-time a series.
std::optional<int> ParseRoad(const Args& args, ConvertRequest& request) {
  std::vector<std::string>& inputs = request.inputs;
  if (auto value = args.Value("output-dir")) {
    request.output_dir = *value;
  } else if (inputs.size() >= 2 && !inputs.back().empty() &&
             (IsFolder(inputs.back()) || inputs.back().back() == '/')) {
    request.output_dir = inputs.back();
    inputs.pop_back();
  }
  std::string error;
  if (auto value = args.Value("segment-time")) {
    if (!request.output_dir.empty() || inputs.size() != 2) {
      return UsageError(kCommand, "--segment-time takes one INPUT and one OUTPUT_PATTERN");
    }
    if (!ParseSegmentTime(*value, request.segment_ms, error) ||
        !request.pattern.Parse(inputs[1], error)) {
      return UsageError(kCommand, error);
    }
    request.road = ConvertRequest::Road::kSeries;
    inputs.pop_back();
  } else if (request.output_dir.empty()) {
    if (inputs.size() != 2) return UsageError(kCommand, "expected INPUT and OUTPUT");
    request.output = inputs[1];
    inputs.pop_back();
  } else {
    if (inputs.empty()) return UsageError(kCommand, "expected INPUT files or folders");
    request.road = ConvertRequest::Road::kBatch;
  }
  return std::nullopt;
}

// Reads the options and arguments into `request` (the command line was
// read, and the report checked, before: its usage errors go into the
// report). An exit code when the command ends here: a usage error.
std::optional<int> ParseRequest(const Args& args, ConvertRequest& request) {
  std::string error;
  if (auto value = args.Value("jobs")) {
    if (!ParseUnsigned(*value, 1, kMaxJobs, "--jobs", request.jobs, error)) {
      return UsageError(kCommand, error);
    }
  }
  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(kCommand, conflict);
  }
  ConvertOptions& options = request.options;
  options.verbose = args.Has("verbose");
  options.overwrite = OverwriteOf(args);
  options.strict = args.Has(kStrictOption.name);
  options.sync = args.Has("sync");
  request.inputs = args.positionals();
  if (const auto done = ParseRoad(args, request)) return done;
  // A status line for one conversion or a series; a batch's children draw none.
  options.progress = request.road != ConvertRequest::Road::kBatch;
  return std::nullopt;
}

int ConvertSingle(const ConvertRequest& request, std::vector<Json>& conversions) {
  const std::string& input = request.inputs[0];
  const std::string& output = request.output;
  if (IsFolder(input)) return Fail(kCommand, kExitInput, FolderInputMessage(input));
  const ConvertOutcome outcome = ConvertOne(input, output, request.options);
  conversions.push_back(ConversionJson(input, {output}, outcome));
  if (outcome.code != kExitOk) return Refuse(kCommand, outcome.code, outcome.message);
  // Standard output carries the file: the report goes to stderr then.
  if (FILE* to = SummaryStream(output == "-")) {
    std::fprintf(to, "%s\n", Escaped(DescribeConverted(input, output, outcome)).c_str());
  }
  if (!outcome.lost.empty()) Fail(kCommand, kExitOk, outcome.lost);
  return outcome.lost_fails ? kExitFailure : kExitOk;
}

int ConvertIntoSegments(const ConvertRequest& request, std::vector<Json>& conversions) {
  const std::string& input = request.inputs[0];
  if (IsFolder(input)) return Fail(kCommand, kExitInput, FolderInputMessage(input));
  std::vector<std::string> outputs;
  const ConvertOutcome outcome =
      ConvertSegments(input, request.pattern, request.segment_ms, request.options, outputs);
  conversions.push_back(ConversionJson(input, outputs, outcome));
  if (outcome.code == kExitUsage) return UsageError(kCommand, outcome.message);
  if (outcome.code != kExitOk) {
    // A signal's outcome counts the file it ended among them.
    const char* which = outcome.code > 128 ? " files written)" : " files written before)";
    const std::string done = outputs.empty() || outcome.files_told
                                 ? ""
                                 : " (" + std::to_string(outputs.size()) + which;
    return Fail(kCommand, outcome.code, outcome.message + done);
  }
  const std::string files = std::to_string(outputs.size()) + " files, " + outputs.front() +
                            " to " + outputs.back();
  const std::string line = DescribeConverted(input, files, outcome);
  if (FILE* to = SummaryStream(false)) std::fprintf(to, "%s\n", Escaped(line).c_str());
  if (!outcome.lost.empty()) Fail(kCommand, kExitOk, outcome.lost);
  return outcome.lost_fails ? kExitFailure : kExitOk;
}

int ConvertBatch(const ConvertRequest& request, std::vector<Json>& conversions) {
  std::string error;
  std::vector<BatchJob> planned;
  if (!PlanBatch(request.inputs, request.output_dir, planned, error)) {
    return UsageError(kCommand, error);
  }
  std::error_code ec;
  std::filesystem::create_directories(request.output_dir, ec);
  if (ec || !IsFolder(request.output_dir)) {
    return Fail(kCommand, kExitOutput,
                "cannot make the output folder '" + request.output_dir +
                    "': " + (ec ? ec.message() : std::string("not a folder")));
  }
  std::vector<ConvertOutcome> outcomes;
  const int code =
      RunBatch(planned, static_cast<unsigned>(request.jobs), request.options, outcomes);
  for (size_t i = 0; i < planned.size(); ++i) {
    if (outcomes[i].code == kNotBegun) continue;
    conversions.push_back(ConversionJson(planned[i].input, {planned[i].output}, outcomes[i]));
  }
  return code;
}

// -progress FILE opened into `report`: one conversion's or a
// series', not a batch's (its conversions run in processes of their own).
std::optional<int> OpenProgress(const Args& args, const ConvertRequest& request,
                                ProgressReport& report) {
  const auto path = args.Value(kProgressOption.name);
  if (!path) return std::nullopt;
  if (request.road == ConvertRequest::Road::kBatch) {
    return UsageError(kCommand, "-progress tells one conversion or a series, not a batch");
  }
  std::vector<std::string> files = args.positionals();
  if (auto json = args.Value(kReportJsonOption)) files.push_back(*json);
  return report.Open(kCommand, *path, files, request.output == "-", OverwriteOf(args));
}

// The command once its line is read; `conversions` gets each conversion's
// object of the --report-json document, `progress` the -progress report.
int Convert(const Args& args, std::vector<Json>& conversions, ProgressReport& progress) {
  ConvertRequest request;
  if (const auto done = ParseRequest(args, request)) return *done;
  if (const auto done = OpenProgress(args, request, progress)) return *done;
  // The library orders the end (packets durable before the header says the
  // file ended); the program syncs once more before it reports.
  if (request.options.sync) KestrumSetTransferSync(1);
  switch (request.road) {
    case ConvertRequest::Road::kOne:
      return ConvertSingle(request, conversions);
    case ConvertRequest::Road::kSeries:
      return ConvertIntoSegments(request, conversions);
    case ConvertRequest::Road::kBatch:
      return ConvertBatch(request, conversions);
  }
  return kExitFailure;
}

// Before anything else, the --report-json FILE is checked as an output
// (and made, with -n): `made` says whether it was.
std::optional<int> CheckReport(const Args& args, const std::string& report, bool& made) {
  std::vector<std::string> files = args.positionals();
  if (auto folder = args.Value("output-dir")) files.push_back(*folder);
  const OutputRefusal refused = CheckReportJson(report, files, OverwriteOf(args));
  if (refused.code != kExitOk) return Fail(kCommand, refused.code, refused.message);
  made = refused.made;
  return std::nullopt;
}

}  // namespace

int RunConvert(const std::vector<std::string>& argv) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  const auto report = args.Value(kReportJsonOption);
  bool made = false;  // the report's file, by -n
  if (report) {
    if (const auto done = CheckReport(args, *report, made)) return *done;
  }
  const KeptMessages kept;
  std::vector<Json> conversions;
  ProgressReport progress;  // its last block written as the command ends
  const int code = Convert(args, conversions, progress);
  return report ? WriteReportJson(kCommand, *report, code, kept.lines(), conversions, made) : code;
}

}  // namespace kestrum_cli
