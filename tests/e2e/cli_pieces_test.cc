// Pieces of the kestrum program that carry their own rules: argument and
// number parsing, escaping of outside text, and how record cuts its input
// into pieces for the live road.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frame/args.h"
#include "e2e/cli_runner.h"
#include "frame/escape.h"
#include "io/group_follower.h"
#include "io/piece_reader.h"
#include "io/piece_sender.h"
#include "io/segments.h"

namespace cli_test {
namespace {

using kestrum_cli::Args;
using kestrum_cli::OptionSpec;
using Bytes = std::vector<uint8_t>;

// The library's lines keep printable ASCII only; names and titles keep
// printable UTF-8 but nothing a terminal acts on, and double their
// backslashes only where something else is escaped.
TEST(EscapedTest, WhatATerminalWouldActOnIsEscaped) {
  using kestrum_cli::Escaped;
  using kestrum_cli::TextBytes;
  const struct {
    std::string text;
    TextBytes bytes;
    std::string shown;
  } rows[] = {
      {"multi !!!!!!!!!!!!!!!!!\r\n", TextBytes::kLibrary, "multi !!!!!!!!!!!!!!!!!\\r\\n"},
      {"Splitter : \xC1\xD9\xCA\xB1", TextBytes::kLibrary, "Splitter : \\xC1\\xD9\\xCA\\xB1"},
      {"a\\b\tc\x7F", TextBytes::kLibrary, "a\\\\b\\tc\\x7F"},
      {"-----------Splitter : block_size = 500000 00001003", TextBytes::kLibrary,
       "-----------Splitter : block_size = 500000 00001003"},
      {"Kestrum \xC3\xA9t\xC3\xA9 \xE2\x82\xAC", TextBytes::kUtf8, "Kestrum \xC3\xA9t\xC3\xA9 \xE2\x82\xAC"},
      {"\x1B]0;x\x07\x1B[31m\nfake: line", TextBytes::kUtf8,
       "\\x1B]0;x\\x07\\x1B[31m\\nfake: line"},
      {"C:\\cam\\1.xqv", TextBytes::kUtf8, "C:\\cam\\1.xqv"},
      {"C:\\cam\\\x1B.xqv", TextBytes::kUtf8, "C:\\\\cam\\\\\\x1B.xqv"},
      // C1 CSI, a right-to-left override, a line separator, a cut and an
      // overlong sequence, a surrogate.
      {"a\xC2\x9B" "31m\xE2\x80\xAEz\xE2\x80\xA8\xE2\x82\xC0\x80\xED\xA0\x80", TextBytes::kUtf8,
       "a\\xC2\\x9B31m\\xE2\\x80\\xAEz\\xE2\\x80\\xA8\\xE2\\x82\\xC0\\x80\\xED\\xA0\\x80"},
      {std::string("a\0b", 3), TextBytes::kUtf8, "a\\x00b"},
  };
  for (const auto& row : rows) EXPECT_EQ(Escaped(row.text, row.bytes), row.shown) << row.shown;
}

const std::vector<OptionSpec> kSpec = {
    {"verbose", false, 'v'}, {"frames", true}, {"junk", false}, {"jobs", true, 'j'}};

TEST(ArgsTest, OptionsAnywhereValuesBothWaysAndPositionals) {
  Args args;
  std::string error;
  ASSERT_TRUE(
      args.Parse({"in", "--frames", "7", "-v", "-", "--junk", "--", "--frames=9"}, kSpec, error))
      << error;
  EXPECT_EQ(args.Value("frames"), "7");
  EXPECT_TRUE(args.Has("verbose"));
  EXPECT_TRUE(args.Has("junk"));
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"in", "-", "--frames=9"}));
  ASSERT_TRUE(args.Parse({"--frames=3", "--frames=4", "-j3"}, kSpec, error));
  EXPECT_EQ(args.Value("frames"), "4");
  EXPECT_EQ(args.Value("jobs"), "3");
  EXPECT_FALSE(args.Has("junk"));
  ASSERT_TRUE(args.Parse({"-j", "5"}, kSpec, error));
  EXPECT_EQ(args.Value("jobs"), "5");
}

TEST(ArgsTest, BadOptionsAreRefused) {
  Args args;
  std::string error;
  EXPECT_FALSE(args.Parse({"--nope"}, kSpec, error));
  EXPECT_FALSE(args.Parse({"-x"}, kSpec, error));
  EXPECT_FALSE(args.Parse({"--frames"}, kSpec, error));
  EXPECT_FALSE(args.Parse({"--junk=yes"}, kSpec, error));
  EXPECT_FALSE(args.Parse({"-vj"}, kSpec, error));
  EXPECT_FALSE(args.Parse({"--frame=3"}, kSpec, error));
  EXPECT_NE(error.find("unknown option '--frame=3'; did you mean '--frames'?"), std::string::npos)
      << error;
  EXPECT_FALSE(args.Parse({"--quux"}, kSpec, error));
  EXPECT_EQ(error, "unknown option '--quux'");
}

// The numbers the options take: whole numbers (decimal or hexadecimal,
// within a range), byte sizes (K, M, G) and times (seconds or
// [HH:]MM:SS, in milliseconds).
enum class NumberKind { kUnsigned, kByteSize, kTime };

struct NumberCase {
  std::string text;
  bool ok;
  uint64_t value;
  NumberKind kind = NumberKind::kUnsigned;
};

void PrintTo(const NumberCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class ParseNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumberTest, WholeNumbersSizesAndTimes) {
  const NumberCase& c = GetParam();
  uint64_t value = 12345;
  std::string error;
  const bool ok =
      c.kind == NumberKind::kUnsigned
          ? kestrum_cli::ParseUnsigned(c.text, 1, 0xFFFFFFFF, "n", value, error)
      : c.kind == NumberKind::kByteSize
          ? kestrum_cli::ParseByteSize(c.text, "n", uint64_t{1} << 28, value, error)
          : kestrum_cli::ParseSegmentTime(c.text, value, error);
  EXPECT_EQ(ok, c.ok) << c.text;
  if (c.ok) {
    EXPECT_EQ(value, c.value);
  } else {
    EXPECT_NE(error.find(c.text), std::string::npos) << error;
  }
}

constexpr NumberKind kSize = NumberKind::kByteSize;
constexpr NumberKind kTime = NumberKind::kTime;

INSTANTIATE_TEST_SUITE_P(
    Numbers, ParseNumberTest,
    ::testing::Values(NumberCase{"42", true, 42}, NumberCase{"0x1003", true, 0x1003},
                      NumberCase{"0XfF", true, 255}, NumberCase{"4294967295", true, 0xFFFFFFFF},
                      NumberCase{"4294967296", false, 0}, NumberCase{"0", false, 0},
                      NumberCase{"", false, 0}, NumberCase{"0x", false, 0},
                      NumberCase{"12a", false, 0}, NumberCase{"-1", false, 0},
                      NumberCase{" 5", false, 0}, NumberCase{"99999999999999999999999", false, 0},
                      NumberCase{"4k", true, 4096, kSize}, NumberCase{"4K", true, 4096, kSize},
                      NumberCase{"256M", true, uint64_t{1} << 28, kSize},
                      NumberCase{"257M", false, 0, kSize}, NumberCase{"0k", false, 0, kSize},
                      NumberCase{"4kb", false, 0, kSize}, NumberCase{"10", true, 10000, kTime},
                      NumberCase{"10s", true, 10000, kTime}, NumberCase{"10.5", true, 10500, kTime},
                      NumberCase{"500ms", true, 500, kTime}, NumberCase{"1:30", true, 90000, kTime},
                      NumberCase{"00:00:10.5", true, 10500, kTime},
                      NumberCase{"1:00:00", true, 3600000, kTime},
                      NumberCase{"0.0001", true, 1, kTime}, NumberCase{"0", false, 0, kTime},
                      NumberCase{"-5", false, 0, kTime}, NumberCase{"0:00", false, 0, kTime},
                      NumberCase{"1:60", false, 0, kTime}, NumberCase{"1::3", false, 0, kTime},
                      NumberCase{"1e3", false, 0, kTime}, NumberCase{"inf", false, 0, kTime},
                      NumberCase{"ten", false, 0, kTime},
                      NumberCase{"99999999999", false, 0, kTime}));

TEST(PieceSenderTest, NoDataPieceOfFortyBytes) {
  std::vector<int32_t> sizes;
  Bytes data;
  kestrum_cli::PieceSender sender([&](const uint8_t* p, int32_t n) {
    sizes.push_back(n);
    data.insert(data.end(), p, p + n);
  });
  Bytes input(300);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i);
  sender.Header(input.data());
  sender.Piece(input.data() + 40, 100);
  sender.Piece(input.data() + 140, 40);
  sender.Piece(input.data() + 180, 41);
  sender.Piece(input.data() + 221, 39);
  sender.Piece(input.data() + 260, 40);
  EXPECT_EQ(sizes, (std::vector<int32_t>{40, 100, 39, 1, 41, 39, 39, 1}));
  EXPECT_TRUE(data == input);
  EXPECT_EQ(sender.calls(), 8u);
}

// Small stream pieces built here: groups, and bytes that are none.
void PutLe(Bytes& b, size_t at, uint32_t v, int width) {
  for (int i = 0; i < width; ++i)
    b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes Group(uint32_t payload, uint16_t kind = 0x1003, uint32_t group_type = 0x1000) {
  Bytes g(48 + 20 + payload, 0x80);
  std::fill(g.begin(), g.begin() + 68, uint8_t{0});
  PutLe(g, 0, 1, 4);
  PutLe(g, 12, group_type, 4);
  PutLe(g, 16, 0x1001, 4);
  PutLe(g, 48, kind, 2);
  PutLe(g, 64, payload, 4);
  return g;
}

Bytes Cut(Bytes b, size_t n) {
  b.resize(n);
  return b;
}

std::vector<Bytes> Pieces(const Bytes& input, size_t piece_size, Bytes& header) {
  TempFolder folder;
  const std::string path = folder.Path("in.bin");
  WriteBytes(path, input);
  const int fd = ::open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  kestrum_cli::PieceReader reader(fd, piece_size);
  std::vector<Bytes> pieces;
  uint8_t h[40];
  EXPECT_TRUE(reader.ReadHeader(h));
  header.assign(h, h + 40);
  const uint8_t* data = nullptr;
  size_t size = 0;
  while (reader.Next(data, size)) pieces.emplace_back(data, data + size);
  EXPECT_FALSE(reader.failed());
  EXPECT_EQ(reader.consumed(), input.size());
  ::close(fd);
  return pieces;
}

TEST(PieceReaderTest, GroupPiecesAreWholeGroupsAndTheBytesBetween) {
  const Bytes head(40, 0x33);
  const std::vector<Bytes> expected = {
      Group(100),      Group(0),
      Bytes(77, 0x5A),                             // junk
      Group(500),      Group(30, 0x1006),          // a malformed group ...
      Group(20),       Group(50, 0x1003, 0x1002),  // ... and a bad group type
      Group(300000),   Cut(Group(40), 60)};        // cut at the end
  Bytes input = head;
  for (const Bytes& p : expected) input.insert(input.end(), p.begin(), p.end());
  Bytes header;
  const std::vector<Bytes> got = Pieces(input, 0, header);
  EXPECT_TRUE(header == head);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_TRUE(got[i] == expected[i]) << "piece " << i;
  // Followed in pieces of any size, the stream ends inside the cut group
  // (60 bytes held); without it, between groups.
  const Bytes uncut(input.begin(), input.end() - 60);
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{4096}, input.size()}) {
    for (const Bytes* stream : {static_cast<const Bytes*>(&input), &uncut}) {
      kestrum_cli::GroupFollower follower;
      for (size_t at = 40; at < stream->size(); at += piece) {
        follower.Feed(stream->data() + at, std::min(piece, stream->size() - at));
      }
      EXPECT_EQ(follower.unfinished(), stream == &input ? 60u : 0u) << "pieces of " << piece;
    }
  }
}

TEST(PieceReaderTest, LongJunkComesInBoundedPiecesUpToTheNextGroup) {
  Bytes input(40, 0x11);
  const Bytes junk(2500000, 0x5A);
  input.insert(input.end(), junk.begin(), junk.end());
  const Bytes after = Group(1000);
  input.insert(input.end(), after.begin(), after.end());
  Bytes header;
  const std::vector<Bytes> got = Pieces(input, 0, header);
  ASSERT_GE(got.size(), 3u);
  EXPECT_TRUE(got.back() == after);
  Bytes joined;
  for (size_t i = 0; i + 1 < got.size(); ++i) {
    EXPECT_LE(got[i].size(), size_t{2} << 20);
    joined.insert(joined.end(), got[i].begin(), got[i].end());
  }
  EXPECT_TRUE(joined == junk);
}

TEST(PieceReaderTest, FixedPiecesCoverTheInputInOrder) {
  Bytes input(40 + 10000);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 31);
  for (size_t piece : {size_t{1}, size_t{41}, size_t{4096}, size_t{10000}, size_t{20000}}) {
    Bytes header;
    const std::vector<Bytes> got = Pieces(input, piece, header);
    Bytes joined = header;
    for (size_t i = 0; i < got.size(); ++i) {
      if (i + 1 < got.size()) {
        EXPECT_EQ(got[i].size(), piece);
      }
      joined.insert(joined.end(), got[i].begin(), got[i].end());
    }
    EXPECT_EQ(got.size(), (10000 + piece - 1) / piece) << piece;
    EXPECT_TRUE(joined == input) << piece;
  }
}

}  // namespace
}  // namespace cli_test
