// The program's frame, what every command shares: exit codes, error
// messages, the command line, and binary mode for streams. The results of
// the library in words: frame/results.h; standard output:
// io/standard_output.h; the inputs: io/input_file.h; the outputs:
// io/output_path.h; the diagnostic watch: report/diagnostic_watch.h; the
// line of what was lost: report/loss_summary.h; the status line:
// report/progress.h.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"

namespace kestrum::stream_format {}

namespace kestrum_cli {

namespace stream_format = kestrum::stream_format;

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,    // the work itself failed (conversion, writing)
  kExitUsage = 2,      // bad command line
  kExitInput = 3,      // the input is missing or unreadable
  kExitNotStream = 4,  // the input is not a stream (or not a readable ASF file)
  kExitOutput = 5,     // the output cannot be written
};

// Exit codes as the help texts list them.
extern const char kExitCodesHelp[];

// Prints "kestrum COMMAND: MESSAGE" on stderr and returns `code`. The
// message may hold names and other outside text: it is printed escaped
// (escape.h), and kept as it is.
int Fail(const std::string& command, int code, const std::string& message);

// A usage error: the message, then a pointer to --help.
int UsageError(const std::string& command, const std::string& message);

// Ends `command` with `code` and `message`: a usage error (UsageError) when
// `code` is kExitUsage, else as Fail.
int Refuse(const std::string& command, int code, const std::string& message);

// While one is alive, the messages Fail and UsageError print are kept too,
// in order (for the JSON of inspect and of --report-json).
class KeptMessages {
 public:
  KeptMessages();
  ~KeptMessages();
  KeptMessages(const KeptMessages&) = delete;
  KeptMessages& operator=(const KeptMessages&) = delete;
  const std::vector<std::string>& lines() const { return lines_; }
  static void Keep(const std::string& message);

 private:
  KeptMessages* outer_;
  std::vector<std::string> lines_;
};

// Parses a command's arguments into `args`. Returns the exit code to end
// with when the command is done already: a usage error, or --help printed
// (`help` and the exit codes). nullopt: go on with `args`.
std::optional<int> ParseCommandLine(const std::string& command,
                                    const std::vector<std::string>& argv,
                                    const std::vector<OptionSpec>& options, const char* help,
                                    Args& args);

// --strict: anything lost fails the command.
inline const OptionSpec kStrictOption = {"strict", false, 0};

// Streams are bytes: on Windows, files opened with ::open and the standard
// streams must be in binary mode (no line-ending translation, no stop at
// 0x1A). kOpenBinary is the flag for ::open; SetBinaryMode switches an open
// descriptor. Both do nothing elsewhere.
#ifdef _WIN32
inline constexpr int kOpenBinary = O_BINARY;
#else
inline constexpr int kOpenBinary = 0;
#endif
void SetBinaryMode(int fd);

}  // namespace kestrum_cli
