#include "frame/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/escape.h"
#include "frame/log_level.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace kestrum_cli {

// The options every command takes for what it says (frame/log_level.h),
// after each command's own.
const char kLogLevelHelp[] =
    "Every command also takes, as ffmpeg does:\n"
    "      --loglevel LEVEL  (also -loglevel, and -v LEVEL) what is said on stderr:\n"
    "                        quiet (nothing), error (what failed), warning (and what\n"
    "                        was lost), info (and the status line and the summary:\n"
    "                        the default) or verbose (and the library's lines: -v)\n"
    "  -q, --quiet           as -loglevel error\n"
    "      --hide_banner     (also -hide_banner) accepted: no banner is printed\n"
    "      --nostats         (also -nostats) no status line\n"
    "\n";

const char kExitCodesHelp[] =
    "Exit codes: 0 done; 1 the work failed; 2 bad command line; 3 input missing or\n"
    "unreadable; 4 input is not a stream; 5 output cannot be written.\n";

namespace {
KeptMessages* g_kept = nullptr;

// "kestrum COMMAND: MESSAGE" and `tail` on stderr, the message escaped: in
// one write, or piece by piece when memory is short.
void PrintMessage(const std::string& command, const std::string& message, const std::string& tail) {
  try {
    std::fprintf(stderr, "kestrum %s: %s%s", command.c_str(), Escaped(message).c_str(),
                 tail.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kestrum %s: ", command.c_str());
    PrintEscaped(stderr, message, TextBytes::kUtf8);
    std::fputs(tail.c_str(), stderr);
  }
}
}  // namespace

KeptMessages::KeptMessages() : outer_(g_kept) { g_kept = this; }
KeptMessages::~KeptMessages() { g_kept = outer_; }
void KeptMessages::Keep(const std::string& message) {
  if (g_kept != nullptr) g_kept->lines_.push_back(message);
}

int Fail(const std::string& command, int code, const std::string& message) {
  KeptMessages::Keep(message);
  // A line that fails nothing tells what was lost: a warning.
  if (LogShows(code == kExitOk ? LogLevel::kWarning : LogLevel::kError)) {
    PrintMessage(command, message, "\n");
  }
  return code;
}

int UsageError(const std::string& command, const std::string& message) {
  KeptMessages::Keep(message);
  if (LogShows(LogLevel::kError)) {
    PrintMessage(command, message, "\nTry 'kestrum " + command + " --help'.\n");
  }
  return kExitUsage;
}

int Refuse(const std::string& command, int code, const std::string& message) {
  return code == kExitUsage ? UsageError(command, message) : Fail(command, code, message);
}

std::optional<int> ParseCommandLine(const std::string& command,
                                    const std::vector<std::string>& argv,
                                    const std::vector<OptionSpec>& options, const char* help,
                                    Args& args) {
  // Every command takes ffmpeg's options for what it says, and -v LEVEL.
  std::vector<OptionSpec> with_levels = options;
  for (OptionSpec& o : with_levels) {
    if (std::string(o.name) == "verbose") o.value_if = &IsLogLevelName;
  }
  with_levels.insert(with_levels.end(),
                     {kLogLevelOption, kQuietOption, kHideBannerOption, kNoStatsOption});
  std::string error;
  if (!args.Parse(argv, with_levels, error)) return UsageError(command, error);
  if (error = ApplyLogLevel(args); !error.empty()) return UsageError(command, error);
  if (args.Has("help")) {
    std::fputs(help, stdout);
    std::fputs(kLogLevelHelp, stdout);
    std::fputs(kExitCodesHelp, stdout);
    return kExitOk;
  }
  return std::nullopt;
}

#ifdef _WIN32
void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
void SetBinaryMode(int) {}
#endif

}  // namespace kestrum_cli
