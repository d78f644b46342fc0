// The program's JSON (docs/json.md): the documents of `inspect --json` and
// of --report-json, and the outcome a batch's child hands its parent.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "io/output_path.h"
#include "report/outcome.h"

namespace kestrum_cli {

// Objects keep their fields in the order written, as docs/json.md lists them.
using Json = nlohmann::ordered_json;

// The version of every document's schema: raised when a field changes its
// meaning or goes; a new field does not raise it.
inline constexpr int kJsonSchemaVersion = 1;

// A document as text: indented, a line end after it; bytes of a string that
// are not UTF-8 become U+FFFD, and characters a terminal acts on are
// escaped (escape.h).
std::string JsonText(const Json& document);

// A batch's child to its parent: the whole outcome, and back. Decode returns
// false on text that is not such an outcome.
std::string EncodeOutcome(const ConvertOutcome& outcome);
bool DecodeOutcome(const std::string& text, ConvertOutcome& outcome);

// One conversion or recording of a --report-json document: `input`, the
// files written (`outputs`), how it ended and what was lost.
Json ConversionJson(const std::string& input, const std::vector<std::string>& outputs,
                    const ConvertOutcome& outcome);

// Before anything is read or written: the report FILE is an output as the
// command's others are. It is none of `files` (the INPUTs and OUTPUTs as the
// command line gives them, "-" standard input), can be written, is not in use
// by another program, and is taken by `overwrite` as CheckOutput takes a
// report (with kNever it does not exist, and is then made here,
// exclusively). Returns the refusal; kExitOk: taken.
OutputRefusal CheckReportJson(const std::string& path, const std::vector<std::string>& files,
                              Overwrite overwrite);

// Writes the --report-json document of `command` to `path`: its exit status,
// the messages it printed and one object a conversion. An existing file is
// rewritten in place and cut to the document's length. Returns the exit
// status to end with: `exit_status`, or kExitOutput (after a message) when
// the report cannot be written, or would overwrite a file the command wrote
// (a series' or a batch's, named only once written), and nothing else failed.
// A report that cannot be written whole leaves no file that the program made
// (`made_here`: CheckReportJson made it; or made now), and leaves a file that
// existed empty rather than holding a stale or a partial report.
int WriteReportJson(const std::string& command, const std::string& path, int exit_status,
                    const std::vector<std::string>& messages, const std::vector<Json>& conversions,
                    bool made_here);

// The --report-json option of convert and record.
inline constexpr char kReportJsonOption[] = "report-json";

}  // namespace kestrum_cli
