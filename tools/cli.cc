#include "cli.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kestrum.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace kestrum_cli {

const char kExitCodesHelp[] =
    "Exit codes: 0 done; 1 the work failed; 2 bad command line; 3 input missing or\n"
    "unreadable; 4 input is not a stream; 5 output cannot be written.\n";

int Fail(const std::string& command, int code, const std::string& message) {
  std::fprintf(stderr, "kestrum %s: %s\n", command.c_str(), message.c_str());
  return code;
}

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "kestrum %s: %s\nTry 'kestrum %s --help'.\n", command.c_str(),
               message.c_str(), command.c_str());
  return kExitUsage;
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

std::string EscapeLine(const char* line) {
  std::string out;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(line); *p != 0; ++p) {
    const unsigned char c = *p;
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

namespace {

void EchoLine(const char* line, void* /*context*/) {
  const std::string text = EscapeLine(line);
  std::fprintf(stderr, "[kestrum] %s\n", text.c_str());
}

#ifdef _WIN32
// On Windows the library writes its lines with OutputDebugStringA, which
// raises DBG_PRINTEXCEPTION_C (length, text) before handling it itself: a
// vectored handler sees each line first and lets it pass on.
LONG CALLBACK EchoDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
      record->ExceptionInformation[1] != 0) {
    EchoLine(reinterpret_cast<const char*>(record->ExceptionInformation[1]), nullptr);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void* g_echo_handler = nullptr;
#endif

}  // namespace

DiagnosticEcho::DiagnosticEcho(bool enabled) : enabled_(enabled) {
#ifdef _WIN32
  if (enabled_) g_echo_handler = AddVectoredExceptionHandler(0, &EchoDebugString);
#else
  if (enabled_) KestrumSetDebugOutput(&EchoLine, nullptr);
#endif
}

DiagnosticEcho::~DiagnosticEcho() {
#ifdef _WIN32
  if (enabled_ && g_echo_handler != nullptr) RemoveVectoredExceptionHandler(g_echo_handler);
  if (enabled_) g_echo_handler = nullptr;
#else
  if (enabled_) KestrumSetDebugOutput(nullptr, nullptr);
#endif
}

int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = "cannot open '" + path + "': " + std::strerror(errno);
    return kExitInput;
  }
  const size_t got = std::fread(header, 1, sizeof header, f);
  const bool read_error = std::ferror(f) != 0;
  const int saved = errno;
  std::fclose(f);
  if (read_error) {
    error = "cannot read '" + path + "': " + std::strerror(saved);
    return kExitInput;
  }
  if (got < sizeof header) {
    error = "'" + path + "' is not a stream: " + std::to_string(got) +
            " bytes, fewer than its 40-byte header";
    return kExitNotStream;
  }
  return kExitOk;
}

bool CheckOutputWritable(const std::string& path, std::string& error) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      error = "cannot write '" + path + "': it is a folder";
      return false;
    }
    if (::access(path.c_str(), W_OK) != 0) {
      error = "cannot write '" + path + "': " + std::strerror(errno);
      return false;
    }
    return true;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  ::close(fd);
  ::unlink(path.c_str());
  return true;
}

#ifdef _WIN32
namespace {

// Windows has no inode numbers (st_ino is 0): a file is its volume and its
// file index.
bool FileIdentity(const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  return known;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION ia;
  BY_HANDLE_FILE_INFORMATION ib;
  return FileIdentity(a, ia) && FileIdentity(b, ib) &&
         ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

void SetBinaryMode(int) {}
#endif

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

std::string FormatMegabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

std::string FormatRate(uint64_t bytes, double seconds) {
  char text[32];
  if (seconds <= 0) return "- MB/s";
  std::snprintf(text, sizeof text, "%.1f MB/s", static_cast<double>(bytes) / 1e6 / seconds);
  return text;
}

}  // namespace kestrum_cli
