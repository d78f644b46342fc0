#include "io/stop_signals.h"

namespace kestrum_cli {

volatile std::sig_atomic_t StopOnSignals::signal_ = 0;
void (*volatile StopOnSignals::hook_)() = nullptr;

#ifndef _WIN32
namespace {
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
}  // namespace
#endif

void StopOnSignals::OnSignal(int number) {
  if (signal_ != 0) {  // a second one: at once, as if never caught
    std::signal(number, SIG_DFL);
    std::raise(number);
    return;
  }
  signal_ = number;
  void (*hook)() = hook_;
  if (hook != nullptr) hook();
}

StopOnSignals::StopOnSignals(void (*hook)()) : previous_hook_(hook_) {
  hook_ = hook;
#ifdef _WIN32
  previous_int_ = std::signal(SIGINT, OnSignal);
  previous_term_ = std::signal(SIGTERM, OnSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a read that waits returns
  for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
#endif
}

StopOnSignals::~StopOnSignals() {
#ifdef _WIN32
  std::signal(SIGINT, previous_int_);
  std::signal(SIGTERM, previous_term_);
#else
  for (size_t i = 0; i < 3; ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
#endif
  hook_ = previous_hook_;
}

const char* SignalName(int number) {
  switch (number) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
      return "SIGHUP";
#endif
    default:
      return "a signal";
  }
}

std::string StoppedBy(int number) { return std::string("stopped by ") + SignalName(number); }

std::string EndedBySignal(int number, const std::string& work, const std::string& output) {
  return StoppedBy(number) + ": " + work + " was ended, " + output + " holds what came before";
}

void IgnoreFatalSignals() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

}  // namespace kestrum_cli
