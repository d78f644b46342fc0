// Batch conversion: several stored streams into one output folder, each
// conversion in a child process of its own, up to N at a time.
//
// The library keeps one conversion instance per process and converts one
// stream at a time in it, so parallel conversions need processes. Each child
// starts from the parent's untouched library state (the parent itself never
// converts), runs one ConvertOne and reports back through a pipe; a child that
// dies is a failed conversion, not a failed batch. On Windows, which has no
// fork, the conversions run one after another in the calling process.
#pragma once

#include <string>
#include <vector>

#include "commands/convert_one.h"

namespace kestrum_cli {

struct BatchJob {
  std::string input;
  std::string output;
};

// Expands `inputs` (files, and folders standing for their regular files, not
// recursively, skipping hidden names and *.asf files) into jobs writing
// OUTPUT_DIR/STEM.asf, STEM being the file name without its last extension.
// Files are kept in the order given, a folder's files in name order; a path
// that is not a folder is a file, even a missing one (its conversion fails).
// Returns false, with `error` set, when a folder cannot be read, nothing is
// left to convert, two inputs would write the same output, or an output is
// one of the inputs (the same file under any name).
bool PlanBatch(const std::vector<std::string>& inputs, const std::string& output_dir,
               std::vector<BatchJob>& jobs, std::string& error);

// Runs `jobs` with at most `parallel` children at once. Prints a line per
// conversion as it ends ("ok ..." on stdout, "FAILED ..." on stderr), then a
// summary on stdout naming every failure in input order. Returns kExitOk when
// every conversion succeeded, kExitFailure otherwise; `outcomes` gets each
// job's (code kNotBegun for one a signal kept from beginning).
inline constexpr int kNotBegun = -1;
int RunBatch(const std::vector<BatchJob>& jobs, unsigned parallel, const ConvertOptions& options,
             std::vector<ConvertOutcome>& outcomes);

}  // namespace kestrum_cli
