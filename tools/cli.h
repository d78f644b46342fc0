// What every command shares: exit codes, error messages, the --verbose
// diagnostic sink, and the input files (the outputs: output_path.h).
#pragma once

#include <fcntl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "args.h"
#include "output_path.h"

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
// "writer : ..." lines, docs/diagnostics.md), and of the samples it refused
// while writing the file (which goes on without them).
struct WriteFaults {
  int outages = 0;              // faults met (outages begun)
  uint32_t first_code = 0;      // the first one's HRESULT (or the index's)
  uint64_t samples_lost = 0;    // over all outages
  double seconds_lost = 0;      // media time, over all outages
  bool no_index = false;        // the index did not fit
  bool writing_ended = false;   // a fault ended writing ("...; writing ends here")
  uint64_t refused_too_large = 0;  // "writer : sample refused (sample over 16 MiB): ..."
  uint64_t refused_no_memory = 0;  // "... (out of memory): ..."
  uint64_t refused_other = 0;      // for another reason
  bool any() const { return outages > 0 || no_index; }
  uint64_t refused() const { return refused_too_large + refused_no_memory + refused_other; }
};

// The HRESULT of a write to a pipe or FIFO whose reader has gone.
inline constexpr uint32_t kBrokenPipeCode = 0x8007006Du;

// "0x80070070: 12 samples (0.480 s of media) were lost" (the first fault's
// code, "(out of memory)" after 0x8007000E, "(2 times)" after it when there
// were more), then "; the file has no index" when that did not fit either,
// and the samples refused ("; 3 samples refused by the writer (out of
// memory)").
std::string DescribeWriteFaults(const WriteFaults& faults);

// What the live road dropped, as its diagnostic lines tell it
// (docs/diagnostics.md).
struct LiveLosses {
  uint64_t malformed = 0;     // "Splitter : process fails!": a malformed group in a piece
  uint64_t held_dropped = 0;  // "2--BR_FAIL" not followed by "Small left": held bytes dropped
  uint64_t overflowed = 0;    // the reassembly buffer filled: a group too long to end
  uint64_t too_large = 0;     // "processgroup : ... not written": a group over one sample
  uint64_t no_start = 0;      // "Splitter : Unknow Stream Type": groups that could not start
  bool any() const {
    return malformed + held_dropped + overflowed + too_large + no_start > 0;
  }
};

// One line naming what was lost, "" when nothing was: the live road's
// drops, the writer's lost and refused samples, `skipped_bytes` (bytes of
// the input in no group, where the caller knows them) and `refused_groups`
// (groups the file road writes nothing for: "processpacket : ..." lines).
std::string DescribeLosses(const LiveLosses& live, const WriteFaults& faults,
                           uint64_t skipped_bytes, uint64_t refused_groups = 0);

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
  // "processpacket : ..." lines: group packets the file road wrote nothing for.
  uint64_t refused_groups() const { return refused_groups_; }
  // A last "2--BR_FAIL" that no line followed dropped what it held.
  LiveLosses live_losses() const {
    LiveLosses losses = live_;
    if (held_pending_) ++losses.held_dropped;
    return losses;
  }
  // Counts that a progress display reads from another thread while the
  // library writes: groups handed to the packer ("enter processgroup"),
  // samples written ("!!!!Write Sample!!!!", 40 ms of media each) and the
  // file road's packets (its "0" lines; the first is the header).
  uint64_t groups() const { return groups_.load(std::memory_order_relaxed); }
  uint64_t samples() const { return samples_.load(std::memory_order_relaxed); }
  uint64_t packets() const { return packets_.load(std::memory_order_relaxed); }

  // One line, as the library wrote it. Throws nothing: it runs inside the
  // library's calls.
  void See(const char* line) noexcept;

  // `hook` runs after each line has been counted, on the library's thread
  // (null: none).
  void AfterEachLine(void (*hook)(const DiagnosticWatch&)) { after_line_ = hook; }

 private:
  void Tally(const char* line);

  void (*after_line_)(const DiagnosticWatch&) = nullptr;
  bool echo_;
  WriteFaults faults_;
  uint64_t not_ready_ = 0;
  uint64_t refused_groups_ = 0;
  LiveLosses live_;
  bool held_pending_ = false;  // a "2--BR_FAIL" whose outcome the next line tells
  std::atomic<uint64_t> groups_{0};
  std::atomic<uint64_t> samples_{0};
  std::atomic<uint64_t> packets_{0};
};

// What a result of the library (an HRESULT, or TransferToAsf's 0) means in
// words, and the exit code it ends the program with.
struct ResultMeaning {
  int exit_code;
  std::string text;  // "disk full", "name longer than 259 bytes", ...
};
ResultMeaning DescribeResult(int32_t result);

// The longest output name the library takes, in bytes, and its result for
// a longer one.
inline constexpr size_t kMaxOutputName = 259;
inline constexpr int32_t kNameTooLongResult = static_cast<int32_t>(0x800700CEu);

// -n/--no-overwrite and -y/--overwrite, the options of commands that write
// one OUTPUT. Overwriting is the default.
inline const OptionSpec kNoOverwriteOption = {"no-overwrite", false, 'n'};
inline const OptionSpec kOverwriteOption = {"overwrite", false, 'y'};
inline const OptionSpec kStrictOption = {"strict", false, 0};
// Usage error text when both are given; "" otherwise.
std::string OverwriteConflict(const Args& args);

// `line` with bytes other than printable ASCII escaped.
std::string EscapeLine(const char* line);

// Opens `path` as an InputFile and reads its first 40 bytes into `header`.
// Returns kExitOk, kExitInput (cannot open or read, or another program is
// writing it: `error` says why) or kExitNotStream (fewer than 40 bytes).
int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error);

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
// mode) for "-", else the file at `path`. A regular file (standard input
// too) is read under a shared lock, as the packet source reads its
// streams: no writer can take it while it is read, and one that has it
// keeps it from being opened. fd() is -1 when it could not be opened.
// Closes only what it opened.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const { return fd_; }
  // "cannot open 'PATH': REASON", for when fd() is -1; "'PATH' is being
  // written by another program ..." when a writer has it.
  std::string OpenError() const;

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool owned_ = false;
  bool written_ = false;  // refused: a writer has it
};

// Size of a regular file, or -1.
int64_t FileSize(const std::string& path);

// Bytes as "12.3 MB" (10^6 bytes) and a rate as "45.6 MB/s".
std::string FormatMegabytes(uint64_t bytes);
std::string FormatRate(uint64_t bytes, double seconds);

}  // namespace kestrum_cli
