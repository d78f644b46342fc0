// The results of the library (an HRESULT, or TransferToAsf's 0) and of the
// ASF component (a Status, numbered alike) in words, and the exit code each
// ends the program with. The words are the library's one table
// (KestrumDescribeStatus); the codes the ASF component's
// (asf_format/status.h): the program types neither again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "asf_format/status.h"

namespace kestrum_cli {

// What a result means in words, and the exit code it ends the program with.
struct ResultMeaning {
  int exit_code;
  std::string text;  // "disk full", "name longer than 259 bytes", ...
};
ResultMeaning DescribeResult(int32_t result);
// A status code as messages write it: "0x80070070".
std::string CodeText(uint32_t code);
// A status code with its words, as every message gives one:
// "disk full (or the file size limit reached) (0x80070070)".
std::string DescribeCode(uint32_t code);

// Why a system call failed (its errno), in words: with the status code
// where the program has one ("disk full (or the file size limit reached)
// (0x80070070)", "too many open files (0x80070004)"), else as the system
// says it.
std::string ErrnoInWords(int error);

// The longest output name the library takes, in bytes (a longer one is
// kestrum::asf::kFileNameTooLong).
inline constexpr size_t kMaxOutputName = 259;

}  // namespace kestrum_cli
