// kestrum record's parts: what its command line asks for (RecordRequest)
// and one recording run in named steps (Recording). record.cc reads the
// command line; recording.cc opens the input and begins the recording;
// recording_series.cc cuts a series into files; recording_report.cc ends it
// and tells how it went.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "frame/cli.h"
#include "io/group_follower.h"
#include "io/input_file.h"
#include "io/output_kind.h"
#include "io/output_path.h"
#include "io/pace.h"
#include "io/piece_reader.h"
#include "io/piece_sender.h"
#include "io/retention.h"
#include "io/segments.h"
#include "io/stop_signals.h"
#include "kestrum.h"
#include "report/diagnostic_watch.h"
#include "report/json_document.h"
#include "report/progress.h"
#include "stream_format/file_header.h"

namespace kestrum_cli {

inline constexpr char kRecordCommand[] = "record";
inline constexpr size_t kDefaultPieceSize = 4096;
// Names made from one time: the variants tried, -1 to -N, before giving up.
inline constexpr uint64_t kMaxVariant = 9999;

// What the command line asks for.
struct RecordRequest {
  std::string input;
  std::string output;
  size_t piece_size = kDefaultPieceSize;  // 0: one whole group per piece
  bool segmented = false;                 // --segment-time: a series of files
  bool realtime = false;                  // -re: each group at its frame time
  bool at_clock_time = false;             // --segment-atclocktime
  uint64_t segment_ms = 0;
  OutputPattern pattern;  // segmented: the files' names
  bool verbose = false;
  Overwrite overwrite = Overwrite::kSameKind;  // -n, -y
  bool strict = false;
  int32_t sync_interval_ms = -1;           // --sync-interval; -1: the library's default
  std::optional<std::string> report_json;  // --report-json FILE
  RetentionLimits retention;               // --keep-segments, --max-total, --keep-free

  bool from_stdin() const { return input == "-"; }
  bool to_stdout() const { return output == "-" && !segmented; }
  // The input is read a whole group at a time, and sent on in pieces of the
  // size asked for: for a series' clock to follow the groups as the live
  // road does, and for -re to send each at its time.
  bool grouped() const { return segmented || realtime; }
};

// One recording, in the order its steps run: OpenInput, Start, PumpPieces
// (which asks for a series' next file with AskSwitch), StopAndReport. A step
// that returns an exit code ends the command with it.
class Recording {
 public:
  explicit Recording(const RecordRequest& request)
      : request_(request),
        output_name_(request.pattern.timed() ? ""
                     : request.segmented     ? request.pattern.Name(0)
                                             : request.output) {}

  // Opens the input (and standard output as the output), reads the header
  // and refuses what the live road would drop without saying why.
  std::optional<int> OpenInput();
  // Watches the library's lines, begins the first file and sends the header.
  std::optional<int> Start();
  // Sends the input on in pieces until it ends, a signal stops it, the
  // library drops a piece for want of an output, or writing has ended.
  std::optional<int> PumpPieces();
  // Ends the recording and tells how it went.
  int StopAndReport();
  // The recording as --report-json tells it, once it ended with `code`.
  Json ReportJson(int code, const std::vector<std::string>& messages) const;

 private:
  // Makes the recording's instance, or sets refused_ to say why not.
  bool BeginFile();
  // The checks a file passes before it is written, for `name`.
  OutputRefusal CheckFile(const std::string& name) const;
  // The next file's name, checked (CheckFile): numbered, the next number;
  // made from the time, now's, with the first variant that no file has,
  // the file made here.
  OutputRefusal ClaimName(std::string& name) const;
  // A name made from the time: the first file's, made at its first data
  // piece.
  std::optional<int> NameTimedFile();
  // A series: asks the library to go on in the next file from the next
  // group that may start a recording; the file in hand goes on until then.
  std::optional<int> AskSwitch();
  // Read a group at a time (grouped()): sends whole pieces of the size
  // asked for (a group a piece with --piece-size group), keeping the rest
  // for the next group; with -re, each group at its time, its last bytes
  // with it.
  std::optional<int> SendGrouped(const uint8_t* data, size_t size);
  // A series: sends one piece, asking for the next file first when it is
  // due (`may_switch`), and follows the groups the live road now has whole.
  std::optional<int> SendPiece(const uint8_t* data, size_t size, bool may_switch);
  // A series: whether the first group that may start a recording among
  // those the live road gets whole with the stream's bytes up to
  // `piece_end` comes once the next file is due: a switch asked for before
  // them begins the next file there.
  bool SwitchDue(uint64_t piece_end) const;
  // A series: the live road went on in the file asked for.
  void FileBegun();
  // A series: sends the bytes kept, less than a piece (a next file due
  // among them is asked for, but not once a signal came).
  std::optional<int> FlushPending();
  // Once the writer has made the file in hand: holds it open, to tell at
  // the end whether its name still leads to it.
  void HoldMadeFile();
  // The files being written: the one in hand, and the next while a switch
  // waits for it (none before the first has begun).
  std::vector<std::string> InHand() const;
  // With retention: removes the series' oldest files before a new file
  // begins, as far as the limits ask, and tells each.
  void KeepWithinLimits();
  // With retention, while writing fails for want of room: removes the
  // series' oldest file, once for each sample the writer has tried since
  // the last removal.
  void MakeRoomOnFullDisk();
  // The line of a removal, and its row in --report-json.
  void TellRemoval(const Removal& removal);
  // The file in hand no longer at its name (removed with its folder, moved
  // away): what became of it, in a line; nullopt when it is there.
  std::optional<int> MadeFileGone();
  // The output could not be prepared (the first data piece was dropped):
  // why, as the recording's stats tell it.
  int NotPrepared();
  // The line of what was recorded, and of what was lost.
  int Report(double seconds, const WriteFaults& faults, const struct stat& info);
  // What the live road dropped: as its lines tell it, and the group the
  // input ended inside.
  LiveLosses Losses() const;

  // The output as the user named it (a name made from the time once made).
  std::string shown() const {
    return (request_.segmented || !request_.to_stdout()) && !output_name_.empty() ? output_name_
                                                                                  : request_.output;
  }

  const RecordRequest& request_;
  // The library keeps this pointer until StopRecord.
  std::string output_name_;
  std::optional<InputFile> in_;
  std::optional<PieceReader> reader_;
  GroupFollower follower_;  // what the live road holds at the input's end
  uint8_t header_[40] = {};
  stream_format::DecodedHeader decoded_;
  std::optional<DiagnosticWatch> diagnostics_;
  // One instance for the whole recording, a series too (KestrumSwitchOutput).
  KestrumHandle handle_ = nullptr;
  // Memory that runs out in the program itself, and a series' next file
  // refused, still leave the recording ended (the normal way out releases
  // the handle first).
  struct EndOnUnwind {
    KestrumHandle& handle;
    ~EndOnUnwind() {
      if (handle != nullptr) StopRecord(handle);
      ReleaseRecordInstance(&handle);
    }
  } end_on_unwind_{handle_};
  std::optional<int> refused_;
  std::vector<std::string> files_;  // those begun, the one in hand last
  std::optional<Progress> progress_;
  std::optional<PieceSender> sender_;
  std::optional<StopOnSignals> signals_;
  std::optional<SegmentClock> clock_;
  std::vector<uint8_t> pending_;        // grouped(): bytes not yet sent, less than a piece
  RealTimePace pace_;                   // -re
  std::optional<Retention> retention_;  // with limits asked for
  std::vector<Removal> removed_;        // the files retention removed
  uint64_t room_made_at_ = UINT64_MAX;  // the samples tried when a full disk last removed one
  // A series: the groups read but not yet whole in the live road (their
  // last byte not sent), with where each ends in the stream after the header.
  struct Unsent {
    uint64_t end = 0;
    SegmentClock::Group group;
  };
  std::deque<Unsent> unsent_;
  uint64_t read_end_ = 0;       // bytes read after the header
  uint64_t sent_end_ = 0;       // of those, the bytes sent
  std::string next_name_;       // the file asked for, while switching_
  bool switching_ = false;      // a switch waits for a group that may start
  int64_t next_cut_ms_ = 0;     // --segment-atclocktime: the next file is due then
  int32_t switch_failure_ = 0;  // the next file could not be begun: why
  // The file in hand as the writer made it (HoldMadeFile); -1 before, or
  // when it is no regular file.
  struct MadeFile {
    int fd = -1;
    bool tried = false;
    uint64_t calls_before = 0;  // pieces sent before the file's first data piece
    void Close() {
      if (fd >= 0) ::close(fd);
      fd = -1;
      tried = false;
    }
    ~MadeFile() { Close(); }
  } made_;
  uint64_t written_ = 0;  // the output's size, or the bytes written into a stream
  // What the library tells of the file in hand, once it is ended.
  KestrumRecordStats stats_ = [] {
    KestrumRecordStats stats{};
    stats.struct_size = sizeof stats;
    return stats;
  }();
  std::string lost_;  // the line of what was lost
};

}  // namespace kestrum_cli
