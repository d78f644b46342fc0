#include "report/loss_summary.h"

#include <cstdio>
#include <utility>
#include <vector>

#include "asf_format/status.h"
#include "diagnostics/lines.h"
#include "frame/results.h"
#include "io/output_path.h"

namespace kestrum_cli {

namespace {

// "3 malformed groups" / "1 malformed group".
std::string Count(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "12 samples refused by the writer (out of memory)", one part a reason.
void AddRefused(const WriteFaults& faults, std::vector<std::string>& parts) {
  const std::pair<uint64_t, const char*> refused[] = {
      {faults.refused_too_large, kestrum::lines::kRefusalTooLarge},
      {faults.refused_no_memory, kestrum::lines::kRefusalNoMemory},
      {faults.refused_other, "see --verbose"}};
  for (const auto& [n, why] : refused) {
    if (n > 0) {
      parts.push_back(Count(n, "sample", "samples") + " refused by the writer (" + why + ")");
    }
  }
}

}  // namespace

std::string DescribeWriteFaults(const WriteFaults& faults) {
  std::string text = DescribeCode(faults.first_code);
  if (faults.outages > 1) text += " (" + std::to_string(faults.outages) + " times)";
  if (faults.outages > 0) {
    char lost[96];
    std::snprintf(lost, sizeof lost, ": %llu samples (%.3f s of media) were lost",
                  static_cast<unsigned long long>(faults.samples_lost), faults.seconds_lost);
    text += lost;
  }
  if (faults.no_index) text += faults.outages > 0 ? "; the file has no index" : ": no index";
  std::vector<std::string> refused;
  AddRefused(faults, refused);
  for (const std::string& part : refused) text += "; " + part;
  return text;
}

std::string WritingFailed(const std::string& shown, const WriteFaults& faults) {
  return "writing " + OutputInWords(shown) + " failed: " + DescribeWriteFaults(faults);
}

std::string ReaderWentAway(const std::string& shown) {
  return "writing " + OutputInWords(shown) + " ended: its reader went away (broken pipe, " +
         CodeText(kestrum::asf::kBrokenPipe.code()) + "); it was given every sample before";
}

std::string DescribeLosses(const LiveLosses& live, const WriteFaults& faults,
                           uint64_t skipped_bytes, uint64_t refused_groups) {
  std::vector<std::string> parts;
  if (live.malformed > 0) {
    parts.push_back(Count(live.malformed, "malformed group", "malformed groups") +
                    " (each dropped with the rest of its piece, and the groups after it until "
                    "one may start a recording)");
  }
  if (live.held_dropped > 0) {
    parts.push_back(Count(live.held_dropped, "run", "runs") +
                    " of held bytes dropped (no group start or a malformed group in them, and "
                    "the groups after them until one may start a recording)");
  }
  if (live.overflowed > 0) {
    parts.push_back(Count(live.overflowed, "group", "groups") +
                    " still open at 1,024,000 bytes dropped");
  }
  if (live.too_large > 0) {
    parts.push_back(Count(live.too_large, "group", "groups") +
                    " too large for one sample not written");
  }
  if (live.no_start > 0) {
    parts.push_back(Count(live.no_start, "group", "groups") +
                    " dropped: the stream type lets none start the recording");
  }
  if (live.unfinished_bytes > 0) {
    parts.push_back("the last group, cut short by the end of the input (" +
                    Count(live.unfinished_bytes, "byte", "bytes") + ")");
  }
  if (skipped_bytes > 0) {
    parts.push_back(Count(skipped_bytes, "byte", "bytes") + " in no group skipped");
  }
  if (refused_groups > 0) {
    parts.push_back(Count(refused_groups, "group", "groups") +
                    " the file road writes nothing for (block count field)");
  }
  AddRefused(faults, parts);
  if (faults.samples_lost > 0) {
    char text[96];
    std::snprintf(text, sizeof text, " not written (%.3f s of media)", faults.seconds_lost);
    parts.push_back(Count(faults.samples_lost, "sample", "samples") + text);
  }
  if (faults.no_index) parts.push_back("the index");
  std::string line;
  for (const std::string& p : parts) line += (line.empty() ? "lost: " : "; ") + p;
  return line;
}

void RunCounts::Add(const RunCounts& other) {
  live.malformed += other.live.malformed;
  live.held_dropped += other.live.held_dropped;
  live.overflowed += other.live.overflowed;
  live.too_large += other.live.too_large;
  live.no_start += other.live.no_start;
  live.unfinished_bytes += other.live.unfinished_bytes;
  if (faults.first_code == 0) faults.first_code = other.faults.first_code;
  faults.outages += other.faults.outages;
  faults.samples_lost += other.faults.samples_lost;
  faults.seconds_lost += other.faults.seconds_lost;
  faults.no_index = faults.no_index || other.faults.no_index;
  faults.writing_ended = faults.writing_ended || other.faults.writing_ended;
  faults.refused_too_large += other.faults.refused_too_large;
  faults.refused_no_memory += other.faults.refused_no_memory;
  faults.refused_other += other.faults.refused_other;
  refused_groups += other.refused_groups;
  skipped_bytes += other.skipped_bytes;
  skipped_counted = skipped_counted || other.skipped_counted;
}

}  // namespace kestrum_cli
