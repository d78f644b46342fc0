#include "robust/robust_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "platform/asf_walker.h"

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
  const asf::testing::WalkedFile f = asf::testing::WalkAsf(file);
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
        if (k > stream.groups().size()) return int32_t{QUARNEL_END};
        if (on_packet != nullptr) on_packet(k);
        if (k == 0) {
          *record = PacketRecord{};
          record->kind = QUARNEL_PACKET_HEADER;
          record->data = header->data();
          record->length = 40;
          return int32_t{QUARNEL_MORE};
        }
        const GroupExtent& g = stream.groups()[k - 1];
        record->kind = QUARNEL_PACKET_GROUP;
        record->data = stream.bytes().data() + g.begin;
        record->length = static_cast<uint32_t>(g.end - g.begin);
        record->time_ms = static_cast<uint32_t>((k - 1) * 40);
        return int32_t{QUARNEL_MORE};
      },
  };
}

}  // namespace kestrum::testing
