#include "io/output_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/file.h>
#include <sys/sysmacros.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frame/cli.h"
#include "frame/results.h"
#include "io/standard_output.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace kestrum_cli {

namespace asf = kestrum::asf;

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

#ifdef _WIN32
// Windows has no inode numbers (st_ino is 0): a file is its volume and its
// file index.
FileId IdOfHandle(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  FileId id;
  if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0) return id;
  id.known = true;
  id.device = info.dwVolumeSerialNumber;
  id.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return id;
}
#else
FileId IdOfStat(const struct stat& info) {
  FileId id;
  id.known = true;
  id.device = static_cast<uint64_t>(info.st_dev);
  id.file = static_cast<uint64_t>(info.st_ino);
  return id;
}

// True when /proc/locks lists an exclusive flock on the file `id`: how a
// FIFO's or a device's writer is seen without opening it (an open would
// join its readers or writers).
bool ExclusivelyLocked(const FileId& id) {
  std::FILE* locks = std::fopen("/proc/locks", "r");
  if (locks == nullptr) return false;
  char line[256];
  bool held = false;
  while (!held && std::fgets(line, sizeof line, locks) != nullptr) {
    char kind[16] = {}, mode[16] = {};
    unsigned major = 0, minor = 0;
    unsigned long long inode = 0;
    // "1: FLOCK  ADVISORY  WRITE 1234 00:0d:56789 0 EOF"; waiters ("->") do not hold.
    if (std::sscanf(line, "%*d: %15s %*s %15s %*d %x:%x:%llu", kind, mode, &major, &minor,
                    &inode) == 5 &&
        std::strcmp(kind, "FLOCK") == 0 && std::strcmp(mode, "WRITE") == 0 &&
        inode == id.file && makedev(major, minor) == id.device) {
      held = true;
    }
  }
  std::fclose(locks);
  return held;
}
#endif

}  // namespace

#ifdef _WIN32
FileId IdOfPath(const std::string& path) {
  const HANDLE file =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileId{};
  const FileId id = IdOfHandle(file);
  CloseHandle(file);
  return id;
}

FileId IdOfDescriptor(int fd) { return IdOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(fd))); }

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

#else
FileId IdOfPath(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? IdOfStat(info) : FileId{};
}

FileId IdOfDescriptor(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 ? IdOfStat(info) : FileId{};
}

// The writer holds its output with an exclusive lock, a conversion (or a
// recording) its input with a shared one: either keeps this exclusive one
// out. Anything but a regular file is looked up among the locks instead.
bool OutputInUse(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) return ExclusivelyLocked(IdOfStat(info));
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);  // lets go of the lock, if it was had
  return taken;
}

#endif

FileId IdOfInput(const std::string& input) {
  return input == "-" ? IdOfDescriptor(STDIN_FILENO) : IdOfPath(input);
}

bool SameFile(const std::string& a, const std::string& b) { return IdOfPath(a) == IdOfPath(b); }

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
#ifdef ELOOP
  // A symlink loop: no file can be made there either.
  if (errno == ELOOP) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
  }
#endif
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

std::string OutputInWords(const std::string& shown) {
  return shown == "-" ? std::string("standard output") : "'" + shown + "'";
}

std::string InUseMessage(const std::string& shown) {
  return OutputInWords(shown) +
         " is in use by another program (being written, or read by a conversion); it was left "
         "as it is";
}

namespace {

// -n: a regular file that exists is refused; a new one is made here,
// exclusively (where a symlink points nowhere, its target), so that of two
// programs asking for the same new name one gets it. Anything else (a FIFO,
// a device) is a stream and taken as it is.
OutputRefusal ClaimNewOutput(const std::string& opened, const std::string& shown) {
  const std::string exists = "'" + shown + "' exists (--no-overwrite); it was left as it is";
  struct stat info;
  if (::stat(opened.c_str(), &info) == 0) {
    return S_ISREG(info.st_mode) ? OutputRefusal{kExitOutput, exists} : OutputRefusal{};
  }
#ifdef _WIN32
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY;
#else
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
#endif
  const int fd = ::open(WhereMade(opened).c_str(), flags, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return {kExitOutput, exists};
    return {kExitOutput, "cannot write '" + shown + "': " + std::strerror(errno)};
  }
  ::close(fd);  // the writer opens it again, and finds it empty
  OutputRefusal made;
  made.made = true;
  return made;
}

}  // namespace

OutputRefusal CheckOutput(const std::string& opened, const std::string& shown,
                          const std::vector<std::string>& inputs, Overwrite overwrite,
                          OutputKind kind) {
  const FileId output = IdOfPath(opened);
  for (const std::string& input : inputs) {
    if (output == IdOfInput(input)) {
      return {kExitUsage, "OUTPUT '" + shown + "' would overwrite INPUT " +
                              (input == "-" ? std::string("(standard input)") : "'" + input + "'")};
    }
  }
  std::string error;
  if (!CheckOutputWritable(opened, error)) return {kExitOutput, error};
  if (OutputInUse(opened)) return {kExitOutput, InUseMessage(shown)};
  if (overwrite == Overwrite::kNever) return ClaimNewOutput(opened, shown);
  if (overwrite == Overwrite::kSameKind) {
    std::string foreign = ForeignOutput(opened, shown, kind);
    if (!foreign.empty()) return {kExitOutput, std::move(foreign)};
  }
  return {};
}

namespace {

// Standard output's descriptor, written front to back: where the file sink
// cannot open it by a name.
class DescriptorSink final : public asf::ByteSink {
 public:
  asf::Status Write(const uint8_t* data, size_t size) override {
    if (asf::Failed(failed_)) return failed_;
    while (size > 0) {
      const auto n = ::write(STDOUT_FILENO, data, static_cast<unsigned>(std::min<size_t>(size, 1u << 30)));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed_ = errno == EPIPE ? asf::kBrokenPipe
                  : errno == ENOSPC || errno == EFBIG ? asf::kDiskFull
                                                      : asf::kWriteFault;
        return failed_;
      }
      data += n;
      size -= static_cast<size_t>(n);
      size_ += static_cast<uint64_t>(n);
    }
    return asf::kOk;
  }
  asf::Status WriteAt(uint64_t, const uint8_t*, size_t) override { return asf::kNotSeekable; }
  uint64_t Size() const override { return size_; }
  asf::Status Flush() override { return failed_; }
  bool seekable() const override { return false; }

 private:
  asf::Status failed_ = asf::kOk;
  uint64_t size_ = 0;
};

// The library's file sink over `name`, or for an empty name standard
// output's descriptor, written front to back.
std::unique_ptr<asf::ByteSink> OpenStreamOutput(const std::string& name, asf::Status* error) {
  if (!name.empty()) return asf::OpenFileSink(name, error);
  SetBinaryMode(STDOUT_FILENO);
  return std::make_unique<DescriptorSink>();
}

}  // namespace

OutputRefusal WriteFailure(const std::string& shown, asf::Status status) {
  if (status == asf::kSharingViolation) return {kExitOutput, InUseMessage(shown)};
  return {kExitOutput, "cannot write " + OutputInWords(shown) + ": " + DescribeCode(status.code())};
}

std::unique_ptr<asf::ByteSink> OpenCheckedOutput(const std::string& output,
                                                 const std::vector<std::string>& inputs,
                                                 Overwrite overwrite, OutputRefusal& refused,
                                                 OutputKind kind) {
  std::string opened = output;
  if (output == "-") {
    std::string error;
    const int code = StandardOutput(true, opened, error);
    if (code != kExitOk) {
      refused = {code, error};
      return nullptr;
    }
    if (!opened.empty()) {
      refused = CheckOutput(opened, output, inputs, Overwrite::kAlways, OutputKind::kStream);
      if (refused.code != kExitOk) return nullptr;
    }
  } else {
    refused = CheckOutput(opened, output, inputs, overwrite, kind);
    if (refused.code != kExitOk) return nullptr;
  }
  asf::Status status = asf::kFailed;
  std::unique_ptr<asf::ByteSink> sink = OpenStreamOutput(opened, &status);
  if (sink == nullptr) refused = WriteFailure(output, status);
  return sink;
}

}  // namespace kestrum_cli
