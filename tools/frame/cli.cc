#include "frame/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/escape.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include "asf_format/errno_status.h"
#endif

namespace kestrum_cli {

const char kExitCodesHelp[] =
    "Exit codes: 0 done; 1 the work failed; 2 bad command line; 3 input missing or\n"
    "unreadable; 4 input is not a stream; 5 output cannot be written.\n";

namespace {
KeptMessages* g_kept = nullptr;

// "kestrum COMMAND: MESSAGE" and `tail` on stderr, the message escaped: in
// one write, or piece by piece when memory is short.
void PrintMessage(const std::string& command, const std::string& message, const std::string& tail) {
  try {
    std::fprintf(stderr, "kestrum %s: %s%s", command.c_str(), Escaped(message).c_str(),
                 tail.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kestrum %s: ", command.c_str());
    PrintEscaped(stderr, message, TextBytes::kUtf8);
    std::fputs(tail.c_str(), stderr);
  }
}
}  // namespace

KeptMessages::KeptMessages() : outer_(g_kept) { g_kept = this; }
KeptMessages::~KeptMessages() { g_kept = outer_; }
void KeptMessages::Keep(const std::string& message) {
  if (g_kept != nullptr) g_kept->lines_.push_back(message);
}

int Fail(const std::string& command, int code, const std::string& message) {
  KeptMessages::Keep(message);
  PrintMessage(command, message, "\n");
  return code;
}

int UsageError(const std::string& command, const std::string& message) {
  KeptMessages::Keep(message);
  PrintMessage(command, message, "\nTry 'kestrum " + command + " --help'.\n");
  return kExitUsage;
}

std::optional<int> ParseCommandLine(const std::string& command,
                                    const std::vector<std::string>& argv,
                                    const std::vector<OptionSpec>& options, const char* help,
                                    Args& args) {
  std::string error;
  if (!args.Parse(argv, options, error)) return UsageError(command, error);
  if (args.Has("help")) {
    std::fputs(help, stdout);
    std::fputs(kExitCodesHelp, stdout);
    return kExitOk;
  }
  return std::nullopt;
}

ResultMeaning DescribeResult(int32_t result) {
  switch (static_cast<uint32_t>(result)) {
    case 0:
      return {kExitInput, "the input could not be opened"};
    case 0x80070070u:
      return {kExitOutput, "disk full (or the file size limit reached)"};
    case 0x800700CEu:
      return {kExitOutput, "name longer than 259 bytes"};
    case 0x80070020u:
      return {kExitOutput, "output in use by another writer (or read by a conversion)"};
    case 0x80070005u:
      return {kExitOutput, "permission denied"};
    case 0x80070004u:
      return {kExitFailure, "too many open files"};
    case 0x80070002u:
    case 0x80070003u:
      return {kExitOutput, "no such file or folder"};
    case 0x80004003u:
      return {kExitOutput, "no output name"};
    case 0x8007001Du:
      return {kExitFailure, "write fault (a removed or failing medium)"};
    case kBrokenPipeCode:
      return {kExitFailure, "the output's reader went away (broken pipe)"};
    case 0x8007001Eu:
      return {kExitInput, "read fault"};
    case 0x8007000Eu:
      return {kExitFailure, "out of memory"};
    case 0x80070057u:
      return {kExitFailure, "invalid argument"};
    case 0x80004001u:
      return {kExitFailure, "not implemented by the writer"};
    case 0x80004005u:
      return {kExitFailure, "the stream header was refused or the writer could not be made"};
    case 0xC00D002Bu:
      return {kExitFailure, "the writer was not ready for the request"};
    case 0xC00D0BB8u:
      return {kExitFailure, "a format the ASF header cannot describe"};
    default:
      return {kExitFailure, "an error the program does not know"};
  }
}

std::string DescribeCode(uint32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  return DescribeResult(static_cast<int32_t>(code)).text + " (" + hex + ")";
}

std::string ErrnoInWords(int error) {
#ifndef _WIN32
  namespace asf = kestrum::asf;
  const asf::Status status = asf::FromErrno(error, asf::kFailed);
  if (status == asf::kDiskFull || status == asf::kTooManyOpenFiles) {
    return DescribeCode(status.code());
  }
#endif
  return std::strerror(error);
}

#ifdef _WIN32
void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
void SetBinaryMode(int) {}
#endif

}  // namespace kestrum_cli
