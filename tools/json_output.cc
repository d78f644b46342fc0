#include "json_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "loss_summary.h"

namespace kestrum_cli {

// Field names as the members' (docs/json.md lists them; the report's "lost"
// object and a batch's pipe use them alike).
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(LiveLosses, malformed, held_dropped, overflowed, too_large,
                                   no_start, unfinished_bytes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(WriteFaults, outages, first_code, samples_lost, seconds_lost,
                                   no_index, writing_ended, refused_too_large, refused_no_memory,
                                   refused_other)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(RunCounts, live, faults, refused_groups, skipped_bytes,
                                   skipped_counted)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE(ConvertOutcome, code, message, input_bytes, output_bytes,
                                   seconds, lost, files_told, lost_fails, counts)

std::string JsonText(const Json& document) {
  return document.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string EncodeOutcome(const ConvertOutcome& outcome) {
  return nlohmann::json(outcome).dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool DecodeOutcome(const std::string& text, ConvertOutcome& outcome) {
  try {
    nlohmann::json::parse(text).get_to(outcome);
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

Json ConversionJson(const std::string& input, const std::vector<std::string>& outputs,
                    const ConvertOutcome& outcome) {
  const RunCounts& c = outcome.counts;
  Json lost = Json(nlohmann::json(c));
  // Bytes in no group are known only where they were counted.
  if (!c.skipped_counted) lost["skipped_bytes"] = nullptr;
  lost.erase("skipped_counted");
  return Json{{"input", input},
              {"outputs", outputs},
              {"exit_status", outcome.code},
              {"error", outcome.code != kExitOk ? Json(outcome.message) : Json(nullptr)},
              {"input_bytes", outcome.input_bytes},
              {"output_bytes", outcome.output_bytes},
              {"seconds", outcome.seconds},
              {"lost_line", outcome.lost},
              {"lost", lost}};
}

OutputRefusal CheckReportJson(const std::string& path, const std::vector<std::string>& files,
                              bool no_overwrite) {
  const FileId report = IdOfPath(path);
  for (const std::string& file : files) {
    if (file == path || (report.known && report == IdOfInput(file))) {
      return {kExitUsage, "--report-json '" + path + "' would overwrite " +
                              (file == "-" ? std::string("standard input") : "'" + file + "'")};
    }
  }
  OutputRefusal refused = CheckOutput(path, path, {}, no_overwrite);
  if (refused.code != kExitOk) refused.message = "the report: " + refused.message;
  return refused;
}

int WriteReportJson(const std::string& command, const std::string& path, int exit_status,
                    const std::vector<std::string>& messages, const std::vector<Json>& conversions) {
  const FileId report = IdOfPath(path);
  for (const Json& conversion : conversions) {
    for (const Json& output : conversion.value("outputs", Json::array())) {
      if (!output.is_string() || !report.known || !(report == IdOfPath(output.get<std::string>()))) {
        continue;
      }
      const int code = Fail(command, kExitOutput,
                            "the report '" + path + "' would overwrite '" +
                                output.get<std::string>() +
                                "', which was just written: no report was written");
      return exit_status != kExitOk ? exit_status : code;
    }
  }
  const Json document{{"schema_version", kJsonSchemaVersion},
                      {"command", command},
                      {"exit_status", exit_status},
                      {"messages", messages},
                      {"conversions", conversions}};
  const std::string text = JsonText(document);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int error = errno;
  if (f != nullptr) written = std::fclose(f) == 0 && written;
  if (written) return exit_status;
  const int code = Fail(command, kExitOutput,
                        "cannot write the report '" + path + "': " + std::strerror(error));
  return exit_status != kExitOk ? exit_status : code;
}

}  // namespace kestrum_cli
