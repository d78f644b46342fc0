#include "io/output_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "asf_format/reader.h"
#include "frame/cli.h"
#include "stream_format/file_header.h"
#include "stream_format/layout.h"

namespace kestrum_cli {

namespace {

// What a regular file holds, told by its first bytes.
enum class Holds { kAsf, kStream, kJson, kProgress, kOther };

Holds WhatItHolds(const uint8_t* first, size_t got) {
  if (got >= 16 && kestrum::asf::IsAsfHeader(first)) return Holds::kAsf;
  if (got >= stream_format::kFileHeaderSize &&
      stream_format::DecodeFileHeader(first).accepted()) {
    return Holds::kStream;
  }
  if (got >= 6 && std::memcmp(first, "frame=", 6) == 0) return Holds::kProgress;
  for (size_t i = 0; i < got; ++i) {
    if (first[i] == ' ' || first[i] == '\t' || first[i] == '\r' || first[i] == '\n') continue;
    return first[i] == '{' ? Holds::kJson : Holds::kOther;
  }
  return Holds::kOther;
}

// The first bytes of the file at `path` (at most `size`); -1 with errno
// set when it cannot be read.
ssize_t ReadFirst(const std::string& path, uint8_t* first, size_t size) {
#ifdef _WIN32
  const int fd = ::open(path.c_str(), O_RDONLY | kOpenBinary);
#else
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
  if (fd < 0) return -1;
  size_t got = 0;
  while (got < size) {
    const auto n = ::read(fd, first + got, static_cast<unsigned>(size - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  const int error = errno;
  ::close(fd);
  errno = error;
  return static_cast<ssize_t>(got);
}

// "holds a stream", as a message names what a file of `size` bytes holds.
std::string Named(Holds holds, int64_t size) {
  switch (holds) {
    case Holds::kAsf:
      return "is an ASF file";
    case Holds::kStream:
      return "holds a stream";
    case Holds::kJson:
      return "holds a JSON text";
    case Holds::kProgress:
      return "holds a progress report";
    case Holds::kOther:
      break;
  }
  return "holds " + std::to_string(size) + " bytes of something else";
}

}  // namespace

std::string ForeignOutput(const std::string& opened, const std::string& shown, OutputKind kind) {
  struct stat info;
  if (::stat(opened.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size == 0) {
    return "";
  }
  uint8_t first[stream_format::kFileHeaderSize] = {};
  const ssize_t got = ReadFirst(opened, first, sizeof first);
  const std::string keep = "; it was left as it is (give -y to overwrite it)";
  if (got < 0) {
    return "'" + shown + "' cannot be read to tell what it holds (" + std::strerror(errno) + ")" +
           keep;
  }
  const Holds holds = WhatItHolds(first, static_cast<size_t>(got));
  switch (kind) {
    case OutputKind::kAsf:
      if (holds == Holds::kAsf) return "";
      return "'" + shown + "' " + Named(holds, info.st_size) + ", not an ASF file" + keep;
    case OutputKind::kStream:
      if (holds != Holds::kAsf) return "";
      return "'" + shown + "' is an ASF file, not a stream" + keep;
    case OutputKind::kReport:
      if (holds == Holds::kJson) return "";
      return "'" + shown + "' " + Named(holds, info.st_size) + ", not a report" + keep;
    case OutputKind::kProgress:
      if (holds == Holds::kProgress) return "";
      return "'" + shown + "' " + Named(holds, info.st_size) + ", not a progress report" + keep;
  }
  return "";
}

Overwrite OverwriteOf(const Args& args) {
  if (args.Has(kNoOverwriteOption.name)) return Overwrite::kNever;
  return args.Has(kOverwriteOption.name) ? Overwrite::kAlways : Overwrite::kSameKind;
}

std::string OverwriteConflict(const Args& args) {
  if (args.Has(kNoOverwriteOption.name) && args.Has(kOverwriteOption.name)) {
    return "-n/--no-overwrite and -y/--overwrite exclude each other";
  }
  return "";
}

}  // namespace kestrum_cli
