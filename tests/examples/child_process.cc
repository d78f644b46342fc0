#include "examples/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "support/probe.h"

extern char** environ;

namespace kestrum::testing {

namespace {

int g_counter = 0;

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  out_path_ =
      TestDirectory("child." + std::to_string(::getpid()) + "." + std::to_string(g_counter++)) +
      "/stdout";
  int err_pipe[2];
  if (::pipe(err_pipe) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string in_path = out_path_.substr(0, out_path_.size() - 6) + "stdin";  // empty
  std::ofstream(in_path, std::ios::binary);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  posix_spawn_file_actions_addclose(&actions, err_pipe[0]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    pid_ = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(err_pipe[1]);
  err_fd_ = err_pipe[0];
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    Wait();
  }
  if (err_fd_ >= 0) ::close(err_fd_);
}

bool ChildProcess::ReadSome() {
  if (err_fd_ < 0) return false;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(err_fd_, buffer, sizeof buffer);
    if (n > 0) {
      err_.append(buffer, static_cast<size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    ::close(err_fd_);
    err_fd_ = -1;
    return false;
  }
}

bool ChildProcess::WaitForErrorLine(const std::string& line, int count) {
  for (;;) {
    size_t end = 0;
    while ((end = err_.find('\n', scanned_)) != std::string::npos) {
      if (err_.compare(scanned_, end - scanned_, line) == 0) ++seen_;
      scanned_ = end + 1;
    }
    if (seen_ >= count) return true;
    if (!ReadSome()) return false;
  }
}

int ChildProcess::Wait() {
  while (ReadSome()) {
  }
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  std::ifstream in(out_path_, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  out_ = text.str();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kestrum::testing
