// kestrum: the command-line program over the Kestrum library's C API.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"

namespace {

const char kUsage[] =
    "Usage: kestrum COMMAND [options]\n"
    "\n"
    "Commands:\n"
    "  convert INPUT OUTPUT.asf              convert a stored stream (the file road)\n"
    "  convert INPUT OUTPUT_PATTERN --segment-time SECONDS\n"
    "                                        ... into files of SECONDS each\n"
    "  convert INPUT... -o FOLDER [--jobs N] convert several streams, N at a time\n"
    "  record INPUT|- OUTPUT.asf [--piece-size N|group]\n"
    "                                        push a stream through the live road\n"
    "  record INPUT|- OUTPUT_PATTERN --segment-time SECONDS\n"
    "                                        ... into files of SECONDS each\n"
    "  generate OUTPUT [options]             write a synthetic stream\n"
    "  inspect FILE|- [--limit SIZE]         describe a stream or an ASF file\n"
    "  extract IN.asf OUT                    the stream back from a recording\n"
    "\n"
    "'kestrum COMMAND --help' tells more. Every command takes -v/--verbose.\n"
    "\n";

struct Command {
  const char* name;
  int (*run)(const std::vector<std::string>&);
};

constexpr Command kCommands[] = {
    {"convert", kestrum_cli::RunConvert},
    {"record", kestrum_cli::RunRecord},
    {"generate", kestrum_cli::RunGenerate},
    {"inspect", kestrum_cli::RunInspect},
    {"extract", kestrum_cli::RunExtract},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return kestrum_cli::kExitUsage;
  }
  const std::string name = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (name == "-h" || name == "--help" || name == "help") {
    if (!args.empty()) {
      for (const Command& c : kCommands) {
        if (args[0] == c.name) return c.run({"--help"});
      }
    }
    std::fputs(kUsage, stdout);
    std::fputs(kestrum_cli::kExitCodesHelp, stdout);
    return kestrum_cli::kExitOk;
  }
  for (const Command& c : kCommands) {
    if (name == c.name) return c.run(args);
  }
  std::fprintf(stderr, "kestrum: unknown command '%s'\n\n%s", name.c_str(), kUsage);
  return kestrum_cli::kExitUsage;
}
