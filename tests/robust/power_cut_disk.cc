#include "robust/power_cut_disk.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "support/probe.h"

namespace kestrum::testing {
namespace {

constexpr uint64_t kPage = 4096;

PowerCutDisk& DiskOf(fuse_req_t request) {
  return *static_cast<PowerCutDisk*>(fuse_req_userdata(request));
}

struct stat Attributes(const PowerCutDisk& disk, uint64_t node) {
  return node == FUSE_ROOT_ID ? FuseAttributes(node, true, 0)
                              : FuseAttributes(node, false, disk.nodes.at(node).bytes.size());
}

// Replies with a node as an entry (of a file just made, with `created`).
void ReplyNode(fuse_req_t request, PowerCutDisk& disk, uint64_t node, fuse_file_info* created) {
  fuse_entry_param entry{};
  entry.ino = node;
  entry.generation = 1;
  entry.attr = Attributes(disk, node);  // no timeouts: the kernel asks again
  if (created != nullptr) {
    fuse_reply_create(request, &entry, created);
  } else {
    fuse_reply_entry(request, &entry);
  }
}

void ReplyAttributes(fuse_req_t request, PowerCutDisk& disk, uint64_t node) {
  const struct stat attributes = Attributes(disk, node);
  fuse_reply_attr(request, &attributes, 0);
}

// The file `name` in folder `parent` (only the root has files), or 0.
uint64_t Entry(const PowerCutDisk& disk, fuse_ino_t parent, const char* name) {
  const auto found = disk.names.find(name);
  return parent == FUSE_ROOT_ID && found != disk.names.end() ? found->second : 0;
}

bool Known(PowerCutDisk& disk, fuse_ino_t node) {
  return node == FUSE_ROOT_ID || disk.nodes.count(node) != 0;
}

fuse_lowlevel_ops Operations() {
  fuse_lowlevel_ops ops{};
  ops.lookup = [](fuse_req_t request, fuse_ino_t parent, const char* name) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    const uint64_t node = Entry(disk, parent, name);
    if (node == 0) {
      fuse_reply_err(request, ENOENT);
      return;
    }
    ReplyNode(request, disk, node, nullptr);
  };
  ops.getattr = [](fuse_req_t request, fuse_ino_t node, fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    if (!Known(disk, node)) {
      fuse_reply_err(request, ENOENT);
      return;
    }
    ReplyAttributes(request, disk, node);
  };
  ops.setattr = [](fuse_req_t request, fuse_ino_t node, struct stat* attributes, int to_set,
                   fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    if (node == FUSE_ROOT_ID || !Known(disk, node)) {
      fuse_reply_err(request, node == FUSE_ROOT_ID ? EPERM : ENOENT);
      return;
    }
    if ((to_set & FUSE_SET_ATTR_SIZE) != 0) {
      const uint64_t size = static_cast<uint64_t>(attributes->st_size);
      disk.nodes.at(node).bytes.resize(size);
      disk.Record(PowerCutDisk::Kind::kTruncate, node, size);
    }
    ReplyAttributes(request, disk, node);  // modes and times are not kept
  };
  ops.create = [](fuse_req_t request, fuse_ino_t parent, const char* name, mode_t,
                  fuse_file_info* file) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    if (parent != FUSE_ROOT_ID) {
      fuse_reply_err(request, ENOENT);
      return;
    }
    if (disk.names.count(name) != 0) {
      fuse_reply_err(request, EEXIST);
      return;
    }
    const uint64_t node = disk.next_node++;
    disk.nodes[node] = PowerCutDisk::Node{name, {}, false};
    disk.names[name] = node;
    disk.Record(PowerCutDisk::Kind::kCreate, node);
    ReplyNode(request, disk, node, file);
  };
  ops.unlink = [](fuse_req_t request, fuse_ino_t parent, const char* name) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    const uint64_t node = Entry(disk, parent, name);
    if (node == 0) {
      fuse_reply_err(request, ENOENT);
      return;
    }
    disk.Record(PowerCutDisk::Kind::kUnlink, node);
    disk.names.erase(name);
    fuse_reply_err(request, 0);
  };
  ops.open = [](fuse_req_t request, fuse_ino_t node, fuse_file_info* file) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    if (!Known(disk, node)) {
      fuse_reply_err(request, ENOENT);
      return;
    }
    if ((file->flags & O_TRUNC) != 0 && !disk.nodes.at(node).bytes.empty()) {
      disk.nodes.at(node).bytes.clear();
      disk.Record(PowerCutDisk::Kind::kTruncate, node, 0);
    }
    fuse_reply_open(request, file);
  };
  ops.read = [](fuse_req_t request, fuse_ino_t node, size_t size, off_t offset, fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    const std::vector<uint8_t>& bytes = disk.nodes.at(node).bytes;
    const size_t begin = std::min(bytes.size(), static_cast<size_t>(offset));
    const size_t end = std::min(bytes.size(), begin + size);
    fuse_reply_buf(request, reinterpret_cast<const char*>(bytes.data() + begin), end - begin);
  };
  ops.write = [](fuse_req_t request, fuse_ino_t node, const char* data, size_t size, off_t offset,
                 fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    std::vector<uint8_t>& bytes = disk.nodes.at(node).bytes;
    const size_t at = static_cast<size_t>(offset);
    if (bytes.size() < at + size) bytes.resize(at + size);
    std::memcpy(bytes.data() + at, data, size);
    disk.Record(PowerCutDisk::Kind::kWrite, node, at, data, size);
    fuse_reply_write(request, size);
  };
  ops.fsync = [](fuse_req_t request, fuse_ino_t node, int, fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    disk.Record(PowerCutDisk::Kind::kSync, node);
    fuse_reply_err(request, 0);
  };
  ops.fsyncdir = [](fuse_req_t request, fuse_ino_t, int, fuse_file_info*) {
    PowerCutDisk& disk = DiskOf(request);
    std::lock_guard<std::mutex> lock(disk.mutex);
    disk.Record(PowerCutDisk::Kind::kSyncFolder, FUSE_ROOT_ID);
    fuse_reply_err(request, 0);
  };
  ops.flush = [](fuse_req_t request, fuse_ino_t, fuse_file_info*) { fuse_reply_err(request, 0); };
  return ops;
}

// Applies `op` (a write or a cut of `node`'s) to `bytes`.
void Apply(const PowerCutDisk& disk, const PowerCutDisk::Op& op, std::vector<uint8_t>& bytes) {
  if (op.kind == PowerCutDisk::Kind::kTruncate) {
    bytes.resize(op.offset);
  } else if (op.kind == PowerCutDisk::Kind::kWrite) {
    if (bytes.size() < op.offset + op.length) bytes.resize(op.offset + op.length);
    std::memcpy(bytes.data() + op.offset, disk.written.data() + op.data, op.length);
  }
}

}  // namespace

PowerCutDisk::PowerCutDisk(const std::string& name) {
  const fuse_lowlevel_ops operations = Operations();
  mount_ = std::make_unique<FuseMount>(TestDirectory(name), operations, this, "", false);
}

PowerCutDisk::~PowerCutDisk() { mount_.reset(); }

void PowerCutDisk::Put(const std::string& file, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex);
  const uint64_t node = next_node++;
  nodes[node] = Node{file, bytes, true};
  original[node] = bytes;
  names[file] = node;
}

void PowerCutDisk::set_stamp(std::function<int64_t()> s) {
  std::lock_guard<std::mutex> lock(mutex);
  stamp = std::move(s);
}

void PowerCutDisk::Record(Kind kind, uint64_t node, uint64_t offset, const char* data,
                          size_t length) {
  Op op{kind, node, offset, written.size(), length, {stamp ? stamp() : 0, Clock::now()}};
  if (data != nullptr) written.insert(written.end(), data, data + length);
  ops.push_back(op);
}

std::vector<PowerCutDisk::Change> PowerCutDisk::Changes() const {
  std::lock_guard<std::mutex> lock(mutex);
  std::vector<Change> changes;
  changes.reserve(ops.size());
  for (const Op& op : ops) changes.push_back(op.change);
  return changes;
}

std::optional<std::vector<uint8_t>> PowerCutDisk::Current(const std::string& file) const {
  std::lock_guard<std::mutex> lock(mutex);
  const auto found = names.find(file);
  if (found == names.end()) return std::nullopt;
  return nodes.at(found->second).bytes;
}

std::optional<PowerCutDisk::Replayed> PowerCutDisk::Replay(size_t changes,
                                                           const std::string& file) const {
  changes = std::min(changes, ops.size());
  // The file of that name as the changes leave it.
  uint64_t node = 0;
  for (const auto& [number, n] : nodes) {
    if (n.name == file && n.preloaded) node = number;
  }
  for (size_t i = 0; i < changes; ++i) {
    if (ops[i].kind == Kind::kCreate && nodes.at(ops[i].node).name == file) node = ops[i].node;
  }
  if (node == 0) return std::nullopt;
  const Node& n = nodes.at(node);
  bool entry_durable = n.preloaded;
  bool created = n.preloaded;
  // A file Put there starts from the bytes it was given, durable.
  Replayed r;
  r.now = n.preloaded ? original.at(node) : std::vector<uint8_t>{};
  r.durable = State{r.now, r.now.size()};
  for (size_t i = 0; i < changes; ++i) {
    const Op& op = ops[i];
    if (op.kind == Kind::kSyncFolder) {
      if (created) entry_durable = true;
      continue;
    }
    if (op.node != node) continue;
    switch (op.kind) {
      case Kind::kCreate:
        created = true;
        r.now.clear();
        r.durable = State{};
        r.pending.clear();
        break;
      case Kind::kWrite:
      case Kind::kTruncate:
        Apply(*this, op, r.now);
        r.pending.push_back(i);
        break;
      case Kind::kSync:
        r.durable.bytes = r.now;
        r.durable.synced = r.now.size();
        r.pending.clear();
        break;
      case Kind::kUnlink:
      case Kind::kSyncFolder:
        break;
    }
  }
  if (!created || !entry_durable) return std::nullopt;
  // The pages the changes since the last sync touched, in order.
  std::set<uint64_t> touched;
  uint64_t length = r.durable.bytes.size();
  for (size_t i : r.pending) {
    const Op& op = ops[i];
    const uint64_t from = op.kind == Kind::kWrite ? op.offset : std::min(op.offset, length);
    const uint64_t to =
        op.kind == Kind::kWrite ? op.offset + op.length : std::max(op.offset, length);
    for (uint64_t page = from / kPage; page * kPage < to; ++page) touched.insert(page);
    length = op.kind == Kind::kWrite ? std::max(length, op.offset + op.length) : op.offset;
  }
  r.touched.assign(touched.begin(), touched.end());
  return r;
}

PowerCutDisk::State PowerCutDisk::Replayed::Mixed(uint64_t length,
                                                  const std::function<bool(uint64_t)>& back) const {
  State state = durable;
  state.bytes.assign(length, 0);
  for (uint64_t at = 0; at < state.bytes.size(); at += kPage) {
    const bool written_back =
        at < now.size() &&
        (!std::binary_search(touched.begin(), touched.end(), at / kPage) || back(at / kPage));
    const std::vector<uint8_t>& from = written_back ? now : durable.bytes;
    const uint64_t end = std::min<uint64_t>({at + kPage, state.bytes.size(), from.size()});
    if (end > at)
      std::memcpy(state.bytes.data() + at, from.data() + at, static_cast<size_t>(end - at));
  }
  return state;
}

std::optional<PowerCutDisk::State> PowerCutDisk::StateAt(size_t changes, const std::string& file,
                                                         Loss loss, std::mt19937& random) const {
  std::lock_guard<std::mutex> lock(mutex);
  const std::optional<Replayed> r = Replay(changes, file);
  if (!r) return std::nullopt;
  switch (loss) {
    case Loss::kAll:
      return r->durable;
    case Loss::kPrefix: {
      State state = r->durable;
      const size_t keep = std::uniform_int_distribution<size_t>(0, r->pending.size())(random);
      for (size_t k = 0; k < keep; ++k) Apply(*this, ops[r->pending[k]], state.bytes);
      return state;
    }
    case Loss::kPages: {
      std::bernoulli_distribution coin(0.5);
      const uint64_t length = coin(random) ? r->now.size() : r->durable.bytes.size();
      return r->Mixed(length, [&](uint64_t) { return coin(random); });
    }
  }
  return std::nullopt;
}

std::optional<PowerCutDisk::State> PowerCutDisk::StateWithPage(size_t changes,
                                                               const std::string& file, size_t page,
                                                               bool only) const {
  std::lock_guard<std::mutex> lock(mutex);
  const std::optional<Replayed> r = Replay(changes, file);
  if (!r || page >= r->touched.size()) return std::nullopt;
  const uint64_t chosen = r->touched[page];
  return r->Mixed(only ? r->durable.bytes.size() : r->now.size(),
                  [&](uint64_t p) { return (p == chosen) == only; });
}

}  // namespace kestrum::testing
