// One conversion on the file road: the checks `kestrum convert` makes around
// TransferToAsf, and what came of it. Used directly for a single conversion
// and, once per child process, for a batch.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/output_kind.h"
#include "io/segments.h"
#include "report/outcome.h"

namespace kestrum_cli {

struct ConvertOptions {
  bool verbose = false;   // the library's diagnostic lines on stderr
  bool progress = false;  // a progress line while converting (stderr a terminal)
  // An existing regular file as OUTPUT: refused (-n), rewritten when empty
  // or an ASF file (the default), or rewritten whatever it holds (-y).
  Overwrite overwrite = Overwrite::kSameKind;
  // Anything lost makes the conversion fail (kExitFailure). Then the input
  // is also scanned afterwards as the packet source scans it, to count the
  // bytes in no group (the file road's lines do not tell them).
  bool strict = false;
  // OUTPUT is made durable (on stable storage) before the conversion counts
  // as done; a file, not a stream.
  bool sync = false;
};

// Converts the stored stream `input` into `output`, which is written through
// (a file rewritten in place, a symlink's target, a device or pipe written
// as a stream), never removed or replaced. Refuses, without calling the
// library, an input that is missing, unreadable or not a stream, an output
// that cannot be written, is in use by another program, or is the input
// itself. An input that is not a regular file (a FIFO, a pipe, a device) is
// opened once, its header checked, and relayed to the library
// (StreamRelay). A failure's message says in words what the library's result
// means (DescribeResult). Uses the library's process-wide conversion: one at a time in a
// process.
ConvertOutcome ConvertOne(const std::string& input, const std::string& output,
                          const ConvertOptions& options);

// Converts `input` into a series of files named by `pattern` (0, 1, ...),
// each a conversion of its own: a new one begins at the first group that
// may start a recording once the file holds `segment_ms` of media (40 ms a
// group). The input is opened once and relayed. `outputs` gets the names
// written. The outcome's sizes and time are the sums over the files.
ConvertOutcome ConvertSegments(const std::string& input, const OutputPattern& pattern,
                               uint64_t segment_ms, const ConvertOptions& options,
                               std::vector<std::string>& outputs);

// The outcome as a batch reports it, one line a conversion: a loss that
// fails the conversion becomes its failure ("'OUT' was written, but lost:
// ..."), any other loss its message.
ConvertOutcome ForBatch(ConvertOutcome outcome, const std::string& output);

// "converted IN -> OUT: 1.2 MB read, 1.3 MB written, 0.10 s, 12.0 MB/s" (for
// a streamed OUT without what was written; "-" named standard output)
std::string DescribeConverted(const std::string& input, const std::string& output,
                              const ConvertOutcome& outcome);

}  // namespace kestrum_cli
