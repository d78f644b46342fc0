#include "robust/robust_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "asf_format/reader.h"

namespace kestrum::testing {

StreamBuilder RecordingStream(size_t groups, size_t min_payload, size_t max_payload,
                              uint32_t state) {
  std::mt19937 random(state);
  StreamBuilder stream;
  stream.Header(FileHeaderBuilder().StreamType(0x1001).Size(704, 576));
  for (size_t i = 0; i < groups; ++i) {
    const size_t payload = min_payload + random() % (max_payload - min_payload + 1);
    stream.Add(Group().FrameType(i % 25 == 0 ? 0x1001 : 0x1003).AddBlock(0x1003, payload));
  }
  return stream;
}

std::vector<uint64_t> SampleEnds(const std::vector<uint8_t>& file) {
  const asf::AsfFile f = asf::ReadAsfFile(file);
  EXPECT_EQ(f.error, "");
  std::vector<uint64_t> ends;
  for (const auto& s : f.samples) {
    ends.push_back(f.data_offset + 50 + (s.last_packet + 1) * f.packet_size);
  }
  return ends;
}

int64_t ExpectReadablePrefix(const std::string& path, const std::vector<ProbedPacket>& expected,
                             size_t at_least) {
  const auto packets = ProbePackets(path);
  if (!packets) {
    EXPECT_EQ(at_least, 0u) << "ffprobe could not read " << path;
    return -1;
  }
  const size_t read = packets->size();
  EXPECT_LE(read, expected.size()) << path;
  size_t whole = 0;
  while (whole < read && whole < expected.size() && (*packets)[whole] == expected[whole]) ++whole;
  EXPECT_GE(whole, at_least) << path << ": sample " << whole << " differs or is missing";
  if (whole < read) {
    // The sample the file ends inside: cut short, but in its place.
    EXPECT_EQ(whole + 1, read) << path << ": sample " << whole << " differs";
    if (whole < expected.size()) {
      EXPECT_EQ((*packets)[whole].pts_ms, expected[whole].pts_ms);
    }
  }
  return static_cast<int64_t>(whole);
}

int64_t ExpectWholeSamples(const std::string& path, const std::vector<ProbedPacket>& expected,
                           size_t prefix, size_t from) {
  const auto packets = ProbePackets(path);
  if (!packets) {
    ADD_FAILURE() << "ffprobe could not read " << path;
    return -1;
  }
  const auto expect_missing = [&](size_t missing) {
    EXPECT_TRUE(missing >= prefix && missing < from)
        << path << ": sample " << missing << " is missing";
  };
  size_t next = 0;
  for (size_t i = 0; i < packets->size(); ++i) {
    const ProbedPacket& got = (*packets)[i];
    const size_t at = next;
    while (next < expected.size() && !(expected[next] == got)) ++next;
    if (next == expected.size()) {
      ADD_FAILURE() << path << ": sample " << i << " read (" << ::testing::PrintToString(got)
                    << ") is no whole sample written, or out of order";
      return static_cast<int64_t>(i);
    }
    for (size_t missing = at; missing < next; ++missing) expect_missing(missing);
    ++next;
  }
  for (size_t missing = next; missing < expected.size(); ++missing) expect_missing(missing);
  return static_cast<int64_t>(packets->size());
}

SmallDisk::SmallDisk(const std::string& name, uint64_t room, uint64_t spare) : room_(room) {
  // One left mounted by a run that died goes first.
  ::umount2((std::string(KESTRUM_TEST_TMPDIR) + "/" + name + "/disk").c_str(), MNT_DETACH);
  dir_ = TestDirectory(name) + "/disk";
  std::filesystem::create_directories(dir_);
  const std::string options = "size=" + std::to_string(room + spare) + ",mode=0755";
  mounted_ = ::mount("tmpfs", dir_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  if (mounted_ && spare > 0) WriteFile(Path(".spare"), std::vector<uint8_t>(spare, 0x5A));
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
}

void SmallDisk::Enter() const {
  if (mounted_) return;
  std::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG instead
  const rlimit limit{room_, RLIM_INFINITY};
  ::setrlimit(RLIMIT_FSIZE, &limit);
}

void SmallDisk::MakeRoom() const {
  if (mounted_) {
    ::unlink(Path(".spare").c_str());
  } else {
    const rlimit limit{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
}

namespace {

constexpr fuse_ino_t kFileNode = 2;
constexpr char kFileName[] = "source.bin";

const UnreadableFile::Served& ServedBy(fuse_req_t request) {
  return *static_cast<const UnreadableFile::Served*>(fuse_req_userdata(request));
}

void Reply(fuse_req_t request, fuse_ino_t node, bool entry) {
  const UnreadableFile::Served& served = ServedBy(request);
  const struct stat attributes = FuseAttributes(node, node == FUSE_ROOT_ID, served.bytes.size());
  if (!entry) {
    fuse_reply_attr(request, &attributes, 3600);
    return;
  }
  fuse_entry_param e{};
  e.ino = node;
  e.generation = 1;
  e.attr = attributes;
  e.attr_timeout = e.entry_timeout = 3600;
  fuse_reply_entry(request, &e);
}

fuse_lowlevel_ops UnreadableOperations() {
  fuse_lowlevel_ops ops{};
  ops.init = [](void*, fuse_conn_info* connection) {
    connection->max_readahead = 0;  // the pages asked for, and no others
    connection->max_background = 1;
    connection->congestion_threshold = 1;
  };
  ops.lookup = [](fuse_req_t request, fuse_ino_t parent, const char* name) {
    if (parent == FUSE_ROOT_ID && std::strcmp(name, kFileName) == 0) {
      Reply(request, kFileNode, true);
    } else {
      fuse_reply_err(request, ENOENT);
    }
  };
  ops.getattr = [](fuse_req_t request, fuse_ino_t node, fuse_file_info*) {
    Reply(request, node, false);
  };
  ops.open = [](fuse_req_t request, fuse_ino_t, fuse_file_info* file) {
    file->direct_io = ServedBy(request).direct_io ? 1 : 0;
    fuse_reply_open(request, file);
  };
  ops.read = [](fuse_req_t request, fuse_ino_t, size_t size, off_t offset, fuse_file_info*) {
    const UnreadableFile::Served& served = ServedBy(request);
    const uint64_t begin = std::min<uint64_t>(static_cast<uint64_t>(offset), served.bytes.size());
    const uint64_t end = std::min<uint64_t>(begin + size, served.bytes.size());
    if (begin < end && begin < served.bad_end && end > served.bad_begin) {
      fuse_reply_err(request, EIO);
    } else {
      fuse_reply_buf(request, reinterpret_cast<const char*>(served.bytes.data() + begin),
                     end - begin);
    }
  };
  return ops;
}

}  // namespace

UnreadableFile::UnreadableFile(const std::string& name, const std::vector<uint8_t>& bytes,
                               uint64_t bad_begin, uint64_t bad_end, bool direct_io)
    : served_{bytes, bad_begin, bad_end, direct_io} {
  ::umount2((std::string(KESTRUM_TEST_TMPDIR) + "/" + name + "/mnt").c_str(), MNT_DETACH);
  const fuse_lowlevel_ops ops = UnreadableOperations();
  mount_ = std::make_unique<FuseMount>(TestDirectory(name), ops, &served_, "max_read=4096", true,
                                       /*in_child=*/true);
}

UnreadableFile::~UnreadableFile() = default;

PacketSource ScriptedSource(const StreamBuilder& stream, void (*on_packet)(size_t)) {
  auto next = std::make_shared<size_t>(0);
  auto header = std::make_shared<std::vector<uint8_t>>(stream.Slice(0, 40));
  return PacketSource{
      [next](int32_t, intptr_t) {
        *next = 0;
        return 1;
      },
      [next, header, &stream, on_packet](int32_t, PacketRecord* record) {
        const size_t k = (*next)++;
        if (k > stream.groups().size()) return int32_t{kPacketEnd};
        if (on_packet != nullptr) on_packet(k);
        if (k == 0) {
          *record = PacketRecord{};
          record->kind = kPacketHeader;
          record->data = header->data();
          record->length = 40;
          return int32_t{kPacketMore};
        }
        const GroupExtent& g = stream.groups()[k - 1];
        record->kind = kPacketGroup;
        record->data = stream.bytes().data() + g.begin;
        record->length = static_cast<uint32_t>(g.end - g.begin);
        record->time_ms = static_cast<uint32_t>((k - 1) * 40);
        return int32_t{kPacketMore};
      },
  };
}

}  // namespace kestrum::testing
