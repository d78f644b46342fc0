// kestrum inspect: describes a stream file or an ASF file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"
#include "asf_format/reader.h"
#include "frame/cli.h"
#include "commands/commands.h"
#include "io/input_file.h"
#include "commands/inspect_halves.h"
#include "io/standard_output.h"
#include "report/json_document.h"
#include "report/json_output.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum inspect FILE|- [--limit SIZE] [--masked]\n"
    "       kestrum inspect --json [--show-samples] [--show-groups] FILE|-...\n"
    "\n"
    "Describes FILE, one 'label: value' per line.\n"
    "A stream file: the header fields, whether the library accepts the header and\n"
    "the picture size it derives, the groups (how many may start a recording) and\n"
    "blocks by kind, and each stretch of bytes that is no whole group, with its\n"
    "byte offset and why.\n"
    "An ASF file (told by its header object): each stream with its FOURCC, picture\n"
    "size and sample count, the duration, title and description, packets and index;\n"
    "for a file Kestrum wrote, when its first sample came and its last ended\n"
    "('started:', 'ended:'; local time, TZ, with its offset from UTC).\n"
    "\n"
    "FILE '-' reads standard input. A stream that is not a regular file (a FIFO, a\n"
    "pipe, standard input) is read as it comes, once: the header lines at once,\n"
    "each problem as it is met, the counts at the end, or once --limit bytes are\n"
    "read (64M unless given), where a 'stopped:' line says so. An ASF file may come\n"
    "the same ways; as its reader seeks, one that is not a regular file (a FIFO, a\n"
    "pipe) is held in a temporary file of $TMPDIR (or /tmp) first, removed at once.\n"
    "\n"
    "Options:\n"
    "      --masked    an ASF file only: write its bytes to standard output with the\n"
    "                  file ID and creation date zeroed (the only bytes in which two\n"
    "                  recordings of the same input differ)\n"
    "      --limit SIZE  a stream: stop after SIZE bytes (K, M, G: 2^10, 2^20,\n"
    "                  2^30); default none for a regular file, 64M for others\n"
    "      --json      the same as one JSON document on standard output, an object\n"
    "                  a FILE in its \"files\" (docs/json.md); the exit code is the\n"
    "                  first failing FILE's\n"
    "      --show-samples  with --json: a row each sample of an ASF file\n"
    "      --show-groups   with --json: a row each group of a stream\n"
    "  -v, --verbose   accepted for symmetry; inspect does not use the library\n"
    "  -h, --help      this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {
    {"help", false, 'h'}, {"masked", false, 0},       {"verbose", false, 'v'},    {"limit", true},
    {"json", false, 0},   {"show-samples", false, 0}, {"show-groups", false, 0}};

constexpr char kCommand[] = "inspect";

// What is asked of each FILE.
struct InspectOptions {
  uint64_t limit = 0;
  bool masked = false;
  Json* json = nullptr;              // --json: the FILE's object, filled instead of printing
  JsonDocument* document = nullptr;  // --json: where a FILE with rows writes its object
  bool samples = false;              // --show-samples
  bool groups = false;               // --show-groups
  JsonDocument* samples_to() const { return samples ? document : nullptr; }
  JsonDocument* groups_to() const { return groups ? document : nullptr; }
};

// What the command line asks for.
struct InspectRequest {
  std::vector<std::string> files;
  bool json = false;  // --json: one document for every FILE
  InspectOptions each;
};

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, InspectRequest& request) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  InspectOptions& each = request.each;
  std::string error;
  if (auto value = args.Value("limit")) {
    if (!ParseByteSize(*value, "--limit", UINT64_MAX, each.limit, error)) {
      return UsageError(kCommand, error);
    }
  }
  each.masked = args.Has("masked");
  each.samples = args.Has("show-samples");
  each.groups = args.Has("show-groups");
  request.json = args.Has("json");
  if (!request.json && (each.samples || each.groups)) {
    return UsageError(kCommand, "--show-samples and --show-groups go with --json");
  }
  if (request.json && each.masked) {
    return UsageError(kCommand, "--json and --masked exclude each other");
  }
  request.files = args.positionals();
  if (request.files.size() != 1 && !(request.json && !request.files.empty())) {
    return UsageError(kCommand, request.json ? "expected FILE" : "expected one FILE");
  }
  return std::nullopt;
}

// Where reading a stream that has no end of its own stops, unless told.
constexpr uint64_t kDefaultLimit = uint64_t{64} << 20;

// The ASF file `source` reads: described, or with --masked written out.
int InspectAsfSource(const std::string& path, kestrum::asf::ReadSource* source,
                     const InspectOptions& r) {
  if (!r.masked) return InspectAsf(kCommand, path, source, r.json, r.samples_to());
  std::string error;
  if (StandardOutputIsTerminal(error)) return UsageError(kCommand, error);
  return WriteMaskedAsf(kCommand, path, source);
}

// An ASF file come on a pipe: its reader seeks, so it is held in a
// temporary file first, beginning with what `scanner` read of it.
int InspectAsfOnPipe(const std::string& path, int fd,
                     kestrum::stream_format::StreamScanner& scanner, const InspectOptions& r) {
  size_t have = 0;
  const uint8_t* read = scanner.ReadSoFar(&have);
  std::string why = "it was read too far";
  const int held = read != nullptr ? HoldInTemporaryFile(read, have, fd, why) : -1;
  if (held < 0) {
    return Fail(kCommand, kExitInput, "cannot read '" + path + "' (an ASF file): " + why);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{held};
  const auto asf = AsfAtDescriptor(held);
  if (asf == nullptr) return Fail(kCommand, kExitInput, "cannot read '" + path + "' (an ASF file)");
  return InspectAsfSource(path, asf.get(), r);
}

// A FILE that is not a regular file (standard input, a pipe, a device):
// read once, as it comes; the scanner's header tells an ASF file too.
int InspectAsItComes(const std::string& path, const InspectOptions& r) {
  const InputFile in(path);
  if (in.fd() < 0) return Fail(kCommand, kExitInput, in.OpenError());
  // Standard input given a file may hold an ASF file, which is read where
  // it lies.
  if (const auto asf = AsfAtDescriptor(in.fd())) return InspectAsfSource(path, asf.get(), r);
  kestrum::stream_format::StreamScanner scanner;
  if (!scanner.OpenDescriptor(in.fd())) {
    return Fail(kCommand, kExitNotStream, ShortHeaderMessage(path));
  }
  if (kestrum::asf::IsAsfHeader(scanner.header())) {
    return InspectAsfOnPipe(path, in.fd(), scanner, r);
  }
  if (r.masked) return Fail(kCommand, kExitNotStream, "'" + path + "' is not an ASF file");
  return InspectStream(kCommand, path, scanner, r.limit != 0 ? r.limit : kDefaultLimit, false,
                       r.json, r.groups_to());
}

// A regular FILE: an ASF file by its first bytes, else a stream.
int InspectRegularFile(const std::string& path, const InspectOptions& r) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return Fail(kCommand, kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
  }
  uint8_t first[16] = {};
  const size_t got = std::fread(first, 1, sizeof first, f);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return Fail(kCommand, kExitInput, "cannot read '" + path + "'");
  const bool asf = got == sizeof first && kestrum::asf::IsAsfHeader(first);
  if (r.masked && !asf) return Fail(kCommand, kExitNotStream, "'" + path + "' is not an ASF file");
  if (asf) return InspectAsfSource(path, nullptr, r);
  kestrum::stream_format::StreamScanner scanner;
  if (!scanner.Open(path.c_str())) {
    return Fail(kCommand, kExitNotStream, ShortHeaderMessage(path));
  }
  return InspectStream(kCommand, path, scanner, r.limit, r.json == nullptr, r.json, r.groups_to());
}

int InspectOne(const std::string& path, const InspectOptions& r) {
  struct stat info {};
  if (path == "-" || (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
    return InspectAsItComes(path, r);
  }
  return InspectRegularFile(path, r);
}

// One FILE; memory that runs out ends it in words, as an error of its own.
int InspectOneInWords(const std::string& path, const InspectOptions& r) {
  try {
    return InspectOne(path, r);
  } catch (const std::bad_alloc&) {
    if (r.document != nullptr && r.document->rows_open()) r.document->EndRows();
    return Fail(kCommand, kExitFailure, "out of memory reading '" + path + "'");
  }
}

// --json: one document, an object a FILE, each written once its FILE is
// read (and its rows as they are read); the exit code is the first failing
// FILE's.
int InspectAsJson(const InspectRequest& request) {
  JsonDocument document(stdout);
  InspectOptions each = request.each;
  each.document = &document;
  int code = kExitOk;
  for (const std::string& path : request.files) {
    Json file{{"file", path}, {"format", nullptr}, {"exit_status", kExitOk}, {"error", nullptr}};
    const KeptMessages kept;
    each.json = &file;
    const uint64_t written = document.files();
    const int one = InspectOneInWords(path, each);
    if (code == kExitOk) code = one;
    // A FILE with rows wrote its object already.
    if (document.files() == written) {
      file["exit_status"] = one;
      if (one != kExitOk && !kept.lines().empty()) file["error"] = kept.lines().back();
      document.File(file);
    }
    if (document.failed()) break;
  }
  if (!document.Finish()) {
    const int failed = StandardOutputFailed(kCommand, document.error());
    return code != kExitOk ? code : failed;
  }
  return code;
}

}  // namespace

int RunInspect(const std::vector<std::string>& argv) {
  InspectRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  if (request.json) return InspectAsJson(request);
  return InspectOneInWords(request.files[0], request.each);
}

}  // namespace kestrum_cli
