// The packet source over real files: which packets come out, in which order,
// with which bytes, times and extents.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "robust/robust_support.h"
#endif

#include "convert/quarnel_test_streams.h"
#include "quarnel.h"

namespace quarnel_test {
namespace {

// A stream after its header, as pieces: whole groups, and foreign bytes
// (junk, malformed or cut groups) that must come out as skipped regions.
struct Piece {
  bool group;
  std::shared_ptr<const Bytes> bytes;  // shared: the table's cases are copied
};

Piece G(Bytes b) { return {true, std::make_shared<const Bytes>(std::move(b))}; }
Piece F(Bytes b) { return {false, std::make_shared<const Bytes>(std::move(b))}; }

struct StreamCase {
  std::string name;
  std::vector<Piece> pieces;
};

// What the packet source must hand out for `pieces`: the header, then each
// group, with neighbouring foreign pieces joined into one skipped region.
std::vector<Packet> Expected(const Bytes& header, const std::vector<Piece>& pieces) {
  std::vector<Packet> out;
  out.push_back({QUARNEL_PACKET_HEADER, header, 40, 0, 40, 0});
  uint64_t offset = 40;
  uint32_t groups = 0;
  for (const Piece& piece : pieces) {
    if (piece.group) {
      out.push_back({QUARNEL_PACKET_GROUP, *piece.bytes, static_cast<uint32_t>(piece.bytes->size()),
                     offset, piece.bytes->size(), 40 * groups++});
    } else if (!out.empty() && out.back().kind == QUARNEL_PACKET_SKIPPED) {
      out.back().size += piece.bytes->size();
    } else {
      out.push_back({QUARNEL_PACKET_SKIPPED, {}, 0, offset, piece.bytes->size(), 0});
    }
    offset += piece.bytes->size();
  }
  return out;
}

void ExpectPackets(const std::vector<Packet>& got, const std::vector<Packet>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE("packet " + std::to_string(i));
    EXPECT_EQ(got[i].kind, want[i].kind);
    EXPECT_EQ(got[i].offset, want[i].offset);
    EXPECT_EQ(got[i].size, want[i].size);
    EXPECT_EQ(got[i].length, want[i].length);
    EXPECT_EQ(got[i].time_ms, want[i].time_ms);
    EXPECT_TRUE(got[i].data == want[i].data) << "bytes differ";
  }
}

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

class QuarnelStreamTest : public ::testing::TestWithParam<StreamCase> {};

Bytes StreamFile(const std::vector<Piece>& pieces) {
  Bytes file = Header();
  for (const Piece& piece : pieces) Append(file, *piece.bytes);
  return file;
}

// Whether the packet source holds a mapping of `path` (none on Windows,
// where streams are read).
bool IsMapped(const std::string& path) {
#ifndef _WIN32
  const std::string name = " " + std::filesystem::canonical(path).string();
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.size() > name.size() && line.substr(line.size() - name.size()) == name) return true;
  }
#endif
  (void)path;
  return false;
}

// The packet source over `path` hands out `pieces` and reports the end again.
void ExpectStream(const std::string& path, const std::vector<Piece>& pieces, bool mapped) {
  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  EXPECT_EQ(IsMapped(path), mapped);
  ExpectPackets(ReadAll(), Expected(Header(), pieces));
  PacketRecord record{};
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END) << "the end is reported again";
}

#ifdef _WIN32
constexpr bool kRegularFileMapped = false;  // streams are read there
#else
constexpr bool kRegularFileMapped = true;
#endif

TEST_P(QuarnelStreamTest, HandsOutGroupsAndSkippedRegionsInFileOrder) {
  TempFolder folder;
  const std::string path = folder.Write("stream.bin", StreamFile(GetParam().pieces));
  ExpectStream(path, GetParam().pieces, kRegularFileMapped);
}

#ifndef _WIN32
// The same stream in a file the kernel will not map (shared, as the source
// maps): served by a FUSE file system of the test's own, for direct I/O. It
// is read instead, with the same packets.
TEST_P(QuarnelStreamTest, AFileThatCannotBeMappedIsReadWithTheSamePackets) {
  const kestrum::testing::UnreadableFile source("quarnel_unmappable_" + GetParam().name,
                                                StreamFile(GetParam().pieces), 0, 0,
                                                /*direct_io=*/true);
  if (!source.mounted()) GTEST_SKIP() << source.why_not();
  const int fd = ::open(source.path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  void* const mapped = ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
  const int error = errno;
  ::close(fd);
  ASSERT_EQ(mapped, MAP_FAILED) << "the kernel maps the file: nothing here is read";
  EXPECT_EQ(error, ENODEV);
  ExpectStream(source.path(), GetParam().pieces, false);
}
#endif

const Bytes kBadKind = Group(0x1000, {WholeBlock(0x1003, 30), WholeBlock(0x1006, 12)}, 3);

// `n` blocks of the largest payload: a group of several MiB, more than the
// mapped input fills at once.
std::vector<Block> LargestBlocks(size_t n) {
  return std::vector<Block>(n, WholeBlock(0x1004, 499999));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, QuarnelStreamTest,
    ::testing::Values(
        StreamCase{"Clean", {G(VideoGroup(1000, 1)), G(VideoGroup(5, 2)), G(VideoGroup(70000, 3))}},
        StreamCase{"EveryBlockKindAndEmptyGroups",
                   {G(Group(0x1001,
                            {WholeBlock(0x1001, 0), WholeBlock(0x1002, 17), WholeBlock(0x1003, 1),
                             WholeBlock(0x1004, 499999), WholeBlock(0x1005, 64)},
                            4)),
                    G(Group(0x1000, {}, 5, 0x1000)), G(Group(0x1000, {}, 6, 0x1100)),
                    G(VideoGroup(10, 7))}},
        StreamCase{"BlockCountFromLowEightBits",
                   {G(Group(0x1000, {WholeBlock(0x1003, 9), WholeBlock(0x1001, 9)}, 1, 0x7702)),
                    G(VideoGroup(3))}},
        StreamCase{"NoGroups", {}},
        StreamCase{"JunkBeforeFirstGroup", {F(Junk(100)), G(VideoGroup(50)), G(VideoGroup(60))}},
        StreamCase{
            "JunkBetweenGroups",
            {G(VideoGroup(50)), F(Junk(37)), G(VideoGroup(60)), F(Junk(1)), G(VideoGroup(70))}},
        StreamCase{"BadBlockKind", {G(VideoGroup(50)), F(kBadKind), G(VideoGroup(60))}},
        StreamCase{"BlockKindBelowRange",
                   {F(Group(0x1000, {WholeBlock(0x1000, 8)})), G(VideoGroup(60))}},
        StreamCase{
            "PayloadLengthAtLimit",
            {G(VideoGroup(50)), F(Group(0x1000, {Block{0x1003, 500000, 10}})), G(VideoGroup(60))}},
        StreamCase{
            "BadGroupType",
            {G(VideoGroup(50)), F(Group(0x1002, {WholeBlock(0x1003, 20)})), G(VideoGroup(60))}},
        StreamCase{"MalformedGroupThenJunkIsOneRegion",
                   {G(VideoGroup(50)), F(kBadKind), F(Junk(99)), G(VideoGroup(60))}},
        StreamCase{"BlockCountBeyondTheBlocks",
                   {G(VideoGroup(50)),
                    F(Group(0x1000, {WholeBlock(0x1003, 20), WholeBlock(0x1004, 20)}, 0, 0x1003)),
                    G(VideoGroup(60))}},
        StreamCase{"FalseStartInsideJunk",
                   {G(VideoGroup(50)), F(Junk(20)), F(Group(0x1001, {WholeBlock(0x2000, 4)})),
                    F(Junk(5)), G(VideoGroup(60))}},
        StreamCase{"TruncatedLastGroup",
                   {G(VideoGroup(50)), G(VideoGroup(60)), F(Cut(VideoGroup(1000), 600))}},
        StreamCase{"TruncatedInGroupHeader", {G(VideoGroup(50)), F(Cut(VideoGroup(10), 30))}},
        StreamCase{"TruncatedBeforeGroupType", {G(VideoGroup(50)), F(Cut(VideoGroup(10), 8))}},
        StreamCase{"JunkAtEnd", {G(VideoGroup(50)), F(Junk(3))}},
        StreamCase{"JunkThenTruncatedGroup",
                   {G(VideoGroup(50)), F(Junk(64)), F(Cut(VideoGroup(100), 90))}},
        StreamCase{"OnlyJunk", {F(Junk(500))}},
        StreamCase{
            "GroupsLargerThanTheWindow",
            {G(VideoGroup(3000, 1)), G(Group(0x1001, LargestBlocks(9), 2)), G(VideoGroup(40, 3)),
             F(Junk(7)), F(Cut(Group(0x1000, LargestBlocks(7), 4), 3000000))}}),
    [](const ::testing::TestParamInfo<StreamCase>& p) { return p.param.name; });

// Files that cannot be a stream: opening fails and no packet follows.
struct OpenFailure {
  std::string name;
  int64_t file_size;  // -1: no file; -2: a folder
};

void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

class QuarnelOpenFailureTest : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(QuarnelOpenFailureTest, RefusesToOpen) {
  TempFolder folder;
  std::string path = folder.Path("missing.bin");
  if (GetParam().file_size >= 0) {
    path = folder.Write("short.bin", Cut(Header(), static_cast<size_t>(GetParam().file_size)));
  } else if (GetParam().file_size == -2) {
    path = folder.Path("");
  }
  EXPECT_EQ(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  PacketRecord record{};
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
}

INSTANTIATE_TEST_SUITE_P(Files, QuarnelOpenFailureTest,
                         ::testing::Values(OpenFailure{"Missing", -1}, OpenFailure{"Folder", -2},
                                           OpenFailure{"Empty", 0}, OpenFailure{"Bytes39", 39}),
                         [](const ::testing::TestParamInfo<OpenFailure>& p) {
                           return p.param.name;
                         });

TEST(QuarnelTest, HeaderGoesOutAsItIsEvenWhenNoStreamWouldAcceptIt) {
  TempFolder folder;
  Bytes header = Header(7);
  header[39] = 0xEE;
  const std::string path = folder.Write("h.bin", header);
  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  ExpectPackets(ReadAll(), Expected(header, {}));
}

TEST(QuarnelTest, OpeningAgainReplacesTheStreamAndEndingEarlyClosesIt) {
  TempFolder folder;
  Bytes first = Header();
  Append(first, VideoGroup(10, 1));
  Append(first, VideoGroup(20, 2));
  Bytes second_header = Header();
  second_header[4] = 0x42;
  Bytes second = second_header;
  Append(second, VideoGroup(30, 3));
  const std::string a = folder.Write("a.bin", first);
  const std::string b = folder.Write("b.bin", second);

  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(a.c_str())), 0);
  PacketRecord record{};
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(record.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  uint64_t position = 0;
  EXPECT_EQ(QuarnelGetPosition(1, &position), 1);
  EXPECT_EQ(position, 40 + VideoGroup(10, 1).size()) << "the end of the packet placed";

  // Ended early: no further packet, the stream closed (a writer may have
  // it), and the next stream opened is not ended by it.
  EXPECT_EQ(QuarnelEndStream(1), 1);
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
#ifndef _WIN32
  const int fd = ::open(a.c_str(), O_RDONLY);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0) << "the ended stream is still held";
  ::close(fd);
#endif

  // The new stream starts over: its own header, group times from 0.
  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(b.c_str())), 0);
  EXPECT_EQ(QuarnelGetPosition(1, &position), 1);
  EXPECT_EQ(position, 0u);
  ExpectPackets(ReadAll(), Expected(second_header, {G(VideoGroup(30, 3))}));

  // A failed open leaves nothing open.
  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(a.c_str())), 0);
  const std::string missing = folder.Path("missing.bin");
  EXPECT_EQ(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(missing.c_str())), 0);
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
}

TEST(QuarnelTest, OnlyChannelOneIsServed) {
  TempFolder folder;
  const std::string path = folder.Write("h.bin", Header());
  EXPECT_EQ(QuarnelOpenFile(2, reinterpret_cast<intptr_t>(path.c_str())), 0);
  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  PacketRecord record{};
  EXPECT_EQ(QuarnelGetPacket(0, &record), QUARNEL_END);
  EXPECT_EQ(QuarnelGetPacket(1, nullptr), QUARNEL_END);
  EXPECT_EQ(QuarnelEndStream(2), 0);
  EXPECT_EQ(QuarnelGetPosition(2, nullptr), 0);
  EXPECT_EQ(QuarnelOpenFile(1, 0), 0);
}

}  // namespace
}  // namespace quarnel_test
