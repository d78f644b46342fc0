#include "support/fuse_mount.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kestrum::testing {
namespace {

ssize_t ReadRequest(int fd, void* buffer, size_t size, void*) { return ::read(fd, buffer, size); }

ssize_t WriteReply(int fd, iovec* parts, int count, void*) { return ::writev(fd, parts, count); }

std::string Failure(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

FuseMount::FuseMount(const std::string& dir, const fuse_lowlevel_ops& operations, void* userdata,
                     const std::string& options, bool read_only, bool in_child)
    : mount_point_(dir + "/mnt") {
  ::umount2(mount_point_.c_str(), MNT_DETACH);
  std::error_code ec;
  std::filesystem::create_directories(mount_point_, ec);
  const std::string node = dir + "/fuse";
  ::unlink(node.c_str());
  if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(10, 229)) != 0) {
    why_not_ = Failure("cannot make a fuse device node");
    return;
  }
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) why_not_ = Failure("cannot open a fuse device node");
  ::unlink(node.c_str());
  if (fd < 0) return;
  const std::string mount_options = "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=" +
                                    std::to_string(::getuid()) + ",group_id=" +
                                    std::to_string(::getgid()) +
                                    (options.empty() ? "" : "," + options);
  if (::mount("kestrum-test", mount_point_.c_str(), "fuse",
              MS_NOSUID | MS_NODEV | (read_only ? MS_RDONLY : 0), mount_options.c_str()) != 0) {
    why_not_ = Failure("cannot mount a FUSE file system");
    ::close(fd);
    return;
  }
  char program[] = "kestrum-test";
  char* argv[] = {program, nullptr};
  fuse_args args = FUSE_ARGS_INIT(1, argv);
  fuse_session* session = fuse_session_new(&args, &operations, sizeof operations, userdata);
  fuse_opt_free_args(&args);  // the session keeps what it needs of them
  static const fuse_custom_io io = {WriteReply, ReadRequest, nullptr, nullptr};
  if (session == nullptr || fuse_session_custom_io(session, &io, fd) != 0 || ::pipe2(stop_, O_CLOEXEC) != 0) {
    why_not_ = "cannot start a FUSE session";
    if (session != nullptr) fuse_session_destroy(session);
    ::umount2(mount_point_.c_str(), MNT_DETACH);
    return;
  }
  session_ = session;
  if (!in_child) {
    thread_ = std::thread([this] { Serve(); });
    return;
  }
  child_ = ::fork();
  if (child_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    Serve();
    ::_exit(0);
  }
  if (child_ < 0) {
    why_not_ = Failure("cannot start the FUSE server");
    fuse_session_destroy(session_);
    session_ = nullptr;
    ::umount2(mount_point_.c_str(), MNT_DETACH);
  }
}

void FuseMount::Serve() {
  fuse_buf buffer{};
  for (;;) {
    pollfd wait[2] = {{fuse_session_fd(session_), POLLIN, 0}, {stop_[0], POLLIN, 0}};
    if (::poll(wait, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (wait[1].revents != 0) break;
    const int received = fuse_session_receive_buf(session_, &buffer);
    if (received == -EINTR || received == -EAGAIN || received == -ENOENT) continue;
    if (received <= 0) break;  // unmounted
    fuse_session_process_buf(session_, &buffer);
  }
  std::free(buffer.mem);
}

FuseMount::~FuseMount() {
  if (session_ == nullptr) return;
  ::umount2(mount_point_.c_str(), MNT_DETACH);
  if (child_ > 0) {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  } else {
    const char stop = 0;
    (void)::write(stop_[1], &stop, 1);
    thread_.join();
  }
  fuse_session_destroy(session_);  // closes the device: the connection ends
  ::close(stop_[0]);
  ::close(stop_[1]);
}

struct stat FuseAttributes(fuse_ino_t node, bool folder, uint64_t size) {
  struct stat attributes {};
  attributes.st_ino = node;
  attributes.st_mode = folder ? (S_IFDIR | 0755) : (S_IFREG | 0644);
  attributes.st_nlink = folder ? 2 : 1;
  attributes.st_size = static_cast<off_t>(size);
  attributes.st_blksize = 4096;
  attributes.st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
  attributes.st_uid = ::getuid();
  attributes.st_gid = ::getgid();
  return attributes;
}

}  // namespace kestrum::testing
