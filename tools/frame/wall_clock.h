// Wall-clock times: as an ASF file holds them (a FILETIME, 100-ns units
// since 1601-01-01 UTC: the creation date, which Kestrum's writer sets to
// the time of a recording's first sample) and as the program prints and
// reads them, in local time with the offset from UTC that holds at that
// time ("2026-12-09 10:00:00.000 +01:00", "2026-12-09T10:00:00.000+01:00").
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestrum_cli {

// Milliseconds since 1970-01-01 UTC.
using UnixMs = int64_t;

// The time a FILETIME holds; nullopt for one that says no time: 0 (never
// set), or outside 1970 to 9999 (no recording was made then).
std::optional<UnixMs> FromFileTime(uint64_t file_time);
// The FILETIME of a time from 1970 on.
uint64_t ToFileTime(UnixMs ms);

enum class TimeStyle {
  kText,     // "2026-12-09 10:00:00.000 +01:00"
  kIso8601,  // "2026-12-09T10:00:00.000+01:00"
};
// `ms` in local time (the TZ environment variable, else the system's
// zone), with its offset from UTC at that time.
std::string LocalTimeText(UnixMs ms, TimeStyle style);

// Reads a wall-clock time: YYYY-MM-DDTHH:MM:SS (or a space for the T) with
// an optional fraction of a second, then an optional offset (Z, +HH:MM,
// -HH:MM, +HHMM); without one, local time. nullopt when `text` is no such
// time, or names none between 1970 and 9999.
std::optional<UnixMs> ParseWallClock(const std::string& text);

}  // namespace kestrum_cli
