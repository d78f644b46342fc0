// kestrum generate, read back three ways: kestrum inspect, the packet-source
// library, and this test's own walk over the group bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "e2e/cli_runner.h"
#include "quarnel.h"

namespace cli_test {
namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint64_t Le64(const uint8_t* p) { return Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32); }

// What the packet source hands out for a file, with each group walked here.
struct ReadBack {
  std::vector<uint8_t> header;
  uint64_t groups = 0;
  uint64_t start_groups = 0;  // by the start rule of `stream_type`
  uint64_t blocks[5] = {};
  uint64_t groups_with_several_video_blocks = 0;
  bool all_groups_well_formed = true;
  std::vector<uint64_t> skipped_offsets;
  uint64_t bytes = 0;  // header + every packet's extent
};

bool MayStart(uint16_t stream_type, uint32_t group_type, uint32_t frame_type) {
  const bool key = frame_type == 0x1001 || frame_type == 0x1002;
  if (stream_type == 0x1001) return key;
  if (stream_type == 0x1002) return (group_type & 0xF) != 0;
  if (stream_type == 0x1003) return (group_type & 0xF) != 0 ? frame_type == 0x1001 : key;
  return false;
}

ReadBack ReadWithPacketSource(const std::string& path, uint16_t stream_type) {
  ReadBack r;
  EXPECT_NE(QuarnelOpenFile(1, reinterpret_cast<intptr_t>(path.c_str())), 0);
  PacketRecord record{};
  while (QuarnelGetPacket(1, &record) == QUARNEL_MORE) {
    r.bytes += Le64(record.reserved + QUARNEL_RESERVED_SIZE);
    if (record.kind == QUARNEL_PACKET_HEADER) {
      r.header.assign(record.data, record.data + record.length);
      continue;
    }
    if (record.kind == QUARNEL_PACKET_SKIPPED) {
      r.skipped_offsets.push_back(Le64(record.reserved + QUARNEL_RESERVED_OFFSET));
      continue;
    }
    const uint8_t* g = record.data;
    ++r.groups;
    if (MayStart(stream_type, Le32(g + 12), Le32(g + 24))) ++r.start_groups;
    size_t at = 48;
    int video = 0;
    for (unsigned i = 0; i < g[16]; ++i) {
      if (record.length - at < 20) {
        r.all_groups_well_formed = false;
        break;
      }
      const unsigned kind = g[at] | (g[at + 1] << 8);
      const uint32_t length = Le32(g + at + 16);
      if (kind < 0x1001 || kind > 0x1005 || length >= 500000) {
        r.all_groups_well_formed = false;
        break;
      }
      ++r.blocks[kind - 0x1001];
      video += kind >= 0x1003 ? 1 : 0;
      at += 20 + length;
    }
    if (at != record.length) r.all_groups_well_formed = false;
    if (video > 1) ++r.groups_with_several_video_blocks;
  }
  return r;
}

struct GenerateCase {
  std::string name;
  std::vector<std::string> options;
  uint64_t frames;
  uint64_t key_interval;
  uint16_t stream_type;
  bool problems;      // --junk and/or --malformed
  uint64_t interval;  // where they go
  bool truncate;
  std::string picture;  // as inspect prints it
  std::string version;  // "explicit picture size" or "resolution code"
};

void PrintTo(const GenerateCase& c, std::ostream* os) { *os << c.name; }

class GenerateInspectTest : public ::testing::TestWithParam<GenerateCase> {};

TEST_P(GenerateInspectTest, InspectAndPacketSourceAgreeWithWhatWasAskedFor) {
  const GenerateCase& c = GetParam();
  TempFolder folder;
  const std::string stream = folder.Path("stream.bin");
  std::vector<std::string> args{"generate", stream};
  args.insert(args.end(), c.options.begin(), c.options.end());
  const RunResult generated = Kestrum(args);
  ASSERT_EQ(generated.exit_code, 0) << generated.err;

  // Expectations from the options alone.
  const uint64_t whole = c.frames - (c.truncate ? 1 : 0);
  const uint64_t starts = (whole + c.key_interval - 1) / c.key_interval;
  const uint64_t places = c.problems ? (c.frames - 1) / c.interval : 0;
  // A problem placed just before a cut last group runs into it: one region.
  const bool merged = c.truncate && c.problems && (c.frames - 1) % c.interval == 0;
  const uint64_t problems = places + (c.truncate && !merged ? 1 : 0);

  const RunResult inspected = Kestrum({"inspect", stream});
  ASSERT_EQ(inspected.exit_code, 0) << inspected.err;
  std::map<std::string, std::string> f = Fields(inspected.out);
  EXPECT_EQ(f["format"], "stream");
  EXPECT_EQ(f["header"], "accepted");
  EXPECT_EQ(f["picture"], c.picture);
  EXPECT_NE(f["version"].find(c.version), std::string::npos) << f["version"];
  char type[16];
  std::snprintf(type, sizeof type, "0x%X", c.stream_type);
  EXPECT_EQ(f["stream type"], type);
  EXPECT_EQ(f["groups"], std::to_string(whole));
  EXPECT_EQ(f["start groups"], std::to_string(starts));
  EXPECT_EQ(f["problems"], std::to_string(problems));

  const std::vector<uint8_t> bytes = ReadBytes(stream);
  const ReadBack back = ReadWithPacketSource(stream, c.stream_type);
  EXPECT_TRUE(std::equal(back.header.begin(), back.header.end(), bytes.begin()));
  EXPECT_EQ(back.bytes, bytes.size()) << "every byte is in exactly one packet";
  EXPECT_TRUE(back.all_groups_well_formed);
  EXPECT_EQ(back.groups, whole);
  EXPECT_EQ(back.start_groups, starts);
  EXPECT_EQ(back.skipped_offsets.size(), problems);
  for (int k = 0; k < 5; ++k) {
    char label[16];
    std::snprintf(label, sizeof label, "blocks 0x%X", 0x1001 + k);
    EXPECT_EQ(f[label], std::to_string(back.blocks[k])) << label;
  }
  // inspect names the same offsets as the packet source.
  const std::vector<std::string> lines = LinesStartingWith(inspected.out, "problem: offset ");
  ASSERT_EQ(lines.size(), back.skipped_offsets.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("problem: offset " + std::to_string(back.skipped_offsets[i]) + ":", 0),
              0u)
        << lines[i];
  }
  // As JSON, read by python3's parser: the text's counts, and rows (groups
  // and stretches in no group) that cover the file after its header.
  const RunResult json = Kestrum({"inspect", "--json", "--show-groups", stream});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  std::map<std::string, std::string> j = Fields(ReadJson(
      json.out,
      "f = d['files'][0]\n"
      "print('groups:', f['group_count'])\n"
      "print('start groups:', f['start_group_count'])\n"
      "print('problems:', f['problem_count'])\n"
      "print('picture: %d x %d' % (f['header']['picture_width'], f['header']['picture_height']))\n"
      "print('covered:', 40 + sum(r['size'] for r in f['groups']))\n"
      "print('key rows:', sum(r['key'] for r in f['groups']))\n"));
  for (const char* label : {"groups", "start groups", "problems", "picture"}) {
    EXPECT_EQ(j[label], f[label]) << label;
  }
  EXPECT_EQ(j["covered"], std::to_string(bytes.size()));
  EXPECT_EQ(j["key rows"], std::to_string(starts));
  // A realistic mix: small blocks of both other kinds in a long enough run.
  if (whole >= 100) {
    EXPECT_GT(back.blocks[0], 0u);
    EXPECT_GT(back.blocks[1], 0u);
    EXPECT_GT(back.groups_with_several_video_blocks, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, GenerateInspectTest,
    ::testing::Values(
        GenerateCase{"Defaults",
                     {},
                     250,
                     25,
                     0x1001,
                     false,
                     62,
                     false,
                     "704 x 576",
                     "explicit picture size"},
        GenerateCase{"OlderHeaderSmallPicture",
                     {"--frames", "40", "--resolution", "0x1002", "--video-standard", "0x1002",
                      "--key-interval", "10", "--stream-type", "0x1003"},
                     40,
                     10,
                     0x1003,
                     false,
                     10,
                     false,
                     "176 x 120",
                     "resolution code"},
        GenerateCase{"JunkAndMalformed",
                     {"--frames", "100", "--junk", "--malformed", "--stream-type", "0x1002",
                      "--key-interval", "7", "--random-state", "99"},
                     100,
                     7,
                     0x1002,
                     true,
                     25,
                     false,
                     "704 x 576",
                     "explicit picture size"},
        GenerateCase{"MalformedAfterEveryGroup",
                     {"--frames", "30", "--malformed", "--problem-interval", "1"},
                     30,
                     25,
                     0x1001,
                     true,
                     1,
                     false,
                     "704 x 576",
                     "explicit picture size"},
        GenerateCase{"JunkAndCutLastGroup",
                     {"--frames", "60", "--junk", "--problem-interval", "7", "--truncate"},
                     60,
                     25,
                     0x1001,
                     true,
                     7,
                     true,
                     "704 x 576",
                     "explicit picture size"},
        GenerateCase{"JunkRunsIntoCutLastGroup",
                     {"--frames", "21", "--junk", "--problem-interval", "4", "--truncate"},
                     21,
                     25,
                     0x1001,
                     true,
                     4,
                     true,
                     "704 x 576",
                     "explicit picture size"},
        GenerateCase{"LargeGroupsSplitIntoBlocks",
                     {"--frames", "12", "--bitrate", "100000000", "--key-interval", "4", "--size",
                      "352x288"},
                     12,
                     4,
                     0x1001,
                     false,
                     3,
                     false,
                     "352 x 288",
                     "explicit picture size"}),
    [](const ::testing::TestParamInfo<GenerateCase>& p) { return p.param.name; });

TEST(GenerateTest, SameGeneratorStateSameBytes) {
  TempFolder folder;
  const std::vector<std::string> options{"--frames", "60", "--junk", "--malformed"};
  auto generate = [&](const std::string& name, const std::string& state) {
    std::vector<std::string> args{"generate", folder.Path(name), "--random-state", state};
    args.insert(args.end(), options.begin(), options.end());
    EXPECT_EQ(Kestrum(args).exit_code, 0);
    return ReadBytes(folder.Path(name));
  };
  const std::vector<uint8_t> a = generate("a.bin", "7");
  const std::vector<uint8_t> b = generate("b.bin", "7");
  const std::vector<uint8_t> c = generate("c.bin", "8");
  ASSERT_GT(a.size(), 40u);
  EXPECT_TRUE(a == b);
  EXPECT_FALSE(a == c);

  // "-" writes the same bytes to standard output, and the report to stderr.
  const RunResult to_stdout =
      Kestrum({"generate", "-", "--random-state", "7", "--frames", "60", "--junk", "--malformed"});
  EXPECT_EQ(to_stdout.exit_code, 0);
  EXPECT_TRUE(std::vector<uint8_t>(to_stdout.out.begin(), to_stdout.out.end()) == a);
  EXPECT_NE(to_stdout.err.find("60 groups"), std::string::npos) << to_stdout.err;
}

// Picture sizes and refusals by the header rules, as inspect reports them.
struct HeaderCase {
  std::string name;
  std::vector<std::string> options;
  std::string picture;  // empty: refused
  std::string refusal;  // part of the refusal text
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class HeaderInspectTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderInspectTest, PictureSizeOrRefusal) {
  TempFolder folder;
  const std::string stream = folder.Path("s.bin");
  std::vector<std::string> args{"generate", stream, "--frames", "3"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  ASSERT_EQ(Kestrum(args).exit_code, 0);
  const RunResult r = Kestrum({"inspect", stream});
  std::map<std::string, std::string> f = Fields(r.out);
  if (GetParam().picture.empty()) {
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_NE(f["header"].find("refused"), std::string::npos);
    EXPECT_EQ(f["format"], "neither an ASF file nor a stream (its header is refused)");
    EXPECT_NE(r.err.find(GetParam().refusal), std::string::npos) << r.err;
  } else {
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(f["header"], "accepted");
    EXPECT_EQ(f["picture"], GetParam().picture);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderInspectTest,
    ::testing::Values(
        HeaderCase{"Explicit704x288Doubles", {"--size", "704x288"}, "704 x 576", ""},
        HeaderCase{"Explicit704x240Doubles", {"--size", "704x240"}, "704 x 480", ""},
        HeaderCase{"Explicit352x240Stays", {"--size", "352x240"}, "352 x 240", ""},
        HeaderCase{"Code1001Pal", {"--resolution", "0x1001"}, "352 x 288", ""},
        HeaderCase{"Code1002Ntsc",
                   {"--resolution", "0x1002", "--video-standard", "0x1002"},
                   "176 x 120",
                   ""},
        HeaderCase{"Code1005Pal", {"--resolution", "0x1005"}, "88 x 72", ""},
        HeaderCase{"Code1007IgnoresStandard", {"--resolution", "0x1007"}, "160 x 120", ""},
        HeaderCase{"Code1008Ntsc",
                   {"--resolution", "0x1008", "--video-standard", "0x1002"},
                   "528 x 320",
                   ""},
        HeaderCase{"CodeWithHighBitsIsUnknown", {"--resolution", "0x11003"}, "352 x 288", ""},
        HeaderCase{"StreamType1004", {"--stream-type", "0x1004"}, "", "stream type"}),
    [](const ::testing::TestParamInfo<HeaderCase>& p) { return p.param.name; });

}  // namespace
}  // namespace cli_test
