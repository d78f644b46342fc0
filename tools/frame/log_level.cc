#include "frame/log_level.h"

#include <cerrno>
#include <cstdlib>

namespace kestrum_cli {

namespace {

struct Named {
  const char* name;
  int number;  // ffmpeg's
};

constexpr Named kLevels[] = {{"quiet", -8},   {"panic", 0},    {"fatal", 8},
                             {"error", 16},   {"warning", 24}, {"info", 32},
                             {"verbose", 40}, {"debug", 48},   {"trace", 56}};

LogLevel g_level = LogLevel::kInfo;
bool g_stats = true;  // no -nostats

LogLevel OfNumber(long number) {
  if (number <= 0) return LogLevel::kQuiet;   // quiet, panic
  if (number <= 16) return LogLevel::kError;  // fatal, error
  if (number <= 24) return LogLevel::kWarning;
  if (number <= 32) return LogLevel::kInfo;
  return LogLevel::kVerbose;
}

}  // namespace

std::optional<LogLevel> ParseLogLevel(const std::string& text) {
  for (const Named& level : kLevels) {
    if (text == level.name) return OfNumber(level.number);
  }
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || number < -8 || number > 56) return std::nullopt;
  return OfNumber(number);
}

bool IsLogLevelName(const std::string& text) {
  for (const Named& level : kLevels) {
    if (text == level.name) return true;
  }
  return false;
}

LogLevel CurrentLogLevel() { return g_level; }
void SetLogLevel(LogLevel level) { g_level = level; }
bool StatusLineWanted() { return g_stats && LogShows(LogLevel::kInfo); }

std::string ApplyLogLevel(Args& args) {
  LogLevel level = LogLevel::kInfo;
  for (const auto& [name, value] : args.given()) {
    if (name == kQuietOption.name) {
      level = LogLevel::kError;
    } else if (name == "verbose" && value.empty()) {
      level = LogLevel::kVerbose;
    } else if (name == "verbose" || name == kLogLevelOption.name) {
      const std::optional<LogLevel> parsed = ParseLogLevel(value);
      if (!parsed) {
        return "-loglevel '" + value +
               "' is not a level: quiet, error, warning, info or verbose (or ffmpeg's number "
               "for one, -8 to 56)";
      }
      level = *parsed;
    }
  }
  SetLogLevel(level);
  g_stats = !args.Has(kNoStatsOption.name);
  if (level == LogLevel::kVerbose) {
    args.Set("verbose", "");
  } else {
    args.Remove("verbose");
  }
  return "";
}

}  // namespace kestrum_cli
