// The line of what was lost: the counts of the diagnostic watch (and what
// the caller knows besides) in words.
#pragma once

#include <cstdint>
#include <string>

#include "report/diagnostic_watch.h"

namespace kestrum_cli {

// "0x80070070: 12 samples (0.480 s of media) were lost" (the first fault's
// code, "(out of memory)" after 0x8007000E, "(2 times)" after it when there
// were more), then "; the file has no index" when that did not fit either,
// and the samples refused ("; 3 samples refused by the writer (out of
// memory)").
std::string DescribeWriteFaults(const WriteFaults& faults);

// "writing 'OUT' failed: " and the faults in words (DescribeWriteFaults);
// `shown` names the output as given ("-" standard output).
std::string WritingFailed(const std::string& shown, const WriteFaults& faults);
// "writing 'OUT' ended: its reader went away (broken pipe, 0x8007006D); it
// was given every sample before": what WriteFaults::reader_gone() means.
std::string ReaderWentAway(const std::string& shown);

// One line naming what was lost, "" when nothing was: the live road's
// drops, the writer's lost and refused samples, `skipped_bytes` (bytes of
// the input in no group, where the caller knows them) and `refused_groups`
// (groups the file road writes nothing for: "processpacket : ..." lines).
std::string DescribeLosses(const LiveLosses& live, const WriteFaults& faults,
                           uint64_t skipped_bytes, uint64_t refused_groups = 0);

// The same in numbers, for one conversion or recording (--report-json).
struct RunCounts {
  LiveLosses live;
  WriteFaults faults;
  uint64_t refused_groups = 0;   // groups the file road wrote nothing for
  uint64_t skipped_bytes = 0;    // bytes of the input in no group, when counted
  bool skipped_counted = false;  // --strict: skipped_bytes was counted
  // Adds `other`'s counts: a series of files reported as one.
  void Add(const RunCounts& other);
};

}  // namespace kestrum_cli
