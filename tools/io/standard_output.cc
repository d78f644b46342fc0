#include "io/standard_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "frame/cli.h"

#ifdef _WIN32
#include <io.h>
#else
#include <poll.h>
#endif

namespace kestrum_cli {

#ifdef _WIN32
int StandardOutput(bool descriptor_ok, std::string& name, std::string& error) {
  if (StandardOutputIsTerminal(error)) return kExitUsage;
  name.clear();
  if (descriptor_ok) return kExitOk;
  error = "writing to standard output ('-') is not supported on Windows";
  return kExitUsage;
}

void EndStandardOutput() {}

void KeepStandardDescriptorsOpen() {}
bool StandardOutputWasClosed() { return false; }
#else
namespace {
bool g_stdout_closed = false;  // at the start, KeepStandardDescriptorsOpen found it so
}  // namespace

bool StandardOutputWasClosed() { return g_stdout_closed; }

void KeepStandardDescriptorsOpen() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) g_stdout_closed = true;
    int ends[2];
    if (::pipe(ends) != 0) return;
    // Reads of standard input find its end; writes to the others fail.
    const int keep = fd == STDIN_FILENO ? ends[0] : ends[1];
    const int other = fd == STDIN_FILENO ? ends[1] : ends[0];
    if (keep != fd) {
      ::dup2(keep, fd);  // also closes `other` when it got this number
      ::close(keep);
    }
    if (other != fd) ::close(other);
  }
}

int StandardOutput(bool descriptor_ok, std::string& name, std::string& error) {
  if (StandardOutputIsTerminal(error)) return kExitUsage;
  const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
  struct stat info;
  if (g_stdout_closed || flags < 0 || ::fstat(STDOUT_FILENO, &info) != 0) {
    error = "standard output is closed: nothing was written";
    return kExitOutput;
  }
  const char* why = "; an output must begin its file, and what the file holds is not cut away: "
                    "nothing was written";
  if ((flags & O_APPEND) != 0) {
    error = std::string("standard output is opened for appending ('>>')") + why;
    return kExitOutput;
  }
  if (S_ISREG(info.st_mode)) {
    const off_t at = ::lseek(STDOUT_FILENO, 0, SEEK_CUR);
    const uint64_t held = static_cast<uint64_t>(std::max<off_t>(info.st_size, at > 0 ? at : 0));
    if (held > 0) {
      error = "standard output is a file that holds " + std::to_string(held) + " bytes" + why;
      return kExitOutput;
    }
  }
  if (S_ISSOCK(info.st_mode)) {
    // A socket cannot be opened again by a name.
    if (descriptor_ok) {
      name.clear();
      return kExitOk;
    }
    error = "standard output is a socket, which the library cannot open: pipe it through cat";
    return kExitOutput;
  }
  // A new open of the same file or pipe: locked for this writer alone, as
  // any output is.
  name = "/dev/stdout";
  return kExitOk;
}

void EndStandardOutput() {
  struct stat info;
  if (::fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode)) {
    (void)::lseek(STDOUT_FILENO, 0, SEEK_END);
  }
}
#endif

bool StandardOutputIsTerminal(std::string& error) {
  if (::isatty(STDOUT_FILENO) == 0) return false;
  error = "standard output is a terminal: redirect it to a file or a pipe";
  return true;
}

namespace {
// Whether standard output is a pipe whose reader went away (for a failed
// write whose cause was not kept).
bool ReaderGone() {
#ifdef _WIN32
  return false;
#else
  pollfd out{STDOUT_FILENO, POLLOUT, 0};
  return ::poll(&out, 1, 0) == 1 && (out.revents & POLLERR) != 0;
#endif
}

bool g_stdout_failure_told = false;
int g_stdout_error = 0;  // the cause of the first failed FlushStandardOutput
}  // namespace

void FlushStandardOutput() {
  if (std::fflush(stdout) != 0 && g_stdout_error == 0) g_stdout_error = errno;
}

int StandardOutputFailed(const std::string& command) {
  return StandardOutputFailed(command, errno);
}

int StandardOutputFailed(const std::string& command, int error, bool data) {
  if (error == 0 && ReaderGone()) error = EPIPE;
  const bool closed = StandardOutputWasClosed() || error == EBADF;
  const bool reader_gone = !closed && error == EPIPE;
  // A reader of a report that went away (`| head`) wanted no more.
  if (reader_gone && !data) return kExitOk;
  if (g_stdout_failure_told) return kExitOutput;
  g_stdout_failure_told = true;
  const std::string why = closed        ? "it is closed"
                          : reader_gone ? "its reader went away (broken pipe)"
                          : error != 0  ? std::strerror(error)
                                        : "a write failed";
  return Fail(command, kExitOutput, "cannot write the standard output: " + why);
}

int FinishStandardOutput(const std::string& command, int code) {
  // A write that failed earlier leaves the stream's error set (and may have
  // dropped what it held): its cause is the flush's, or an earlier one's.
  bool failed = std::ferror(stdout) != 0;
  int error = 0;
  if (std::fflush(stdout) != 0) failed = true, error = errno;
  if (failed && error == 0) error = g_stdout_error != 0 ? g_stdout_error : ReaderGone() ? EPIPE : 0;
  if (std::fclose(stdout) != 0 && !failed) failed = true, error = errno;
  if (!failed) return code;
  const int told = StandardOutputFailed(command, error);
  return code == kExitOk ? told : code;
}

}  // namespace kestrum_cli
