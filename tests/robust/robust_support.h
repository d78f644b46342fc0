// Shared pieces of the write-fault and crash tests: recorded streams, the
// packets a file of them holds, and what ffprobe must read back from what
// survived.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "convert/transfer.h"
#include "support/fuse_mount.h"
#include "support/probe.h"
#include "support/stream_pieces.h"

namespace kestrum::testing {

// `groups` groups of one video block each, payloads drawn from
// [min_payload, max_payload], a start group every 25th; 704 x 576, so the
// profile declares 4,055,040 bit/s.
StreamBuilder RecordingStream(size_t groups, size_t min_payload, size_t max_payload,
                              uint32_t state);

// Where each sample of a finished file lies: the byte after the last packet
// holding any of it. A prefix of the file that long holds the sample whole.
std::vector<uint64_t> SampleEnds(const std::vector<uint8_t>& file);

// Checks that ffprobe reads from `path` the first samples of `expected`,
// every one of the first `at_least` (those whole within the file's complete
// packets) exactly. A truncated file ends inside a sample, and ffprobe hands
// out what it has of that one too: only the last sample read may differ, and
// only when it is not among those. Returns how many samples were read whole
// (-1 when ffprobe could not read the file at all).
int64_t ExpectReadablePrefix(const std::string& path, const std::vector<ProbedPacket>& expected,
                             size_t at_least);

// Checks that ffprobe reads from `path` nothing but whole samples of
// `expected`, in their order, with gaps where samples were lost: every one
// of the first `prefix` and every one from `from` on must be there. Returns
// how many it read (-1 when ffprobe could not read the file at all).
int64_t ExpectWholeSamples(const std::string& path, const std::vector<ProbedPacket>& expected,
                           size_t prefix, size_t from = SIZE_MAX);

// A disk that fills up: a tmpfs mounted in a folder of its own where the
// test may mount one, holding `room` bytes (a multiple of 4096) for the
// recording and a filler file of `spare` bytes that MakeRoom removes; where
// mounting is refused, a plain folder whose files a child process keeps to
// `room` bytes with RLIMIT_FSIZE (Enter), lifted by MakeRoom.
class SmallDisk {
 public:
  SmallDisk(const std::string& name, uint64_t room, uint64_t spare);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  std::string Path(const std::string& file) const { return dir_ + "/" + file; }
  // A file beside the disk, where there is room.
  std::string Beside(const std::string& file) const { return dir_ + "/../" + file; }
  bool mounted() const { return mounted_; }
  // In the recording's own (child) process, before it writes.
  void Enter() const;
  // Gives the room of `spare` bytes back.
  void MakeRoom() const;

 private:
  std::string dir_;
  uint64_t room_;
  bool mounted_ = false;
};

// A file part of which cannot be read, as on a failing disk: `bytes`,
// served from memory by a FUSE file system of the test's own
// (support/fuse_mount.h), with no read-ahead, so that the kernel asks for
// one page at a time. Every read touching [bad_begin, bad_end) fails with
// EIO. With `direct_io` the file is opened for direct I/O: every read goes
// to the server, none to the kernel's cache, and the kernel refuses to map
// it shared. mounted() says whether it could be made, why_not() why not.
class UnreadableFile {
 public:
  UnreadableFile(const std::string& name, const std::vector<uint8_t>& bytes, uint64_t bad_begin,
                 uint64_t bad_end, bool direct_io = false);
  ~UnreadableFile();
  UnreadableFile(const UnreadableFile&) = delete;
  UnreadableFile& operator=(const UnreadableFile&) = delete;

  bool mounted() const { return mount_->mounted(); }
  const std::string& why_not() const { return mount_->why_not(); }
  std::string path() const { return mount_->path() + "/source.bin"; }

  struct Served {
    std::vector<uint8_t> bytes;
    uint64_t bad_begin, bad_end;
    bool direct_io;
  };

 private:
  Served served_;  // read by the serving thread
  std::unique_ptr<FuseMount> mount_;
};

// A packet source over `stream`: its header, then one group packet per
// group, 40 ms apart. `on_packet(k)` runs before packet k is handed out.
PacketSource ScriptedSource(const StreamBuilder& stream, void (*on_packet)(size_t) = nullptr);

}  // namespace kestrum::testing
