// The library's diagnostic lines as the program watches them: echoed with
// --verbose, and counted into what the commands report (the status line's
// frames and media time, what was lost, the writer's faults). The lines are
// matched by their names in diagnostics/lines.h, never retyped here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "asf_format/status.h"

namespace kestrum_cli {

// What the writer told of write faults on the diagnostic lines (its
// "writer : ..." lines, docs/diagnostics.md), and of the samples it refused
// while writing the file (which goes on without them).
struct WriteFaults {
  int outages = 0;              // faults met (outages begun)
  uint32_t first_code = 0;      // the first one's HRESULT (or the index's)
  uint64_t samples_lost = 0;    // over all outages
  double seconds_lost = 0;      // media time, over all outages
  bool no_index = false;        // the index did not fit
  bool writing_ended = false;   // a fault ended writing ("...; writing ends here")
  bool open = false;            // an outage has begun and not closed: samples are dropped
  uint64_t refused_too_large = 0;  // "writer : sample refused (sample over 16 MiB): ..."
  uint64_t refused_no_memory = 0;  // "... (out of memory): ..."
  uint64_t refused_other = 0;      // for another reason
  bool any() const { return outages > 0 || no_index; }
  uint64_t refused() const { return refused_too_large + refused_no_memory + refused_other; }
  // Writing ended because the output's reader went away (a pipe or FIFO).
  bool reader_gone() const {
    return writing_ended && first_code == kestrum::asf::kBrokenPipe.code();
  }
};

// What the live road dropped, as its diagnostic lines tell it
// (docs/diagnostics.md).
struct LiveLosses {
  uint64_t malformed = 0;     // "Splitter : process fails!": a malformed group in a piece
  uint64_t held_dropped = 0;  // "2--BR_FAIL" not followed by "Small left": held bytes dropped
  uint64_t overflowed = 0;    // the reassembly buffer filled: a group too long to end
  uint64_t too_large = 0;     // "processgroup : ... not written": a group over one sample
  uint64_t no_start = 0;      // "Splitter : Unknow Stream Type": groups that could not start
  // No line tells it: the bytes of a group that the input ended inside,
  // held when the recording stopped (the program follows the groups itself).
  uint64_t unfinished_bytes = 0;
  bool any() const {
    return malformed + held_dropped + overflowed + too_large + no_start + unfinished_bytes > 0;
  }
};

// While alive, watches the library's diagnostic lines: prints each on stderr
// (bytes other than printable ASCII escaped, escape.h) when
// `echo` is set, and keeps count of what the caller may need to know. One
// at a time in a process.
class DiagnosticWatch {
 public:
  explicit DiagnosticWatch(bool echo);
  ~DiagnosticWatch();
  DiagnosticWatch(const DiagnosticWatch&) = delete;
  DiagnosticWatch& operator=(const DiagnosticWatch&) = delete;

  const WriteFaults& faults() const { return faults_; }
  // "Not ready for Kestrum!" lines: data pieces dropped because the output
  // could not be prepared.
  uint64_t not_ready() const { return not_ready_; }
  // A last "2--BR_FAIL" that no line followed dropped what it held.
  LiveLosses live_losses() const {
    LiveLosses losses = live_;
    if (held_pending_) ++losses.held_dropped;
    return losses;
  }
  // Counts that may be read from another thread while the library writes:
  // groups handed to the packer ("enter processgroup"), samples written
  // ("!!!!Write Sample!!!!", 40 ms of media each; the live road's status
  // line) and the file road's packets (its "0" lines; the first is the
  // header: a conversion took its input).
  uint64_t groups() const { return groups_.load(std::memory_order_relaxed); }
  uint64_t samples() const { return samples_.load(std::memory_order_relaxed); }
  uint64_t packets() const { return packets_.load(std::memory_order_relaxed); }

  // One line, as the library wrote it. Throws nothing: it runs inside the
  // library's calls.
  void See(const char* line) noexcept;

 private:
  void Tally(const char* line);

  bool echo_;
  WriteFaults faults_;
  uint64_t not_ready_ = 0;
  LiveLosses live_;
  bool held_pending_ = false;  // a "2--BR_FAIL" whose outcome the next line tells
  std::atomic<uint64_t> groups_{0};
  std::atomic<uint64_t> samples_{0};
  std::atomic<uint64_t> packets_{0};
};

}  // namespace kestrum_cli
