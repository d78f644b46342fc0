#include "progress.h"

#include <unistd.h>

#include <cstdio>

#include "cli.h"

namespace kestrum_cli {

namespace {

constexpr auto kFirstDraw = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(200);

}  // namespace

Progress::Progress(std::string label, uint64_t total, bool allowed)
    : label_(std::move(label)),
      total_(total),
      enabled_(allowed && ::isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() { Finish(); }

double Progress::elapsed_seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::Update(uint64_t done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < kFirstDraw || now - last_draw_ < kRedraw) return;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const std::string rate = FormatRate(done, seconds);
  const std::string amount = FormatMegabytes(done);
  if (total_ > 0) {
    const double percent = 100.0 * static_cast<double>(done) / static_cast<double>(total_);
    std::fprintf(stderr, "\r%s: %5.1f%%  %s  %s   ", label_.c_str(), percent > 100 ? 100 : percent,
                 amount.c_str(), rate.c_str());
  } else {
    std::fprintf(stderr, "\r%s: %s  %s   ", label_.c_str(), amount.c_str(), rate.c_str());
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
