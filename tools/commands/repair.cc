// kestrum repair: ends, in place, a file that Kestrum's writer began and did
// not end, and tells what is wrong with one it ended (asf_format/repair.h
// tells what is read, kept and written, and in what order).
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "asf_format/repair.h"
#include "commands/commands.h"
#include "frame/args.h"
#include "frame/cli.h"
#include "frame/escape.h"
#include "frame/results.h"
#include "io/output_path.h"
#include "io/standard_output.h"
#include "report/progress.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;

namespace {

const char kHelp[] =
    "Usage: kestrum repair [--check] FILE...\n"
    "\n"
    "Ends, in place, each FILE that Kestrum's writer began and did not end (a\n"
    "recording killed, a power cut, a full disk before the end, a stream's output\n"
    "saved to a file): cuts it back to its last whole sample, sets the header's\n"
    "sizes, packet count, durations and flags, and writes the index, as a clean\n"
    "end would have. The samples kept are the first ones written, each whole.\n"
    "Only the header, the heads of the data packets and the packets written after\n"
    "the writer's last sync (where a power cut may have left pages of zeros) are\n"
    "read, so a long recording is ended in a moment. A repair stopped at any point\n"
    "leaves a file that a second repair ends with the same samples.\n"
    "\n"
    "A file whose header says it ended is never changed. Whole, it is left byte for\n"
    "byte as it was ('already whole', exit 0). Damaged (a packet that is not as the\n"
    "writer lays it out, cut short, bytes after its objects, an index or totals\n"
    "that are not its packets'), what is wrong is told with its place (byte, packet)\n"
    "and the whole samples readers still get from it, exit 1.\n"
    "\n"
    "A file another program is writing is refused (exit 5), so is one Kestrum's\n"
    "writer did not write, or whose index would outweigh its packets (a frame time\n"
    "or sample times out of all proportion: exit 4), and a folder (exit 3). With\n"
    "several FILEs each is repaired in turn; the exit code is the highest of theirs.\n"
    "\n"
    "Options:\n"
    "      --check     say what would be done, change nothing\n"
    "  -v, --verbose   accepted for symmetry; repair does not use the library\n"
    "  -h, --help      this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"verbose", false, 'v'}, {"check", false, 0}};

constexpr char kCommand[] = "repair";

std::string Seconds(uint64_t ticks) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(ticks) / 1e7);
  return text;
}

// Why the index a repair would write is out of all proportion to the file.
std::string Unbounded(const asf::RepairReport& r) {
  const std::string what = "its play duration " + Seconds(r.play_duration) + " and its index " +
                           FormatMegabytes(r.index_bytes) + ", for " +
                           FormatMegabytes(r.packet_bytes) + " of packets";
  if (r.frame_time >= r.play_duration / 2) {
    return "its header's frame time, " + Seconds(r.frame_time) + ", would make " + what;
  }
  return "its samples' times would make " + what;
}

// A read or a write that failed: what it left.
int Failure(const std::string& path, bool check, const asf::RepairReport& r) {
  if (r.status == asf::kFailed) {
    return Fail(kCommand, kExitInput, "cannot read '" + path + "'; it was left as it is");
  }
  const std::string code = DescribeCode(r.status.code());
  if (check) return Fail(kCommand, kExitFailure, "cannot check '" + path + "': " + code);
  if (!r.wrote) {
    return Fail(kCommand, kExitFailure,
                "cannot repair '" + path + "': " + code + "; it was left as it is");
  }
  const OutputRefusal failed = WriteFailure(path, r.status);
  return Fail(kCommand, failed.code, failed.message + "; a second repair ends what this one began");
}

// What the command line asks for.
struct RepairRequest {
  std::vector<std::string> files;
  bool check = false;  // --check: tell what would be done, change nothing
};

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, RepairRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  if (args.positionals().empty()) return UsageError(kCommand, "expected FILE...");
  request.files = args.positionals();
  request.check = args.Has("check");
  return std::nullopt;
}

// Opens `path` for its repair (for reading alone with `check`): the file,
// or null with the exit code of the message that says why not.
std::unique_ptr<asf::RepairFile> OpenForRepair(const std::string& path, bool check, int& code) {
  asf::RepairOpen opened = asf::RepairOpen::kCannotOpen;
  asf::Status status = asf::kOk;
  std::unique_ptr<asf::RepairFile> file = asf::OpenRepairFile(path, !check, &opened, &status);
  switch (opened) {
    case asf::RepairOpen::kOpened:
      return file;
    case asf::RepairOpen::kNotFound:
      code = Fail(kCommand, kExitInput, "'" + path + "' does not exist");
      break;
    case asf::RepairOpen::kFolder:
      code = Fail(kCommand, kExitInput, "'" + path + "' is a folder");
      break;
    case asf::RepairOpen::kNotRegular:
      code = Fail(kCommand, kExitInput, "'" + path + "' is not a regular file");
      break;
    case asf::RepairOpen::kInUse:
      code = Fail(kCommand, kExitOutput, InUseMessage(path));
      break;
    case asf::RepairOpen::kCannotOpen:
      if (check) {
        code = Fail(kCommand, kExitInput,
                    "cannot read '" + path +
                        "': " + DescribeResult(static_cast<int32_t>(status.code())).text);
      } else {
        const OutputRefusal failed = WriteFailure(path, status);
        code = Fail(kCommand, failed.code, failed.message);
      }
      break;
  }
  return nullptr;
}

// What the repair (or the check) of `path` came to, in a line.
int TellOutcome(const std::string& path, bool check, const asf::RepairReport& r) {
  const std::string kept = std::to_string(r.samples) + " samples (" + Seconds(r.play_duration) +
                           " with the preroll) in " + std::to_string(r.packets) + " packets";
  const std::string read = "read " + FormatMegabytes(r.bytes_read) + " of " +
                           FormatMegabytes(r.size_before);
  switch (r.outcome) {
    case asf::RepairOutcome::kForeign:
      return Fail(kCommand, kExitNotStream,
                  "'" + path + "' was not written by Kestrum's writer: " + r.why +
                      "; it was left as it is");
    case asf::RepairOutcome::kDamaged:
      return Fail(
          kCommand, kExitFailure,
          "'" + path + "' was ended by its writer, and repair ends only a file left " +
              "unended: " + r.damage + "; readers still get " + std::to_string(r.readable_samples) +
              " whole samples" +
              (r.cut_packet_not_read ? " (not counting the packet cut short at its end)" : "") +
              "; it was left as it is (" + read + ")");
    case asf::RepairOutcome::kUnbounded:
      return Fail(kCommand, kExitNotStream,
                  "'" + path + "' cannot be ended: " + Unbounded(r) + "; it was left as it is");
    case asf::RepairOutcome::kError:
      return Failure(path, check, r);
    case asf::RepairOutcome::kWhole:
      std::printf("%s: already whole%s, %s; left as it is (%s)\n", Escaped(path).c_str(),
                  r.without_index ? " (ended without its index, which did not fit)" : "",
                  kept.c_str(), read.c_str());
      return kExitOk;
    case asf::RepairOutcome::kRepaired:
      break;
  }
  std::string what = kept + " kept";
  if (r.samples_dropped > 0) what += ", " + std::to_string(r.samples_dropped) + " cut sample dropped";
  if (r.packet_trimmed) what += ", the last packet trimmed";
  what += ", " + std::to_string(r.size_before) + " -> " + std::to_string(r.size_after) + " bytes";
  if (check) {
    std::printf("%s: would be ended: %s; nothing was changed (%s)\n", Escaped(path).c_str(),
                what.c_str(), read.c_str());
  } else {
    std::printf("repaired %s: %s (%s)\n", Escaped(path).c_str(), what.c_str(), read.c_str());
  }
  return kExitOk;
}

// One FILE: opened, repaired (or checked), told.
int RepairOne(const std::string& path, bool check) {
  int refused = kExitOk;
  const std::unique_ptr<asf::RepairFile> file = OpenForRepair(path, check, refused);
  if (file == nullptr) return refused;
  return TellOutcome(path, check, asf::Repair(*file, check));
}

}  // namespace

int RunRepair(const std::vector<std::string>& argv) {
  RepairRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  int code = kExitOk;
  for (const std::string& path : request.files) {
    code = std::max(code, RepairOne(path, request.check));
    FlushStandardOutput();
  }
  return code;
}

}  // namespace kestrum_cli
