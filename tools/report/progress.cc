#include "report/progress.h"

#include <unistd.h>

#include <cstdio>

#include "frame/escape.h"

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
      enabled_(allowed && ::isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() { Finish(); }

double Progress::elapsed_seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::Update(uint64_t done, uint64_t frames, double media_seconds) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kFirstDraw || now - last_draw_ < kRedraw) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  char amount[64];
  std::snprintf(amount, sizeof amount, "%.1f MB", static_cast<double>(done) / 1e6);
  char percent[16] = "";
  if (total_ > 0) {
    const double share = 100.0 * static_cast<double>(done) / static_cast<double>(total_);
    std::snprintf(percent, sizeof percent, "%5.1f%%  ", share > 100 ? 100 : share);
    std::snprintf(amount, sizeof amount, "%.1f of %.1f MB", static_cast<double>(done) / 1e6,
                  static_cast<double>(total_) / 1e6);
  }
  if (done == kUnknownBytes) {
    amount[0] = 0;
    percent[0] = 0;
  }
  const std::string rate = done == kUnknownBytes ? "" : FormatRate(done, seconds);
  if (frames == kNoFrames) {
    std::fprintf(stderr, "\r%s: %s%s  %s   ", label_.c_str(), percent, amount, rate.c_str());
  } else {
    const auto centis = static_cast<uint64_t>(media_seconds * 100 + 0.5);
    std::fprintf(stderr,
                 "\r%s: %s%s  frame=%llu  time=%02llu:%02llu:%02llu.%02llu  speed=%.3gx  %s   ",
                 label_.c_str(), percent, amount, static_cast<unsigned long long>(frames),
                 static_cast<unsigned long long>(centis / 360000),
                 static_cast<unsigned long long>(centis / 6000 % 60),
                 static_cast<unsigned long long>(centis / 100 % 60),
                 static_cast<unsigned long long>(centis % 100), media_seconds / seconds,
                 rate.c_str());
  }
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::Finish() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace kestrum_cli
