#include "commands/batch_convert.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "frame/cli.h"
#include "commands/convert_one.h"
#include "frame/escape.h"
#include "frame/log_level.h"
#include "io/standard_output.h"
#include "report/json_output.h"
#include "io/output_path.h"
#include "io/stop_signals.h"

namespace kestrum_cli {

namespace fs = std::filesystem;

namespace {

// A folder's entry that stands for a stream to convert.
bool IsCandidate(const fs::directory_entry& entry) {
  const std::string name = entry.path().filename().string();
  if (name.empty() || name[0] == '.') return false;
  std::string extension = entry.path().extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".asf") return false;  // earlier outputs in the same folder
  std::error_code error;
  return entry.is_regular_file(error);
}

bool ListFolder(const std::string& folder, std::vector<std::string>& files, std::string& error) {
  std::error_code ec;
  std::vector<std::string> found;
  fs::directory_iterator it(folder, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (IsCandidate(*it)) found.push_back(it->path().string());
  }
  if (ec) {
    error = "cannot read the folder '" + folder + "': " + ec.message();
    return false;
  }
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

#ifndef _WIN32
void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

struct Child {
  size_t index = 0;
  pid_t pid = -1;
  int fd = -1;
  std::string report;
};

// Forks a child that converts `job` and reports through a pipe. The child
// never returns.
bool StartChild(const BatchJob& job, size_t index, const ConvertOptions& options, Child& child,
                std::string& error) {
  int fds[2];
  if (::pipe(fds) != 0) {
    error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  std::fflush(nullptr);  // nothing buffered may be written twice
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("cannot start a process: ") + std::strerror(errno);
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (pid == 0) {
    ::close(fds[0]);
    const ConvertOutcome outcome = ForBatch(ConvertOne(job.input, job.output, options), job.output);
    WriteAll(fds[1], EncodeOutcome(outcome));
    std::fflush(nullptr);
    ::_exit(outcome.code);
  }
  ::close(fds[1]);
  child.index = index;
  child.pid = pid;
  child.fd = fds[0];
  child.report.clear();
  return true;
}

// Waits for a child whose pipe has closed and works out its outcome.
ConvertOutcome FinishChild(Child& child) {
  ::close(child.fd);
  int status = 0;
  while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
  }
  ConvertOutcome outcome;
  if (WIFSIGNALED(status)) {
    outcome.code = kExitFailure;
    outcome.message = "the conversion process was killed by signal " +
                      std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  } else if (!DecodeOutcome(child.report, outcome)) {
    outcome = ConvertOutcome{};
    outcome.code = kExitFailure;
    outcome.message = "the conversion process ended (status " +
                      std::to_string(WEXITSTATUS(status)) + ") without a report";
  }
  return outcome;
}
#endif  // !_WIN32

}  // namespace

bool PlanBatch(const std::vector<std::string>& inputs, const std::string& output_dir,
               std::vector<BatchJob>& jobs, std::string& error) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    // Anything but a folder is a file to convert; one that is missing fails
    // as its own conversion, not the batch.
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      if (!ListFolder(input, files, error)) return false;
    } else {
      files.push_back(input);
    }
  }
  if (files.empty()) {
    error = "no stream to convert in the folders given";
    return false;
  }
  jobs.clear();
  std::map<std::string, std::string> written_by;  // output -> input
  for (const std::string& file : files) {
    const std::string output =
        (fs::path(output_dir) / (fs::path(file).stem().string() + ".asf")).string();
    const auto [it, added] = written_by.emplace(output, file);
    if (!added) {
      error = "'" + it->second + "' and '" + file + "' would both be written to '" + output + "'";
      return false;
    }
    jobs.push_back(BatchJob{file, output});
  }
  // No conversion may write over a stream another one reads (a link, or an
  // earlier output given as an input; standard input too), nor over the
  // output of another (two names of one file).
  std::vector<FileId> read;
  for (const std::string& file : files) read.push_back(IdOfInput(file));
  for (size_t j = 0; j < jobs.size(); ++j) {
    const FileId output = IdOfPath(jobs[j].output);
    if (!output.known) continue;
    for (size_t i = 0; i < files.size(); ++i) {
      if (output == read[i]) {
        error = "'" + jobs[j].output + "' would overwrite the input '" + files[i] + "'";
        return false;
      }
    }
    for (size_t k = 0; k < j; ++k) {
      if (output == IdOfPath(jobs[k].output)) {
        error = "'" + jobs[k].output + "' and '" + jobs[j].output +
                "' are one file: both conversions would write it";
        return false;
      }
    }
  }
  return true;
}

namespace {

// One batch, in the order its steps run: RunHere (on Windows) or
// RunInChildren, then Summary. Each conversion is told as it ends.
class Batch {
 public:
  Batch(const std::vector<BatchJob>& jobs, const ConvertOptions& options,
        std::vector<ConvertOutcome>& outcomes)
      : jobs_(jobs), options_(options), outcomes_(outcomes) {
    ConvertOutcome not_begun;
    not_begun.code = kNotBegun;
    outcomes_.assign(jobs_.size(), not_begun);
  }

#ifdef _WIN32
  // Windows has no fork: the conversions run one after another in this
  // process (each gives the library's conversion instance back when it
  // ends), and one that brings the process down ends the batch.
  void RunHere() {
    for (size_t index = 0; index < jobs_.size(); ++index) {
      outcomes_[index] = ForBatch(ConvertOne(jobs_[index].input, jobs_[index].output, options_),
                                  jobs_[index].output);
      Tell(index);
    }
  }
#else
  // At most `parallel` children at once. A signal (Ctrl-C reaches every
  // conversion of the process group, each of which ends its file) starts no
  // further conversion; those running are waited for. False when the
  // children cannot be waited for.
  bool RunInChildren(unsigned parallel) {
    std::vector<Child> running;
    size_t next = 0;
    while (done_ < jobs_.size() && !(StopOnSignals::signal() != 0 && running.empty())) {
      StartDue(running, next, parallel);
      if (running.empty()) continue;
      if (!Collect(running)) return false;
    }
    return true;
  }
#endif

  // "converted 2 of 3 streams; 1 failed:" and a line each failure, in
  // input order. The exit code: 128 + a signal that stopped the batch,
  // else kExitFailure when any failed.
  int Summary() const;

 private:
#ifndef _WIN32
  // Starts children while fewer than `parallel` run and jobs are left.
  void StartDue(std::vector<Child>& running, size_t& next, unsigned parallel);
  // Waits for what the children write; a child whose pipe closed is
  // finished and told. False when waiting failed.
  bool Collect(std::vector<Child>& running);
#endif
  // The line of the conversion `index`, as it ended: "[2/3] converted ..."
  // on stdout, "[2/3] FAILED ..." on stderr.
  void Tell(size_t index);
  static bool Failure(const ConvertOutcome& o) { return o.code != kExitOk && o.code != kNotBegun; }

  const std::vector<BatchJob>& jobs_;
  const ConvertOptions& options_;
  std::vector<ConvertOutcome>& outcomes_;
  size_t done_ = 0;
};

void Batch::Tell(size_t index) {
  ++done_;
  const ConvertOutcome& outcome = outcomes_[index];
  char counter[48];
  std::snprintf(counter, sizeof counter, "[%zu/%zu] ", done_, jobs_.size());
  if (outcome.code == kExitOk) {
    if (LogShows(LogLevel::kInfo)) {
      std::printf(
          "%s%s\n", counter,
          Escaped(DescribeConverted(jobs_[index].input, jobs_[index].output, outcome)).c_str());
      FlushStandardOutput();
    }
    // What was lost without failing the conversion.
    if (!outcome.message.empty() && LogShows(LogLevel::kWarning)) {
      std::fprintf(stderr, "%s%s: %s\n", counter, Escaped(jobs_[index].input).c_str(),
                   Escaped(outcome.message).c_str());
    }
  } else if (LogShows(LogLevel::kError)) {
    std::fprintf(stderr, "%sFAILED %s: %s\n", counter, Escaped(jobs_[index].input).c_str(),
                 Escaped(outcome.message).c_str());
  }
}

#ifndef _WIN32
void Batch::StartDue(std::vector<Child>& running, size_t& next, unsigned parallel) {
  while (running.size() < parallel && next < jobs_.size() && StopOnSignals::signal() == 0) {
    Child child;
    std::string error;
    const size_t index = next++;
    if (StartChild(jobs_[index], index, options_, child, error)) {
      running.push_back(child);
    } else {
      outcomes_[index].code = kExitFailure;
      outcomes_[index].message = error;
      Tell(index);
    }
  }
}

bool Batch::Collect(std::vector<Child>& running) {
  std::vector<pollfd> polled;
  for (const Child& child : running) polled.push_back(pollfd{child.fd, POLLIN, 0});
  if (::poll(polled.data(), polled.size(), -1) < 0) {
    if (errno == EINTR) return true;
    std::perror("kestrum convert: poll");
    return false;
  }
  for (size_t i = polled.size(); i-- > 0;) {
    if (polled[i].revents == 0) continue;
    Child& child = running[i];
    char buffer[4096];
    const ssize_t n = ::read(child.fd, buffer, sizeof buffer);
    if (n > 0) {
      child.report.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    outcomes_[child.index] = FinishChild(child);
    Tell(child.index);
    running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return true;
}
#endif

int Batch::Summary() const {
  const size_t total = jobs_.size();
  size_t failed = 0;
  for (const ConvertOutcome& outcome : outcomes_)
    failed += Failure(outcome) ? size_t{1} : size_t{0};
#ifndef _WIN32
  const int stop = StopOnSignals::signal();
#else
  const int stop = 0;
#endif
  const int code = stop != 0 ? 128 + stop : failed == 0 ? kExitOk : kExitFailure;
  if (!LogShows(LogLevel::kInfo)) return code;
  std::printf("converted %zu of %zu streams", done_ - failed, total);
  if (stop != 0 && done_ < total) {
    std::printf("; %s: %zu not begun", StoppedBy(stop).c_str(), total - done_);
  }
  if (failed == 0) {
    std::printf("\n");
    return code;
  }
  std::printf("; %zu failed:\n", failed);
  for (size_t i = 0; i < total; ++i) {
    if (Failure(outcomes_[i])) {
      std::printf("  %s: %s\n", Escaped(jobs_[i].input).c_str(),
                  Escaped(outcomes_[i].message).c_str());
    }
  }
  return code;
}

}  // namespace

int RunBatch(const std::vector<BatchJob>& jobs, unsigned parallel, const ConvertOptions& options,
             std::vector<ConvertOutcome>& outcomes) {
  Batch batch(jobs, options, outcomes);
#ifdef _WIN32
  (void)parallel;
  batch.RunHere();
#else
  const StopOnSignals signals;  // until the summary has read it
  if (!batch.RunInChildren(parallel)) return kExitFailure;
#endif
  return batch.Summary();
}

}  // namespace kestrum_cli
