#include "io/input_file.h"

#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/file.h>
#endif

#include <fcntl.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "asf_format/reader.h"
#include "frame/cli.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace kestrum_cli {

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
    error = ShortHeaderMessage(path, got);
    return kExitNotStream;
  }
  return kExitOk;
}

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

bool IsFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FolderInputMessage(const std::string& path) {
  return "cannot read '" + path + "': it is a folder";
}

InputFile::InputFile(const std::string& path) : path_(path) {
  if (path != "-" && IsFolder(path)) {
    folder_ = true;
    return;
  }
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
  if (folder_) return FolderInputMessage(path_);
  if (written_) {
    return "cannot read '" + path_ + "': another program is writing it; it was left as it is";
  }
  return "cannot open '" + path_ + "': " + std::strerror(error_);
}

std::string TemporaryFolder() {
  const char* tmpdir = std::getenv("TMPDIR");
  return tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
}

int MakeTemporaryFile(std::string& error) {
#ifdef _WIN32
  error = "it can be read only from a file";
  return -1;
#else
  const std::string folder = TemporaryFolder();
  std::string name = folder + "/kestrum-XXXXXX";
  const int made = ::mkostemp(name.data(), O_CLOEXEC);
  if (made < 0) {
    error = "cannot make a temporary file in '" + folder + "': " + std::strerror(errno);
    return -1;
  }
  ::unlink(name.c_str());
  return made;
#endif
}

int HoldInTemporaryFile(const uint8_t* prefix, size_t size, int fd, std::string& error) {
#ifdef _WIN32
  (void)prefix;
  (void)size;
  (void)fd;
  error = "it can be read only from a file";
  return -1;
#else
  const std::string folder = TemporaryFolder();
  const int held = MakeTemporaryFile(error);
  if (held < 0) return -1;
  const auto failed = [&](const std::string& why) {
    error = why;
    ::close(held);
    return -1;
  };
  const auto put = [held](const uint8_t* data, size_t n) {
    while (n > 0) {
      const ssize_t done = ::write(held, data, n);
      if (done < 0 && errno == EINTR) continue;
      if (done <= 0) return false;
      data += done;
      n -= static_cast<size_t>(done);
    }
    return true;
  };
  const auto no_room = [&] {
    return failed("cannot hold it in a temporary file in '" + folder + "': " + std::strerror(errno));
  };
  if (!put(prefix, size)) return no_room();
  std::vector<uint8_t> buffer(size_t{1} << 16);
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failed(std::string("cannot read it: ") + std::strerror(errno));
    if (n == 0) break;
    if (!put(buffer.data(), static_cast<size_t>(n))) return no_room();
  }
  if (::lseek(held, 0, SEEK_SET) != 0) return no_room();
  return held;
#endif
}

int64_t FileSize(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

std::string ShortHeaderMessage(const std::string& input, std::optional<size_t> held) {
  return "'" + input +
         "' is not a stream: " + (held ? std::to_string(*held) + " bytes, " : std::string()) +
         "fewer than its 40-byte header";
}

std::string RefusedHeaderMessage(const std::string& input, const uint8_t (&header)[40],
                                 const kestrum::stream_format::DecodedHeader& decoded) {
  if (kestrum::asf::IsAsfHeader(header)) {
    return "'" + input +
           "' is an ASF file, not a stream: 'kestrum extract' gives back the stream a "
           "recording holds";
  }
  return "'" + input + "' is not a stream: its header is refused: " +
         kestrum::stream_format::RefusalText(decoded);
}

std::string CutShorterMessage(const std::string& input) {
  return "'" + input + "' was cut shorter while it was read (another program truncated it)";
}

}  // namespace kestrum_cli
