// How much the program says on standard error, as ffmpeg users set it:
// -loglevel LEVEL (or -v LEVEL), -q/--quiet, and -hide_banner (the program
// prints no banner: accepted so that ffmpeg's habits run unchanged).
//   quiet    nothing
//   error    what failed (the command's exit status is not 0)
//   warning  and what was lost without failing the command
//   info     and the status line and the summary line of a command that
//            writes a file (convert, record, extract, generate): the default
//   verbose  and the library's diagnostic lines (-v, --verbose)
// What a command is asked for on standard output (inspect's description,
// repair's lines, an extracted stream, the version) is written whatever the
// level.
#pragma once

#include <optional>
#include <string>

#include "frame/args.h"

namespace kestrum_cli {

enum class LogLevel { kQuiet, kError, kWarning, kInfo, kVerbose };

// A level by name (quiet, panic, fatal, error, warning, info, verbose,
// debug, trace: ffmpeg's names, those without a meaning of their own here
// taken as the nearest) or by ffmpeg's number for it (-8 to 56).
std::optional<LogLevel> ParseLogLevel(const std::string& text);
// A level's name (ffmpeg's names only, no number): -v takes one as its value.
bool IsLogLevelName(const std::string& text);

// The level of the running command; kInfo until one is set.
LogLevel CurrentLogLevel();
void SetLogLevel(LogLevel level);
// Whether lines of `level` are printed.
inline bool LogShows(LogLevel level) { return level <= CurrentLogLevel(); }

// The options every command takes for it (-v/--verbose, with a level
// name as its value when one follows, is the command's own).
inline const OptionSpec kLogLevelOption = {"loglevel", true, 0, true};
inline const OptionSpec kQuietOption = {"quiet", false, 'q'};
inline const OptionSpec kHideBannerOption = {"hide_banner", false, 0, true};
// -nostats: no status line (report/progress.h).
inline const OptionSpec kNoStatsOption = {"nostats", false, 0, true};

// Whether a status line may be drawn: at -loglevel info or more, without
// -nostats.
bool StatusLineWanted();

// Sets the level `args` ask for (and -nostats), the last option that tells one winning,
// and leaves "verbose" in `args` exactly when the level is kVerbose. An
// error text for a level that is none; "" when all is well.
std::string ApplyLogLevel(Args& args);

}  // namespace kestrum_cli
