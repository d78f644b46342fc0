// SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a terminal that went away) end
// the work in hand instead of the program, so that its file is ended: while
// a StopOnSignals lives, the first such signal is noted, a read that waits
// for input returns (no restart), and the hook given runs in the handler; a
// second signal ends the program at once, as if never caught.
#pragma once

#include <csignal>
#include <string>

namespace kestrum_cli {

class StopOnSignals {
 public:
  // `hook` runs in the signal handler, on any thread: it must be
  // async-signal-safe (set flags, nothing more).
  explicit StopOnSignals(void (*hook)() = nullptr);
  ~StopOnSignals();  // the handlers and hook from before come back
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // The first signal's number, or 0. Kept after the object is gone.
  static int signal() { return signal_; }
  // The same as a flag that a reader can watch (PieceReader::StopWhen).
  static const volatile std::sig_atomic_t* flag() { return &signal_; }

 private:
  static void OnSignal(int number);
  static volatile std::sig_atomic_t signal_;
  static void (*volatile hook_)();
  void (*previous_hook_)();
#ifdef _WIN32
  void (*previous_int_)(int);
  void (*previous_term_)(int);
#else
  struct sigaction previous_[3];
#endif
};

// "SIGINT", "SIGTERM", "SIGHUP", or "a signal".
const char* SignalName(int number);
// "stopped by SIGINT": how the line of work that a signal ended begins.
std::string StoppedBy(int number);
// "stopped by SIGINT: the recording was ended, 'OUT' holds what came
// before", for `work` "the recording" and `output` "'OUT'".
std::string EndedBySignal(int number, const std::string& work, const std::string& output);

// What the program never lets end it, set once at its start: SIGPIPE (a
// reader of standard error or of an output that went away is an error of
// that write, said in words), SIGXFSZ (a file size limit is a full disk:
// the file is cut back and ended). Elsewhere than POSIX, nothing.
void IgnoreFatalSignals();

}  // namespace kestrum_cli
