// kestrum inspect: describes a stream file or an ASF file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "args.h"
#include "asf_format/reader.h"
#include "cli.h"
#include "commands.h"
#include "inspect.h"

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum inspect FILE\n"
    "\n"
    "Describes FILE, one 'label: value' per line.\n"
    "A stream file: the header fields, whether the library accepts the header and\n"
    "the picture size it derives, the groups (how many may start a recording) and\n"
    "blocks by kind, and each stretch of bytes that is no whole group, with its\n"
    "byte offset and why.\n"
    "An ASF file (told by its header object): each stream with its FOURCC, picture\n"
    "size and sample count, the duration, title and description, packets and index.\n"
    "\n"
    "Options:\n"
    "      --masked    an ASF file only: write its bytes to standard output with the\n"
    "                  file ID and creation date zeroed (the only bytes in which two\n"
    "                  recordings of the same input differ)\n"
    "  -v, --verbose   accepted for symmetry; inspect does not use the library\n"
    "  -h, --help      this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {{"help", false, 'h'}, {"masked", false, 0}, {"verbose", false, 'v'}};

}  // namespace

int RunInspect(const std::vector<std::string>& argv) {
  const std::string command = "inspect";
  Args args;
  if (const auto done = ParseCommandLine(command, argv, kOptions, kHelp, args)) return *done;
  if (args.positionals().size() != 1) return UsageError(command, "expected one FILE");
  const std::string path = args.positionals()[0];

  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    return Fail(command, kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
  }
  uint8_t first[16] = {};
  const size_t got = std::fread(first, 1, sizeof first, f);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error) return Fail(command, kExitInput, "cannot read '" + path + "'");
  const bool asf = got == sizeof first && kestrum::asf::IsAsfHeader(first);
  if (args.Has("masked")) {
    if (!asf) return Fail(command, kExitNotStream, "'" + path + "' is not an ASF file");
    std::string error;
    if (StandardOutputIsTerminal(error)) return UsageError(command, error);
    return WriteMaskedAsf(command, path);
  }
  if (asf) return InspectAsf(command, path);
  return InspectStream(command, path, true);
}

}  // namespace kestrum_cli
