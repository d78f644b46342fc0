// What a command may rewrite when its OUTPUT is a file that exists, and the
// -n and -y options that say so: by default only a file that is empty or
// holds what the command itself writes (an ASF file for convert and record,
// a stream for extract and generate, a report for --report-json), so that
// two arguments given the wrong way round never turn a stream into an ASF
// file; with -y anything; with -n nothing.
#pragma once

#include <string>

#include "frame/args.h"

namespace kestrum_cli {

// -n, the default, -y.
enum class Overwrite {
  kNever,     // -n/--no-overwrite: a file that exists is refused
  kSameKind,  // neither: rewritten when empty or of the kind written, else refused
  kAlways,    // -y/--overwrite: rewritten whatever it holds
};

// What a command writes into its OUTPUT.
enum class OutputKind {
  kAsf,     // convert, record: anything but an ASF file needs -y
  kStream,  // extract, generate: an ASF file needs -y
  kReport,  // --report-json: anything but a JSON text needs -y
  kProgress,  // -progress: anything but key=value lines (from frame=) needs -y
};

// Why the existing regular file `opened` (named `shown` in messages) is not
// to be rewritten by default by a command writing `kind`: "'B.xqv' holds a
// stream, not an ASF file; it was left as it is (give -y to overwrite it)";
// "" when it may be (it is empty, of that kind, or no regular file at all).
std::string ForeignOutput(const std::string& opened, const std::string& shown, OutputKind kind);

// -n/--no-overwrite and -y/--overwrite, the options of commands that write
// one OUTPUT. Overwriting is the default.
inline const OptionSpec kNoOverwriteOption = {"no-overwrite", false, 'n'};
inline const OptionSpec kOverwriteOption = {"overwrite", false, 'y'};
// Usage error text when both are given; "" otherwise.
std::string OverwriteConflict(const Args& args);
// What the command line asks for: -n kNever, -y kAlways, else kSameKind.
Overwrite OverwriteOf(const Args& args);

}  // namespace kestrum_cli
