#include "frame/results.h"

#include <cstdio>
#include <cstring>

#include "frame/cli.h"
#include "kestrum.h"

#ifndef _WIN32
#include "asf_format/errno_status.h"
#endif

namespace kestrum_cli {

namespace {

namespace asf = kestrum::asf;

// The results that end the program with another code than kExitFailure:
// what cannot be written (kExitOutput), what cannot be read (kExitInput).
struct ResultExit {
  asf::Status status;
  int exit_code;
};

constexpr ResultExit kResultExits[] = {
    {asf::kDiskFull, kExitOutput},         {asf::kFileNameTooLong, kExitOutput},
    {asf::kSharingViolation, kExitOutput}, {asf::kAccessDenied, kExitOutput},
    {asf::kFileNotFound, kExitOutput},     {asf::kPathNotFound, kExitOutput},
    {asf::kNoData, kExitOutput},           {asf::kReadFault, kExitInput},
};

int ExitCodeOf(int32_t result) {
  if (result == 0) return kExitInput;  // TransferToAsf: the input could not be opened
  for (const ResultExit& known : kResultExits) {
    if (known.status.code() == static_cast<uint32_t>(result)) return known.exit_code;
  }
  return kExitFailure;
}

// The library's words for `result` (KestrumDescribeStatus), whole.
std::string WordsOf(int32_t result) {
  char text[128];
  const int32_t length = KestrumDescribeStatus(result, text, sizeof text);
  if (length < static_cast<int32_t>(sizeof text))
    return std::string(text, static_cast<size_t>(length));
  std::string words(static_cast<size_t>(length) + 1, '\0');
  KestrumDescribeStatus(result, words.data(), length + 1);
  words.resize(static_cast<size_t>(length));
  return words;
}

}  // namespace

ResultMeaning DescribeResult(int32_t result) { return {ExitCodeOf(result), WordsOf(result)}; }

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
