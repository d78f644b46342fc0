// A recording's first steps: the input opened, the first file begun, the
// pieces pumped; and the file in hand held, to tell whether it stayed.
#include "commands/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "asf_format/status.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "io/standard_output.h"
#include "report/json_output.h"
#include "report/loss_summary.h"
#include "report/outcome.h"
#include "stream_format/frame_time.h"

namespace kestrum_cli {

namespace {

constexpr const char* kCommand = kRecordCommand;

// Whether anything has the name `name` (a symlink that leads nowhere too).
bool NameTaken(const std::string& name) {
  std::error_code error;
  return std::filesystem::symlink_status(name, error).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace

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
  reader_.emplace(fd, request_.grouped() ? 0 : request_.piece_size);
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
  // Names made from the time never overwrite: each file is made anew.
  const Overwrite overwrite = request_.to_stdout()       ? Overwrite::kAlways
                              : request_.pattern.timed() ? Overwrite::kNever
                                                         : request_.overwrite;
  return CheckOutput(name, request_.segmented || !request_.to_stdout() ? name : request_.output,
                     {request_.input}, overwrite, OutputKind::kAsf);
}

OutputRefusal Recording::ClaimName(std::string& name) const {
  if (!request_.pattern.timed()) {
    name = request_.pattern.Name(files_.size());
    return CheckFile(name);
  }
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  OutputRefusal checked;
  for (uint64_t variant = 0; variant <= kMaxVariant; ++variant) {
    name = request_.pattern.NameAt(now, variant);
    if (NameTaken(name)) continue;
    checked = CheckFile(name);
    // Another program made it meanwhile: the next variant.
    if (checked.code == kExitOk || !NameTaken(name)) return checked;
  }
  return {kExitOutput, "cannot make a name from '" + request_.output + "' that no file has: '" +
                           name + "' exists"};
}

std::optional<int> Recording::NameTimedFile() {
  std::string name;
  const OutputRefusal checked = ClaimName(name);
  if (checked.code != kExitOk) return Refuse(kCommand, checked.code, checked.message);
  output_name_ = name;
  // Before the first data piece, a further StartRecord names the file.
  StartRecord(handle_, output_name_.c_str(), 0, 0);
  files_ = {output_name_};
  return std::nullopt;
}

bool Recording::BeginFile() {
  // A name made from the time is made at the first data piece.
  const bool named = !request_.pattern.timed();
  const OutputRefusal checked = named ? CheckFile(output_name_) : OutputRefusal{};
  if (checked.code != kExitOk) {
    refused_ = Refuse(kCommand, checked.code, checked.message);
  } else if ((handle_ = CreateRecordInstance()) == nullptr) {
    refused_ = Fail(kCommand, kExitFailure, "the library made no instance (out of memory)");
  } else if (named && StartRecord(handle_, output_name_.c_str(), 0, 0) == 0) {
    ReleaseRecordInstance(&handle_);
    refused_ = Fail(kCommand, kExitFailure, "StartRecord refused the instance");
  }
  return !refused_;
}

std::optional<int> Recording::Start() {
  diagnostics_.emplace(request_.verbose);
  if (request_.sync_interval_ms >= 0) KestrumSetSyncInterval(request_.sync_interval_ms);
  // A series is refused before its first byte, not where it meets such a file.
  if (request_.segmented && !request_.pattern.timed() &&
      request_.overwrite == Overwrite::kSameKind) {
    const std::string foreign =
        ForeignInSeries(request_.pattern, OutputKind::kAsf, {request_.input});
    if (!foreign.empty()) return Fail(kCommand, kExitOutput, foreign);
  }
  KeepWithinLimits();
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
  if (request_.at_clock_time) next_cut_ms_ = NextClockCut(WallClockMs(), request_.segment_ms);
  if (!request_.pattern.timed()) files_ = {output_name_};
  return std::nullopt;
}

std::optional<int> Recording::PumpPieces() {
  const uint8_t* data = nullptr;
  size_t size = 0;
  // The header went first: a data piece the library drops because the
  // output cannot be prepared would be followed by every other; and once
  // writing has ended (an output that cannot be cut back failed: a pipe
  // whose reader went away), nothing more can be written.
  while (StopOnSignals::signal() == 0 && diagnostics_->not_ready() == 0 && switch_failure_ == 0 &&
         !diagnostics_->faults().writing_ended && reader_->Next(data, size)) {
    if (files_.empty()) {
      if (const auto code = NameTimedFile()) return code;
    }
    follower_.Feed(data, size);
    if (request_.grouped()) {
      if (const auto code = SendGrouped(data, size)) return code;
    } else {
      sender_->Piece(data, size);
    }
    HoldMadeFile();
    MakeRoomOnFullDisk();
    progress_->Update(reader_->consumed(), diagnostics_->groups(),
                      static_cast<double>(diagnostics_->samples()) * stream_format::kFrameSeconds);
  }
  return std::nullopt;
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
                OutputInWords(shown()) +
                    " was removed while it was recorded (the file, or its "
                    "folder): the " +
                    size + " written into it went with it");
  }
  return Fail(kCommand, kExitFailure,
              OutputInWords(shown()) + " was moved away while it was recorded: the file (" + size +
                  ", ended) is under another name");
#else
  return std::nullopt;
#endif
}

}  // namespace kestrum_cli
