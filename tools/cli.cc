#include "cli.h"

#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/file.h>
#endif

#include <fcntl.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "diagnostics/lines.h"
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
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", faults.first_code);
  std::string text = code;
  if (faults.first_code == 0x8007000Eu) text += " (out of memory)";
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

ResultMeaning DescribeResult(int32_t result) {
  switch (static_cast<uint32_t>(result)) {
    case 0:
      return {kExitInput, "the input could not be opened"};
    case 0x80070070u:
      return {kExitOutput, "disk full (or the file size limit reached)"};
    case 0x800700CEu:
      return {kExitOutput, "name longer than 259 bytes"};
    case 0x80070020u:
      return {kExitOutput, "output in use by another writer (or read by a conversion)"};
    case 0x80070005u:
      return {kExitOutput, "permission denied"};
    case 0x80070002u:
    case 0x80070003u:
      return {kExitOutput, "no such file or folder"};
    case 0x80004003u:
      return {kExitOutput, "no output name"};
    case 0x8007001Du:
      return {kExitFailure, "write fault (a removed or failing medium)"};
    case kBrokenPipeCode:
      return {kExitFailure, "the output's reader went away (broken pipe)"};
    case 0x8007001Eu:
      return {kExitInput, "read fault"};
    case 0x8007000Eu:
      return {kExitFailure, "out of memory"};
    case 0x80070057u:
      return {kExitFailure, "invalid argument"};
    case 0x80004001u:
      return {kExitFailure, "not implemented by the writer"};
    case 0x80004005u:
      return {kExitFailure, "the stream header was refused or the writer could not be made"};
    case 0xC00D002Bu:
      return {kExitFailure, "the writer was not ready for the request"};
    case 0xC00D0BB8u:
      return {kExitFailure, "a format the ASF header cannot describe"};
    default:
      return {kExitFailure, "an error the program does not know"};
  }
}

std::string OverwriteConflict(const Args& args) {
  if (args.Has(kNoOverwriteOption.name) && args.Has(kOverwriteOption.name)) {
    return "-n/--no-overwrite and -y/--overwrite exclude each other";
  }
  return "";
}

namespace {

DiagnosticWatch* g_watch = nullptr;

bool StartsWith(const char* line, const char* prefix) {
  return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

void WatchLine(const char* line, void* /*context*/) {
  if (g_watch != nullptr) g_watch->See(line);
}

#ifdef _WIN32
// On Windows the library writes its lines with OutputDebugStringA, which
// raises DBG_PRINTEXCEPTION_C (length, text) before handling it itself: a
// vectored handler sees each line first and lets it pass on.
LONG CALLBACK WatchDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2 &&
      record->ExceptionInformation[1] != 0) {
    WatchLine(reinterpret_cast<const char*>(record->ExceptionInformation[1]), nullptr);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

void* g_watch_handler = nullptr;
#endif

}  // namespace

void DiagnosticWatch::See(const char* line) noexcept {
  if (echo_) {
    try {
      std::fprintf(stderr, "[kestrum] %s\n", EscapeLine(line).c_str());
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "[kestrum] %s\n", line);  // unescaped, for want of memory
    }
  }
  Tally(line);
  if (after_line_ != nullptr) after_line_(*this);
}

void DiagnosticWatch::Tally(const char* line) {
  namespace lines = kestrum::lines;
  // "2--BR_FAIL" dropped what was held unless "Small left" follows at once.
  const bool small_left = std::strcmp(line, lines::kSmallLeft) == 0;
  if (held_pending_ && !small_left) ++live_.held_dropped;
  held_pending_ = false;
  if (std::strcmp(line, lines::kEnterProcessGroup) == 0) {
    groups_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kWriteSample) == 0) {
    samples_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kFetchedMore) == 0) {
    packets_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, lines::kHeldFail) == 0) {
    held_pending_ = true;
    return;
  }
  if (std::strcmp(line, lines::kProcessFails) == 0) {
    ++live_.malformed;
    return;
  }
  if (std::strcmp(line, lines::kUnknownStreamType) == 0) {
    ++live_.no_start;
    return;
  }
  if (std::strcmp(line, lines::kBufferFull) == 0) {
    ++live_.overflowed;
    return;
  }
  if (StartsWith(line, lines::kGroupTooLargePrefix)) {
    ++live_.too_large;
    return;
  }
  if (std::strcmp(line, lines::kNotReady) == 0) {
    ++not_ready_;
    return;
  }
  if (StartsWith(line, lines::kPacketPrefix)) {
    ++refused_groups_;
    return;
  }
  if (!StartsWith(line, lines::kWriterPrefix)) return;
  unsigned code = 0;
  unsigned long long samples = 0;
  double seconds = 0;
  char what[32] = {};
  if (std::sscanf(line, lines::kWriteFailedScan, &code) == 1) {
    if (faults_.outages++ == 0) faults_.first_code = code;
    if (std::strstr(line, lines::kWritingEndsSuffix) != nullptr) faults_.writing_ended = true;
  } else if (std::sscanf(line, lines::kOutageClosedScan, what, &samples, &seconds) == 3) {
    faults_.samples_lost += samples;
    faults_.seconds_lost += seconds;
  } else if (std::sscanf(line, lines::kIndexDidNotFitScan, &code) == 1) {
    if (!faults_.any()) faults_.first_code = code;
    faults_.no_index = true;
  } else if (std::sscanf(line, lines::kSampleRefusedScan, what) == 1) {
    if (std::strcmp(what, lines::kRefusalTooLarge) == 0) {
      ++faults_.refused_too_large;
    } else if (std::strcmp(what, lines::kRefusalNoMemory) == 0) {
      ++faults_.refused_no_memory;
    } else {
      ++faults_.refused_other;
    }
  }
}

DiagnosticWatch::DiagnosticWatch(bool echo) : echo_(echo) {
  g_watch = this;
#ifdef _WIN32
  g_watch_handler = AddVectoredExceptionHandler(0, &WatchDebugString);
#else
  KestrumSetDebugOutput(&WatchLine, nullptr);
#endif
}

DiagnosticWatch::~DiagnosticWatch() {
#ifdef _WIN32
  if (g_watch_handler != nullptr) RemoveVectoredExceptionHandler(g_watch_handler);
  g_watch_handler = nullptr;
#else
  KestrumSetDebugOutput(nullptr, nullptr);  // final: no line reaches this watch after it
#endif
  g_watch = nullptr;
}

int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error) {
  const InputFile in(path);
  if (in.fd() < 0) {
    error = in.OpenError();
    return kExitInput;
  }
  size_t got = 0;
  while (got < sizeof header) {
    const auto n = ::read(in.fd(), header + got, static_cast<unsigned>(sizeof header - got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read '" + path + "': " + std::strerror(errno);
      return kExitInput;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  if (got < sizeof header) {
    error = "'" + path + "' is not a stream: " + std::to_string(got) +
            " bytes, fewer than its 40-byte header";
    return kExitNotStream;
  }
  return kExitOk;
}

#ifdef _WIN32
void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
void SetBinaryMode(int) {}
#endif

namespace {

// Takes the shared lock on a regular file `fd`; false when a writer holds
// it. Where locks are missing, the file is read unlocked.
bool ShareForReading(int fd) {
#ifdef _WIN32
  (void)fd;  // opened with writing denied instead
  return true;
#else
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return true;
  int locked = 0;
  while ((locked = ::flock(fd, LOCK_SH | LOCK_NB)) != 0 && errno == EINTR) {
  }
  return locked == 0 || errno != EWOULDBLOCK;
#endif
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  if (path == "-") {
    SetBinaryMode(STDIN_FILENO);
    fd_ = STDIN_FILENO;
  } else {
#ifdef _WIN32
    // Shared for reading only: a writer's open fails, and one that has it
    // open keeps this one out.
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD why = GetLastError();
      written_ = why == ERROR_SHARING_VIOLATION;
      error_ = why == ERROR_ACCESS_DENIED                                    ? EACCES
               : why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ? ENOENT
                                                                             : EIO;
      return;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) CloseHandle(file);
#else
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    error_ = errno;
    owned_ = fd_ >= 0;
  }
  if (fd_ >= 0 && !ShareForReading(fd_)) {
    if (owned_) ::close(fd_);
    fd_ = -1;
    owned_ = false;
    written_ = true;
  }
}

InputFile::~InputFile() {
  if (owned_) ::close(fd_);
}

std::string InputFile::OpenError() const {
  if (written_) {
    return "cannot read '" + path_ + "': another program is writing it; it was left as it is";
  }
  return "cannot open '" + path_ + "': " + std::strerror(error_);
}

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
