// The Simple Index alone: which key frame each 1-second entry names.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "base/bytes.h"
#include "asf_format/tests/test_support.h"
#include "asf_format/simple_index.h"
#include "asf_format/tests/memory_sink.h"

namespace kestrum::asf {
namespace {

using Entries = std::vector<std::pair<uint32_t, uint16_t>>;

Entries Written(const SimpleIndex& index, uint32_t* max_count = nullptr) {
  MemorySink sink;
  const Guid id{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  EXPECT_EQ(index.WriteObject(sink, id), kOk);
  const uint8_t* b = sink.bytes.data();
  EXPECT_EQ(sink.bytes.size(), index.object_size());
  EXPECT_EQ(LoadGuid(b), testing::GuidFromText("33000890-E5B1-11CF-89F4-00A0C90349CB"));
  EXPECT_EQ(load_u64le(b + 16), sink.bytes.size());
  EXPECT_EQ(load_u32le(b + 24), 1u);  // the file ID
  EXPECT_EQ(load_u64le(b + 40), 10'000'000u);
  if (max_count != nullptr) *max_count = load_u32le(b + 48);
  Entries entries;
  for (uint32_t i = 0; i < load_u32le(b + 52); ++i) {
    entries.emplace_back(load_u32le(b + 56 + 6 * i), load_u16le(b + 60 + 6 * i));
  }
  return entries;
}

TEST(SimpleIndexTest, EntriesNameTheKeyFrameAtOrBeforeEachSecond) {
  SimpleIndex index;
  index.AddKeyFrame(3000, 0, 1);  // 3.0 s on the preroll-shifted timeline, packets 0-1
  index.AddKeyFrame(4000, 5, 5);
  index.AddKeyFrame(6500, 9, 11);
  index.Finish(82'000'000);  // 8.2 s: entries 0..8
  uint32_t max_count = 0;
  const Entries expected = {{0, 2}, {0, 2}, {0, 2}, {0, 2}, {5, 1}, {5, 1}, {5, 1}, {9, 3}, {9, 3}};
  EXPECT_EQ(Written(index, &max_count), expected);
  EXPECT_EQ(max_count, 3u);
}

class RandomKeyFramesTest : public ::testing::TestWithParam<unsigned> {};

TEST_P(RandomKeyFramesTest, AgreesWithASearchOverAllKeyFrames) {
  std::mt19937 engine(GetParam());
  auto rng = [&engine] { return static_cast<uint32_t>(engine()); };
  struct Key {
    uint32_t ms;
    uint32_t packet;
    uint16_t count;
  };
  std::vector<Key> keys;
  SimpleIndex index;
  uint32_t ms = 3000 + rng() % 2000;
  uint32_t packet = rng() % 3;
  for (int i = 0; i < 60; ++i) {
    const Key k{ms, packet, static_cast<uint16_t>(1 + rng() % 4)};
    keys.push_back(k);
    index.AddKeyFrame(k.ms, k.packet, k.packet + k.count - 1u);
    ms += rng() % 3 == 0 ? 0 : rng() % 2500;  // repeats, bursts and gaps
    packet += k.count - 1u + rng() % 5;
  }
  const uint64_t play = uint64_t{ms} * 10'000 + rng() % 30'000'000;
  index.Finish(play);
  Entries expected;
  for (uint64_t i = 0; i <= play / 10'000'000; ++i) {
    const Key* named = &keys.front();
    for (const Key& k : keys) {
      if (uint64_t{k.ms} * 10'000 <= i * 10'000'000) named = &k;
    }
    expected.emplace_back(named->packet, named->count);
  }
  EXPECT_EQ(Written(index), expected);
}

INSTANTIATE_TEST_SUITE_P(GeneratorStates, RandomKeyFramesTest, ::testing::Range(1u, 21u));

}  // namespace
}  // namespace kestrum::asf
