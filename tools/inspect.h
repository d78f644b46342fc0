// The two halves of `kestrum inspect`: a stored stream, or an ASF file.
// Each prints "label: value" lines on stdout and returns an exit code.
#pragma once

#include <cstdint>
#include <string>

#include "stream_format/stream_scanner.h"

namespace kestrum_cli {

// `scanner` has the stream open (its header read); reading stops once
// `limit` bytes (0: none) are consumed, and the report says so.
int InspectStream(const std::string& command, const std::string& path,
                  kestrum::stream_format::StreamScanner& scanner, uint64_t limit, bool progress);
int InspectAsf(const std::string& command, const std::string& path);
// Writes the ASF file at `path` to standard output with its file ID and
// creation date zeroed: two recordings of the same input differ only there.
int WriteMaskedAsf(const std::string& command, const std::string& path);

}  // namespace kestrum_cli
