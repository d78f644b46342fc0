#include "frame/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "frame/escape.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace kestrum_cli {

const char kExitCodesHelp[] =
    "Exit codes: 0 done; 1 the work failed; 2 bad command line; 3 input missing or\n"
    "unreadable; 4 input is not a stream; 5 output cannot be written.\n";

namespace {
KeptMessages* g_kept = nullptr;

// "kestrum COMMAND: MESSAGE" and `tail` on stderr, the message escaped: in
// one write, or piece by piece when memory is short.
void PrintMessage(const std::string& command, const std::string& message, const std::string& tail) {
  try {
    std::fprintf(stderr, "kestrum %s: %s%s", command.c_str(), Escaped(message).c_str(),
                 tail.c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "kestrum %s: ", command.c_str());
    PrintEscaped(stderr, message, TextBytes::kUtf8);
    std::fputs(tail.c_str(), stderr);
  }
}
}  // namespace

KeptMessages::KeptMessages() : outer_(g_kept) { g_kept = this; }
KeptMessages::~KeptMessages() { g_kept = outer_; }
void KeptMessages::Keep(const std::string& message) {
  if (g_kept != nullptr) g_kept->lines_.push_back(message);
}

int Fail(const std::string& command, int code, const std::string& message) {
  KeptMessages::Keep(message);
  PrintMessage(command, message, "\n");
  return code;
}

int UsageError(const std::string& command, const std::string& message) {
  KeptMessages::Keep(message);
  PrintMessage(command, message, "\nTry 'kestrum " + command + " --help'.\n");
  return kExitUsage;
}

int Refuse(const std::string& command, int code, const std::string& message) {
  return code == kExitUsage ? UsageError(command, message) : Fail(command, code, message);
}

std::optional<int> ParseCommandLine(const std::string& command,
                                    const std::vector<std::string>& argv,
                                    const std::vector<OptionSpec>& options, const char* help,
                                    Args& args) {
  std::string error;
  if (!args.Parse(argv, options, error)) return UsageError(command, error);
  if (args.Has("help")) {
    std::fputs(help, stdout);
    std::fputs(kExitCodesHelp, stdout);
    return kExitOk;
  }
  return std::nullopt;
}

#ifdef _WIN32
void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
void SetBinaryMode(int) {}
#endif

}  // namespace kestrum_cli
