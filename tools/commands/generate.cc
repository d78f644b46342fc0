// kestrum generate: writes a synthetic stream.
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"
#include "frame/cli.h"
#include "commands/commands.h"
#include "frame/escape.h"
#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/standard_output.h"
#include "report/progress.h"
#include "report/progress_report.h"
#include "commands/stream_generator.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum generate OUTPUT [options]\n"
    "\n"
    "Writes a synthetic stream: a 40-byte header, then one group per frame with\n"
    "random payloads: a start group (may begin a recording) every --key-interval\n"
    "groups, larger than the others; mostly one video block per group (kinds\n"
    "0x1003..0x1005), some split in several; small blocks of kinds 0x1001 and\n"
    "0x1002 in some groups. OUTPUT '-' writes to standard output. The same options\n"
    "give the same bytes.\n"
    "OUTPUT is written through, never removed, as convert writes its outputs; one\n"
    "that another program is writing, or is converting from, is refused. An\n"
    "OUTPUT that is an ASF file is rewritten only with -y (refused without it,\n"
    "exit 5).\n"
    "\n"
    "Options:\n"
    "  --frames N           groups to write (default 250: 10 s at 25 per second)\n"
    "  --size WxH           picture size carried in the header (default 704x576;\n"
    "                       one the library refuses, outside 1..704 x 1..576, is\n"
    "                       refused here)\n"
    "  --resolution CODE    an older header with a resolution code instead\n"
    "                       (e.g. 0x1001 352x288, 0x1003 704x576)\n"
    "  --stream-type T      header stream type (default 0x1001; 0x1001..0x1003 are\n"
    "                       accepted by the library, others make a refused header)\n"
    "  --video-standard V   header video standard (default 0x1001 for 576/288/144/72\n"
    "                       lines and for --resolution, else 0x1002)\n"
    "  --random-state S     generator state (default 1)\n"
    "  --key-interval K     a start group every K groups (default 25)\n"
    "  --bitrate B          video bit/s (default 2000000 scaled to the picture area)\n"
    "  --junk               insert runs of junk bytes between groups, where\n"
    "                       --problem-interval places them\n"
    "  --malformed          insert malformed groups between groups, as --junk (in\n"
    "                       turn: a bad block kind, a payload length of 500000, a bad\n"
    "                       group type)\n"
    "  --problem-interval P where --junk/--malformed go: after every P-th group but\n"
    "                       the last (default: frames / 4 rounded down, at least 1:\n"
    "                       three places for 100 frames, four for 250)\n"
    "  --truncate           cut the last group in half\n"
    "  --video-only         no blocks of kinds 0x1001/0x1002\n"
    "  --one-block          one video block per group (implies --video-only)\n"
    "  --largest-blocks N   every group N video blocks (1..255) of the largest payload,\n"
    "                       499999 bytes, and nothing else (255: the largest group,\n"
    "                       127.5 MB); --bitrate then sets only the header's rate\n"
    "  -n, --no-overwrite   refuse an OUTPUT file that exists (exit 5)\n"
    "  -y, --overwrite      rewrite an OUTPUT file that exists, whatever it holds\n"
    "                       (without -y or -n: anything but an ASF file)\n"
    "  -v, --verbose        accepted for symmetry; generate writes no diagnostics\n"
    "  -h, --help           this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'},
    {"verbose", false, 'v'},
    {"frames", true},
    {"size", true},
    {"resolution", true},
    {"stream-type", true},
    {"video-standard", true},
    {"random-state", true},
    {"key-interval", true},
    {"bitrate", true},
    {"junk", false},
    {"malformed", false},
    {"problem-interval", true},
    {"truncate", false},
    {"video-only", false},
    {"one-block", false},
    {"largest-blocks", true},
    kNoOverwriteOption,
    kOverwriteOption,
};

bool ParseSize(const std::string& text, uint16_t& w, uint16_t& h, std::string& error) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos) {
    error = "--size: '" + text + "' is not WxH";
    return false;
  }
  uint64_t width = 0;
  uint64_t height = 0;
  if (!ParseUnsigned(text.substr(0, x), 0, 0xFFFF, "--size width", width, error) ||
      !ParseUnsigned(text.substr(x + 1), 0, 0xFFFF, "--size height", height, error)) {
    return false;
  }
  w = static_cast<uint16_t>(width);
  h = static_cast<uint16_t>(height);
  return true;
}

// Reads the options into `o`; false with `error` on a bad value.
bool ReadOptions(const Args& args, GenerateOptions& o, std::string& error) {
  uint64_t v = 0;
  if (auto s = args.Value("frames")) {
    if (!ParseUnsigned(*s, 0, uint64_t{1} << 40, "--frames", v, error)) return false;
    o.frames = v;
  }
  if (args.Has("size") && args.Has("resolution")) {
    error = "--size and --resolution exclude each other";
    return false;
  }
  if (auto s = args.Value("size")) {
    if (!ParseSize(*s, o.width, o.height, error)) return false;
  }
  if (auto s = args.Value("resolution")) {
    if (!ParseUnsigned(*s, 0, 0xFFFFFFFF, "--resolution", v, error)) return false;
    o.explicit_size = false;
    o.resolution = static_cast<uint32_t>(v);
  }
  if (auto s = args.Value("stream-type")) {
    if (!ParseUnsigned(*s, 0, 0xFFFF, "--stream-type", v, error)) return false;
    o.stream_type = static_cast<uint16_t>(v);
  }
  if (auto s = args.Value("video-standard")) {
    if (!ParseUnsigned(*s, 0, 0xFFFF, "--video-standard", v, error)) return false;
    o.video_standard = static_cast<int32_t>(v);
  }
  if (auto s = args.Value("random-state")) {
    if (!ParseUnsigned(*s, 0, UINT64_MAX, "--random-state", v, error)) return false;
    o.random_state = v;
  }
  if (auto s = args.Value("key-interval")) {
    if (!ParseUnsigned(*s, 1, 1000000, "--key-interval", v, error)) return false;
    o.key_interval = static_cast<uint32_t>(v);
  }
  if (auto s = args.Value("bitrate")) {
    if (!ParseUnsigned(*s, 8000, 800000000, "--bitrate", v, error)) return false;
    o.bitrate = static_cast<uint32_t>(v);
  }
  if (auto s = args.Value("problem-interval")) {
    if (!ParseUnsigned(*s, 1, UINT64_MAX, "--problem-interval", v, error)) return false;
    o.problem_interval = v;
  }
  if (auto s = args.Value("largest-blocks")) {
    if (args.Has("one-block")) {
      error = "--one-block and --largest-blocks exclude each other";
      return false;
    }
    if (!ParseUnsigned(*s, 1, 255, "--largest-blocks", v, error)) return false;
    o.largest_blocks = static_cast<uint32_t>(v);
  }
  o.junk = args.Has("junk");
  o.malformed = args.Has("malformed");
  o.truncate = args.Has("truncate");
  o.video_only = args.Has("video-only");
  o.one_block = args.Has("one-block");
  if (o.one_block || o.largest_blocks > 0) o.video_only = true;
  return true;
}

constexpr char kCommand[] = "generate";

// What the command line asks for.
struct GenerateRequest {
  std::string output;  // "-": standard output
  GenerateOptions options;
  Overwrite overwrite = Overwrite::kSameKind;  // -n, -y
  bool to_stdout() const { return output == "-"; }
};

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, GenerateRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  std::string error;
  if (args.positionals().size() != 1) return UsageError(kCommand, "expected one OUTPUT");
  if (!ReadOptions(args, request.options, error)) return UsageError(kCommand, error);
  if (const std::string why = PictureSizeRefusal(request.options);
      args.Has("size") && !why.empty()) {
    return UsageError(kCommand, "--size " + *args.Value("size") + ": " + why +
                                    "; no command would take the stream");
  }
  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(kCommand, conflict);
  }
  request.output = args.positionals()[0];
  request.overwrite = OverwriteOf(args);
  return std::nullopt;
}

// Writes the stream into `sink`, with a status line on a terminal; the
// first failure to write, if any.
kestrum::asf::Status Generate(const GenerateRequest& request, kestrum::asf::ByteSink& sink,
                              GenerateSummary& summary) {
  const GenerateOptions& options = request.options;
  Progress progress("generate", options.frames * AverageGroupBytes(options), true);
  kestrum::asf::Status status = kestrum::asf::kOk;
  const bool written = GenerateStream(
      options,
      [&](const uint8_t* p, size_t n) {
        status = sink.Write(p, n);
        return kestrum::asf::Succeeded(status);
      },
      [&progress](uint64_t done) { progress.Update(done); }, summary);
  if (written) status = sink.Flush();
  if (request.to_stdout()) EndStandardOutput();
  progress.Finish();
  return status;
}

// The line of what was written: on standard error when standard output
// carries the stream; none below -loglevel info.
void TellWritten(const GenerateRequest& request, const GenerateSummary& summary) {
  std::FILE* report = SummaryStream(request.to_stdout());
  if (report == nullptr) return;
  std::fprintf(report,
               "wrote %s: %llu bytes, %llu groups (%llu start groups), blocks 0x1001:%llu "
               "0x1002:%llu 0x1003:%llu 0x1004:%llu 0x1005:%llu",
               request.to_stdout() ? "standard output" : Escaped(request.output).c_str(),
               static_cast<unsigned long long>(summary.bytes),
               static_cast<unsigned long long>(summary.groups),
               static_cast<unsigned long long>(summary.start_groups),
               static_cast<unsigned long long>(summary.blocks[0]),
               static_cast<unsigned long long>(summary.blocks[1]),
               static_cast<unsigned long long>(summary.blocks[2]),
               static_cast<unsigned long long>(summary.blocks[3]),
               static_cast<unsigned long long>(summary.blocks[4]));
  if (summary.junk_runs + summary.malformed_groups > 0 || request.options.truncate) {
    std::fprintf(report, ", %llu junk runs, %llu malformed groups%s",
                 static_cast<unsigned long long>(summary.junk_runs),
                 static_cast<unsigned long long>(summary.malformed_groups),
                 request.options.truncate ? ", last group cut" : "");
  }
  std::fprintf(report, "\n");
}

}  // namespace

int RunGenerate(const std::vector<std::string>& argv) {
  GenerateRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  OutputRefusal refused;
  const std::unique_ptr<kestrum::asf::ByteSink> sink =
      OpenCheckedOutput(request.output, {}, request.overwrite, refused);
  if (sink == nullptr) return Refuse(kCommand, refused.code, refused.message);
  GenerateSummary summary;
  const kestrum::asf::Status status = Generate(request, *sink, summary);
  if (kestrum::asf::Failed(status)) {
    const OutputRefusal failed = WriteFailure(request.output, status);
    return Fail(kCommand, failed.code, failed.message);
  }
  TellWritten(request, summary);
  return kExitOk;
}

}  // namespace kestrum_cli
