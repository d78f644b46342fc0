// The two halves of `kestrum inspect`: a stored stream, or an ASF file.
// Each prints "label: value" lines on stdout and returns an exit code.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "asf_format/reader.h"
#include "report/json_document.h"
#include "report/json_output.h"
#include "stream_format/stream_scanner.h"

namespace kestrum_cli {

// `scanner` has the stream open (its header read); reading stops once
// `limit` bytes (0: none) are consumed, and the report says so.
// With `json`, the report goes there instead (docs/json.md). With `rows`
// too (--show-groups), the FILE's object is written to `rows` followed by a
// row a group and a stretch in no group, each as it is read: a regular file
// is read a second time for them, anything else holds them in a temporary
// file meanwhile.
int InspectStream(const std::string& command, const std::string& path,
                  kestrum::stream_format::StreamScanner& scanner, uint64_t limit, bool progress,
                  Json* json = nullptr, JsonDocument* rows = nullptr);
// The ASF file at `path`, or, when `source` is given, the one it reads
// (`path` then only names it). With `json`, the report goes there instead;
// with `rows` too (--show-samples), the FILE's object is written to `rows`
// followed by a row a sample, each as it is read a second time.
int InspectAsf(const std::string& command, const std::string& path,
               kestrum::asf::ReadSource* source = nullptr, Json* json = nullptr,
               JsonDocument* rows = nullptr);
// Writes the ASF file at `path` (or that `source` reads) to standard output
// with its file ID and creation date zeroed: two recordings of the same
// input differ only there.
int WriteMaskedAsf(const std::string& command, const std::string& path,
                   kestrum::asf::ReadSource* source = nullptr);
// The ASF file that the regular file open at `fd` (standard input given a
// file) holds from where its offset stands; null when it holds none or
// `fd` is no regular file. The offset stays where it was.
std::unique_ptr<kestrum::asf::ReadSource> AsfAtDescriptor(int fd);

}  // namespace kestrum_cli
