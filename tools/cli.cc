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
      {faults.refused_too_large, "sample over 16 MiB"},
      {faults.refused_no_memory, "out of memory"},
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

bool RefusedByNoOverwrite(const std::string& path, std::string& error) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  error = "'" + path + "' exists (--no-overwrite); it was left as it is";
  return true;
}

namespace {

DiagnosticWatch* g_watch = nullptr;

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
  // "2--BR_FAIL" dropped what was held unless "Small left" follows at once.
  const bool small_left = std::strcmp(line, "Small left") == 0;
  if (held_pending_ && !small_left) ++live_.held_dropped;
  held_pending_ = false;
  if (std::strcmp(line, "enter processgroup") == 0) {
    groups_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, "!!!!Write Sample!!!!") == 0) {
    samples_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, "0") == 0) {
    packets_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (std::strcmp(line, "2--BR_FAIL") == 0) {
    held_pending_ = true;
    return;
  }
  if (std::strcmp(line, "Splitter : process fails!") == 0) {
    ++live_.malformed;
    return;
  }
  if (std::strcmp(line, "Splitter : Unknow Stream Type") == 0) {
    ++live_.no_start;
    return;
  }
  // "Splitter : " and the GBK text for "temporary buffer full".
  if (std::strcmp(line, "Splitter : \xC1\xD9\xCA\xB1\xBB\xBA\xB3\xE5\xC2\xFA") == 0) {
    ++live_.overflowed;
    return;
  }
  if (std::strncmp(line, "processgroup : group of ", 24) == 0) {
    ++live_.too_large;
    return;
  }
  if (std::strcmp(line, "Not ready for Kestrum!") == 0) {
    ++not_ready_;
    return;
  }
  if (std::strncmp(line, "processpacket : ", 16) == 0) {
    ++refused_groups_;
    return;
  }
  if (std::strncmp(line, "writer : ", 9) != 0) return;
  unsigned code = 0;
  unsigned long long samples = 0;
  double seconds = 0;
  char what[32] = {};
  if (std::sscanf(line, "writer : write failed (0x%8x)", &code) == 1) {
    if (faults_.outages++ == 0) faults_.first_code = code;
  } else if (std::sscanf(line, "writer : writing %31[a-z ]; %llu samples (%lf s", what, &samples,
                         &seconds) == 3) {
    faults_.samples_lost += samples;
    faults_.seconds_lost += seconds;
  } else if (std::sscanf(line, "writer : the index did not fit (0x%8x)", &code) == 1) {
    if (!faults_.any()) faults_.first_code = code;
    faults_.no_index = true;
  } else if (std::sscanf(line, "writer : sample refused (%31[^)])", what) == 1) {
    if (std::strcmp(what, "sample over 16 MiB") == 0) {
      ++faults_.refused_too_large;
    } else if (std::strcmp(what, "out of memory") == 0) {
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

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a new file named `path` would be made: the path itself, or the end
// of a chain of symlinks that points nowhere.
std::string WhereMade(std::string path) {
#ifndef _WIN32
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[4096];
    const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return path;
    target[n] = 0;
    path = target[0] == '/' ? std::string(target) : FolderOf(path) + "/" + target;
  }
#endif
  return path;
}

}  // namespace

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
  const std::string made = WhereMade(path);
  const std::string folder = FolderOf(made);
  struct stat folder_info;
  if (::stat(folder.c_str(), &folder_info) != 0) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(folder_info.st_mode)) {
    error = "cannot write '" + path + "': " + std::strerror(ENOTDIR);
    return false;
  }
#ifdef _WIN32
  constexpr int kFolderAccess = W_OK;
#else
  constexpr int kFolderAccess = W_OK | X_OK;
#endif
  if (::access(folder.c_str(), kFolderAccess) != 0) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
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

bool SameFile(int fd, const std::string& path) {
  const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  BY_HANDLE_FILE_INFORMATION ia;
  BY_HANDLE_FILE_INFORMATION ib;
  return file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &ia) != 0 &&
         FileIdentity(path, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

// A writer shares its file for reading only, and a conversion reads its
// input with writing denied: either way a second open for writing fails.
bool OutputInUse(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string StandardOutputName(std::string& error) {
  error = "writing to standard output ('-') is not supported on Windows";
  return "";
}

void SetBinaryMode(int fd) { _setmode(fd, _O_BINARY); }
#else
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa;
  struct stat sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool SameFile(int fd, const std::string& path) {
  struct stat sa;
  struct stat sb;
  return ::fstat(fd, &sa) == 0 && ::stat(path.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The writer holds its file with an exclusive lock, a conversion its input
// with a shared one: either keeps this exclusive one out.
bool OutputInUse(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // lets go of the lock, if it was had
  return taken;
}

std::string StandardOutputName(std::string& error) {
  if (StandardOutputIsTerminal(error)) return "";
  return "/dev/stdout";
}

void SetBinaryMode(int) {}
#endif

bool StandardOutputIsTerminal(std::string& error) {
  if (::isatty(STDOUT_FILENO) == 0) return false;
  error = "standard output is a terminal: redirect it to a file or a pipe";
  return true;
}

InputFile::InputFile(const std::string& path) : path_(path) {
  if (path == "-") {
    SetBinaryMode(STDIN_FILENO);
    fd_ = STDIN_FILENO;
    return;
  }
  fd_ = ::open(path.c_str(), O_RDONLY | kOpenBinary);
  error_ = errno;
  owned_ = fd_ >= 0;
}

InputFile::~InputFile() {
  if (owned_) ::close(fd_);
}

std::string InputFile::OpenError() const {
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
