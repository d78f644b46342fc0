#include "frame/results.h"

#include <cstdio>
#include <cstring>

#include "frame/cli.h"

#ifndef _WIN32
#include "asf_format/errno_status.h"
#endif

namespace kestrum_cli {

namespace {

namespace asf = kestrum::asf;

struct KnownResult {
  asf::Status status;
  int exit_code;
  const char* text;
};

constexpr KnownResult kKnownResults[] = {
    {asf::kDiskFull, kExitOutput, "disk full (or the file size limit reached)"},
    {asf::kFileNameTooLong, kExitOutput, "name longer than 259 bytes"},
    {asf::kSharingViolation, kExitOutput,
     "output in use by another writer (or read by a conversion)"},
    {asf::kAccessDenied, kExitOutput, "permission denied"},
    {asf::kTooManyOpenFiles, kExitFailure, "too many open files"},
    {asf::kFileNotFound, kExitOutput, "no such file or folder"},
    {kPathNotFound, kExitOutput, "no such file or folder"},
    {asf::kNoData, kExitOutput, "no output name"},
    {asf::kWriteFault, kExitFailure, "write fault (a removed or failing medium)"},
    {asf::kBrokenPipe, kExitFailure, "the output's reader went away (broken pipe)"},
    {kReadFault, kExitInput, "read fault"},
    {asf::kOutOfMemory, kExitFailure, "out of memory"},
    {asf::kInvalidArgument, kExitFailure, "invalid argument"},
    // The code of "not implemented", which the component gives a sink that
    // only appends.
    {asf::kNotSeekable, kExitFailure, "not implemented by the writer"},
    {asf::kFailed, kExitFailure, "the stream header was refused or the writer could not be made"},
    {asf::kInvalidRequest, kExitFailure, "the writer was not ready for the request"},
    {asf::kInvalidInputFormat, kExitFailure, "a format the ASF header cannot describe"},
};

}  // namespace

ResultMeaning DescribeResult(int32_t result) {
  if (result == 0) return {kExitInput, "the input could not be opened"};
  for (const KnownResult& known : kKnownResults) {
    if (known.status.code() == static_cast<uint32_t>(result)) {
      return {known.exit_code, known.text};
    }
  }
  return {kExitFailure, "an error the program does not know"};
}

std::string CodeText(uint32_t code) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", code);
  return hex;
}

std::string DescribeCode(uint32_t code) {
  return DescribeResult(static_cast<int32_t>(code)).text + " (" + CodeText(code) + ")";
}

std::string ErrnoInWords(int error) {
#ifndef _WIN32
  const asf::Status status = asf::FromErrno(error, asf::kFailed);
  if (status == asf::kDiskFull || status == asf::kTooManyOpenFiles) {
    return DescribeCode(status.code());
  }
#endif
  return std::strerror(error);
}

}  // namespace kestrum_cli
