#include "io/stream_relay.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "asf_format/status.h"

namespace kestrum_cli {

#ifdef _WIN32

StreamRelay::~StreamRelay() = default;

void StreamRelay::Remove() {}

bool StreamRelay::Make(std::string& error) {
  error = "reading a stream that is not a regular file needs FIFOs, which this system lacks";
  return false;
}

int32_t StreamRelay::Run(const uint8_t*, const NextPiece&, const std::function<int32_t()>&,
                         volatile std::sig_atomic_t*) {
  return 0;
}

#else

namespace {

constexpr int kPollMs = 50;

// Interrupts a read blocked in the relay's thread; does nothing else.
void Wake(int) {}

// What a conversion that cannot be relayed for want of descriptors returns.
constexpr int32_t kTooManyOpenFiles = static_cast<int32_t>(kestrum::asf::kTooManyOpenFiles.code());

// Whether both ends of the FIFO can be opened: with one descriptor free, the
// packet source would take it and wait in its open for a writer that never
// comes.
bool TwoDescriptorsFree() {
  const int first = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  const int second = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0);
  const bool free = first >= 0 && second >= 0;
  if (first >= 0) ::close(first);
  if (second >= 0) ::close(second);
  return free;
}

// Writes all `size` bytes into the FIFO, waiting for room, until `stop`.
// False when the reader went away or stopped reading.
bool WriteAll(int fd, const uint8_t* data, size_t size, const std::atomic<bool>& stop) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;  // EPIPE: the reader is gone
    if (stop) return false;
    pollfd p{fd, POLLOUT, 0};
    (void)::poll(&p, 1, kPollMs);
  }
  return true;
}

}  // namespace

StreamRelay::~StreamRelay() { Remove(); }

void StreamRelay::Remove() {
  if (!path_.empty()) ::unlink(path_.c_str());
  if (!folder_.empty()) ::rmdir(folder_.c_str());
  path_.clear();
  folder_.clear();
}

bool StreamRelay::Make(std::string& error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kestrum-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a folder for the stream's FIFO in '" + pattern.substr(0, pattern.size() - 15) +
            "': " + std::strerror(errno);
    return false;
  }
  folder_ = pattern;
  if (::mkfifo((folder_ + "/stream").c_str(), 0600) != 0) {
    error = "cannot make the stream's FIFO in '" + folder_ + "': " + std::strerror(errno);
    Remove();
    return false;
  }
  path_ = folder_ + "/stream";
  return true;
}

int32_t StreamRelay::Run(const uint8_t* header, const NextPiece& next,
                         const std::function<int32_t()>& convert, volatile std::sig_atomic_t* stop_flag) {
  std::string error;
  if (path_.empty() && !Make(error)) return 0;  // the packet source could not open it
  if (!TwoDescriptorsFree()) return kTooManyOpenFiles;
  const std::string fifo = path_, folder = folder_;
  std::atomic<bool> removed{false};
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  *stop_flag = 0;
  struct sigaction wake {}, previous {};
  wake.sa_handler = Wake;
  sigemptyset(&wake.sa_mask);
  wake.sa_flags = 0;  // no restart: a blocked read returns
  ::sigaction(SIGUSR1, &wake, &previous);
  const auto write = [&] {
    // A reader that goes away gives EPIPE here, not the signal.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    int fd = -1;
    // Opening without waiting fails until the packet source has the FIFO open.
    while (!stop && (fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
           errno == ENXIO) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (fd >= 0) {
      // Both ends are open: the name is not needed any more, and nothing is
      // left behind if the program is killed.
      ::unlink(fifo.c_str());
      ::rmdir(folder.c_str());
      removed = true;
      bool ok = WriteAll(fd, header, 40, stop);
      const uint8_t* data = nullptr;
      size_t size = 0;
      while (ok && !stop && next(data, size)) ok = WriteAll(fd, data, size, stop);
      ::close(fd);
    }
    done = true;
  };
  std::thread writer;
  try {
    writer = std::thread(write);
  } catch (const std::system_error&) {
    // No thread to be had (out of memory): nothing can be relayed.
    ::sigaction(SIGUSR1, &previous, nullptr);
    return 0;
  }
  const int32_t result = convert();
  stop = true;
  *stop_flag = 1;
  while (!done) {
    pthread_kill(writer.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  writer.join();
  if (removed) {
    path_.clear();
    folder_.clear();
  }
  ::sigaction(SIGUSR1, &previous, nullptr);
  return result;
}

#endif

}  // namespace kestrum_cli
