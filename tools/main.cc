// kestrum: the command-line program over the Kestrum library's C API.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "frame/cli.h"
#include "commands/commands.h"
#include "frame/escape.h"
#include "frame/log_level.h"
#include "io/standard_output.h"
#include "io/stop_signals.h"

namespace {

const char kUsage[] =
    "Usage: kestrum [-v|-q|-loglevel LEVEL] [--strict] [-n|-y] COMMAND [options]\n"
    "       kestrum --version | help [COMMAND]\n"
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
    "  inspect FILE|- [--limit SIZE] [--masked]\n"
    "                                        describe a stream or an ASF file\n"
    "  inspect --json [--show-samples] [--show-groups] FILE|-...\n"
    "                                        the same as one JSON document\n"
    "  extract IN.asf OUT                    the stream back from a recording\n"
    "  cut INPUT.asf... -o OUTPUT.asf [--from TIME] [--to TIME|--duration TIME]\n"
    "                                        a time range of a recording as one file\n"
    "  repair [--check] FILE...              end a file whose recording never ended\n"
    "  version                               the program's and the library's version\n"
    "  help [COMMAND]                        this text, or a command's\n"
    "\n"
    "'kestrum help COMMAND' tells more. Options given before COMMAND are the\n"
    "command's own (-v/--verbose, -q/--quiet, -loglevel LEVEL, -hide_banner,\n"
    "-nostats, --strict, -n/--no-overwrite, -y/--overwrite, -progress FILE).\n"
    "-loglevel quiet|error|warning|info|verbose (or -v LEVEL) sets what a command\n"
    "says on stderr; -q is -loglevel error, -v alone verbose.\n"
    "\n";

const char kHelpHelp[] =
    "Usage: kestrum help [COMMAND]\n"
    "\n"
    "Prints the program's usage, or COMMAND's help (as 'kestrum COMMAND --help').\n"
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
    {"cut", kestrum_cli::RunCut},
    {"repair", kestrum_cli::RunRepair},
    {"version", kestrum_cli::RunVersion},
};

// Options that may stand before the command name; they are handed to the
// command as if given after it.
const std::vector<const char*> kGlobalOptions = {
    "-v",           "--verbose",     "--strict",  "-n",        "--no-overwrite", "-y",
    "--overwrite",  "-q",            "--quiet",   "-loglevel", "--loglevel",     "-hide_banner",
    "--hide_banner", "-nostats",     "--nostats", "-progress", "--progress"};
// Of those, the ones that take the next argument as their value.
const std::vector<std::string> kGlobalsWithValue = {"-loglevel", "--loglevel", "-progress",
                                                    "--progress"};

// How many arguments from argv[at] make one global option: 0 (none), 1, or
// 2 with its value (-loglevel error, -v error).
int GlobalOptionLength(int argc, char** argv, int at) {
  const std::string arg = argv[at];
  if (std::find(kGlobalOptions.begin(), kGlobalOptions.end(), arg) == kGlobalOptions.end()) {
    return 0;
  }
  const bool more = at + 1 < argc;
  if (std::find(kGlobalsWithValue.begin(), kGlobalsWithValue.end(), arg) !=
      kGlobalsWithValue.end()) {
    return more ? 2 : 1;
  }
  if ((arg == "-v" || arg == "--verbose") && more && kestrum_cli::IsLogLevelName(argv[at + 1])) {
    return 2;
  }
  return 1;
}

int UnknownCommand(const std::string& given) {
  const std::string name = kestrum_cli::Escaped(given);
  std::vector<const char*> names = {"help"};
  for (const Command& c : kCommands) names.push_back(c.name);
  if (const char* nearest = kestrum_cli::Nearest(given, names)) {
    std::fprintf(stderr, "kestrum: unknown command '%s'; did you mean '%s'?\n\n%s", name.c_str(),
                 nearest, kUsage);
  } else {
    std::fprintf(stderr, "kestrum: unknown command '%s'\n\n%s", name.c_str(), kUsage);
  }
  return kestrum_cli::kExitUsage;
}

// The command whose name messages give: the one named, "version", or
// "help" for the usage.
std::string CommandOf(int argc, char** argv) {
  int at = 1;
  while (at < argc && GlobalOptionLength(argc, argv, at) > 0) {
    at += GlobalOptionLength(argc, argv, at);
  }
  const std::string name = at < argc ? argv[at] : "";
  if (name == "--version") return "version";
  for (const Command& c : kCommands) {
    if (name == c.name) return name;
  }
  return "help";
}

int Main(int argc, char** argv) {
  std::vector<std::string> globals;
  int at = 1;
  while (at < argc && GlobalOptionLength(argc, argv, at) > 0) {
    for (int n = GlobalOptionLength(argc, argv, at); n > 0; --n) globals.push_back(argv[at++]);
  }
  if (at >= argc) {
    std::fputs(kUsage, stderr);
    return kestrum_cli::kExitUsage;
  }
  const std::string name = argv[at];
  std::vector<std::string> args(argv + at + 1, argv + argc);
  if (name == "--version") return kestrum_cli::RunVersion(args);
  if (name == "-h" || name == "--help" || name == "help") {
    if (!args.empty()) {
      if (args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kHelpHelp, stdout);
        std::fputs(kestrum_cli::kExitCodesHelp, stdout);
        return kestrum_cli::kExitOk;
      }
      for (const Command& c : kCommands) {
        if (args[0] == c.name) return c.run({"--help"});
      }
      return UnknownCommand(args[0]);
    }
    std::fputs(kUsage, stdout);
    std::fputs(kestrum_cli::kExitCodesHelp, stdout);
    return kestrum_cli::kExitOk;
  }
  if (!name.empty() && name[0] == '-') {
    const char* nearest = kestrum_cli::Nearest(name.substr(0, name.find('=')), kGlobalOptions);
    const std::string hint = nearest ? std::string("; did you mean '") + nearest + "'?" : "";
    std::fprintf(stderr, "kestrum: unknown option '%s' before the command%s\n\n%s",
                 kestrum_cli::Escaped(name).c_str(), hint.c_str(), kUsage);
    return kestrum_cli::kExitUsage;
  }
  // The global options go first: an option given again after the command
  // name, or a "--" among the command's arguments, keeps its meaning.
  args.insert(args.begin(), globals.begin(), globals.end());
  for (const Command& c : kCommands) {
    if (name == c.name) return c.run(args);
  }
  return UnknownCommand(name);
}

}  // namespace

// The commands meet a failed allocation where it matters (a recording is
// ended, a sample refused is counted); one that comes up here still ends the
// program in words rather than an abort. A failed write of standard output
// is an error, whichever command met it.
int main(int argc, char** argv) {
  kestrum_cli::IgnoreFatalSignals();
  kestrum_cli::KeepStandardDescriptorsOpen();
  int code = kestrum_cli::kExitFailure;
  try {
    code = Main(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("kestrum: out of memory\n", stderr);
  } catch (const std::exception& e) {
    // Its text may name a file.
    std::fputs("kestrum: ", stderr);
    kestrum_cli::PrintEscaped(stderr, e.what(), kestrum_cli::TextBytes::kUtf8);
    std::fputc('\n', stderr);
  }
  // What every command printed must have reached standard output.
  return kestrum_cli::FinishStandardOutput(CommandOf(argc, argv), code);
}
