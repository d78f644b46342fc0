// The packet source over large files: groups across read boundaries, the
// largest possible group, and offsets past 4 GiB in a sparse file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

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

TEST(QuarnelLargeTest, LargestPossibleGroupComesOutWhole) {
  TempFolder folder;
  // 255 blocks of the largest payload, written sparsely: only the headers are
  // stored, the payloads read back as zeros.
  const std::string path = folder.Path("largest.bin");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  WriteAt(fd, 0, Header());
  const Bytes group_header = Cut(Group(0x1001, {}, 0, 0x10FF), 48);
  WriteAt(fd, 40, group_header);
  uint64_t at = 40 + 48;
  for (int b = 0; b < 255; ++b) {
    WriteAt(fd, at, kestrum::stream_format::Block(0x1005).DeclaredLength(499999).Bytes());
    at += 20 + 499999;
  }
  const uint64_t largest = at - 40;
  ASSERT_EQ(largest, 48u + 255u * (20u + 499999u));
  const Bytes after = VideoGroup(77, 9);
  WriteAt(fd, at, after);
  ASSERT_EQ(::close(fd), 0);

  ASSERT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  PacketRecord record{};
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(record.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  ASSERT_EQ(record.length, largest);
  EXPECT_TRUE(std::equal(group_header.begin(), group_header.end(), record.data));
  // The last block header, just before the last payload.
  const uint8_t* last = record.data + largest - 499999 - 20;
  EXPECT_EQ(last[0] | (last[1] << 8), 0x1005);
  ASSERT_EQ(QuarnelGetPacket(1, &record), QUARNEL_MORE);
  ASSERT_EQ(record.kind, static_cast<uint32_t>(QUARNEL_PACKET_GROUP));
  EXPECT_TRUE(Bytes(record.data, record.data + record.length) == after);
  EXPECT_EQ(record.time_ms, 40u);
  EXPECT_EQ(QuarnelGetPacket(1, &record), QUARNEL_END);
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
