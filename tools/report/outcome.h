// What came of one conversion or recording, as the program reports it: in
// a line, in a --report-json document, and from a batch's child to its
// parent.
#pragma once

#include <cstdint>
#include <string>

#include "report/loss_summary.h"

namespace kestrum_cli {

struct ConvertOutcome {
  int code = 0;         // an ExitCode: kExitOk when OUTPUT was written
  std::string message;  // why it failed; empty on success
  uint64_t input_bytes = 0;
  uint64_t output_bytes = 0;
  bool streamed = false;  // an OUTPUT that is no regular file: output_bytes unknown
  double seconds = 0;  // the TransferToAsf call alone
  std::string lost;    // what was lost (DescribeLosses), "" when nothing
  bool files_told = false;  // a failed series: `message` tells the files written
  // What was lost fails the conversion (exit 1) though OUTPUT was written:
  // samples the writer refused, which the file lacks.
  bool lost_fails = false;
  RunCounts counts;  // what the diagnostic lines told, in numbers
};

}  // namespace kestrum_cli
