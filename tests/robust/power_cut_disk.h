// A disk that loses power: a FUSE file system of the test's own
// (support/fuse_mount.h) that keeps its files in memory and records every
// change made to them, in order: files made, written, cut and removed, and
// the syncs (fsync or fdatasync of a file; fsync of the folder, which makes
// its entries durable). From that record, StateAt works out what a power cut
// right after any change would leave of a file: as of its last sync, and of
// what came after, one of
//  - nothing (kAll);
//  - the changes up to one of them, in the order made (kPrefix);
//  - any of the pages changed (kPages): the system writes pages back in no
//    order, so each comes back as it was last written or as the last sync
//    left it (zeros past the file's end then), and the file's length as
//    either;
//  - and, page by page (StateWithPage), every page changed but one, or only
//    that one.
// A file whose entry no folder sync has covered is not found at all.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/fuse_mount.h"

namespace kestrum::testing {

class PowerCutDisk {
 public:
  enum class Loss { kAll, kPrefix, kPages };
  using Clock = std::chrono::steady_clock;

  // Mounted in a folder of the test's folder `name`.
  explicit PowerCutDisk(const std::string& name);
  ~PowerCutDisk();
  PowerCutDisk(const PowerCutDisk&) = delete;
  PowerCutDisk& operator=(const PowerCutDisk&) = delete;

  bool mounted() const { return mount_->mounted(); }
  const std::string& why_not() const { return mount_->why_not(); }
  std::string Path(const std::string& file) const { return mount_->path() + "/" + file; }

  // A file that stands on the disk, durable, before any change is recorded.
  void Put(const std::string& file, const std::vector<uint8_t>& bytes);
  // Called, under the disk's lock, at each change: what it returns is kept
  // with the change (how much a host had sent by then, say).
  void set_stamp(std::function<int64_t()> stamp);

  struct Change {
    int64_t stamp = 0;
    Clock::time_point at;
  };
  // The changes recorded so far.
  std::vector<Change> Changes() const;

  struct State {
    std::vector<uint8_t> bytes;
    uint64_t synced = 0;  // the file's length as its last sync left it (0: none)
  };
  // What a power cut right after the first `changes` changes leaves of
  // `file`; nullopt when it is not found then. `random` picks what kPrefix
  // and kPages keep.
  std::optional<State> StateAt(size_t changes, const std::string& file, Loss loss,
                               std::mt19937& random) const;
  // The same when of the pages the changes since the last sync touched,
  // taken in order, page `page` alone did not reach the disk (the file as
  // long as the changes left it), or, with `only`, it alone did (as long as
  // the last sync left it); nullopt also when there is no such page.
  std::optional<State> StateWithPage(size_t changes, const std::string& file, size_t page,
                                     bool only) const;
  // The file as it stands, every change kept.
  std::optional<std::vector<uint8_t>> Current(const std::string& file) const;

  // For the file system's operations.
  struct Node {
    std::string name;
    std::vector<uint8_t> bytes;
    bool preloaded = false;
  };
  enum class Kind { kCreate, kWrite, kTruncate, kSync, kSyncFolder, kUnlink };
  struct Op {
    Kind kind;
    uint64_t node = 0;
    uint64_t offset = 0;  // kWrite: where; kTruncate: the new length
    size_t data = 0, length = 0;  // kWrite: its bytes in `written`
    Change change;
  };
  mutable std::mutex mutex;
  std::map<std::string, uint64_t> names;  // the folder's entries as they stand
  std::map<uint64_t, Node> nodes;         // every file ever made
  std::map<uint64_t, std::vector<uint8_t>> original;  // the bytes Put gave
  std::vector<Op> ops;
  std::vector<uint8_t> written;  // every write's bytes, one after the other
  std::function<int64_t()> stamp;
  uint64_t next_node = 2;
  void Record(Kind kind, uint64_t node, uint64_t offset = 0, const char* data = nullptr,
              size_t length = 0);

 private:
  // A file as the first changes leave it: as it stands, as its last sync
  // left it, the changes since, and the pages they touched, in order.
  struct Replayed {
    std::vector<uint8_t> now;
    State durable;
    std::vector<size_t> pending;
    std::vector<uint64_t> touched;
    // `length` bytes: each page the changes touched as written when
    // back(page), else as the last sync left it; the others as written.
    State Mixed(uint64_t length, const std::function<bool(uint64_t)>& back) const;
  };
  // Under the lock.
  std::optional<Replayed> Replay(size_t changes, const std::string& file) const;

  std::unique_ptr<FuseMount> mount_;
};

}  // namespace kestrum::testing
