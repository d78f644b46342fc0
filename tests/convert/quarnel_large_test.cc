// The packet source over large files: groups across read boundaries, the
// largest possible groups and what reading them costs, and offsets past
// 4 GiB in a sparse file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "convert/quarnel_test_streams.h"
#include "quarnel.h"

namespace quarnel_test {
namespace {

// Writes `bytes` at `offset` of an open file.
void WriteAt(int fd, uint64_t offset, const Bytes& bytes) {
  ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
}

TEST(QuarnelLargeTest, GroupsOfEverySizeAcrossReadBoundaries) {
  TempFolder folder;
  Bytes file = Header();
  std::vector<Bytes> groups;
  // Sizes that drift across the 1 MiB reads, a few with several blocks, and
  // some of several MiB that outgrow the read buffer.
  uint32_t state = 12345;
  auto next = [&state](uint32_t bound) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % bound;
  };
  for (int i = 0; i < 400; ++i) {
    std::vector<Block> blocks{WholeBlock(0x1003, next(60000))};
    if (i % 7 == 0) blocks.push_back(WholeBlock(0x1001, next(700)));
    if (i % 50 == 25) {
      for (int b = 0; b < 12; ++b) blocks.push_back(WholeBlock(0x1004, 499999));
    }
    groups.push_back(Group(i % 25 == 0 ? 0x1001 : 0x1000, blocks, static_cast<uint8_t>(i)));
    Append(file, groups.back());
  }
  const std::string path = folder.Write("many.bin", file);

  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  const std::vector<Packet> packets = ReadAll();
  ASSERT_EQ(packets.size(), groups.size() + 1);
  uint64_t offset = 40;
  for (size_t i = 0; i < groups.size(); ++i) {
    const Packet& p = packets[i + 1];
    ASSERT_EQ(p.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP)) << i;
    ASSERT_EQ(p.offset, offset) << i;
    ASSERT_EQ(p.time_ms, 40 * i);
    ASSERT_TRUE(p.data == groups[i]) << "group " << i;
    offset += groups[i].size();
  }
}

// Minor page faults of this process so far; the kernel's filling of a
// mapped window's page tables counts among them.
uint64_t MinorFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_minflt);
}

TEST(QuarnelLargeTest, LargestPossibleGroupsComeOutWholeAtTheCostOfTheirSize) {
  TempFolder folder;
  // Two groups of 255 blocks of the largest payload, back to back, and a
  // small one, written sparsely: only the headers are stored, the payloads
  // read back as zeros. The second group runs past the span of the window
  // the first is seen through.
  const std::string path = folder.Path("largest.bin");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  WriteAt(fd, 0, Header());
  const uint64_t largest = 48u + 255u * (20u + 499999u);
  std::vector<Bytes> group_headers;
  uint64_t at = 40;
  for (uint8_t g = 0; g < 2; ++g) {
    group_headers.push_back(Cut(Group(0x1001, {}, g, 0x10FF), 48));
    WriteAt(fd, at, group_headers.back());
    for (uint32_t b = 0; b < 255; ++b) {
      WriteAt(fd, at + 48 + b * (20 + 499999),
              kestrum::stream_format::Block(static_cast<uint16_t>(0x1003 + b % 3))
                  .DeclaredLength(499999)
                  .Bytes());
    }
    at += largest;
  }
  const Bytes after = VideoGroup(77, 9);
  WriteAt(fd, at, after);
  ASSERT_EQ(::close(fd), 0);
  const uint64_t file_size = at + after.size();

  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  const uint64_t faults = MinorFaults();
  PacketRecord record{};
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  for (size_t g = 0; g < 2; ++g) {
    SCOPED_TRACE("group " + std::to_string(g));
    ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
    ASSERT_EQ(record.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
    ASSERT_EQ(record.length, largest);
    EXPECT_EQ(GetU64(record.reserved + QUARNEL_RESERVED_OFFSET), 40 + g * largest);
    EXPECT_TRUE(std::equal(group_headers[g].begin(), group_headers[g].end(), record.data));
    // Every block header where it was written.
    for (uint32_t b = 0; b < 255; ++b) {
      const uint8_t* block = record.data + 48 + b * (20 + 499999);
      ASSERT_EQ(kestrum::load_u16le(block), 0x1003 + b % 3) << "block " << b;
      ASSERT_EQ(kestrum::load_u32le(block + 16), 499999u) << "block " << b;
    }
  }
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(record.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  EXPECT_TRUE(Bytes(record.data, record.data + record.length) == after);
  EXPECT_EQ(record.time_ms, 80u);
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
  // Each byte was filled about once: fewer page faults than twice the
  // file's pages. Filling the window again from the group's first page each
  // time the group needed more took over 250 times the pages.
  const uint64_t pages = file_size / static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  EXPECT_LT(MinorFaults() - faults, 2 * pages);
}

TEST(QuarnelLargeTest, GroupsBeyondFourGibibytes) {
  TempFolder folder;
  const std::string path = folder.Path("big.bin");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  const Bytes header = Header();
  const Bytes first = VideoGroup(1000, 1);
  const Bytes far1 = VideoGroup(2000, 2);
  const Bytes far2 = Group(0x1001, {WholeBlock(0x1003, 300), WholeBlock(0x1002, 8)}, 3);
  const uint64_t far_offset = (uint64_t{1} << 32) + 4097;  // past 4 GiB, not block-aligned
  WriteAt(fd, 0, header);
  WriteAt(fd, 40, first);
  WriteAt(fd, far_offset, far1);
  WriteAt(fd, far_offset + far1.size(), far2);
  // A run of zeros after the last group, up to the end of the file.
  const uint64_t file_size = far_offset + far1.size() + far2.size() + (uint64_t{3} << 20);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(file_size)), 0);
  ASSERT_EQ(::close(fd), 0);

  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  const std::vector<Packet> packets = ReadAll();
  ASSERT_EQ(packets.size(), 6u);
  EXPECT_EQ(packets[1].kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  EXPECT_TRUE(packets[1].data == first);
  // The gap of zeros is one skipped region.
  EXPECT_EQ(packets[2].kind, static_cast<uint32_t>(QUARNEL_PACKET_SKIPPED));
  EXPECT_EQ(packets[2].offset, 40 + first.size());
  EXPECT_EQ(packets[2].size, far_offset - 40 - first.size());
  EXPECT_EQ(packets[3].kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  EXPECT_EQ(packets[3].offset, far_offset);
  EXPECT_EQ(packets[3].time_ms, 40u);
  EXPECT_TRUE(packets[3].data == far1);
  EXPECT_EQ(packets[4].offset, far_offset + far1.size());
  EXPECT_EQ(packets[4].time_ms, 80u);
  EXPECT_TRUE(packets[4].data == far2);
  EXPECT_EQ(packets[5].kind, static_cast<uint32_t>(QUARNEL_PACKET_SKIPPED));
  EXPECT_EQ(packets[5].offset + packets[5].size, file_size);
}

}  // namespace
}  // namespace quarnel_test
