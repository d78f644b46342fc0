// kestrum version (and kestrum --version): the program's version, the writer
// behind the library, and the library the program runs with and its version.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "frame/args.h"
#include "frame/cli.h"
#include "commands/commands.h"
#include "frame/escape.h"
#include "kestrum.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#endif

namespace kestrum_cli {

namespace {

const char kHelp[] =
    "Usage: kestrum version\n"
    "       kestrum --version\n"
    "\n"
    "Prints the program's version, the writer the library writes ASF files with\n"
    "(built-in: the project's own; platform: the system's WM Format SDK,\n"
    "wmvcore.dll), the library the program runs with, as loaded, and that\n"
    "library's own version (KestrumGetVersion).\n"
    "\n"
    "Options:\n"
    "  -v, --verbose  accepted for symmetry; version writes no diagnostics\n"
    "  -h, --help     this text\n"
    "\n";

const std::vector<OptionSpec> kOptions = {{"help", false, 'h'}, {"verbose", false, 'v'}};

#define KESTRUM_TEXT(x) #x
#define KESTRUM_NUMBER(x) KESTRUM_TEXT(x)
constexpr char kVersion[] = KESTRUM_NUMBER(KESTRUM_VERSION_MAJOR) "." KESTRUM_NUMBER(
    KESTRUM_VERSION_MINOR) "." KESTRUM_NUMBER(KESTRUM_VERSION_PATCH);

#ifdef KESTRUM_PLATFORM_WRITER
constexpr char kWriter[] = "platform (the system's WM Format SDK, wmvcore.dll)";
#else
constexpr char kWriter[] = "built-in (the project's own ASF writer)";
#endif

// The file the library was loaded from: its real name carries its version
// (libkestrum.so.0.1.0). Empty when it cannot be told.
std::string LibraryFile() {
#ifdef _WIN32
  HMODULE module = nullptr;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&TransferToAsf), &module) == 0) {
    return "";
  }
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : "";
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&TransferToAsf), &info) == 0 || info.dli_fname == nullptr) {
    return "";
  }
  char real[PATH_MAX];
  return realpath(info.dli_fname, real) != nullptr ? real : info.dli_fname;
#endif
}

constexpr char kCommand[] = "version";

// What the command line asks for: nothing but the version (--verbose is
// taken and changes nothing).
struct VersionRequest {};

// Reads the command line into `request`. An exit code when the command ends
// here: a usage error, or --help printed.
std::optional<int> ParseRequest(const std::vector<std::string>& argv, VersionRequest&) {
  Args args;
  if (const auto done = ParseCommandLine(kCommand, argv, kOptions, kHelp, args)) return *done;
  if (!args.positionals().empty()) return UsageError(kCommand, "takes no arguments");
  return std::nullopt;
}

// The program's version (as built), the writer, the library's file and the
// library's version (as loaded), a line each.
int PrintVersion(const VersionRequest&) {
  std::printf("kestrum %s\n", kVersion);
  std::printf("writer: %s\n", kWriter);
  const std::string library = LibraryFile();
  std::printf("library: %s\n", library.empty() ? "(not known)" : Escaped(library).c_str());
  std::printf("library version: %s\n", Escaped(KestrumGetVersion()).c_str());
  return kExitOk;
}

}  // namespace

int RunVersion(const std::vector<std::string>& argv) {
  VersionRequest request;
  if (const auto done = ParseRequest(argv, request)) return *done;
  return PrintVersion(request);
}

}  // namespace kestrum_cli
