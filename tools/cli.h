// What every command shares: exit codes, error messages, the --verbose
// diagnostic sink, and checks of input and output files.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "args.h"

namespace kestrum_cli {

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

// Prints "kestrum COMMAND: MESSAGE" on stderr and returns `code`.
int Fail(const std::string& command, int code, const std::string& message);

// A usage error: the message, then a pointer to --help.
int UsageError(const std::string& command, const std::string& message);

// Parses a command's arguments into `args`. Returns the exit code to end
// with when the command is done already: a usage error, or --help printed
// (`help` and the exit codes). nullopt: go on with `args`.
std::optional<int> ParseCommandLine(const std::string& command,
                                    const std::vector<std::string>& argv,
                                    const std::vector<OptionSpec>& options, const char* help,
                                    Args& args);

// While alive, prints each diagnostic line of the library on stderr, with
// bytes other than printable ASCII escaped (\r, \n, \t, \\, \xHH).
class DiagnosticEcho {
 public:
  explicit DiagnosticEcho(bool enabled);
  ~DiagnosticEcho();
  DiagnosticEcho(const DiagnosticEcho&) = delete;
  DiagnosticEcho& operator=(const DiagnosticEcho&) = delete;

 private:
  bool enabled_;
};

// `line` with bytes other than printable ASCII escaped.
std::string EscapeLine(const char* line);

// Opens `path` and reads its first 40 bytes into `header`. Returns kExitOk,
// kExitInput (cannot open or read: `error` says why) or kExitNotStream
// (fewer than 40 bytes).
int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error);

// True when `path` can be written (an existing writable file, or a new file
// in a writable folder; nothing is left behind). Otherwise `error` says why.
bool CheckOutputWritable(const std::string& path, std::string& error);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

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

// Size of a regular file, or -1.
int64_t FileSize(const std::string& path);

// Bytes as "12.3 MB" (10^6 bytes) and a rate as "45.6 MB/s".
std::string FormatMegabytes(uint64_t bytes);
std::string FormatRate(uint64_t bytes, double seconds);

}  // namespace kestrum_cli
