// Whether an ASF file is one Kestrum's writer wrote (one XQV4 video stream
// 8 whose format block carries a stream header the library takes), and
// whether that writer ended it (its header says so).
#pragma once

#include <string>

#include "asf_format/reader.h"

namespace kestrum_cli {

// Why the file of header `h` is not one Kestrum wrote ("it has a stream
// 2", "its video stream 8 is not XQV4", ...); "" when it is.
std::string NotKestrumReason(const kestrum::asf::HeaderInfo& h);

// Whether the file open at `fd` (the caller's) is an ASF file Kestrum's
// writer wrote and ended, as its header tells: the writer clears the
// header's Broadcast flag only when it ends the file (a repair does so too).
// Only the header is read.
bool EndedByKestrum(int fd);

}  // namespace kestrum_cli
