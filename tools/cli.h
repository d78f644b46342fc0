// What every command shares: exit codes, error messages, the --verbose
// diagnostic sink, and checks of input and output files.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "args.h"

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

// What the writer told of write faults on the diagnostic lines (its
// "writer : ..." lines, docs/diagnostics.md).
struct WriteFaults {
  int outages = 0;              // faults met (outages begun)
  uint32_t first_code = 0;      // the first one's HRESULT (or the index's)
  uint64_t samples_lost = 0;    // over all outages
  double seconds_lost = 0;      // media time, over all outages
  bool no_index = false;        // the index did not fit
  bool any() const { return outages > 0 || no_index; }
};

// "0x80070070: 12 samples (0.480 s of media) were lost" (the first fault's
// code, "(2 times)" after it when there were more), then "; the file has no
// index" when that did not fit either.
std::string DescribeWriteFaults(const WriteFaults& faults);

// While alive, watches the library's diagnostic lines: prints each on stderr
// (bytes other than printable ASCII escaped: \r, \n, \t, \\, \xHH) when
// `echo` is set, and keeps count of what the caller may need to know. One
// at a time in a process.
class DiagnosticWatch {
 public:
  explicit DiagnosticWatch(bool echo);
  ~DiagnosticWatch();
  DiagnosticWatch(const DiagnosticWatch&) = delete;
  DiagnosticWatch& operator=(const DiagnosticWatch&) = delete;

  const WriteFaults& faults() const { return faults_; }
  // "Not ready for Kestrum!" lines: data pieces dropped because the output
  // could not be prepared.
  uint64_t not_ready() const { return not_ready_; }

  // One line, as the library wrote it.
  void See(const char* line);

 private:
  bool echo_;
  WriteFaults faults_;
  uint64_t not_ready_ = 0;
};

// `line` with bytes other than printable ASCII escaped.
std::string EscapeLine(const char* line);

// Opens `path` and reads its first 40 bytes into `header`. Returns kExitOk,
// kExitInput (cannot open or read: `error` says why) or kExitNotStream
// (fewer than 40 bytes).
int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error);

// True when `path` can be written: an existing writable file (or device, or
// FIFO), or a new file in a writable folder, also where a symlink that
// points nowhere names it. Nothing is made, changed or removed. Otherwise
// `error` says why.
bool CheckOutputWritable(const std::string& path, std::string& error);

// True when another program has the regular file `path` open for writing,
// or reads it so that it may not be written (a conversion's input): the
// library would refuse it.
bool OutputInUse(const std::string& path);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);
// True when the open descriptor `fd` and `path` are the same existing file.
bool SameFile(int fd, const std::string& path);

// An OUTPUT of "-": standard output, which must not be a terminal. Returns
// the name the library opens for it (empty, with `error` set, when there is
// none).
std::string StandardOutputName(std::string& error);

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

// An input read front to back, opened once: standard input (in binary
// mode) for "-", else the file at `path`. fd() is -1 when it could not be
// opened (errno says why). Closes only what it opened.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const { return fd_; }
  // "cannot open 'PATH': REASON", for when fd() is -1.
  std::string OpenError() const;

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool owned_ = false;
};

// Size of a regular file, or -1.
int64_t FileSize(const std::string& path);

// Bytes as "12.3 MB" (10^6 bytes) and a rate as "45.6 MB/s".
std::string FormatMegabytes(uint64_t bytes);
std::string FormatRate(uint64_t bytes, double seconds);

}  // namespace kestrum_cli
