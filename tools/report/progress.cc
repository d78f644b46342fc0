#include "report/progress.h"

#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame/escape.h"
#include "frame/log_level.h"

namespace kestrum_cli {

namespace {

constexpr auto kFirstDraw = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(200);

}  // namespace

std::string FormatMegabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string FormatRate(uint64_t bytes, double seconds) {
  char text[32];
  if (seconds <= 0) return "- MB/s";
  std::snprintf(text, sizeof text, "%.1f MB/s", static_cast<double>(bytes) / 1e6 / seconds);
  return text;
}

Progress::Progress(std::string label, uint64_t total, bool allowed)
    : label_(Escaped(label)),
      total_(total),
      enabled_(allowed && StatusLineWanted() && ::isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_),
      report_(ProgressReport::Current()) {}


Progress::~Progress() { Finish(); }

double Progress::elapsed_seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

namespace {

// A part of the status line, and how soon it goes when the line is too
// wide for the terminal (the highest first).
struct Field {
  std::string text;
  int drop_order;
};

std::string TimeText(double media_seconds) {
  const auto centis = static_cast<uint64_t>(media_seconds * 100 + 0.5);
  return "time=" + ClockText(centis * 10000, 2);
}

// "LABEL: " and the fields that fit in `width` columns, two spaces apart;
// cut at `width` when even the first does not fit.
std::string Fit(const std::string& label, std::vector<Field> fields, size_t width) {
  for (;;) {
    std::string line = label + ":";
    for (const Field& f : fields) line += (&f == &fields.front() ? " " : "  ") + f.text;
    if (line.size() <= width || fields.size() <= 1) return line.substr(0, width);
    const auto dropped = std::max_element(
        fields.begin(), fields.end(),
        [](const Field& a, const Field& b) { return a.drop_order < b.drop_order; });
    fields.erase(dropped);
  }
}

}  // namespace

size_t TerminalColumns() {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) != 0 &&
      info.srWindow.Right > info.srWindow.Left) {
    return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
#else
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
  const char* columns = std::getenv("COLUMNS");
  const long given = columns != nullptr ? std::strtol(columns, nullptr, 10) : 0;
  return given > 0 && given < 10000 ? static_cast<size_t>(given) : 80;
}

void Progress::Update(uint64_t done, uint64_t frames, double media_seconds) {
  if (!enabled_ && report_ == nullptr) return;
  if (frames != kNoFrames) {
    frames_ = frames;
    media_seconds_ = media_seconds;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kFirstDraw || now - last_draw_ < kRedraw) return;
  last_draw_ = now;
  if (report_ != nullptr) report_->Tell(Counts(nullptr));
  if (enabled_) {
    Draw(done, frames, media_seconds, std::chrono::duration<double>(now - start_).count());
  }
}

ProgressCounts Progress::Counts(const KestrumRecordStats* stats) {
  KestrumRecordStats fetched{};
  fetched.struct_size = sizeof fetched;
  if (stats == nullptr && stats_of_ && KestrumGetRecordStats(*stats_of_, &fetched) == 0) {
    stats = &fetched;
  }
  if (stats != nullptr) {
    bytes_ = stats->bytes_written;
    dropped_ = stats->groups_dropped;
  }
  return {frames_, bytes_, media_seconds_, dropped_};
}

void Progress::Draw(uint64_t done, uint64_t frames, double media_seconds, double seconds) {
  std::vector<Field> fields;
  char text[64];
  if (done != kUnknownBytes && total_ > 0) {
    const double share = 100.0 * static_cast<double>(done) / static_cast<double>(total_);
    std::snprintf(text, sizeof text, "%5.1f%%", share > 100 ? 100 : share);
    fields.push_back({text, 0});
    std::snprintf(text, sizeof text, "%.1f of %.1f MB", static_cast<double>(done) / 1e6,
                  static_cast<double>(total_) / 1e6);
    fields.push_back({text, 5});
  } else if (done != kUnknownBytes) {
    fields.push_back({FormatMegabytes(done), 5});
  }
  if (frames != kNoFrames) {
    fields.push_back({"frame=" + std::to_string(frames), 2});
    fields.push_back({TimeText(media_seconds), 1});
    std::snprintf(text, sizeof text, "speed=%.3gx", media_seconds / seconds);
    fields.push_back({text, 3});
  }
  if (done != kUnknownBytes) fields.push_back({FormatRate(done, seconds), 6});
  // The last column stays free: a terminal wraps at it, and a wrapped line
  // is one \r cannot go back over.
  const size_t width = TerminalColumns() - 1;
  const std::string line = Fit(label_, fields, width);
  // Spaces over what a longer line before left.
  std::fprintf(stderr, "\r%s%*s", line.c_str(),
               static_cast<int>(drawn_width_ > line.size() ? drawn_width_ - line.size() : 0), "");
  std::fflush(stderr);
  drawn_width_ = std::max(drawn_width_, line.size());
  drawn_ = true;
}

void Progress::Finish(const KestrumRecordStats* final_stats) {
  if (report_ != nullptr) {
    report_->PartEnded(Counts(final_stats));
    report_ = nullptr;
  }
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", static_cast<int>(drawn_width_), "");
  std::fflush(stderr);
  drawn_ = false;
  drawn_width_ = 0;
}

}  // namespace kestrum_cli
