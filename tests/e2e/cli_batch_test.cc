// kestrum convert over several inputs into an output folder, in child
// processes: every output holds what a single conversion of its input holds,
// whatever the number of jobs; failing inputs are listed and make the exit
// code non-zero without stopping the others.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "e2e/cli_runner.h"

namespace cli_test {
namespace {

namespace fs = std::filesystem;

// What ffprobe reads of a file's samples: time, flags and MD5 of each. Files
// of the same conversion differ only in their ID and creation time, which
// this leaves out.
std::string Samples(const std::string& asf) {
  const RunResult r =
      RunProgram("ffprobe", {"-v", "error", "-show_data_hash", "MD5", "-show_entries",
                             "packet=pts_time,flags,data_hash", "-of", "csv=p=0", asf});
  EXPECT_EQ(r.exit_code, 0) << asf << ": " << r.err;
  return r.out;
}

std::set<std::string> FilesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class BatchConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not found";
    fs::create_directories(folder_.Path("in/sub"));
  }

  // A generated stream at `path`; `n` varies its content and length.
  void Generate(const std::string& path, int n, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"generate",       path,
                                     "--frames",       std::to_string(20 + 15 * n),
                                     "--random-state", std::to_string(n)};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = Kestrum(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }

  // The samples of a single conversion of `input`.
  std::string Single(const std::string& input) {
    const std::string out = folder_.Path("single.asf");
    const RunResult r = Kestrum({"convert", input, out});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return Samples(out);
  }

  TempFolder folder_;
};

TEST_F(BatchConvertTest, FilesAndFoldersBecomeOneOutputEachLikeSingleConversions) {
  Generate(folder_.Path("in/b.xqv"), 1);
  Generate(folder_.Path("in/a.stream"), 2, {"--stream-type", "0x1003", "--size", "352x288"});
  Generate(folder_.Path("in/noext"), 3, {"--junk"});
  Generate(folder_.Path("in/.hidden"), 4);
  Generate(folder_.Path("in/sub/deep.xqv"), 5);
  WriteBytes(folder_.Path("in/old.ASF"), {1, 2, 3});
  Generate(folder_.Path("lone.bin"), 6, {"--malformed"});

  const RunResult r =
      Kestrum({"convert", folder_.Path("in"), folder_.Path("lone.bin"), "-o", folder_.Path("out")});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  // Hidden names, *.asf files and subfolders are not inputs.
  EXPECT_EQ(FilesIn(folder_.Path("out")),
            (std::set<std::string>{"a.asf", "b.asf", "noext.asf", "lone.asf"}));
  EXPECT_NE(r.out.find("converted 4 of 4 streams\n"), std::string::npos) << r.out;
  // A folder's files in name order, then the next input.
  const std::vector<std::string> inputs = {"in/a.stream", "in/b.xqv", "in/noext", "lone.bin"};
  for (const std::string& input : inputs) {
    const std::string output = fs::path(input).stem().string() + ".asf";
    EXPECT_NE(r.out.find(folder_.Path(input) + " -> " + folder_.Path("out/" + output)),
              std::string::npos)
        << input << "\n"
        << r.out;
    const std::string want = Single(folder_.Path(input));
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(Samples(folder_.Path("out/" + output)), want) << input;
  }
}

TEST_F(BatchConvertTest, FailuresAreListedTheOthersConvertedAndTheExitIsNonZero) {
  Generate(folder_.Path("in/good1.xqv"), 1);
  Generate(folder_.Path("in/good2.xqv"), 2);
  WriteBytes(folder_.Path("in/junk.xqv"), std::vector<uint8_t>(500, 0xAB));
  WriteBytes(folder_.Path("in/short.xqv"), std::vector<uint8_t>(39, 1));
  Generate(folder_.Path("in/refused.xqv"), 3, {"--stream-type", "0x1004"});

  const RunResult r = Kestrum({"convert", folder_.Path("in"), folder_.Path("missing.xqv"),
                               folder_.Path("out/"), "--jobs", "3"});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  EXPECT_EQ(FilesIn(folder_.Path("out")), (std::set<std::string>{"good1.asf", "good2.asf"}));
  EXPECT_EQ(Samples(folder_.Path("out/good1.asf")), Single(folder_.Path("in/good1.xqv")));
  EXPECT_EQ(Samples(folder_.Path("out/good2.asf")), Single(folder_.Path("in/good2.xqv")));

  // The summary names every failure, in input order, with its reason.
  const size_t summary_at = r.out.find("converted 2 of 6 streams; 4 failed:\n");
  ASSERT_NE(summary_at, std::string::npos) << r.out;
  const std::string summary = r.out.substr(summary_at);
  const std::vector<std::string> failures = {
      "  " + folder_.Path("in/junk.xqv") + ": ",
      "  " + folder_.Path("in/refused.xqv") + ": ",
      "  " + folder_.Path("in/short.xqv") + ": ",
      "  " + folder_.Path("missing.xqv") + ": cannot open",
  };
  size_t at = 0;
  for (const std::string& failure : failures) {
    const size_t found = summary.find(failure, at);
    EXPECT_NE(found, std::string::npos) << failure << "\n" << summary;
    if (found != std::string::npos) at = found;
    EXPECT_NE(r.err.find("FAILED " + failure.substr(2, failure.find(": ") - 2)), std::string::npos)
        << r.err;
  }
  EXPECT_NE(summary.find("refused.xqv: '"), std::string::npos);
  EXPECT_NE(summary.find("stream type"), std::string::npos) << summary;
  EXPECT_NE(summary.find("40-byte header"), std::string::npos) << summary;
}

class BatchJobsTest : public BatchConvertTest, public ::testing::WithParamInterface<int> {};

// The number of jobs changes when conversions run, not what they write.
TEST_P(BatchJobsTest, OutputsEqualThoseOfOneJobAtATime) {
  for (int n = 1; n <= 7; ++n) {
    Generate(folder_.Path("in/s" + std::to_string(n) + ".xqv"), n,
             n % 3 == 0 ? std::vector<std::string>{"--junk"} : std::vector<std::string>{});
  }
  const RunResult one = Kestrum({"convert", folder_.Path("in"), "-o", folder_.Path("one")});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  const RunResult many = Kestrum({"convert", folder_.Path("in"), "-o", folder_.Path("many"),
                                  "-j" + std::to_string(GetParam())});
  ASSERT_EQ(many.exit_code, 0) << many.err;
  EXPECT_NE(many.out.find("converted 7 of 7 streams\n"), std::string::npos) << many.out;
  const std::set<std::string> names = FilesIn(folder_.Path("one"));
  ASSERT_EQ(names.size(), 7u);
  ASSERT_EQ(FilesIn(folder_.Path("many")), names);
  for (const std::string& name : names) {
    const std::string a = folder_.Path("one/" + name);
    const std::string b = folder_.Path("many/" + name);
    EXPECT_EQ(fs::file_size(a), fs::file_size(b)) << name;
    const std::string samples = Samples(a);
    ASSERT_FALSE(samples.empty()) << name;
    EXPECT_EQ(Samples(b), samples) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Jobs, BatchJobsTest, ::testing::Values(2, 3, 16));

struct BatchUsageCase {
  std::string name;
  std::vector<std::string> args;  // $IN: a folder of two streams; $OUT: an output folder
  std::string message;
};

void PrintTo(const BatchUsageCase& c, std::ostream* os) { *os << c.name; }

class BatchUsageTest : public ::testing::TestWithParam<BatchUsageCase> {};

// Refused before anything is converted: exit 2, nothing written.
TEST_P(BatchUsageTest, RefusedBeforeConverting) {
  TempFolder folder;
  fs::create_directories(folder.Path("in"));
  for (const char* name : {"x.xqv", "y.xqv"}) {
    ASSERT_EQ(
        Kestrum({"generate", folder.Path(std::string("in/") + name), "--frames", "3"}).exit_code,
        0);
  }
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args) {
    args.push_back(a == "$IN" ? folder.Path("in") : a == "$OUT" ? folder.Path("out") : a);
  }
  if (GetParam().name == "SameStemTwice") {
    ASSERT_EQ(Kestrum({"generate", folder.Path("in/x.other"), "--frames", "3"}).exit_code, 0);
  }
  const RunResult r = Kestrum(args);
  EXPECT_EQ(r.exit_code, 2) << r.out << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(folder.Path("out")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BatchUsageTest,
    ::testing::Values(
        BatchUsageCase{"SameStemTwice", {"convert", "$IN", "-o", "$OUT"}, "would both be written"},
        BatchUsageCase{"NoInputs", {"convert", "-o", "$OUT"}, "expected INPUT"},
        BatchUsageCase{"JobsZero", {"convert", "$IN", "-o", "$OUT", "--jobs", "0"}, "--jobs"},
        BatchUsageCase{"JobsWord", {"convert", "$IN", "-o", "$OUT", "-j", "many"}, "--jobs"}),
    [](const ::testing::TestParamInfo<BatchUsageCase>& c) { return c.param.name; });

}  // namespace
}  // namespace cli_test
