#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "io/input_file.h"
#include "commands/inspect_halves.h"
#include "io/standard_output.h"
#include "report/json_document.h"
#include "report/json_output.h"
#include "stream_format/group_scan.h"
#include "stream_format/stream_scanner.h"
#include "report/progress.h"
#include "stream_format/file_header.h"
#include "stream_format/frame_time.h"
#include "stream_format/start_rule.h"

namespace kestrum_cli {

namespace {

constexpr size_t kProblemsShown = 100;

std::string DescribeSkip(const stream_format::ScanEvent& e) {
  char text[256];
  const auto offset = static_cast<unsigned long long>(e.offset);
  const auto size = static_cast<unsigned long long>(e.size);
  const auto at = static_cast<unsigned long long>(e.problem_offset);
  int n = std::snprintf(text, sizeof text, "offset %llu: %llu bytes skipped: ", offset, size);
  const size_t used = n > 0 ? static_cast<size_t>(n) : 0;
  char* rest = text + used;
  const size_t room = sizeof text - used;
  switch (e.problem) {
    case stream_format::Problem::kBadGroupType:
      std::snprintf(rest, room, "group type 0x%X is not 0x1000 or 0x1001", e.problem_value);
      break;
    case stream_format::Problem::kBadBlockKind:
      std::snprintf(rest, room, "block kind 0x%X at offset %llu is outside 0x1001..0x1005",
                    e.problem_value, at);
      break;
    case stream_format::Problem::kPayloadTooLong:
      std::snprintf(rest, room, "payload length %u at offset %llu is 500000 or more",
                    e.problem_value, at);
      break;
    case stream_format::Problem::kTruncated:
      std::snprintf(rest, room, "the file ends inside a group");
      break;
    case stream_format::Problem::kNoGroupStart:
    case stream_format::Problem::kNone:
      std::snprintf(rest, room, "no group start");
      break;
  }
  return text;
}

struct Counts {
  uint64_t groups = 0;
  uint64_t start_groups = 0;
  uint64_t blocks[5] = {};
  uint64_t payload_bytes = 0;
  uint64_t largest_group = 0;
  uint64_t first_start_offset = 0;
  uint64_t first_start_index = 0;
  bool has_start = false;
  uint64_t skipped_bytes = 0;
  std::vector<std::string> problems;
  uint64_t problem_count = 0;
  bool print = true;  // each problem printed as it is met
  // --show-groups: takes a row a group and a stretch in no group; false
  // when it could not, and the scan stops.
  std::function<bool(const Json&)> row;
  bool rows_failed = false;
  uint64_t end = 0;  // where the last event ends
};

void AddProblem(Counts& c, std::string text) {
  if (c.problems.size() < kProblemsShown) {
    c.problems.push_back(std::move(text));
    if (c.print) {
      std::printf("problem: %s\n", c.problems.back().c_str());
      FlushStandardOutput();
    }
  }
  ++c.problem_count;
}

// A row of --show-groups: a group (`index` its number) or a stretch of bytes
// in no group.
void AddRow(Counts& c, const stream_format::ScanEvent& e, std::optional<uint64_t> index,
            bool key, uint32_t blocks, const std::string& problem) {
  if (!c.row || c.rows_failed) return;
  c.rows_failed =
      !c.row(Json{{"kind", index ? "group" : "skipped"},
                  {"index", index ? Json(*index) : Json(nullptr)},
                  {"offset", e.offset},
                  {"size", e.size},
                  {"time", index ? Json(static_cast<double>(*index * stream_format::kFrameMs) / 1000.0) : Json(nullptr)},
                  {"key", key},
                  {"blocks", blocks},
                  {"problems", problem.empty() ? Json::array() : Json::array({problem})}});
}

void CountGroup(const stream_format::DecodedHeader& header, const stream_format::ScanEvent& e, Counts& c) {
  const uint8_t* g = e.data;
  // A whole group for the live road whose block count field the file road
  // cannot take.
  const stream_format::FileRoadGroup file_road = stream_format::ReadFileRoadGroup(g, static_cast<size_t>(e.size));
  std::string problem;
  if (file_road.refused()) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "offset %llu: block count field 0x%X: the file road writes nothing for it",
                  static_cast<unsigned long long>(e.offset), file_road.field);
    problem = text;
    AddProblem(c, text);
  }
  const bool key = stream_format::MayStartRecording(header.stream_type, g);
  const uint64_t index = c.groups;
  if (key) {
    if (!c.has_start) {
      c.has_start = true;
      c.first_start_offset = e.offset;
      c.first_start_index = c.groups;
    }
    ++c.start_groups;
  }
  ++c.groups;
  if (e.size > c.largest_group) c.largest_group = e.size;
  // A whole group: every block header lies inside it.
  const uint32_t blocks = stream_format::LiveRoadBlockCount(g);
  size_t at = stream_format::kGroupHeaderSize;
  for (uint32_t i = 0; i < blocks; ++i) {
    const uint16_t kind = kestrum::load_u16le(g + at);
    const uint32_t length = kestrum::load_u32le(g + at + stream_format::kBlockLengthOffset);
    ++c.blocks[kind - stream_format::kBlockKindFirst];
    c.payload_bytes += length;
    at += stream_format::kBlockHeaderSize + length;
  }
  AddRow(c, e, index, key, blocks, problem);
}

void PrintHeader(const std::string& path, uint64_t size, const stream_format::DecodedHeader& h) {
  std::printf("file: %s\n", Escaped(path).c_str());
  // One verdict: the refusal below ends inspect with "neither an ASF file nor a stream".
  std::printf("format: %s\n",
              h.accepted() ? "stream" : "neither an ASF file nor a stream (its header is refused)");
  if (size > 0) {
    std::printf("size: %llu bytes\n", static_cast<unsigned long long>(size));
  } else {
    std::printf("size: unknown (not a regular file: read as it comes)\n");
  }
  std::printf("tag: 0x%X\n", h.tag);
  std::printf("version: 0x%08X (%s)\n", h.version,
              h.explicit_size ? "explicit picture size" : "resolution code");
  std::printf("stream type: 0x%X\n", h.stream_type);
  std::printf("video standard: 0x%X (base height %d)\n", h.video_standard,
              h.video_standard == 0x1001 ? 288 : 240);
  std::printf("rate: %u x %u = %llu bit/s\n", h.rate_factor, h.rate_base,
              static_cast<unsigned long long>(h.rate_factor) * h.rate_base);
  if (h.explicit_size) {
    std::printf("size field: %u x %u\n", h.width, h.height);
  } else {
    std::printf("resolution: 0x%X\n", h.resolution);
  }
  std::printf("picture: %d x %d\n", h.picture_width, h.picture_height);
  std::printf("header: %s%s\n", h.accepted() ? "accepted" : "refused: ", stream_format::RefusalText(h).c_str());
}

void PrintCounts(const Counts& c) {
  std::printf("groups: %llu\n", static_cast<unsigned long long>(c.groups));
  std::printf("start groups: %llu\n", static_cast<unsigned long long>(c.start_groups));
  if (c.has_start) {
    std::printf("first start group: %llu at offset %llu\n",
                static_cast<unsigned long long>(c.first_start_index),
                static_cast<unsigned long long>(c.first_start_offset));
  }
  uint64_t total = 0;
  for (uint64_t b : c.blocks) total += b;
  std::printf("blocks: %llu\n", static_cast<unsigned long long>(total));
  for (int k = 0; k < 5; ++k) {
    std::printf("blocks 0x%X: %llu\n", 0x1001 + k, static_cast<unsigned long long>(c.blocks[k]));
  }
  std::printf("payload bytes: %llu\n", static_cast<unsigned long long>(c.payload_bytes));
  std::printf("largest group: %llu bytes\n", static_cast<unsigned long long>(c.largest_group));
  std::printf("duration: %.3f s\n", static_cast<double>(c.groups) * stream_format::kFrameSeconds);
  std::printf("skipped bytes: %llu\n", static_cast<unsigned long long>(c.skipped_bytes));
  std::printf("problems: %llu\n", static_cast<unsigned long long>(c.problem_count));
  if (c.problem_count > c.problems.size()) {
    std::printf("problem: ... and %llu more\n",
                static_cast<unsigned long long>(c.problem_count - c.problems.size()));
  }
}

Json HeaderJson(uint64_t size, const stream_format::DecodedHeader& h) {
  return Json{{"format", "stream"},
              {"size", size > 0 ? Json(size) : Json(nullptr)},
              {"header",
               {{"tag", h.tag},
                {"version", h.version},
                {"explicit_size", h.explicit_size},
                {"stream_type", h.stream_type},
                {"video_standard", h.video_standard},
                {"base_height", h.video_standard == 0x1001 ? 288 : 240},
                {"rate_factor", h.rate_factor},
                {"rate_base", h.rate_base},
                {"bit_rate", static_cast<uint64_t>(h.rate_factor) * h.rate_base},
                {"size_field", h.explicit_size ? Json{{"width", h.width}, {"height", h.height}}
                                               : Json(nullptr)},
                {"resolution", h.explicit_size ? Json(nullptr) : Json(h.resolution)},
                {"picture_width", h.picture_width},
                {"picture_height", h.picture_height},
                {"accepted", h.accepted()},
                {"refusal", h.accepted() ? Json(nullptr) : Json(stream_format::RefusalText(h))}}}};
}

Json CountsJson(const Counts& c) {
  Json blocks = Json::object();
  uint64_t total = 0;
  for (int k = 0; k < 5; ++k) {
    char kind[8];
    std::snprintf(kind, sizeof kind, "0x%X", 0x1001 + k);
    blocks[kind] = c.blocks[k];
    total += c.blocks[k];
  }
  return Json{{"group_count", c.groups},
              {"start_group_count", c.start_groups},
              {"first_start_group", c.has_start ? Json{{"index", c.first_start_index},
                                                       {"offset", c.first_start_offset}}
                                                : Json(nullptr)},
              {"block_count", total},
              {"blocks_by_kind", std::move(blocks)},
              {"payload_bytes", c.payload_bytes},
              {"largest_group", c.largest_group},
              {"duration", static_cast<double>(c.groups * stream_format::kFrameMs) / 1000.0},
              {"skipped_bytes", c.skipped_bytes},
              {"problem_count", c.problem_count},
              {"problems", c.problems}};
}

// Counts the events of `scanner` up to `limit` bytes (0: none) and before
// `end`; true when the limit stopped it.
bool Scan(stream_format::StreamScanner& scanner, const stream_format::DecodedHeader& header,
          uint64_t limit, uint64_t end, Counts& counts, Progress* progress) {
  for (;;) {
    if (limit != 0 && scanner.consumed() >= limit) return true;
    const stream_format::ScanEvent e = scanner.Next();
    if (e.kind == stream_format::ScanEvent::Kind::kEnd || e.offset >= end) return false;
    counts.end = e.offset + e.size;
    if (e.kind == stream_format::ScanEvent::Kind::kGroup) {
      CountGroup(header, e, counts);
    } else {
      counts.skipped_bytes += e.size;
      const std::string problem = DescribeSkip(e);
      AddProblem(counts, problem);
      AddRow(counts, e, std::nullopt, false, 0, problem);
    }
    if (counts.rows_failed) return false;
    if (progress != nullptr) progress->Update(scanner.consumed());
  }
}

// --show-groups: `file`'s object, then its rows, each written as it is
// read: those `spool` holds, or, without one, those of the file at `path`
// read again up to `end`, where the first reading stopped.
int WriteGroupRows(const std::string& command, const std::string& path,
                   const stream_format::DecodedHeader& header, uint64_t limit, uint64_t end,
                   RowSpool* spool, const Json& file, JsonDocument& rows) {
  rows.BeginRows(file, "groups");
  bool read = true;
  if (spool != nullptr) {
    read = spool->WriteTo(rows);
  } else {
    stream_format::StreamScanner again;
    Counts counts;
    counts.print = false;
    counts.row = [&rows](const Json& row) { return rows.Row(row); };
    read = again.Open(path.c_str());
    if (read) {
      Scan(again, header, limit, end, counts, nullptr);
      read = !again.failed();
    }
  }
  rows.EndRows();
  if (rows.failed()) return StandardOutputFailed(command, rows.error());
  if (read) return kExitOk;
  if (spool != nullptr) {
    return Fail(command, kExitFailure, "cannot list the groups of '" + path + "': " + spool->error());
  }
  return Fail(command, kExitInput, "cannot read '" + path + "' again for its groups");
}

}  // namespace

int InspectStream(const std::string& command, const std::string& path,
                  stream_format::StreamScanner& scanner, uint64_t limit, bool progress_allowed,
                  Json* json, JsonDocument* rows) {
  const int64_t size = FileSize(path);
  const stream_format::DecodedHeader header = stream_format::DecodeFileHeader(scanner.header());
  const uint64_t known_size = size > 0 ? static_cast<uint64_t>(size) : 0;
  Counts counts;
  // A stream that can be read only once holds its rows until they can be
  // written; a file is read again for them.
  std::optional<RowSpool> spool;
  if (json != nullptr) {
    json->update(HeaderJson(known_size, header));
    counts.print = false;
    if (rows != nullptr && (path == "-" || size < 0)) {
      spool.emplace();
      counts.row = [&spool](const Json& row) { return spool->Add(row); };
    }
  } else {
    // Reported as it goes: the header at once, each problem as it is met,
    // the counts at the end (or at the limit).
    PrintHeader(path, known_size, header);
    FlushStandardOutput();
  }
  Progress progress("inspect", size > 0 ? static_cast<uint64_t>(size) : 0, progress_allowed);
  const bool limited = Scan(scanner, header, limit, UINT64_MAX, counts, &progress);
  progress.Finish();
  if (scanner.failed()) return Fail(command, kExitInput, "cannot read '" + path + "'");
  if (counts.rows_failed) {
    return Fail(command, kExitFailure,
                "cannot list the groups of '" + path + "': " + spool->error());
  }
  const std::string refused =
      header.accepted()
          ? ""
          : "'" + path + "' is neither an ASF file nor a stream: its header is refused: " +
                stream_format::RefusalText(header);
  if (json != nullptr) {
    json->update(CountsJson(counts));
    (*json)["stopped"] = limited ? Json{{"after_bytes", scanner.consumed()}, {"limit", limit}}
                                 : Json(nullptr);
    if (rows != nullptr) {
      // The object is written before its rows: with how it ends.
      if (!refused.empty()) {
        (*json)["exit_status"] = kExitNotStream;
        (*json)["error"] = refused;
      }
      const int code = WriteGroupRows(command, path, header, limit, counts.end,
                                      spool ? &*spool : nullptr, *json, *rows);
      if (code != kExitOk) return code;
    }
  } else {
    PrintCounts(counts);
  }
  if (limited && json == nullptr) {
    std::printf("stopped: at the limit, after %llu bytes (--limit %llu); what follows was not read\n",
                static_cast<unsigned long long>(scanner.consumed()),
                static_cast<unsigned long long>(limit));
  }
  if (!refused.empty()) return Fail(command, kExitNotStream, refused);
  return kExitOk;
}

}  // namespace kestrum_cli
