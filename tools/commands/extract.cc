// kestrum extract: the stream back out of a recording. The stream header
// from the video format's codec data, then one group per group of samples,
// rebuilt from the sample header and the blocks every sample carries
// (docs/output-format.md, "Getting the stream back").
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"
#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "base/bytes.h"
#include "frame/cli.h"
#include "commands/commands.h"
#include "commands/packed_samples.h"
#include "frame/escape.h"
#include "io/input_file.h"
#include "io/kestrum_asf.h"
#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/standard_output.h"
#include "report/progress.h"
#include "report/progress_report.h"
#include "io/stop_signals.h"
#include "stream_format/file_header.h"
#include "stream_format/frame_time.h"
#include "stream_format/sample_header.h"
#include "stream_format/start_rule.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;
using kestrum::load_u32le;
using kestrum::store_u32le;

namespace {

const char kHelp[] =
    "Usage: kestrum extract IN.asf OUT\n"
    "\n"
    "Gives back the stream that a recording or a conversion was made from: the\n"
    "40-byte stream header from the video format, then one group per group of\n"
    "samples, rebuilt from each sample's header and blocks. Recording OUT again on\n"
    "the same road (record for a recording, convert for a conversion) gives the\n"
    "same samples at the same times. What a recording does not keep (frame\n"
    "numbers, the group type, three words of each group header) is rebuilt as\n"
    "docs/output-format.md tells; a gap in the file road's times becomes groups\n"
    "without blocks, so times stay where they were.\n"
    "OUT '-' writes standard output (never a terminal). OUT is written through,\n"
    "never removed, as convert writes its outputs; one that another program is\n"
    "writing, or is converting from, is refused, and so is IN itself. An OUT\n"
    "that is an ASF file is rewritten only with -y (refused without it, exit 5).\n"
    "\n"
    "An ASF file that Kestrum did not write (no XQV4 video stream 8 carrying the\n"
    "stream header) is refused (exit 4). A file that was never ended, is cut\n"
    "short or damaged gives every group it holds; the exit code is then 1 and a\n"
    "line says what was missing.\n"
    "SIGINT, SIGTERM or SIGHUP (Ctrl-C) ends OUT with the last whole group; a\n"
    "line says what it holds, and the exit code is 128 + the signal's number.\n"
    "\n"
    "Options:\n"
    "  -n, --no-overwrite  refuse an OUT file that exists (exit 5)\n"
    "  -y, --overwrite     rewrite an OUT file that exists, whatever it holds\n"
    "                      (without -y or -n: anything but an ASF file)\n"
    "  -v, --verbose       accepted for symmetry; extract does not use the library\n"
    "  -h, --help          this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {{"help", false, 'h'}, {"verbose", false, 'v'},
                                          kNoOverwriteOption, kOverwriteOption};

using stream_format::kFrameMs;
using stream_format::kSampleHeaderSize;
// A gap in the file road's times longer than this (an hour of groups) is
// left as it is: no Kestrum recording has one, and filling it could take
// without bound.
constexpr uint64_t kMaxFilledGroups = 90000;

class StreamOut {
 public:
  StreamOut(asf::ByteSink& sink, uint16_t stream_type) : sink_(sink), stream_type_(stream_type) {}

  bool Put(const uint8_t* p, size_t n) {
    bytes_ += n;
    status_ = sink_.Write(p, n);
    return asf::Succeeded(status_);
  }
  // Hands what is held to the system: the first failure, if any.
  asf::Status Finish() {
    if (asf::Succeeded(status_)) status_ = sink_.Flush();
    return status_;
  }

  // One group from a sample: the group header rebuilt, then the blocks.
  bool Group(const std::vector<uint8_t>& sample) {
    const uint8_t* s = sample.data();
    uint8_t g[stream_format::kGroupHeaderSize];
    stream_format::RebuildGroupHeader(g, stream_format::ParseSampleHeader(s), FrameNumber());
    // A key frame opens a group of its own type (as rebuilt); the first group
    // takes the type that lets it start a recording, where either does.
    uint32_t type = load_u32le(g + stream_format::kGroupTypeOffset);
    if (groups_ == 1 && !stream_format::MayStartRecording(stream_type_, g)) {
      type ^= stream_format::kGroupTypeIntra ^ stream_format::kGroupTypeOther;
      store_u32le(g + stream_format::kGroupTypeOffset, type);
      if (!stream_format::MayStartRecording(stream_type_, g)) {
        type ^= stream_format::kGroupTypeIntra ^ stream_format::kGroupTypeOther;
        store_u32le(g + stream_format::kGroupTypeOffset, type);
      }
    }
    return Put(g, sizeof g) &&
           Put(s + kSampleHeaderSize, sample.size() - kSampleHeaderSize);
  }

  // A group without blocks: it takes a place in the file road's time.
  bool EmptyGroup() {
    uint8_t g[stream_format::kGroupHeaderSize];
    stream_format::RebuildGroupHeader(g, stream_format::SampleHeader{}, FrameNumber());
    ++empty_groups_;
    return Put(g, sizeof g);
  }

  uint64_t groups() const { return groups_; }
  uint64_t empty_groups() const { return empty_groups_; }
  uint64_t bytes() const { return bytes_; }

 private:
  uint32_t FrameNumber() { return static_cast<uint32_t>(groups_++); }

  asf::ByteSink& sink_;
  asf::Status status_ = asf::kOk;
  uint16_t stream_type_;
  uint64_t groups_ = 0, empty_groups_ = 0, bytes_ = 0;
};

// What the copy of the samples met.
struct SampleCounts {
  uint64_t samples = 0;    // whole samples read
  uint64_t damaged = 0;    // samples that are not whole
  uint64_t cut = 0;        // samples cut short
  uint64_t gaps_left = 0;  // gaps over kMaxFilledGroups left unfilled
};

// One group into `out` per group of samples, until the file ends, a signal
// comes (StopOnSignals) or writing fails (false).
bool CopyGroups(asf::Reader& reader, const asf::HeaderInfo& h, StreamOut& out,
                SampleCounts& counts) {
  bool written = true;
  std::vector<uint8_t> group;  // the current group's first sample
  uint32_t last_index = 0;
  uint64_t last_ms = 0;
  bool any = false;
  asf::MediaObject sample;
  while (written && StopOnSignals::signal() == 0 && reader.NextSample(&sample)) {
    if (sample.stream != kRecordingStream) continue;
    if (sample.cut) {
      ++counts.cut;
      continue;
    }
    if (!IsPackedSample(sample.bytes)) {
      ++counts.damaged;
      continue;
    }
    ++counts.samples;
    const uint64_t ms = sample.presentation_ms >= h.preroll ? sample.presentation_ms - h.preroll : 0;
    const uint32_t index = load_u32le(sample.bytes.data() + stream_format::kSampleIndexOffset);
    if (any && index == last_index + 1 && SameGroup(sample.bytes, group)) {
      last_index = index;
      last_ms = ms;
      continue;
    }
    // A new group. On the file road each group's samples share its time and
    // the next group comes 40 ms on; on the live road every sample is 40 ms
    // after the one before. Either way the next group is due 40 ms after the
    // last sample: a later time means groups that gave no samples.
    if (any && ms > last_ms + kFrameMs) {
      const uint64_t missing = (ms - last_ms) / kFrameMs - 1;
      if (missing > kMaxFilledGroups) {
        ++counts.gaps_left;
      } else {
        for (uint64_t k = 0; k < missing && written; ++k) written = out.EmptyGroup();
      }
    }
    group = std::move(sample.bytes);
    last_index = index;
    last_ms = ms;
    any = true;
    written = written && out.Group(group);
  }
  return written;
}

constexpr char kCommand[] = "extract";

// What the command line asks for.
struct ExtractRequest {
  std::string input;                           // IN.asf
  std::string output;                          // OUT; "-": standard output
  Overwrite overwrite = Overwrite::kSameKind;  // -n, -y
  bool to_stdout() const { return output == "-"; }
};

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, ExtractRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  if (args.positionals().size() != 2) return UsageError(kCommand, "expected IN.asf and OUT");
  if (const std::string conflict = OverwriteConflict(args); !conflict.empty()) {
    return UsageError(kCommand, conflict);
  }
  request.input = args.positionals()[0];
  request.output = args.positionals()[1];
  request.overwrite = OverwriteOf(args);
  if (request.to_stdout() && ::isatty(STDOUT_FILENO) != 0) {
    return UsageError(kCommand, "OUT '-' is a terminal: the stream is binary; redirect it");
  }
  if (IdOfPath(request.input) ==
      (request.to_stdout() ? IdOfDescriptor(STDOUT_FILENO) : IdOfPath(request.output))) {
    return UsageError(kCommand, "OUT would overwrite IN ('" + request.input + "')");
  }
  return std::nullopt;
}

// One extraction, in the order its steps run: OpenInput, OpenOutput, Copy,
// Report. A step that returns an exit code ends the command with it.
class Extraction {
 public:
  explicit Extraction(const ExtractRequest& request) : request_(request) {}

  // Opens IN and refuses a file Kestrum did not write.
  std::optional<int> OpenInput();
  // Checks and opens OUT.
  std::optional<int> OpenOutput();
  // The stream header, then a group for each group of samples, until IN
  // ends or a signal comes (OUT then ends with a whole group).
  std::optional<int> Copy();
  // How it went: stopped, IN incomplete, or done.
  int Report() const;

 private:
  // What IN lacked, a part each: "" when nothing.
  std::string Missing() const;

  const ExtractRequest& request_;
  std::unique_ptr<asf::ReadSource> source_;
  std::optional<asf::Reader> reader_;
  // Copied: reading the packets may add to the header's list of streams.
  uint8_t stream_header_[stream_format::kFileHeaderSize] = {};
  std::unique_ptr<asf::ByteSink> sink_;
  std::optional<StopOnSignals> signals_;
  std::optional<StreamOut> out_;
  SampleCounts counts_;
};

std::optional<int> Extraction::OpenInput() {
  const std::string& input = request_.input;
  if (IsFolder(input)) return Fail(kCommand, kExitInput, FolderInputMessage(input));
  source_ = asf::OpenReadFile(input);
  if (source_ == nullptr) {
    return Fail(kCommand, kExitInput, "cannot open '" + input + "': " + std::strerror(errno));
  }
  reader_.emplace(*source_, asf::ReadOptions{asf::ReadChecks::kDamage, true});
  if (!reader_->Open()) {
    return Fail(kCommand, kExitNotStream,
                "'" + input + "' is not an ASF file: " + reader_->error());
  }
  const asf::HeaderInfo& h = reader_->header();
  const std::string foreign = NotKestrumReason(h);
  if (!foreign.empty()) {
    return Fail(kCommand, kExitNotStream, "'" + input + "' was not written by Kestrum: " + foreign);
  }
  std::memcpy(stream_header_, CarriedStreamHeader(h), sizeof stream_header_);
  return std::nullopt;
}

std::optional<int> Extraction::OpenOutput() {
  OutputRefusal refused;
  sink_ = OpenCheckedOutput(request_.output, {request_.input}, request_.overwrite, refused);
  if (sink_ == nullptr) return Refuse(kCommand, refused.code, refused.message);
  return std::nullopt;
}

std::optional<int> Extraction::Copy() {
  // A signal ends the copy between groups: OUT ends with a whole group.
  signals_.emplace();
  out_.emplace(*sink_,
               load_u32le(stream_header_ + stream_format::kFileHeaderStreamTypeOffset) & 0xFFFF);
  const bool written = out_->Put(stream_header_, stream_format::kFileHeaderSize) &&
                       CopyGroups(*reader_, reader_->header(), *out_, counts_);
  const asf::Status status = out_->Finish();
  if (request_.to_stdout()) EndStandardOutput();
  if (!written || asf::Failed(status)) {
    const OutputRefusal failed = WriteFailure(request_.output, status);
    return Fail(kCommand, failed.code, failed.message);
  }
  return std::nullopt;
}

std::string Extraction::Missing() const {
  const asf::HeaderInfo& h = reader_->header();
  std::vector<std::string> missing;
  const bool unended = (h.flags & asf::kFileFlagBroadcast) != 0 && !h.streamed;
  if (unended) missing.push_back("it was never ended");
  if (counts_.cut > 0) missing.push_back(std::to_string(counts_.cut) + " cut samples");
  if (counts_.damaged > 0) {
    missing.push_back(std::to_string(counts_.damaged) + " samples that are not whole");
  }
  if (counts_.gaps_left > 0) {
    missing.push_back(std::to_string(counts_.gaps_left) + " gaps over an hour left unfilled");
  }
  // Each cut sample is a problem of its own, counted above; the reader
  // keeps the first problems only.
  uint64_t told = counts_.cut;
  for (const std::string& p : reader_->problems()) {
    if (p.rfind("sample ", 0) != 0) {
      missing.push_back(p);
      ++told;
    }
  }
  if (reader_->problem_count() > told) {
    missing.push_back(std::to_string(reader_->problem_count() - told) + " more problems");
  }
  std::string why;
  for (const std::string& m : missing) why += (why.empty() ? "" : "; ") + m;
  return why;
}

int Extraction::Report() const {
  const std::string& input = request_.input;
  const std::string& output = request_.output;
  char summary[160];
  std::snprintf(summary, sizeof summary, "%llu groups (%llu without blocks) from %llu samples, %s",
                static_cast<unsigned long long>(out_->groups()),
                static_cast<unsigned long long>(out_->empty_groups()),
                static_cast<unsigned long long>(counts_.samples),
                FormatMegabytes(out_->bytes()).c_str());
  if (const int number = StopOnSignals::signal(); number != 0) {
    return Fail(kCommand, 128 + number,
                StoppedBy(number) + ": " + OutputInWords(output) +
                    " holds the stream up to the last whole group, " + summary);
  }
  if (const std::string why = Missing(); !why.empty()) {
    return Fail(kCommand, kExitFailure,
                "'" + input + "' is incomplete (" + why + "): " + OutputInWords(output) +
                    " holds what it held, " + summary);
  }
  // Standard output carries the stream: the summary goes to stderr then.
  if (FILE* to = SummaryStream(request_.to_stdout())) {
    std::fprintf(to, "extracted %s -> %s: %s\n", Escaped(input).c_str(),
                 request_.to_stdout() ? "standard output" : Escaped(output).c_str(), summary);
  }
  return kExitOk;
}

int Extract(Extraction& extraction) {
  if (const auto done = extraction.OpenInput()) return *done;
  if (const auto done = extraction.OpenOutput()) return *done;
  if (const auto done = extraction.Copy()) return *done;
  return extraction.Report();
}

}  // namespace

int RunExtract(const std::vector<std::string>& argv) {
  ExtractRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  Extraction extraction(request);
  return Extract(extraction);
}

}  // namespace kestrum_cli
