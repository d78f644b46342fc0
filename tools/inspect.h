// The two halves of `kestrum inspect`: a stored stream, or an ASF file.
// Each prints "label: value" lines on stdout and returns an exit code.
#pragma once

#include <string>

namespace kestrum_cli {

int InspectStream(const std::string& command, const std::string& path, bool progress);
int InspectAsf(const std::string& command, const std::string& path);
// Writes the ASF file at `path` to standard output with its file ID and
// creation date zeroed: two recordings of the same input differ only there.
int WriteMaskedAsf(const std::string& command, const std::string& path);

}  // namespace kestrum_cli
