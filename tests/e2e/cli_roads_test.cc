// The program over the library's two roads.  until the live road
// and the file road are in the library: enable them then.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e/cli_runner.h"

namespace cli_test {
namespace {

// The concatenated sample bytes of stream 0, as ffmpeg reads them.
std::vector<uint8_t> SampleBytes(const std::string& asf, const TempFolder& folder) {
  const std::string out = folder.Path("samples.bin");
  const RunResult r = RunProgram(
      "ffmpeg", {"-v", "error", "-y", "-i", asf, "-map", "0:0", "-c", "copy", "-f", "data", out});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return ReadBytes(out);
}

class RoadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = folder_.Path("stream.bin");
    // Video blocks only: both roads then carry the same blocks.
    const RunResult r =
        Kestrum({"generate", stream_, "--frames", "120", "--video-only", "--random-state", "5"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  TempFolder folder_;
  std::string stream_;
};

TEST_F(RoadsTest, ConvertWritesAnAsfThatInspectAndFfprobeRead) {
  const std::string asf = folder_.Path("c.asf");
  const RunResult r = Kestrum({"convert", stream_, asf});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const RunResult inspected = Kestrum({"inspect", asf});
  ASSERT_EQ(inspected.exit_code, 0) << inspected.err;
  const std::vector<std::string> streams = LinesStartingWith(inspected.out, "stream 8: video");
  ASSERT_EQ(streams.size(), 1u) << inspected.out;
  EXPECT_NE(streams[0].find("fourcc XQV4, 704 x 576, codec data 40 bytes"), std::string::npos)
      << streams[0];
  if (HaveTool("ffprobe")) {
    const RunResult probe =
        RunProgram("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                               "stream=nb_read_packets", "-of", "csv=p=0", asf});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(streams[0], m, std::regex(R"((\d+) samples)")));
    EXPECT_EQ(probe.out, m[1].str() + "\n");
  }
}

TEST_F(RoadsTest, RecordInAnyPiecesGivesTheSameSamplesAsConvert) {
  if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not found";
  const std::string converted = folder_.Path("c.asf");
  ASSERT_EQ(Kestrum({"convert", stream_, converted}).exit_code, 0);
  const std::vector<uint8_t> want = SampleBytes(converted, folder_);
  ASSERT_FALSE(want.empty());
  for (const std::string piece : {"1", "40", "4096", "100000", "group"}) {
    const std::string recorded = folder_.Path("r" + piece + ".asf");
    const RunResult r = Kestrum({"record", stream_, recorded, "--piece-size", piece});
    ASSERT_EQ(r.exit_code, 0) << piece << ": " << r.err;
    EXPECT_TRUE(SampleBytes(recorded, folder_) == want) << "--piece-size " << piece;
  }
  const std::string piped = folder_.Path("stdin.asf");
  ASSERT_EQ(Kestrum({"record", "-", piped}, stream_).exit_code, 0);
  EXPECT_TRUE(SampleBytes(piped, folder_) == want) << "from standard input";
}

TEST_F(RoadsTest, VerboseShowsTheLibraryLines) {
  const RunResult r = Kestrum({"convert", stream_, folder_.Path("c.asf"), "--verbose"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // The file road writes each packet-source result as a line: 0 per packet,
  // then 2 at the end.
  EXPECT_NE(r.err.find("[kestrum] 0\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[kestrum] 2\n"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace cli_test
