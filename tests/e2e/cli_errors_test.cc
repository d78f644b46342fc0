// The program's command line: help, argument errors, and the exit codes and
// messages for a missing input, a stream that is not one, an unwritable
// output. None of these cases needs the library's roads.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/cli_runner.h"
#include "kestrum.h"

namespace cli_test {
namespace {

// Files every case may name: $STREAM (a generated stream), $SHORT (39
// bytes), $JUNK (no stream header), $ASF (an ASF header object's start),
// $MISSING, $OUT (an output path that must stay absent), $NODIR (an output
// in a missing folder), $BATCH (a folder holding stream.asf and junk.asf,
// two names of one file), $TWIN and
// $BATCHED (other names of $BATCH/stream.asf), $SEGMENTS (a pattern whose
// first file is another name of $STREAM), $EXISTS (a file that must stay as
// it is), $SERIES (a pattern whose file 1 is another name of $EXISTS) and
// $LONG (an output name of 300 bytes in an existing folder).
struct ErrorCase {
  std::string name;
  std::vector<std::string> args;
  int exit_code;
  std::string message;  // part of stderr
  std::string stdin_file = "";
  bool silent = false;  // nothing on stderr (-loglevel quiet)
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class CliErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CliErrorTest, ExitCodeAndMessage) {
  TempFolder folder;
  const std::string stream = folder.Path("stream.bin");
  ASSERT_EQ(Kestrum({"generate", stream, "--frames", "5"}).exit_code, 0);
  std::vector<uint8_t> header_part = ReadBytes(stream);
  header_part.resize(39);
  WriteBytes(folder.Path("short.bin"), header_part);
  WriteBytes(folder.Path("junk.bin"), std::vector<uint8_t>(300, 0xAB));
  std::vector<uint8_t> asf = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  asf.resize(300);
  WriteBytes(folder.Path("recording.asf"), asf);
  std::filesystem::create_directories(folder.Path("batch"));
  WriteBytes(folder.Path("batch/stream.asf"), ReadBytes(stream));
  std::filesystem::create_hard_link(folder.Path("batch/stream.asf"), folder.Path("twin.bin"));
  std::filesystem::create_hard_link(folder.Path("batch/stream.asf"), folder.Path("batch/junk.asf"));
  std::filesystem::create_hard_link(stream, folder.Path("seg0.bin"));
  WriteBytes(folder.Path("exists.asf"), {1, 2, 3});
  std::filesystem::create_hard_link(folder.Path("exists.asf"), folder.Path("series1.asf"));
  const std::string long_name = folder.Path(std::string(100, 'd'));
  std::filesystem::create_directories(long_name);
  const std::string long_output =
      long_name + "/" + std::string(300 - long_name.size() - 1, 'a');
  const std::vector<uint8_t> original = ReadBytes(stream);
  const std::map<std::string, std::string> names = {
      {"$STREAM", stream},
      {"$SHORT", folder.Path("short.bin")},
      {"$JUNK", folder.Path("junk.bin")},
      {"$ASF", folder.Path("recording.asf")},
      {"$MISSING", folder.Path("missing.bin")},
      {"$OUT", folder.Path("out.asf")},
      {"$NODIR", folder.Path("no/such/folder/out.asf")},
      {"$BATCH", folder.Path("batch")},
      {"$TWIN", folder.Path("twin.bin")},
      {"$BATCHED", folder.Path("batch/stream.asf")},
      {"$SEGMENTS", folder.Path("seg%d.bin")},
      {"$EXISTS", folder.Path("exists.asf")},
      {"$SERIES", folder.Path("series%d.asf")},
      {"$LONG", long_output}};
  auto expand = [&names](const std::string& s) {
    const auto it = names.find(s);
    return it == names.end() ? s : it->second;
  };
  std::vector<std::string> args;
  for (const std::string& a : GetParam().args) args.push_back(expand(a));
  const std::string stdin_file = GetParam().stdin_file.empty() ? "" : expand(GetParam().stdin_file);

  const RunResult r = Kestrum(args, stdin_file);
  EXPECT_EQ(r.exit_code, GetParam().exit_code) << r.err;
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  if (GetParam().silent) {
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(std::filesystem::exists(folder.Path("out.asf"))) << "a failed run left an output";
  EXPECT_TRUE(ReadBytes(stream) == original) << "a failed run changed its input";
  EXPECT_TRUE(ReadBytes(folder.Path("twin.bin")) == original) << "a failed run changed an input";
  EXPECT_EQ(ReadBytes(folder.Path("exists.asf")), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_FALSE(std::filesystem::exists(long_output));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CliErrorTest,
    ::testing::Values(
        ErrorCase{"NoCommand", {}, 2, "Usage: kestrum "},
        ErrorCase{"UnknownCommand", {"frob"}, 2, "unknown command 'frob'\n"},
        ErrorCase{"MisspeltCommand", {"inpsect"}, 2, "did you mean 'inspect'?"},
        ErrorCase{"UnknownOptionBeforeCommand",
                  {"--frames", "generate", "$OUT"},
                  2,
                  "unknown option '--frames' before the command"},
        ErrorCase{"UnknownGlobalOptionNamesTheNearest",
                  {"--verbos", "version"},
                  2,
                  "unknown option '--verbos' before the command; did you mean '--verbose'?"},
        ErrorCase{
            "UnknownOption", {"inspect", "$STREAM", "--bogus"}, 2, "unknown option '--bogus'\n"},
        ErrorCase{"UnknownOptionNamesTheNearest",
                  {"convert", "$STREAM", "$OUT", "--jbos", "2"},
                  2,
                  "unknown option '--jbos'; did you mean '--jobs'?"},
        ErrorCase{"OptionWithoutValue", {"generate", "$OUT", "--frames"}, 2, "needs a value"},
        ErrorCase{"FlagWithValue", {"generate", "$OUT", "--junk=1"}, 2, "takes no value"},
        ErrorCase{"NotANumber", {"generate", "$OUT", "--frames", "ten"}, 2, "is not a number"},
        ErrorCase{"NumberOutOfRange", {"generate", "$OUT", "--key-interval", "0"}, 2, "outside"},
        ErrorCase{"SizeNotWxH", {"generate", "$OUT", "--size", "704"}, 2, "is not WxH"},
        ErrorCase{"SizeTheLibraryRefuses",
                  {"generate", "$OUT", "--size", "1920x1080"},
                  2,
                  "--size 1920x1080: picture size 1920 x 1080 is outside 1..704 x 1..576"},
        ErrorCase{"SizeAndResolution",
                  {"generate", "$OUT", "--size", "704x576", "--resolution", "0x1001"},
                  2,
                  "exclude each other"},
        ErrorCase{"GenerateWithoutOutput", {"generate"}, 2, "expected one OUTPUT"},
        ErrorCase{"GenerateUnwritable", {"generate", "$NODIR"}, 5, "cannot write"},
        ErrorCase{"InspectMissing", {"inspect", "$MISSING"}, 3, "cannot open"},
        ErrorCase{"NameOfControlsEscaped",
                  {"inspect", "no\x1B]0;x\x07\x1B[31m\nfake"},
                  3,
                  "cannot open 'no\\x1B]0;x\\x07\\x1B[31m\\nfake': No such file"},
        ErrorCase{"InspectShort", {"inspect", "$SHORT"}, 4, "40-byte header"},
        ErrorCase{"InspectJunk", {"inspect", "$JUNK"}, 4, "neither an ASF file nor a stream"},
        ErrorCase{"ConvertOneArgument", {"convert", "$STREAM"}, 2, "expected INPUT and OUTPUT"},
        ErrorCase{"ConvertMissing", {"convert", "$MISSING", "$OUT"}, 3, "cannot open"},
        ErrorCase{"LogLevelQuietSaysNothing",
                  {"-loglevel", "quiet", "convert", "$MISSING", "$OUT"}, 3, "", "", true},
        ErrorCase{"QuietTellsWhatFailed", {"convert", "-q", "$MISSING", "$OUT"}, 3, "cannot open"},
        ErrorCase{"VerboseTakesALevel",
                  {"-v", "error", "record", "-v", "quiet", "$MISSING", "$OUT"}, 3, "", "", true},
        ErrorCase{"NotALevel", {"inspect", "-loglevel", "loud", "$STREAM"}, 2, "is not a level"},
        ErrorCase{"ProgressOntoInput",
                  {"convert", "$STREAM", "$OUT", "-progress", "$STREAM", "-hide_banner"},
                  2,
                  "-progress '"},
        ErrorCase{"ProgressOverAnotherFile",
                  {"record", "$STREAM", "$OUT", "-nostats", "-progress", "$EXISTS"},
                  5,
                  "not a progress report; it was left as it is"},
        ErrorCase{"ProgressOfABatch",
                  {"convert", "$STREAM", "-o", "$NODIR", "--progress", "-"},
                  2,
                  "not a batch"},
        ErrorCase{"ConvertShort", {"convert", "$SHORT", "$OUT"}, 4, "40-byte header"},
        ErrorCase{"ConvertJunk", {"convert", "$JUNK", "$OUT"}, 4, "header is refused: tag"},
        ErrorCase{"ConvertAsf", {"convert", "$ASF", "$OUT"}, 4, "is an ASF file, not a stream: "
                  "'kestrum extract' gives back"},
        ErrorCase{"ConvertUnwritable", {"convert", "$STREAM", "$NODIR"}, 5, "cannot write"},
        ErrorCase{"ConvertOntoItself", {"convert", "$STREAM", "$STREAM"}, 2, "overwrite INPUT"},
        ErrorCase{"ConvertNoOverwrite",
                  {"convert", "$STREAM", "$EXISTS", "--no-overwrite"},
                  5,
                  "exists (--no-overwrite)"},
        // Swapped arguments: an existing file that is no ASF file (a stream,
        // anything else; a series' too) is not the output of an ASF without -y.
        ErrorCase{"ConvertOverAStream",
                  {"convert", "$STREAM", "$TWIN"},
                  5,
                  "holds a stream, not an ASF file; it was left as it is (give -y to overwrite it)"},
        ErrorCase{"RecordOverSomethingElse",
                  {"record", "$STREAM", "$EXISTS"},
                  5,
                  "exists.asf' holds 3 bytes of something else, not an ASF file"},
        ErrorCase{"SeriesOverSomethingElse",
                  {"record", "$STREAM", "$SERIES", "--segment-time", "1"},
                  5,
                  "series1.asf' holds 3 bytes of something else, not an ASF file"},
        ErrorCase{"ReportOverAStream",
                  {"convert", "$STREAM", "$OUT", "--report-json", "$TWIN"},
                  5,
                  "twin.bin' holds a stream, not a report; it was left as it is (give -y"},
        ErrorCase{"RecordNoOverwriteBeforeCommand",
                  {"-n", "record", "$STREAM", "$EXISTS"},
                  5,
                  "exists (--no-overwrite)"},
        ErrorCase{"OverwriteBeforeCommand",
                  {"--overwrite", "convert", "$STREAM", "$OUT", "-n"},
                  2,
                  "exclude each other"},
        ErrorCase{"OverwriteBothWays",
                  {"convert", "$STREAM", "$OUT", "-n", "-y"},
                  2,
                  "exclude each other"},
        ErrorCase{"ConvertNameTooLong",
                  {"convert", "$STREAM", "$LONG"},
                  5,
                  "name longer than 259 bytes (0x800700CE)"},
        ErrorCase{"RecordNameTooLong", {"record", "$STREAM", "$LONG"}, 5, "name longer than 259 bytes"},
        ErrorCase{"RecordMissing", {"record", "$MISSING", "$OUT"}, 3, "cannot open"},
        ErrorCase{"RecordShort", {"record", "$SHORT", "$OUT"}, 4, "40-byte header"},
        ErrorCase{"RecordJunkFromStdin", {"record", "-", "$OUT"}, 4, "header is refused", "$JUNK"},
        ErrorCase{"RecordAsf", {"record", "$ASF", "$OUT"}, 4, "'kestrum extract' gives back"},
        ErrorCase{"RecordShortFromStdin", {"record", "-", "$OUT"}, 4, "40-byte header", "$SHORT"},
        ErrorCase{"RecordUnwritable", {"record", "$STREAM", "$NODIR"}, 5, "cannot write"},
        ErrorCase{"RecordOntoItself", {"record", "$STREAM", "$STREAM"}, 2, "overwrite INPUT"},
        ErrorCase{"RecordOntoItsStandardInput",
                  {"record", "-", "$STREAM"},
                  2,
                  "overwrite INPUT",
                  "$STREAM"},
        ErrorCase{"ConvertOntoItsStandardInput",
                  {"convert", "-", "$STREAM"},
                  2,
                  "would overwrite INPUT (standard input)",
                  "$STREAM"},
        ErrorCase{"ConvertOntoALinkOfItsStandardInput",
                  {"convert", "-", "$TWIN"},
                  2,
                  "would overwrite INPUT (standard input)",
                  "$BATCHED"},
        ErrorCase{"SegmentsOntoTheirStandardInput",
                  {"convert", "-", "$SEGMENTS", "--segment-time", "1"},
                  2,
                  "would overwrite INPUT (standard input)",
                  "$STREAM"},
        ErrorCase{"BatchOntoAnInput",
                  {"convert", "$STREAM", "$TWIN", "-o", "$BATCH"},
                  2,
                  "would overwrite the input"},
        ErrorCase{"BatchOutputsThatAreOneFile",
                  {"convert", "$STREAM", "$JUNK", "-o", "$BATCH"},
                  2,
                  "are one file"},
        ErrorCase{"GenerateNoOverwrite", {"generate", "$EXISTS", "-n"}, 5, "exists (--no-overwrite)"},
        ErrorCase{"RecordPieceSizeZero",
                  {"record", "$STREAM", "$OUT", "--piece-size", "0"},
                  2,
                  "--piece-size"},
        ErrorCase{"RecordPieceSizeWord",
                  {"record", "$STREAM", "$OUT", "--piece-size", "frame"},
                  2,
                  "--piece-size"},
        ErrorCase{"RecordPieceSizeTooLarge",
                  {"record", "$STREAM", "$OUT", "--piece-size", "1G"},
                  2,
                  "--piece-size '1G' is above the most"},
        ErrorCase{"SegmentPatternWithoutNumber",
                  {"record", "$STREAM", "$OUT", "--segment-time", "1"},
                  2,
                  "exactly one %d"},
        ErrorCase{"SegmentPatternOtherConversion",
                  {"convert", "$STREAM", "cam-%s-%d.asf", "--segment-time", "1"},
                  2,
                  "has '%s'"},
        ErrorCase{"SegmentPatternTwoNumbers",
                  {"record", "$STREAM", "cam-%d-%02d.asf", "--segment-time", "1"},
                  2,
                  "not 2"},
        ErrorCase{"SegmentTimeNotPositive",
                  {"convert", "$STREAM", "cam-%d.asf", "--segment-time", "0"},
                  2,
                  "--segment-time '0' is not above 0"},
        ErrorCase{"SegmentTimeNegative",
                  {"record", "$STREAM", "cam-%d.asf", "--segment-time", "-0:10"},
                  2,
                  "--segment-time '-0:10' is not above 0"},
        ErrorCase{"SegmentTimeNotATime",
                  {"convert", "$STREAM", "cam-%d.asf", "--segment-time", "1:75"},
                  2,
                  "--segment-time '1:75' is not a time: seconds such as 10"},
        ErrorCase{"InspectLimitNotASize", {"inspect", "$STREAM", "--limit", "10X"}, 2, "--limit"},
        ErrorCase{"ExtractAStream", {"extract", "$STREAM", "$OUT"}, 4, "is not an ASF file"},
        ErrorCase{"ExtractMissing", {"extract", "$MISSING", "$OUT"}, 3, "cannot open"},
        ErrorCase{"RepairMissing", {"repair", "$MISSING"}, 3, "does not exist"},
        ErrorCase{"CutWithoutOutput", {"cut", "$STREAM"}, 2, "expected -o OUTPUT.asf"},
        ErrorCase{"CutTimeNotATime",
                  {"cut", "$STREAM", "-o", "$OUT", "--from", "1:75"},
                  2,
                  "--from '1:75' is not a time"},
        ErrorCase{"CutNoSuchDay",
                  {"cut", "$STREAM", "-o", "$OUT", "--to", "2026-02-29T10:00:00"},
                  2,
                  "is not a wall-clock time"},
        ErrorCase{"CutToAndDuration",
                  {"cut", "$STREAM", "-o", "$OUT", "--to", "5", "--duration", "1"},
                  2,
                  "one choice"},
        ErrorCase{"CutEmptyRange",
                  {"cut", "$STREAM", "-o", "$OUT", "--from", "1:00", "--to", "59.5"},
                  2,
                  "--to must come after --from"},
        ErrorCase{"CutAStream", {"cut", "$STREAM", "-o", "$OUT"}, 4, "is not an ASF file"}),
    [](const ::testing::TestParamInfo<ErrorCase>& p) { return p.param.name; });

// One cause gets one answer, whichever command meets it: a folder as the
// input, a symlink loop as the output.
TEST(CliErrorTest, OneCauseHasOneAnswerOnEveryCommand) {
  TempFolder folder;
  const std::string stream = folder.Path("stream.bin");
  const std::string asf = folder.Path("stream.asf");
  const std::string loop = folder.Path("loop.asf");
  ASSERT_EQ(Kestrum({"generate", stream, "--frames", "5"}).exit_code, 0);
  ASSERT_EQ(Kestrum({"convert", stream, asf}).exit_code, 0);
  std::filesystem::create_directories(folder.Path("dir"));
  std::filesystem::create_symlink(loop, loop);
  for (const std::string command : {"inspect", "extract", "record", "convert", "cut"}) {
    std::vector<std::string> args = {command, folder.Path("dir")};
    if (command == "cut") args.push_back("-o");
    if (command != "inspect") args.push_back(folder.Path("out.asf"));
    const RunResult r = Kestrum(args);
    EXPECT_EQ(r.exit_code, 3) << command << ": " << r.err;
    EXPECT_EQ(r.err, "kestrum " + command + ": cannot read '" + folder.Path("dir") +
                         "': it is a folder\n");
  }
  for (const std::string command : {"extract", "record", "convert", "cut"}) {
    const RunResult r =
        command == "cut" ? Kestrum({command, asf, "-o", loop})
                         : Kestrum({command, command == "extract" ? asf : stream, loop});
    EXPECT_EQ(r.exit_code, 5) << command << ": " << r.err;
    EXPECT_EQ(r.err, "kestrum " + command + ": cannot write '" + loop +
                         "': Too many levels of symbolic links\n");
  }
  // One descriptor free (ulimit -n 4): too little for an input and an
  // output, said so; standard input is relayed through a FIFO of two ends.
  // Not in a sanitized build: its runtime tells a valid object from a
  // stray one through a pipe of its own, which one descriptor cannot hold.
#ifdef KESTRUM_SANITIZED_PROGRAM
  return;
#endif
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"convert", stream, folder.Path("out.asf")},
           {"convert", "-", folder.Path("out.asf")},
           {"convert", stream, folder.Path("seg%d.asf"), "--segment-time", "1"},
           {"record", stream, folder.Path("out.asf")},
           {"extract", asf, folder.Path("out.bin")}}) {
    std::vector<std::string> sh = {"-c", "exec 3>&-; ulimit -n 4; exec \"$0\" \"$@\"",
                                   KESTRUM_PROGRAM};
    sh.insert(sh.end(), args.begin(), args.end());
    const RunResult r = RunProgram("sh", sh, stream);
    EXPECT_EQ(r.exit_code, args[0] == "extract" ? 5 : 1) << args[0] << " " << args[1] << ": " << r.err;
    EXPECT_NE(r.err.find("too many open files (0x80070004)"), std::string::npos) << r.err;
    EXPECT_EQ(LinesStartingWith(r.err, "").size(), 1u) << r.err;
  }
}

class CliHelpTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CliHelpTest, EachCommandExplainsItself) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{GetParam(), "--help"}, {GetParam(), "-h"}, {"help", GetParam()}}) {
    const RunResult r = Kestrum(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind("Usage: kestrum " + GetParam(), 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Exit codes:"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Commands, CliHelpTest,
                         ::testing::Values("convert", "record", "generate", "inspect", "extract",
                                           "cut", "repair", "version", "help"));

// The version the header states, the writer, and the library as loaded with its own version.
TEST(CliHelpTest, VersionNamesTheWriterAndTheLibrary) {
  const std::string version = std::to_string(KESTRUM_VERSION_MAJOR) + "." +
                              std::to_string(KESTRUM_VERSION_MINOR) + "." +
                              std::to_string(KESTRUM_VERSION_PATCH);
  // Every command takes -v, before its name or after.
  for (const std::vector<std::string>& form : std::vector<std::vector<std::string>>{
           {"--version"}, {"version"}, {"version", "-v"}, {"-v", "version"}}) {
    const RunResult r = Kestrum(form);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out.rfind("kestrum " + version + "\nwriter: built-in", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("library: /"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("libkestrum.so." + version + "\nlibrary version: " + version + "\n"),
              std::string::npos)
        << r.out;
  }
}

TEST(CliHelpTest, RecordHelpSaysHowFortyBytePiecesAreAvoided) {
  const RunResult r = Kestrum({"record", "--help"});
  EXPECT_NE(r.out.find("--piece-size 40 sends 41-byte pieces"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace cli_test
