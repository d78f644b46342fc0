// kestrum inspect on ASF files written by ffmpeg, checked against ffprobe,
// and on damaged copies of them, which it must survive.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "e2e/cli_runner.h"

namespace cli_test {
namespace {

class AsfInspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg/ffprobe not found";
    asf_ = folder_.Path("x.asf");
    const RunResult made =
        RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25",
                              "-frames:v", "60", "-c:v", "mpeg4", "-g", "12", "-metadata",
                              "title=Kestrum \xC3\xA9t\xC3\xA9", "-metadata",
                              "comment=a description", "-f", "asf", asf_});
    ASSERT_EQ(made.exit_code, 0) << made.err;
  }

  TempFolder folder_;
  std::string asf_;
};

TEST_F(AsfInspectTest, AgreesWithFfprobe) {
  const RunResult probe =
      RunProgram("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                             "stream=codec_tag_string,width,height,nb_read_packets:format=duration:"
                             "format_tags=title,comment",
                             "-of", "default=noprint_wrappers=1", asf_});
  ASSERT_EQ(probe.exit_code, 0) << probe.err;
  std::map<std::string, std::string> want;
  for (const std::string& line : LinesStartingWith(probe.out, "")) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) want[line.substr(0, eq)] = line.substr(eq + 1);
  }

  const RunResult r = Kestrum({"inspect", asf_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::map<std::string, std::string> f = Fields(r.out);
  EXPECT_EQ(f["format"], "ASF");
  EXPECT_EQ(f["title"], want["TAG:title"]);
  EXPECT_EQ(f["description"], want["TAG:comment"]);
  EXPECT_EQ(f["problems"], "0");
  EXPECT_EQ(f.count("started"), 0u) << "its creation date is what ffmpeg made it";
  const double duration = std::stod(want["duration"]);
  EXPECT_NEAR(std::stod(f["duration"]), duration, 0.0015) << f["duration"];

  const std::vector<std::string> streams = LinesStartingWith(r.out, "stream ");
  ASSERT_EQ(streams.size(), 1u) << r.out;
  std::smatch m;
  const std::regex line(R"(stream \d+: video, fourcc (\S+), (\d+) x (\d+), .*, (\d+) samples .*)");
  ASSERT_TRUE(std::regex_match(streams[0], m, line)) << streams[0];
  EXPECT_EQ(m[1].str(), want["codec_tag_string"]);
  EXPECT_EQ(m[2].str(), want["width"]);
  EXPECT_EQ(m[3].str(), want["height"]);
  EXPECT_EQ(m[4].str(), want["nb_read_packets"]);

  // As JSON, read by python3's parser, whole and cut short: the text's
  // values, problems and exit code, and a row a sample.
  const std::string cut = folder_.Path("cut.asf");
  const std::vector<uint8_t> whole = ReadBytes(asf_);
  WriteBytes(cut, {whole.begin(), whole.begin() + static_cast<ptrdiff_t>(whole.size() / 2)});
  for (const std::string& file : {asf_, cut}) {
    SCOPED_TRACE(file);
    const RunResult text = Kestrum({"inspect", file});
    const RunResult json = Kestrum({"inspect", "--json", "--show-samples", file});
    EXPECT_EQ(json.exit_code, text.exit_code) << json.err;
    const std::string read = ReadJson(
        json.out,
        "f = d['files'][0]\n"
        "print('exit: %d' % f['exit_status'])\n"
        "print('title:', f['title'])\n"
        "print('duration: %.3f s' % f['duration'])\n"
        "s = f['streams'][0]\n"
        "print('stream: %d samples (%d key)' % (s['samples'], s['key_samples']))\n"
        "print('rows: %d samples (%d key)' % (len(f['samples']), sum(r['key'] for r in f['samples'])))\n"
        "for p in f['problems']: print('problem:', p)\n");
    std::map<std::string, std::string> j = Fields(read);
    EXPECT_EQ(j["exit"], std::to_string(text.exit_code));
    EXPECT_EQ(j["title"], Fields(text.out)["title"]);
    EXPECT_EQ(j["duration"], Fields(text.out)["duration"]);
    EXPECT_NE(LinesStartingWith(text.out, "stream ")[0].find(j["stream"]), std::string::npos);
    EXPECT_EQ(j["rows"], j["stream"]);
    EXPECT_EQ(LinesStartingWith(read, "problem: "), LinesStartingWith(text.out, "problem: "));
  }
  EXPECT_FALSE(LinesStartingWith(Kestrum({"inspect", cut}).out, "problem: ").empty());
}

// A title that would set the window title, colour the terminal and begin a
// line of its own, a description with a C1 control and a right-to-left
// override, a name with an escape: printed escaped, forging no field; JSON
// carries each exactly, with nothing a terminal acts on left raw.
TEST_F(AsfInspectTest, OutsideTextIsEscaped) {
  const std::string file = folder_.Path("n\x1B[2J.asf");
  const RunResult made = RunProgram(
      "ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=25", "-frames:v", "5",
                 "-c:v", "mpeg4", "-metadata", "title=T\x1B]0;owned\x07\x1B[31m\nfake: line",
                 "-metadata", "comment=d\xC2\x9B" "31m\xE2\x80\xAE", "-f", "asf", file});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  const RunResult r = Kestrum({"inspect", file});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find_first_of("\x1B\x07"), std::string::npos) << r.out;
  std::map<std::string, std::string> f = Fields(r.out);
  EXPECT_EQ(f.count("fake"), 0u) << r.out;
  EXPECT_EQ(f["file"], folder_.Path("n\\x1B[2J.asf"));
  EXPECT_EQ(f["title"], "T\\x1B]0;owned\\x07\\x1B[31m\\nfake: line");
  EXPECT_EQ(f["description"], "d\\xC2\\x9B31m\\xE2\\x80\\xAE");

  const RunResult json = Kestrum({"inspect", "--json", file});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_EQ(json.out.find_first_of("\x1B\x07"), std::string::npos);
  EXPECT_EQ(json.out.find("\xC2\x9B"), std::string::npos);
  EXPECT_EQ(json.out.find("\xE2\x80\xAE"), std::string::npos);
  EXPECT_EQ(ReadJson(json.out,
                     "f = d['files'][0]\n"
                     "print(ascii(f['title']), ascii(f['description']), ascii(f['file'][-9:]))\n"),
            "'T\\x1b]0;owned\\x07\\x1b[31m\\nfake: line' 'd\\x9b31m\\u202e' 'n\\x1b[2J.asf'\n");
}

TEST_F(AsfInspectTest, SurvivesCutAndDamagedFiles) {
  const std::vector<uint8_t> whole = ReadBytes(asf_);
  const std::string damaged = folder_.Path("damaged.asf");
  auto check = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
    WriteBytes(damaged, bytes);
    const RunResult r = Kestrum({"inspect", damaged});
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 4) << what << ": exit " << r.exit_code;
  };
  // Cut at many points, densely through the header.
  for (size_t cut = 16; cut < whole.size(); cut += cut < 1200 ? 23 : 1999) {
    check(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(cut)),
          "cut at " + std::to_string(cut));
  }
  // Random bytes overwritten in the header and the first packets.
  uint32_t state = 2024;
  for (int round = 0; round < 120; ++round) {
    std::vector<uint8_t> bytes = whole;
    for (int k = 0; k < 6; ++k) {
      state = state * 1664525u + 1013904223u;
      const size_t at = 16 + (state >> 8) % 4000;
      state = state * 1664525u + 1013904223u;
      if (at < bytes.size()) bytes[at] = static_cast<uint8_t>(state >> 24);
    }
    check(bytes, "round " + std::to_string(round));
  }
  // Damaged throughout (every other packet's head of 300 frames in
  // 200-byte packets): every problem counted, the first 100 kept, in the
  // text and in JSON alike.
  const std::string many = folder_.Path("many.asf");
  ASSERT_EQ(RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=320x240:rate=25",
                                  "-frames:v", "300", "-c:v", "mpeg4", "-packet_size", "200",
                                  "-f", "asf", many})
                .exit_code,
            0);
  std::vector<uint8_t> bytes = ReadBytes(many);
  const uint8_t data_object[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const auto data = std::search(bytes.begin(), bytes.end(), std::begin(data_object),
                                std::end(data_object));
  ASSERT_NE(data, bytes.end());
  const size_t first_packet = static_cast<size_t>(data - bytes.begin()) + 50;
  for (size_t at = first_packet + 200; at < bytes.size(); at += 400) bytes[at] = 0;
  WriteBytes(many, bytes);
  const RunResult r = Kestrum({"inspect", many});
  const int count = std::stoi(Fields(r.out)["problems"]);
  EXPECT_GT(count, 100) << r.out;
  EXPECT_EQ(LinesStartingWith(r.out, "problem: ").size(), 101u);
  EXPECT_EQ(LinesStartingWith(r.out, "problem: ").back(),
            "problem: ... and " + std::to_string(count - 100) + " more");
  EXPECT_EQ(ReadJson(Kestrum({"inspect", "--json", many}).out,
                     "f = d['files'][0]\nprint(f['problem_count'], len(f['problems']))\n"),
            std::to_string(count) + " 100\n");
}

}  // namespace
}  // namespace cli_test
