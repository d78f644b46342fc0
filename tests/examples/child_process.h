// A program under test run as a child process: its standard output collected
// whole, its standard error readable line by line while it runs (to wait for
// something it reports), and its exit awaited.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestrum::testing {

class ChildProcess {
 public:
  // Starts `program` with `args`; standard input is an empty file. started() is
  // false when it could not be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();  // kills and reaps a child still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Reads standard error until a line equal to `line` has been seen `count`
  // times in all, or standard error ends. True when it was seen.
  bool WaitForErrorLine(const std::string& line, int count);

  // Waits for the child to end, reading the rest of its output. Returns its
  // exit code, or -1 when it ended by a signal.
  int Wait();

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // Reads what is available (blocking until something is, or the pipe ends).
  // False at the end of the pipe.
  bool ReadSome();

  pid_t pid_ = -1;
  int err_fd_ = -1;
  std::string out_path_;
  std::string out_;
  std::string err_;
  size_t scanned_ = 0;  // bytes of err_ already split into lines
  int seen_ = 0;
};

}  // namespace kestrum::testing
