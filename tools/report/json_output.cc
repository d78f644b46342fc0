#include "report/json_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "report/loss_summary.h"

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

namespace {

// Opens `path` for writing without cutting it; `made` when it did not exist
// (a symlink's target is made). -1 with errno set when it cannot be opened.
int OpenForRewriting(const std::string& path, bool& made) {
#ifdef _WIN32
  const int flags = O_WRONLY | kOpenBinary;
#else
  const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY;
#endif
  int fd = ::open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path.c_str(), flags | O_CREAT, 0666);
    made = fd >= 0;
  }
  return fd;
}

// Removes the file open at `fd` that the program made at `path` (a
// symlink's target; never the symlink). False when it is not there.
bool RemoveMade(const std::string& path, int fd) {
#ifdef _WIN32
  const std::string file = path;
#else
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  const std::string file = resolved;
  std::free(resolved);
#endif
  return IdOfPath(file) == IdOfDescriptor(fd) && ::unlink(file.c_str()) == 0;
}

// Writes `text` into `path` from its start and, for a regular file, cuts it
// to the text's length. Returns 0, or the errno of the first failure; then a
// regular file made here (`made_here`, or made now) is removed and one that
// existed is cut to nothing, and `left` says so.
int WriteWhole(const std::string& path, const std::string& text, bool made_here,
               std::string& left) {
  bool made = made_here;
  const int fd = OpenForRewriting(path, made);
  if (fd < 0) return errno;
  struct stat info;
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  int error = 0;
  for (size_t at = 0; at < text.size() && error == 0;) {
    const auto n = ::write(fd, text.data() + at, static_cast<unsigned>(text.size() - at));
    if (n > 0) at += static_cast<size_t>(n);
    if (n <= 0 && errno != EINTR) error = n < 0 ? errno : ENOSPC;
  }
  if (error == 0 && regular && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) error = errno;
  if (error != 0 && regular && made && RemoveMade(path, fd)) {
    left = "; no report was written";
  } else if (error != 0 && regular) {
    (void)::ftruncate(fd, 0);
    left = "; it was left empty";
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

}  // namespace

std::string JsonText(const Json& document) {
  return JsonWithoutActedCharacters(document.dump(2, ' ', false, Json::error_handler_t::replace)) +
         "\n";
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
                              Overwrite overwrite) {
  const FileId report = IdOfPath(path);
  for (const std::string& file : files) {
    if (file == path || (report.known && report == IdOfInput(file))) {
      return {kExitUsage, "--report-json '" + path + "' would overwrite " +
                              (file == "-" ? std::string("standard input") : "'" + file + "'")};
    }
  }
  OutputRefusal refused = CheckOutput(path, path, {}, overwrite, OutputKind::kReport);
  if (refused.code != kExitOk) refused.message = "the report: " + refused.message;
  return refused;
}

int WriteReportJson(const std::string& command, const std::string& path, int exit_status,
                    const std::vector<std::string>& messages, const std::vector<Json>& conversions,
                    bool made_here) {
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
  std::string left;
  const int error = WriteWhole(path, JsonText(document), made_here, left);
  if (error == 0) return exit_status;
  const int code = Fail(command, kExitOutput,
                        "cannot write the report '" + path + "': " + ErrnoInWords(error) + left);
  return exit_status != kExitOk ? exit_status : code;
}

}  // namespace kestrum_cli
