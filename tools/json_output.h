// The program's JSON (docs/json.md): the documents of `inspect --json` and
// of --report-json, and the outcome a batch's child hands its parent.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "convert_one.h"

namespace kestrum_cli {

// Objects keep their fields in the order written, as docs/json.md lists them.
using Json = nlohmann::ordered_json;

// The version of every document's schema: raised when a field changes its
// meaning or goes; a new field does not raise it.
inline constexpr int kJsonSchemaVersion = 1;

// A document as text: indented, a line end after it; bytes of a string that
// are not UTF-8 become U+FFFD.
std::string JsonText(const Json& document);

// A batch's child to its parent: the whole outcome, and back. Decode returns
// false on text that is not such an outcome.
std::string EncodeOutcome(const ConvertOutcome& outcome);
bool DecodeOutcome(const std::string& text, ConvertOutcome& outcome);

// One conversion or recording of a --report-json document: `input`, the
// files written (`outputs`), how it ended and what was lost.
Json ConversionJson(const std::string& input, const std::vector<std::string>& outputs,
                    const ConvertOutcome& outcome);

// Writes the --report-json document of `command` to `path`: its exit status,
// the messages it printed and one object a conversion. Returns the exit
// status to end with: `exit_status`, or kExitOutput (after a message) when
// the report cannot be written and nothing else failed.
int WriteReportJson(const std::string& command, const std::string& path, int exit_status,
                    const std::vector<std::string>& messages, const std::vector<Json>& conversions);

// The --report-json option of convert and record.
inline constexpr char kReportJsonOption[] = "report-json";

}  // namespace kestrum_cli
