// A recording's end: the file ended, and how it went told in a line, an
// exit code and --report-json.
#include "commands/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "asf_format/status.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "io/standard_output.h"
#include "report/json_output.h"
#include "report/loss_summary.h"
#include "report/outcome.h"
#include "report/progress_report.h"
#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace {

constexpr const char* kCommand = kRecordCommand;

}  // namespace

int Recording::StopAndReport() {
  const std::string& input = request_.input;
  if (const auto code = FlushPending()) return *code;
  StopRecord(handle_);
  KestrumGetRecordStats(handle_, &stats_);
  ReleaseRecordInstance(&handle_);
  if (request_.to_stdout()) EndStandardOutput();
  progress_->Tally(diagnostics_->groups(),
                   static_cast<double>(diagnostics_->samples()) * stream_format::kFrameSeconds);
  progress_->Finish(&stats_);
  const double seconds = progress_->elapsed_seconds();
  const WriteFaults faults = diagnostics_->faults();
  const std::string fault_note =
      faults.any() ? "; writing failed: " + DescribeWriteFaults(faults) : "";

  if (StopOnSignals::signal() != 0) {
    const int number = StopOnSignals::signal();
    // A name made from the time is made with the file's first data.
    Fail(kCommand, 128 + number,
         files_.empty() ? StoppedBy(number) + " before any data came: no file was made"
                        : EndedBySignal(number, "the recording", OutputInWords(shown())) +
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
                WritingFailed(shown(), faults) +
                    "; the recording went on, and the file holds the rest, ended");
  }
  if (const auto gone = MadeFileGone()) return *gone;
  struct stat info;
  if (sender_->calls() <= 1 || ::stat(output_name_.c_str(), &info) != 0) {
    return Fail(kCommand, kExitFailure,
                "no output was written to " + OutputInWords(shown()) + " (see --verbose)");
  }
  return Report(seconds, faults, info);
}

int Recording::NotPrepared() {
  if (OutputInUse(output_name_)) return Fail(kCommand, kExitOutput, InUseMessage(shown()));
  std::string nothing =
      files_.size() > 1
          ? "; nothing was recorded into it (" + std::to_string(files_.size() - 1) +
                " files were written before, the last '" + files_[files_.size() - 2] + "')"
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
  return Fail(
      kCommand, kExitFailure,
      "the library could not prepare " + OutputInWords(shown()) + " (see --verbose)" + nothing);
}

int Recording::Report(double seconds, const WriteFaults& faults, const struct stat& info) {
  const std::string& input = request_.input;
  const uint64_t consumed = reader_->consumed();
  std::string lost = DescribeLosses(Losses(), faults, 0);
  if (!lost.empty()) lost += "; " + std::to_string(diagnostics_->groups()) + " groups recorded";
  lost_ = lost;
  written_ = S_ISREG(info.st_mode) ? static_cast<uint64_t>(info.st_size) : stats_.bytes_written;
  // Standard output carries the file (or -progress -): the summary goes to
  // stderr then; none below -loglevel info.
  FILE* const to = SummaryStream(request_.to_stdout());
  if (to != nullptr && request_.segmented) {
    std::fprintf(to, "recorded %s -> %zu files, %s to %s: %llu bytes in %llu pieces, %.2f s, %s\n",
                 Escaped(input).c_str(), files_.size(), Escaped(files_.front()).c_str(),
                 Escaped(files_.back()).c_str(), static_cast<unsigned long long>(consumed),
                 static_cast<unsigned long long>(sender_->calls()), seconds,
                 FormatRate(consumed, seconds).c_str());
  } else if (to != nullptr) {
    // A file's size, or what the library wrote into a stream (a pipe, a
    // FIFO, a device).
    const std::string written = FormatMegabytes(written_) + " written, ";
    std::fprintf(to, "recorded %s -> %s: %llu bytes in %llu pieces, %s%.2f s, %s\n",
                 Escaped(input).c_str(),
                 request_.to_stdout() ? "standard output" : Escaped(shown()).c_str(),
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
  Json json = ConversionJson(request_.input, outputs, outcome);
  if (request_.retention.any()) {
    json["removed"] = Json::array();
    for (const Removal& removal : removed_) {
      json["removed"].push_back(
          {{"file", removal.file}, {"bytes", removal.bytes}, {"reason", removal.reason}});
    }
  }
  return json;
}

}  // namespace kestrum_cli
