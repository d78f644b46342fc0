// What a recording that runs for months keeps of its series: the newest
// files, up to --keep-segments N files, --max-total SIZE bytes, with the
// file system keeping --keep-free SIZE free; the oldest removed first.
// Only files of the series are ever removed: names its pattern makes in its
// folder, regular files (no symlink, folder or device), ASF files that
// Kestrum's writer wrote and ended, that no writer holds (the lock every
// output is written under), never one being written. Files an earlier run
// of the same pattern wrote count as this one's.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "io/output_pattern.h"

namespace kestrum_cli {

// The limits asked for, each with the option as given (for the lines that
// tell a removal); 0: no such limit.
struct RetentionLimits {
  uint64_t keep_segments = 0;
  uint64_t max_total = 0;
  uint64_t keep_free = 0;
  std::string keep_segments_text;  // "--keep-segments 24"
  std::string max_total_text;      // "--max-total 10G"
  std::string keep_free_text;      // "--keep-free 10G"
  bool any() const { return keep_segments + max_total + keep_free > 0; }
};

// A file removed: its name as the pattern makes it, its size, and why
// (the option whose limit it was over, or "disk full").
struct Removal {
  std::string file;
  uint64_t bytes = 0;
  std::string reason;
};

class Retention {
 public:
  // `pattern` names its files in one folder (one_folder()).
  Retention(const OutputPattern& pattern, RetentionLimits limits)
      : pattern_(pattern), limits_(std::move(limits)) {}

  // Before a new file begins: removes the oldest files of the series until
  // the limits hold with the new file counted, as large as the last of
  // `in_hand` (N files with it; the files' bytes, `in_hand` and the new
  // one's included; the room free once it is written). `in_hand`: the
  // files being written, never removed.
  std::vector<Removal> BeforeNewFile(const std::vector<std::string>& in_hand) const;
  // The disk filled while `in_hand` was written: removes the oldest file of
  // the series, when there is one.
  std::optional<Removal> MakeRoom(const std::vector<std::string>& in_hand) const;

  // A file of the series that may be removed, as found.
  struct Candidate {
    std::string file;
    uint64_t bytes = 0;
    int64_t modified_ns = 0;
  };

 private:
  // The series' files but `in_hand`, oldest first (by the time each was
  // last written, then by name).
  std::vector<Candidate> Candidates(const std::vector<std::string>& in_hand) const;
  // The reason a file is to go, "" when the limits hold for `files` files
  // of `bytes` in all, with `expected` bytes still to be written.
  std::string Over(uint64_t files, uint64_t bytes, uint64_t expected) const;

  const OutputPattern& pattern_;
  RetentionLimits limits_;
  // The files the last scan found ended, by name, with their size and time.
  mutable std::map<std::string, Candidate> ended_;
};

// Removes `file` if it is still a file of the series as found: a regular
// file Kestrum's writer ended, that no writer holds (it is locked while it
// is removed, so that no writer takes it meanwhile). False when it is not
// so, or cannot be removed.
bool RemoveSeriesFile(const std::string& file);

// The bytes free to this user in the file system of `folder` ("" the
// working folder); UINT64_MAX when that cannot be told.
uint64_t FreeBytes(const std::string& folder);

}  // namespace kestrum_cli
