#include "report/progress_report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "frame/cli.h"
#include "frame/log_level.h"
#include "frame/results.h"
#include "io/output_path.h"

namespace kestrum_cli {

namespace {

ProgressReport* g_current = nullptr;

#ifdef O_CLOEXEC
constexpr int kOpenCloseOnExec = O_CLOEXEC;
#else
constexpr int kOpenCloseOnExec = 0;
#endif


std::string BlockText(const ProgressCounts& c, double seconds, bool end) {
  const auto micro = static_cast<uint64_t>(c.media_seconds * 1e6 + 0.5);
  char fps[32] = "0.00";
  char bitrate[48] = "N/A";
  char speed[32] = "N/A";
  if (seconds > 0) std::snprintf(fps, sizeof fps, "%.2f", static_cast<double>(c.frames) / seconds);
  if (c.media_seconds > 0) {
    std::snprintf(bitrate, sizeof bitrate, "%.1fkbits/s",
                  static_cast<double>(c.bytes) * 8 / c.media_seconds / 1000);
    if (seconds > 0) std::snprintf(speed, sizeof speed, "%.3gx", c.media_seconds / seconds);
  }
  const std::string us = std::to_string(micro);
  return "frame=" + std::to_string(c.frames) + "\nfps=" + fps + "\nbitrate=" + bitrate +
         "\ntotal_size=" + std::to_string(c.bytes) + "\nout_time_us=" + us + "\nout_time_ms=" + us +
         "\nout_time=" + ClockText(micro, 6) +
         "\ndup_frames=0\ndrop_frames=" + std::to_string(c.dropped) + "\nspeed=" + speed +
         "\nprogress=" + (end ? "end" : "continue") + "\n";
}

ProgressCounts Sum(const ProgressCounts& a, const ProgressCounts& b) {
  return {a.frames + b.frames, a.bytes + b.bytes, a.media_seconds + b.media_seconds,
          a.dropped + b.dropped};
}

}  // namespace

ProgressReport* ProgressReport::Current() { return g_current; }

std::optional<int> ProgressReport::Open(const std::string& command, const std::string& path,
                                        const std::vector<std::string>& files,
                                        bool output_is_stdout, Overwrite overwrite) {
  command_ = command;
  shown_ = path;
  standard_output_ = path == "-";
  if (standard_output_ && output_is_stdout) {
    return UsageError(command, "-progress - and OUTPUT - cannot both be standard output");
  }
  if (!standard_output_) {
    const FileId id = IdOfPath(path);
    for (const std::string& file : files) {
      if (file == path || (id.known && id == IdOfInput(file))) {
        return UsageError(command,
                          "-progress '" + path + "' would overwrite " +
                              (file == "-" ? std::string("standard input") : "'" + file + "'"));
      }
    }
    OutputRefusal refused = CheckOutput(path, path, {}, overwrite, OutputKind::kProgress);
    if (refused.code != kExitOk)
      return Fail(command, refused.code, "-progress: " + refused.message);
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kOpenCloseOnExec | kOpenBinary, 0666);
    if (fd_ < 0) {
      return Fail(command, kExitOutput,
                  "cannot write the progress report '" + path + "': " + ErrnoInWords(errno));
    }
  } else {
    fd_ = STDOUT_FILENO;
  }
  g_current = this;
  return std::nullopt;
}

ProgressReport::~ProgressReport() {
  if (g_current != this) return;
  Write(ended_, true);
  if (!standard_output_) ::close(fd_);
  g_current = nullptr;
}

void ProgressReport::Tell(const ProgressCounts& part) { Write(Sum(ended_, part), false); }

void ProgressReport::PartEnded(const ProgressCounts& part) { ended_ = Sum(ended_, part); }

void ProgressReport::Write(const ProgressCounts& counts, bool end) {
  if (failed_) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const std::string text = BlockText(counts, seconds, end);
  if (standard_output_) std::fflush(stdout);  // what the command printed before comes first
  size_t done = 0;
  while (done < text.size()) {
    const auto n = ::write(fd_, text.data() + done, static_cast<unsigned>(text.size() - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      Fail(command_, kExitOk,
           "cannot write the progress report " + OutputInWords(shown_) + ": " +
               ErrnoInWords(errno) + "; no more progress is written");
      return;
    }
    done += static_cast<size_t>(n);
  }
}

std::string ClockText(uint64_t micro, int decimals) {
  uint64_t fraction = micro % 1000000;
  for (int d = decimals; d < 6; ++d) fraction /= 10;
  char text[48];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu.%0*llu",
                static_cast<unsigned long long>(micro / 3600000000),
                static_cast<unsigned long long>(micro / 60000000 % 60),
                static_cast<unsigned long long>(micro / 1000000 % 60), decimals,
                static_cast<unsigned long long>(fraction));
  return text;
}

FILE* SummaryStream(bool output_is_stdout) {
  if (!LogShows(LogLevel::kInfo)) return nullptr;
  const ProgressReport* report = ProgressReport::Current();
  return output_is_stdout || (report != nullptr && report->to_standard_output()) ? stderr : stdout;
}

}  // namespace kestrum_cli
