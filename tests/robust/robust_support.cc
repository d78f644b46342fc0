#include "robust/robust_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fuse.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/uio.h>
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

constexpr uint64_t kFileNode = 2;
constexpr char kFileName[] = "source.bin";

fuse_attr Attributes(uint64_t node, uint64_t size) {
  fuse_attr a{};
  a.ino = node;
  const bool root = node == FUSE_ROOT_ID;
  a.mode = root ? (S_IFDIR | 0755) : (S_IFREG | 0444);
  a.nlink = root ? 2 : 1;
  a.size = root ? 0 : size;
  a.blocks = (a.size + 511) / 512;
  a.blksize = 4096;
  a.uid = ::getuid();
  a.gid = ::getgid();
  return a;
}

// Answers the kernel's requests on `fd`, one at a time, until the file
// system is gone: a root folder holding one read-only file of `bytes`.
[[noreturn]] void ServeUnreadable(int fd, const std::vector<uint8_t>& bytes, uint64_t bad_begin,
                                  uint64_t bad_end, bool direct_io, std::vector<uint8_t>& request) {
  const uint64_t size = bytes.size();
  for (;;) {
    const ssize_t n = ::read(fd, request.data(), request.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == ENOENT)) continue;
    if (n < 0) ::_exit(0);  // ENODEV: unmounted
    if (static_cast<size_t>(n) < sizeof(fuse_in_header)) continue;
    fuse_in_header in;
    std::memcpy(&in, request.data(), sizeof in);
    const uint8_t* arg = request.data() + sizeof in;
    const auto reply = [&](int error, const void* data, size_t length) {
      fuse_out_header out{static_cast<uint32_t>(sizeof out + length), -error, in.unique};
      iovec parts[2] = {{&out, sizeof out}, {const_cast<void*>(data), length}};
      ::writev(fd, parts, length > 0 ? 2 : 1);
    };
    switch (in.opcode) {
      case FUSE_INIT: {
        fuse_init_out init{};
        init.major = FUSE_KERNEL_VERSION;
        init.minor = FUSE_KERNEL_MINOR_VERSION;
        init.max_readahead = 0;  // the pages asked for, and no others
        init.max_background = 1;
        init.congestion_threshold = 1;
        init.max_write = 4096;
        init.time_gran = 1;
        reply(0, &init, sizeof init);
        break;
      }
      case FUSE_LOOKUP:
        if (in.nodeid == FUSE_ROOT_ID &&
            std::strncmp(reinterpret_cast<const char*>(arg), kFileName, sizeof kFileName) == 0) {
          fuse_entry_out entry{};
          entry.nodeid = kFileNode;
          entry.generation = 1;
          entry.entry_valid = entry.attr_valid = 3600;
          entry.attr = Attributes(kFileNode, size);
          reply(0, &entry, sizeof entry);
        } else {
          reply(ENOENT, nullptr, 0);
        }
        break;
      case FUSE_GETATTR: {
        fuse_attr_out attr{};
        attr.attr_valid = 3600;
        attr.attr = Attributes(in.nodeid, size);
        reply(0, &attr, sizeof attr);
        break;
      }
      case FUSE_OPEN: {
        fuse_open_out open{};
        open.fh = 1;
        open.open_flags = direct_io ? FOPEN_DIRECT_IO : 0;
        reply(0, &open, sizeof open);
        break;
      }
      case FUSE_READ: {
        fuse_read_in read;
        std::memcpy(&read, arg, sizeof read);
        const uint64_t begin = std::min<uint64_t>(read.offset, size);
        const uint64_t end = std::min<uint64_t>(begin + read.size, size);
        if (begin < end && begin < bad_end && end > bad_begin) {
          reply(EIO, nullptr, 0);
        } else {
          reply(0, bytes.data() + begin, end - begin);
        }
        break;
      }
      case FUSE_FORGET:
      case FUSE_BATCH_FORGET:
      case FUSE_INTERRUPT:
        break;  // answered by nothing
      case FUSE_FLUSH:
      case FUSE_RELEASE:
        reply(0, nullptr, 0);
        break;
      default:
        reply(ENOSYS, nullptr, 0);
    }
  }
}

}  // namespace

UnreadableFile::UnreadableFile(const std::string& name, const std::vector<uint8_t>& bytes,
                               uint64_t bad_begin, uint64_t bad_end, bool direct_io) {
  // One left mounted by a run that died goes first.
  ::umount2((std::string(KESTRUM_TEST_TMPDIR) + "/" + name + "/mnt").c_str(), MNT_DETACH);
  const std::string dir = TestDirectory(name);
  mount_point_ = dir + "/mnt";
  std::filesystem::create_directories(mount_point_);
  const std::string node = dir + "/fuse";
  if (::mknod(node.c_str(), S_IFCHR | 0600, makedev(10, 229)) != 0) {
    why_not_ = std::string("cannot make a fuse device node: ") + std::strerror(errno);
    return;
  }
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  const int open_error = errno;
  ::unlink(node.c_str());
  if (fd < 0) {
    why_not_ = std::string("cannot open a fuse device node: ") + std::strerror(open_error);
    return;
  }
  const std::string options = "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=" +
                              std::to_string(::getuid()) + ",group_id=" +
                              std::to_string(::getgid()) + ",max_read=4096";
  if (::mount("kestrum-test", mount_point_.c_str(), "fuse", MS_NOSUID | MS_NODEV | MS_RDONLY,
              options.c_str()) != 0) {
    why_not_ = std::string("cannot mount a FUSE file system: ") + std::strerror(errno);
    ::close(fd);
    return;
  }
  // Made before the fork: the server allocates nothing.
  std::vector<uint8_t> request((size_t{1} << 20) + 4096);
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ServeUnreadable(fd, bytes, bad_begin, bad_end, direct_io, request);
  }
  ::close(fd);
  if (child < 0) {
    why_not_ = std::string("cannot start the FUSE server: ") + std::strerror(errno);
    ::umount2(mount_point_.c_str(), MNT_DETACH);
    return;
  }
  server_ = child;
}

UnreadableFile::~UnreadableFile() {
  if (server_ <= 0) return;
  ::umount2(mount_point_.c_str(), MNT_DETACH);
  ::kill(server_, SIGKILL);
  ::waitpid(server_, nullptr, 0);
}

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
