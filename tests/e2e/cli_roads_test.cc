// The program over the library's two roads, and what it does with what
// stands at its output: files, symlinks, devices made with mknod, FIFOs and
// pipes written through; an output another process writes; a disk that
// fills; signals during a recording.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/cli_runner.h"
#include "stream_builder/stream_builder.h"

namespace cli_test {
namespace {

// The concatenated sample bytes of stream 0, as ffmpeg reads them with the
// recipe of docs/output-format.md, which it runs without a complaint.
std::vector<uint8_t> SampleBytes(const std::string& asf, const TempFolder& folder) {
  const std::string out = folder.Path("samples.bin");
  const RunResult r =
      RunProgram("ffmpeg", {"-v", "error", "-y", "-i", asf, "-map", "0:0", "-c", "copy", "-bsf:0",
                            "setts=dts=N:pts=N", "-f", "data", out});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return ReadBytes(out);
}

// The packets ffprobe reads, a line each (time, flags, MD5 of the bytes).
std::vector<std::string> Packets(const std::string& asf) {
  const RunResult r =
      RunProgram("ffprobe", {"-v", "error", "-select_streams", "0", "-show_entries",
                             "packet=pts,flags,data_hash", "-show_data_hash", "MD5", "-of",
                             "csv=p=0", asf});
  EXPECT_EQ(r.exit_code, 0) << asf << ": " << r.err;
  return LinesStartingWith(r.out, "");
}

// `got` holds only packets of `want`, in their order (a recording that lost
// some to a full disk).
bool InOrderWithin(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  size_t next = 0;
  for (const std::string& packet : got) {
    while (next < want.size() && want[next] != packet) ++next;
    if (next++ == want.size()) return false;
  }
  return true;
}

// Sets the creation date (a FILETIME) in the File Properties of `asf`.
void SetCreationDate(const std::string& asf, uint64_t file_time) {
  std::vector<uint8_t> bytes = ReadBytes(asf);
  const uint8_t file_properties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  const auto at = std::search(bytes.begin(), bytes.end(), std::begin(file_properties),
                              std::end(file_properties));
  ASSERT_NE(at, bytes.end()) << asf;
  std::memcpy(&*(at + 48), &file_time, 8);
  WriteBytes(asf, bytes);
}

// The program run under the time zone `tz` (POSIX rules: no zone files
// needed).
RunResult KestrumIn(const std::string& tz, const std::vector<std::string>& args) {
  std::vector<std::string> command = {"TZ=" + tz, KESTRUM_PROGRAM};
  command.insert(command.end(), args.begin(), args.end());
  return RunProgram("env", command);
}
constexpr char kParis[] = "CET-1CEST,M3.5.0,M10.5.0/3";

bool IsPrefix(const std::vector<std::string>& got, const std::vector<std::string>& want) {
  return got.size() <= want.size() && std::equal(got.begin(), got.end(), want.begin());
}

// Sleeps in short steps until `done` or about five seconds pass.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

void WriteAllTo(int fd, const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  while (from < to) {
    const ssize_t n = ::write(fd, bytes.data() + from, to - from);
    ASSERT_GT(n, 0);
    from += static_cast<size_t>(n);
  }
}

// True when the descriptor (a FIFO's reading end) has bytes to read.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// Reads the descriptor, made blocking, until its writers are gone; closes it.
std::vector<uint8_t> ReadToEnd(int fd) {
  ::fcntl(fd, F_SETFL, 0);
  std::vector<uint8_t> bytes;
  uint8_t chunk[65536];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  ::close(fd);
  return bytes;
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
  // Standard input given the file, or a pipe (held in a temporary file of
  // $TMPDIR, gone after): the same but for the file's name.
  const RunResult from_stdin = Kestrum({"inspect", "-"}, asf);
  EXPECT_EQ(from_stdin.exit_code, 0) << from_stdin.err;
  EXPECT_EQ(from_stdin.out, "file: -" + inspected.out.substr(inspected.out.find('\n')));
  const std::string held = folder_.Path("tmp");
  std::filesystem::create_directories(held);
  const RunResult from_pipe = RunProgram(
      "sh", {"-c", "cat \"$1\" | TMPDIR=\"$2\" \"$0\" inspect -", KESTRUM_PROGRAM, asf, held});
  EXPECT_EQ(from_pipe.exit_code, 0) << from_pipe.err;
  EXPECT_EQ(from_pipe.out, from_stdin.out);
  EXPECT_TRUE(std::filesystem::is_empty(held));
  // The wall clock of its first sample, and its end, in local time with the
  // offset of each (here across the end of summer time); none without one.
  SetCreationDate(asf, 134373635982500000);  // 2026-10-25T00:59:58.250Z
  const RunResult dated = KestrumIn(kParis, {"inspect", asf});
  EXPECT_EQ(Fields(dated.out)["started"], "2026-10-25 02:59:58.250 +02:00") << dated.out;
  EXPECT_EQ(Fields(dated.out)["ended"], "2026-10-25 02:00:03.050 +01:00") << dated.out;
  EXPECT_EQ(ReadJson(KestrumIn(kParis, {"inspect", "--json", asf}).out,
                     "f = d['files'][0]\nprint(f['start_time'], f['end_time'])\n"),
            "2026-10-25T02:59:58.250+02:00 2026-10-25T02:00:03.050+01:00\n");
  SetCreationDate(asf, 0);
  EXPECT_EQ(Fields(Kestrum({"inspect", asf}).out).count("started"), 0u);
  EXPECT_EQ(ReadJson(Kestrum({"inspect", "--json", asf}).out,
                     "f = d['files'][0]\nprint(f['start_time'], f['end_time'])\n"),
            "None None\n");
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
  for (const std::string piece : {"1", "40", "4k", "100000", "group"}) {
    const std::string recorded = folder_.Path("r" + piece + ".asf");
    const RunResult r = Kestrum({"record", stream_, recorded, "--piece-size", piece});
    ASSERT_EQ(r.exit_code, 0) << piece << ": " << r.err;
    EXPECT_TRUE(SampleBytes(recorded, folder_) == want) << "--piece-size " << piece;
  }
  const std::string piped = folder_.Path("stdin.asf");
  ASSERT_EQ(Kestrum({"record", "-", piped}, stream_).exit_code, 0);
  EXPECT_TRUE(SampleBytes(piped, folder_) == want) << "from standard input";
}

// What each road makes durable, as the system calls show (strace): a
// recording syncs its file by default (at the latest when it stops), not with
// --sync-interval 0; a conversion only with --sync, and before it reports.
TEST_F(RoadsTest, RecordSyncsByDefaultAndConvertWhenAsked) {
  if (!HaveTool("strace")) GTEST_SKIP() << "strace not found";
  struct Case {
    std::vector<std::string> args;
    bool syncs;
  };
  const std::string asf = folder_.Path("out.asf");
  const std::string trace = folder_.Path("trace.txt");
  for (const Case& c : {Case{{"record", stream_, asf}, true},
                        Case{{"record", stream_, asf, "--sync-interval", "0"}, false},
                        Case{{"convert", stream_, asf}, false},
                        Case{{"convert", stream_, asf, "--sync"}, true}}) {
    // A sanitized program's leak check cannot run under ptrace: it is left out.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string options =
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
        "detect_leaks=0";
    std::vector<std::string> args = {"-f", "-o", trace, "-e", "trace=fdatasync,write",
                                     "-E", options, KESTRUM_PROGRAM};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = RunProgram("strace", args);
    const std::string shown = c.args[0] + (c.args.size() > 3 ? " " + c.args[3] : "");
    ASSERT_EQ(r.exit_code, 0) << shown << ": " << r.err;
    const std::vector<uint8_t> bytes = ReadBytes(trace);
    const std::string calls(bytes.begin(), bytes.end());
    const size_t synced = calls.find("fdatasync(");
    EXPECT_EQ(synced != std::string::npos, c.syncs) << shown;
    // The report (to standard output) comes after the sync.
    const size_t reported =
        calls.find(c.args[0] == "record" ? "write(1, \"recorded " : "write(1, \"converted ");
    ASSERT_NE(reported, std::string::npos) << shown << ":\n" << calls;
    if (c.syncs) {
      EXPECT_LT(synced, reported) << shown;
    }
  }
}

TEST_F(RoadsTest, VerboseShowsTheLibraryLines) {
  const RunResult r = Kestrum({"-v", "convert", stream_, folder_.Path("c.asf")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // The file road writes each packet-source result as a line: 0 per packet,
  // then 2 at the end.
  EXPECT_NE(r.err.find("[kestrum] 0\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("[kestrum] 2\n"), std::string::npos) << r.err;
}

// What a damaged stream lost is told in one line after the report, and
// --strict (also before the command) makes it a failure: on the live road as
// its lines count it, on the file road the bytes inspect finds in no group.
TEST_F(RoadsTest, WhatWasLostIsToldAndStrictFailsOnIt) {
  const std::string damaged = folder_.Path("damaged.bin");
  ASSERT_EQ(Kestrum({"generate", damaged, "--frames", "200", "--malformed", "--junk"}).exit_code,
            0);
  const std::string skipped = Fields(Kestrum({"inspect", damaged}).out)["skipped bytes"];
  ASSERT_NE(skipped, "0");
  const std::string cut = folder_.Path("cut.bin");
  ASSERT_EQ(Kestrum({"generate", cut, "--frames", "100", "--truncate"}).exit_code, 0);
  const std::string cut_bytes = Fields(Kestrum({"inspect", cut}).out)["skipped bytes"];
  for (const std::string command : {"record", "convert"}) {
    SCOPED_TRACE(command);
    const std::string out = folder_.Path(command + ".asf");
    // The last group cut short: the live road holds it as the input ends and
    // drops it without a line, the file road skips it; both count it.
    const std::string cut_told = command == "record"
                                     ? "the last group, cut short by the end of the input (" +
                                           cut_bytes + " bytes)"
                                     : cut_bytes + " bytes in no group skipped";
    for (const std::string pieces : {"4096", "1"}) {
      if (command == "convert" && pieces == "1") continue;
      std::vector<std::string> args = {"--strict", command, cut, out};
      if (command == "record") args.insert(args.end(), {"--piece-size", pieces});
      const RunResult strict_cut = Kestrum(args);
      EXPECT_EQ(strict_cut.exit_code, 1) << strict_cut.err;
      EXPECT_NE(strict_cut.err.find(cut_told), std::string::npos) << strict_cut.err;
    }
    const RunResult clean = Kestrum({"--strict", command, stream_, out});
    EXPECT_EQ(clean.exit_code, 0) << clean.err;
    EXPECT_EQ(clean.err, "");
    const RunResult lenient = Kestrum({command, damaged, out});
    EXPECT_EQ(lenient.exit_code, 0) << lenient.err;
    const std::string report = folder_.Path(command + ".json");
    const RunResult strict = Kestrum({"--strict", command, damaged, out, "--report-json", report});
    EXPECT_EQ(strict.exit_code, 1) << strict.err;
    const std::string told = command == "record" ? "lost: 2 malformed groups (each dropped"
                                                 : "lost: " + skipped + " bytes in no group skipped";
    EXPECT_NE(strict.err.find(told), std::string::npos) << strict.err;
    // The same as JSON, for a script: exit status, output, the counts.
    const std::vector<uint8_t> written = ReadBytes(report);
    std::map<std::string, std::string> json = Fields(ReadJson(
        {written.begin(), written.end()}, "c = d['conversions'][0]\n"
                "print('exit:', d['exit_status'], c['exit_status'])\n"
                "print('outputs:', ' '.join(c['outputs']))\n"
                "print('malformed:', c['lost']['live']['malformed'])\n"
                "print('skipped:', c['lost']['skipped_bytes'])\n"
                "print('told:', c['lost_line'] in d['messages'][-1])\n"));
    EXPECT_EQ(json["exit"], "1 1");
    EXPECT_EQ(json["outputs"], out);
    EXPECT_EQ(json[command == "record" ? "malformed" : "skipped"],
              command == "record" ? "2" : skipped);
    EXPECT_EQ(json["told"], "True");
    EXPECT_EQ(LinesStartingWith(strict.err, "").size(), 1u) << strict.err;
    // Relayed from standard input, the bytes are counted as they pass.
    const RunResult relayed = Kestrum({"--strict", command, "-", out}, damaged);
    EXPECT_EQ(relayed.exit_code, 1) << relayed.err;
    EXPECT_NE(relayed.err.find(told), std::string::npos) << relayed.err;
    if (command == "record") {
      EXPECT_NE(lenient.err.find(told), std::string::npos) << lenient.err;
    }

    // The input cut shorter while it is read (truncate ignores the shared
    // lock): the program is held writing into a FIFO nobody reads yet, the
    // input is cut, then the FIFO read. A read error (exit 3), said so.
    const std::string shrinking = folder_.Path(command + "_shrinking.bin");
    const std::vector<uint8_t> bytes = ReadBytes(stream_);
    WriteBytes(shrinking, bytes);
    const std::string fifo = folder_.Path(command + "_shrinking.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto running = StartKestrum({command, shrinking, fifo});
    ASSERT_TRUE(WaitFor([&] { return Readable(reader); })) << "nothing was written";
    ASSERT_EQ(::truncate(shrinking.c_str(), static_cast<off_t>(bytes.size() / 4)), 0);
    ReadToEnd(reader);
    const RunResult shrunk = running->Wait();
    EXPECT_EQ(shrunk.exit_code, 3) << shrunk.err;
    EXPECT_NE(shrunk.err.find("was cut shorter while it was read"), std::string::npos)
        << shrunk.err;
  }

  // What the file road cannot take: a group of 34 blocks of 499,999 bytes,
  // whose 17 MB samples the writer refuses (the conversion fails), and one
  // whose block count field 0x1101 counts 257 blocks where the group holds
  // one (lost, said, --strict fails, inspect names it). The file holds every
  // other sample, whole and in order.
  using kestrum::stream_format::Group;
  using kestrum::stream_format::StreamBuilder;
  Group large;
  for (int i = 0; i < 34; ++i) large.AddBlock(0x1003, 499'999);
  struct Refusal {
    std::string name;
    Group group;
    int lenient;
    std::string told;
  };
  for (const Refusal& r :
       {Refusal{"large", large, 1, "lost: 34 samples refused by the writer (sample over 16 MiB)"},
        Refusal{"field", Group().AddBlock(0x1004, 900).BlockCount(0x1101), 0,
                "lost: 1 group the file road writes nothing for (block count field)"}}) {
    SCOPED_TRACE(r.name);
    StreamBuilder with, without;
    with.Header();
    without.Header();
    for (uint32_t frame = 0; frame < 10; ++frame) {
      if (frame == 5) with.Add(Group(r.group).FrameNumber(100));
      const Group group = Group().FrameNumber(frame).AddBlock(0x1003, 3000);
      with.Add(group);
      without.Add(group);
    }
    const std::string in = folder_.Path(r.name + ".bin");
    const std::string want = folder_.Path(r.name + "_want.asf");
    const std::string out = folder_.Path(r.name + ".asf");
    WriteBytes(in, with.bytes());
    WriteBytes(folder_.Path("without.bin"), without.bytes());
    ASSERT_EQ(Kestrum({"convert", folder_.Path("without.bin"), want}).exit_code, 0);
    const RunResult lenient = Kestrum({"convert", in, out});
    EXPECT_EQ(lenient.exit_code, r.lenient) << lenient.err;
    EXPECT_NE(lenient.err.find(r.told), std::string::npos) << lenient.err;
    const auto hashes = [](const std::vector<std::string>& packets) {
      std::vector<std::string> md5;
      for (const std::string& p : packets) md5.push_back(p.substr(p.rfind(',') + 1));
      return md5;
    };
    EXPECT_EQ(hashes(Packets(out)), hashes(Packets(want)));
    const RunResult strict = Kestrum({"convert", in, out, "--strict"});
    EXPECT_EQ(strict.exit_code, 1) << strict.err;
    EXPECT_NE(strict.err.find(r.told), std::string::npos) << strict.err;
  }
  const RunResult inspected = Kestrum({"inspect", folder_.Path("field.bin")});
  EXPECT_EQ(LinesStartingWith(inspected.out, "problem: "),
            std::vector<std::string>{"problem: offset " + std::to_string(40 + 5 * (48 + 20 + 3000)) +
                                     ": block count field 0x1101: the file road writes nothing "
                                     "for it"});
  EXPECT_EQ(Fields(inspected.out)["problems"], "1");
}

// On a terminal (script(1) gives the program one) a status line tells the
// input bytes read, the frames and media time written and the speed; it is
// drawn after the first second, so the input comes through a FIFO that is
// fed in two halves two seconds apart. Binary data is never written to one.
// Whether a terminal can be made here: a root without its own /dev/pts
// (a bare chroot) has none, and script(1) fails there.
bool CanMakeTerminal() {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return false;
  bool ok = ::grantpt(master) == 0 && ::unlockpt(master) == 0;
  const char* name = ok ? ::ptsname(master) : nullptr;
  const int slave = name != nullptr ? ::open(name, O_RDWR | O_NOCTTY) : -1;
  ok = slave >= 0;
  if (slave >= 0) ::close(slave);
  ::close(master);
  return ok;
}

TEST_F(RoadsTest, ProgressOnATerminalCountsTheInput) {
  if (!HaveTool("script")) GTEST_SKIP() << "script not found";
  if (!CanMakeTerminal()) GTEST_SKIP() << "no terminal can be made here";
  const std::vector<uint8_t> bytes = ReadBytes(stream_);
  const std::string feed = folder_.Path("feed");
  const std::string typescript = folder_.Path("typescript");
  ASSERT_EQ(::mkfifo(feed.c_str(), 0644), 0);
  const std::string half = std::to_string(bytes.size() / 2);
  Started feeder("sh", {"-c", "{ head -c $2 \"$0\"; sleep 2; tail -c +$(($2 + 1)) \"$0\"; } > \"$1\"",
                        stream_, feed, half});
  const RunResult r = RunProgram(
      "script", {"-q", "-e", "-c",
                 std::string("stty cols 60; \"") + KESTRUM_PROGRAM + "\" record \"" + feed +
                     "\" \"" + folder_.Path("r.asf") + "\"",
                 typescript});
  if (r.exit_code != 0) {
    // The feeder waits for a reader of the FIFO: give it one, so that it ends.
    const int drain = ::open(feed.c_str(), O_RDONLY);
    char sink[65536];
    while (drain >= 0 && ::read(drain, sink, sizeof sink) > 0) {
    }
    if (drain >= 0) ::close(drain);
  }
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(feeder.Wait().exit_code, 0);
  const std::string screen(reinterpret_cast<const char*>(ReadBytes(typescript).data()),
                           ReadBytes(typescript).size());
  const std::regex status(R"(\rrecord: ([0-9.]+) MB  frame=(\d+)  time=00:00:(\d\d\.\d\d)  speed=)");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(screen, m, status)) << screen;
  EXPECT_GT(std::stod(m[1].str()) * 1e6, static_cast<double>(bytes.size()) / 4) << m[0];
  EXPECT_LE(std::stod(m[1].str()) * 1e6, static_cast<double>(bytes.size()) / 2 + 1e5) << m[0];
  EXPECT_GT(std::stoul(m[2].str()), 0u);
  EXPECT_GT(std::stod(m[3].str()), 0.0);
  // On 60 columns every line drawn keeps within 59 (the rate left out), and
  // the last is blanked before the summary, so that none is left behind.
  const size_t summary = screen.find("\rrecorded ");
  ASSERT_NE(summary, std::string::npos) << screen;
  for (size_t at = screen.find("\rrecord: "); at < summary; at = screen.find('\r', at + 1)) {
    const size_t next = screen.find('\r', at + 1);
    EXPECT_LE(next - at - 1, 59u) << screen.substr(at, next - at);
    if (next == summary) {
      EXPECT_EQ(screen.find_first_not_of(' ', at + 1), next) << screen;
    }
  }

  // convert maps a stored stream: its line tells how far the packet source
  // has got, here while the output's reader stops part way for two seconds.
  const std::string out = folder_.Path("out");
  ASSERT_EQ(::mkfifo(out.c_str(), 0644), 0);
  Started reader("sh", {"-c", "{ head -c 300000; sleep 2; cat; } < \"$0\" > \"$1\"", out,
                        folder_.Path("c.asf")});
  const RunResult c = RunProgram(
      "script", {"-q", "-e", "-c",
                 std::string("\"") + KESTRUM_PROGRAM + "\" convert \"" + stream_ + "\" \"" + out +
                     "\"",
                 typescript});
  ASSERT_EQ(c.exit_code, 0) << c.out << c.err;
  EXPECT_EQ(reader.Wait().exit_code, 0);
  const std::vector<uint8_t> converting = ReadBytes(typescript);
  const std::string line(converting.begin(), converting.end());
  const std::regex moved(R"(\rconvert: +([0-9.]+)%  ([0-9.]+) of ([0-9.]+) MB  frame=(\d+))");
  ASSERT_TRUE(std::regex_search(line, m, moved)) << line;
  EXPECT_GT(std::stod(m[1].str()), 0.0) << m[0];
  EXPECT_LT(std::stod(m[1].str()), 100.0) << m[0];
  EXPECT_GT(std::stod(m[2].str()), 0.0) << m[0];
  EXPECT_GT(std::stoul(m[4].str()), 0u) << m[0];

  // No binary data goes to a terminal.
  for (const std::string& command :
       std::vector<std::string>{"generate - --frames 3", "convert \"" + stream_ + "\" -"}) {
    const RunResult refused = RunProgram(
        "script",
        {"-q", "-e", "-c", "\"" + std::string(KESTRUM_PROGRAM) + "\" " + command, typescript});
    EXPECT_EQ(refused.exit_code, 2) << command;
    EXPECT_NE(refused.out.find("standard output is a terminal"), std::string::npos) << refused.out;
  }
}

class OutputsTest : public RoadsTest {
 protected:
  void SetUp() override {
    RoadsTest::SetUp();
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not found";
    ASSERT_EQ(Kestrum({"convert", stream_, folder_.Path("want_c.asf")}).exit_code, 0);
    ASSERT_EQ(Kestrum({"record", stream_, folder_.Path("want_r.asf")}).exit_code, 0);
    want_convert_ = Packets(folder_.Path("want_c.asf"));
    want_record_ = Packets(folder_.Path("want_r.asf"));
    ASSERT_FALSE(want_convert_.empty());
  }
  const std::vector<std::string>& Want(const std::string& command) const {
    return command == "convert" ? want_convert_ : want_record_;
  }
  std::vector<std::string> want_convert_, want_record_;
};

TEST_F(OutputsTest, WhatStandsAtTheOutputIsWrittenThroughNeverReplaced) {
  for (const std::string command : {"convert", "record"}) {
    SCOPED_TRACE(command);
    // A file: rewritten in place, the same file afterwards; one that is no
    // ASF file only with -y (without, it is left as it is), an ASF file again
    // without (a rerun).
    const std::string file = folder_.Path(command + "_file.asf");
    const std::vector<uint8_t> other(100'000, 0xEE);
    WriteBytes(file, other);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    const RunResult refused = Kestrum({command, stream_, file});
    EXPECT_EQ(refused.exit_code, 5) << refused.err;
    EXPECT_NE(refused.err.find("(give -y to overwrite it)"), std::string::npos) << refused.err;
    EXPECT_TRUE(ReadBytes(file) == other);
    ASSERT_EQ(Kestrum({command, stream_, file, "-y"}).exit_code, 0);
    ASSERT_EQ(Kestrum({command, stream_, file}).exit_code, 0);
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino) << "the file was replaced";
    EXPECT_EQ(Packets(file), Want(command));

    // Symlinks: written through; one that points nowhere makes its target.
    const std::string target = folder_.Path(command + "_target.asf");
    const std::string link = folder_.Path(command + "_link.asf");
    for (bool dangling : {false, true}) {
      ::unlink(target.c_str());
      ::unlink(link.c_str());
      if (!dangling) WriteBytes(target, {1, 2, 3});
      ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
      const RunResult r = Kestrum({command, stream_, link, "-y"});
      ASSERT_EQ(r.exit_code, 0) << (dangling ? "dangling: " : "") << r.err;
      struct stat info {};
      ASSERT_EQ(::lstat(link.c_str(), &info), 0);
      EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the symlink was replaced";
      EXPECT_EQ(Packets(target), Want(command));
    }

    // Device nodes of our own: written as streams, never removed.
    struct Device {
      const char* name;
      unsigned minor;
      int exit_code;
    };
    // Full: no room for the header, said in words on both roads.
    for (const Device& d : {Device{"null", 3, 0}, Device{"full", 7, 5}}) {
      const std::string node = folder_.Path(command + "_" + d.name);
      if (::mknod(node.c_str(), S_IFCHR | 0666, makedev(1, d.minor)) != 0) {
        std::printf("no device nodes here (mknod: %s)\n", std::strerror(errno));
        break;
      }
      const RunResult r = Kestrum({command, stream_, node});
      EXPECT_EQ(r.exit_code, d.exit_code) << d.name << ": " << r.err;
      if (d.exit_code != 0) {
        EXPECT_NE(r.err.find("disk full (or the file size limit reached) (0x80070070)"),
                  std::string::npos) << r.err;
      }
      struct stat info {};
      ASSERT_EQ(::lstat(node.c_str(), &info), 0) << d.name << " was removed";
      EXPECT_TRUE(S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, d.minor))
          << d.name << " was replaced";
    }

    // A FIFO and a pipe: the stream front to back, every sample there.
    const std::string fifo = folder_.Path(command + "_fifo");
    const std::string from_fifo = folder_.Path(command + "_from_fifo.asf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    Started reader("sh", {"-c", "exec cat < \"$0\" > \"$1\"", fifo, from_fifo});
    const RunResult into_fifo = Kestrum({command, stream_, fifo});
    EXPECT_EQ(into_fifo.exit_code, 0);
    EXPECT_EQ(reader.Wait().exit_code, 0);
    EXPECT_EQ(Packets(from_fifo), Want(command));
    // What went into a stream is told in the line after, as for a file.
    const auto written = [](const std::string& path) {
      char text[48];
      std::snprintf(text, sizeof text, ", %.1f MB written, ",
                    static_cast<double>(ReadBytes(path).size()) / 1e6);
      return std::string(text);
    };
    EXPECT_NE(into_fifo.out.find(written(from_fifo)), std::string::npos) << into_fifo.out;
    const RunResult inspected = Kestrum({"inspect", from_fifo});
    EXPECT_EQ(Fields(inspected.out)["duration"],
              "unknown (a stream: written where it could not seek, it has no sizes, duration "
              "or index)");
    EXPECT_EQ(Fields(inspected.out)["problems"], "0");

    const std::string piped = folder_.Path(command + "_piped.asf");
    const RunResult p = RunProgram(
        "sh", {"-c", "\"$0\" \"$1\" \"$2\" - | cat > \"$3\"", KESTRUM_PROGRAM, command, stream_,
               piped});
    EXPECT_EQ(p.exit_code, 0) << p.err;
    EXPECT_EQ(Packets(piped), Want(command));
    // Named in words, with the bytes the pipe took.
    EXPECT_NE(p.err.find(" -> standard output: "), std::string::npos) << p.err;
    EXPECT_NE(p.err.find(written(piped)), std::string::npos) << p.err;
  }

  // extract and generate write streams: an existing ASF file only with -y,
  // a stream (a rerun) without.
  const std::string asf = folder_.Path("copy.asf");
  const std::vector<uint8_t> recorded = ReadBytes(folder_.Path("want_c.asf"));
  WriteBytes(asf, recorded);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"extract", folder_.Path("want_c.asf"), asf}, {"generate", asf, "--frames", "5"}}) {
    const RunResult refused = Kestrum(args);
    EXPECT_EQ(refused.exit_code, 5) << args[0] << ": " << refused.err;
    EXPECT_NE(refused.err.find("is an ASF file, not a stream; it was left as it is (give -y to "
                               "overwrite it)"),
              std::string::npos) << refused.err;
    EXPECT_TRUE(ReadBytes(asf) == recorded) << args[0];
  }
  ASSERT_EQ(Kestrum({"generate", asf, "--frames", "5", "-y"}).exit_code, 0);
  ASSERT_EQ(Kestrum({"extract", folder_.Path("want_c.asf"), asf}).exit_code, 0);

  // A recording whose folder goes away: before its first data (-n makes
  // the name at once; the writer cannot make the file: why, in words), and
  // once half the stream is written (what became of what was written).
  const std::vector<uint8_t> bytes = ReadBytes(stream_);
  for (const size_t before : {size_t{40}, bytes.size() / 2}) {
    const std::string dir = folder_.Path("gone" + std::to_string(before));
    const std::string out = dir + "/out.asf";
    std::filesystem::create_directories(dir);
    const std::string feed = dir + ".fifo";
    ASSERT_EQ(::mkfifo(feed.c_str(), 0644), 0);
    auto recording = StartKestrum({"record", feed, out, "-n"});
    const int fd = ::open(feed.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    WriteAllTo(fd, bytes, 0, before);
    ASSERT_TRUE(WaitFor([&] {
      return before == 40 ? std::filesystem::exists(out) : !ReadBytes(out).empty();
    }));
    std::filesystem::remove_all(dir);
    // The recording that cannot begin stops reading: the rest may find no reader.
    std::signal(SIGPIPE, SIG_IGN);
    for (size_t at = before; at < bytes.size();) {
      const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    ::close(fd);
    const RunResult r = recording->Wait();
    EXPECT_EQ(r.exit_code, before == 40 ? 5 : 1) << r.err;
    EXPECT_NE(r.err.find(before == 40 ? "cannot write '" + out +
                                            "': no such file or folder (0x80070002); nothing "
                                            "was recorded"
                                      : "'" + out + "' was removed while it was recorded (the "
                                                    "file, or its folder): the "),
              std::string::npos)
        << r.err;
  }
}

// A file that ends inside a sample (a kill during a write): inspect tells
// each problem the reader met (asf_format/tests/reader_test.cc) and counts
// them, and the cut sample in its stream's line.
TEST_F(OutputsTest, InspectTellsACutSample) {
  std::vector<uint8_t> bytes = ReadBytes(folder_.Path("want_c.asf"));
  bytes.resize(bytes.size() / 2);
  const std::string cut = folder_.Path("cut.asf");
  WriteBytes(cut, bytes);
  const RunResult r = Kestrum({"inspect", cut});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> problems = LinesStartingWith(r.out, "problem: ");
  EXPECT_EQ(Fields(r.out)["problems"], std::to_string(problems.size()));
  EXPECT_NE(problems.back().find(" of stream 8 is cut: "), std::string::npos) << r.out;
  const std::string stream = LinesStartingWith(r.out, "stream 8: ")[0];
  EXPECT_EQ(stream.find(", 1 cut"), stream.size() - 7) << stream;
}

// A recording holds its output from the first data on: every other writer
// is refused at once and the recording comes out whole. Then two programs
// started together: one gets the output, the file is exactly its.
TEST_F(OutputsTest, OneWriterPerOutput) {
  const std::vector<uint8_t> bytes = ReadBytes(stream_);
  const std::string feed = folder_.Path("feed");
  const std::string out = folder_.Path("held.asf");
  ASSERT_EQ(::mkfifo(feed.c_str(), 0644), 0);
  auto recording = StartKestrum({"record", feed, out});
  const int fd = ::open(feed.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  WriteAllTo(fd, bytes, 0, bytes.size() / 2);
  ASSERT_TRUE(WaitFor([&] { return ReadBytes(out).size() > 0; })) << "the recording began no file";
  const std::vector<std::vector<std::string>> writers = {
      {"convert", stream_, out},
      {"record", stream_, out},
      {"extract", folder_.Path("want_c.asf"), out},
      {"generate", out},
      {"repair", out}};
  for (const std::vector<std::string>& writer : writers) {
    const RunResult other = Kestrum(writer);
    EXPECT_EQ(other.exit_code, 5) << writer[0];
    EXPECT_NE(other.err.find("is in use by another program"), std::string::npos) << other.err;
  }
  WriteAllTo(fd, bytes, bytes.size() / 2, bytes.size());
  ::close(fd);
  EXPECT_EQ(recording->Wait().exit_code, 0);
  EXPECT_EQ(Packets(out), want_record_);

  // A recording of a stored stream into a FIFO read only later: nothing may
  // write its input, and no second writer the FIFO.
  const std::string input = folder_.Path("input.bin");
  const std::string fifo = folder_.Path("held.fifo");
  WriteBytes(input, bytes);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto into_fifo = StartKestrum({"record", input, fifo});
  ASSERT_TRUE(WaitFor([&] { return Readable(reader); })) << "the recording wrote nothing";
  const std::vector<std::vector<std::string>> refused = {
      {"convert", stream_, fifo}, {"record", stream_, fifo}, {"convert", stream_, input},
      {"generate", input}};
  for (const std::vector<std::string>& writer : refused) {
    const RunResult other = Kestrum(writer);
    EXPECT_EQ(other.exit_code, 5) << writer[0] << " " << writer.back() << ": " << other.err;
  }
  const std::vector<uint8_t> streamed = ReadToEnd(reader);
  EXPECT_EQ(into_fifo->Wait().exit_code, 0);
  WriteBytes(folder_.Path("from_fifo.asf"), streamed);
  EXPECT_EQ(Packets(folder_.Path("from_fifo.asf")), want_record_);
  EXPECT_TRUE(ReadBytes(input) == bytes) << "the recording's input was written";

  const std::string other_stream = folder_.Path("other.bin");
  ASSERT_EQ(Kestrum({"generate", other_stream, "--frames", "150", "--random-state", "9"}).exit_code,
            0);
  ASSERT_EQ(Kestrum({"convert", other_stream, folder_.Path("want_o.asf")}).exit_code, 0);
  const std::vector<std::string> want_other = Packets(folder_.Path("want_o.asf"));
  // In odd rounds with -n into a name made anew: exactly one gets it.
  const std::string raced = folder_.Path("raced.asf");
  for (int round = 0; round < 10; ++round) {
    const bool fresh = round % 2 == 1;
    if (fresh) ::unlink(raced.c_str());
    const std::string n = fresh ? "-n" : "-y";
    auto a = StartKestrum({"convert", stream_, raced, n});
    auto b = StartKestrum({"convert", other_stream, raced, n});
    const int ea = a->Wait().exit_code;
    const int eb = b->Wait().exit_code;
    EXPECT_TRUE((ea == 0 || ea == 5) && (eb == 0 || eb == 5) && (ea == 0 || eb == 0))
        << "round " << round << ": exits " << ea << ", " << eb;
    if (fresh) {
      EXPECT_NE(ea, eb) << "round " << round << ": both got the new name";
    }
    const std::vector<std::string> got = Packets(raced);
    if (ea != 0) {
      EXPECT_EQ(got, want_other) << "round " << round;
    }
    if (eb != 0) {
      EXPECT_EQ(got, want_convert_) << "round " << round;
    }
    EXPECT_TRUE(got == want_convert_ || got == want_other) << "round " << round << ": a mixture";
  }
}

// kestrum repair, the program over the library's repair (what it keeps and
// says of each kind of file: asf_format/tests/repair_test.cc): a recording
// killed mid-way is checked (and left as it is), ended, read by ffprobe as
// the first samples of the recording, then found whole. A file its writer
// ended is never changed: whole, also without its index, it is "already
// whole"; damaged, the damage is told with the whole samples readers still
// get, exit 1, and --check says the same. An index that would outweigh the
// packets is refused in seconds of frame time, a foreign file and a folder
// in words of their own.
TEST_F(OutputsTest, RepairEndsWhatWasNotEnded) {
  const std::string whole = folder_.Path("want_c.asf");
  const std::vector<uint8_t> clean = ReadBytes(whole);
  const std::string file = folder_.Path("cut.asf");
  const auto repair = [](const std::vector<std::string>& args, int code, const std::string& says) {
    const RunResult r = Kestrum(args);
    EXPECT_EQ(r.exit_code, code) << args.back() << ": " << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(says), std::string::npos) << says << "\n" << r.out << r.err;
  };

  // Killed: a recording from a FIFO, half of its stream sent.
  {
    const std::vector<uint8_t> bytes = ReadBytes(stream_);
    const std::string feed = folder_.Path("feed");
    ASSERT_EQ(::mkfifo(feed.c_str(), 0644), 0);
    auto recording = StartKestrum({"record", feed, file});
    const int fd = ::open(feed.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    WriteAllTo(fd, bytes, 0, bytes.size() / 2);
    ASSERT_TRUE(WaitFor([&] { return ReadBytes(file).size() > bytes.size() / 4; }));
    ::kill(recording->pid(), SIGKILL);
    int signal = 0;
    recording->Wait(&signal);
    ::close(fd);
    EXPECT_EQ(signal, SIGKILL);
    const std::vector<uint8_t> killed = ReadBytes(file);
    const RunResult checked = Kestrum({"repair", "--check", file});
    EXPECT_EQ(checked.exit_code, 0) << checked.err;
    std::smatch read;
    ASSERT_TRUE(std::regex_search(
        checked.out, read, std::regex(R"(would be ended.*read ([0-9.]+) MB of ([0-9.]+) MB)")))
        << checked.out;
    EXPECT_LE(std::stod(read[1].str()), std::stod(read[2].str())) << checked.out;
    EXPECT_TRUE(ReadBytes(file) == killed) << "--check changed the file";
    repair({"repair", file}, 0, "repaired " + file);
    const std::vector<std::string> got = Packets(file);
    EXPECT_FALSE(got.empty());
    EXPECT_TRUE(IsPrefix(got, want_record_)) << got.size() << " of " << want_record_.size();
    repair({"repair", file}, 0, "already whole");
  }

  // A stream's output saved to a file, never ended, its header's frame time
  // made 2^49 (1784 years): refused in words, written or checked.
  {
    const RunResult streamed = RunProgram(
        "sh", {"-c", "\"$0\" convert \"$1\" - | cat >\"$2\"", KESTRUM_PROGRAM, stream_, file});
    ASSERT_EQ(streamed.exit_code, 0) << streamed.err;
    const uint8_t esp_guid[] = {0xCB, 0xA5, 0xE6, 0x14, 0x72, 0xC6, 0x32, 0x43,
                                0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A};
    std::vector<uint8_t> absurd = ReadBytes(file);
    const auto esp =
        std::search(absurd.begin(), absurd.end(), std::begin(esp_guid), std::end(esp_guid));
    ASSERT_NE(esp, absurd.end());
    esp[76 + 6] = 0x02;  // the frame time's byte 6: 2^49 + 400000
    WriteBytes(file, absurd);
    repair({"repair", "--check", file}, 4,
           "cannot be ended: its header's frame time, 56294995.382 s");
    EXPECT_TRUE(ReadBytes(file) == absurd);
  }

  // Ended by its writer, then a stream appended: told, never changed, with
  // every sample readers still get; ffprobe reads them all.
  std::vector<uint8_t> appended = clean;
  const std::vector<uint8_t> stream_bytes = ReadBytes(stream_);
  appended.insert(appended.end(), stream_bytes.begin(), stream_bytes.end());
  WriteBytes(file, appended);
  EXPECT_EQ(Packets(file), want_convert_);
  for (const char* check : {"--check", "--verbose"}) {
    repair({"repair", check, file}, 1,
           "was ended by its writer, and repair ends only a file left unended: " +
               std::to_string(stream_bytes.size()) + " bytes follow its objects, from byte " +
               std::to_string(clean.size()) + "; readers still get " +
               std::to_string(want_convert_.size()) + " whole samples");
    EXPECT_TRUE(ReadBytes(file) == appended) << "changed by repair " << check;
  }

  // Whole, also as the writer ends a file whose index did not fit (no
  // index, not seekable); foreign; a folder.
  repair({"repair", whole, folder_.Path("want_r.asf")}, 0, "already whole");
  EXPECT_TRUE(ReadBytes(whole) == clean);
  {
    const uint8_t index_guid[] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                  0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
    std::vector<uint8_t> unindexed(
        clean.begin(), std::search(clean.begin(), clean.end(), index_guid, std::end(index_guid)));
    const uint8_t properties_guid[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                       0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const auto properties =
        std::search(unindexed.begin(), unindexed.end(), properties_guid, std::end(properties_guid));
    for (int i = 0; i < 8; ++i)
      properties[40 + i] = static_cast<uint8_t>(unindexed.size() >> (8 * i));
    properties[88] = 0;  // not seekable
    WriteBytes(file, unindexed);
    repair({"repair", file}, 0, "already whole (ended without its index, which did not fit)");
    EXPECT_TRUE(ReadBytes(file) == unindexed);
  }
  repair({"repair", stream_}, 4, "was not written by Kestrum's writer");
  repair({"repair", folder_.Path("")}, 3, "is a folder");
}

// SIGINT, SIGTERM or SIGHUP ends the recording or the conversion, whatever
// its input: the file ended and indexed, one line, 128 + the signal. A
// stored stream converted into a FIFO read only later ends at the next
// packet, the stream whole. A second signal ends the program at once (here
// while it waits to write to a FIFO nobody reads).
TEST_F(OutputsTest, SignalsEndTheFile) {
  const std::vector<uint8_t> bytes = ReadBytes(stream_);
  const auto without_time = [](const std::vector<std::string>& packets) {
    std::vector<std::string> out;
    for (const std::string& p : packets) out.push_back(p.substr(p.find(',')));
    return out;
  };
  struct Case {
    std::string command, input;  // input "-": standard input from the FIFO
    bool segments;
  };
  const std::vector<Case> cases = {
      {"record", "feed", false}, {"convert", "feed", false}, {"convert", "-", false},
      {"convert", "feed", true}};
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    const int number = signals[i % 3];
    SCOPED_TRACE(c.command + " " + c.input + (c.segments ? " in segments, " : ", ") +
                 strsignal(number));
    const std::string feed = folder_.Path("feed" + std::to_string(i));
    const std::string out = folder_.Path("signalled" + std::to_string(i) + (c.segments ? "-%d" : "") + ".asf");
    ASSERT_EQ(::mkfifo(feed.c_str(), 0644), 0);
    std::vector<std::string> args = {c.command, c.input == "-" ? "-" : feed, out};
    if (c.segments) args.insert(args.end(), {"--segment-time", "1"});
    // A shell opens the FIFO as standard input (the spawning test waits
    // for no open); it then runs as the program itself.
    auto running = c.input == "-"
                       ? std::make_unique<Started>(
                             "sh", std::vector<std::string>{"-c", "f=$1; shift; exec \"$0\" \"$@\" < \"$f\"",
                                                            KESTRUM_PROGRAM, feed, c.command, "-", out})
                       : StartKestrum(args);
    const int fd = ::open(feed.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    WriteAllTo(fd, bytes, 0, bytes.size() * 3 / 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // it waits for more
    ::kill(running->pid(), number);
    const RunResult r = running->Wait();
    ::close(fd);
    EXPECT_EQ(r.exit_code, 128 + number) << r.err;
    EXPECT_EQ(LinesStartingWith(r.err, "").size(), 1u) << r.err;
    EXPECT_NE(r.err.find("stopped by SIG"), std::string::npos) << r.err;
    std::vector<std::string> got;
    for (int k = 0; k < (c.segments ? 100 : 1); ++k) {
      const std::string file = c.segments ? folder_.Path("signalled" + std::to_string(i) + "-" +
                                                         std::to_string(k) + ".asf")
                                          : out;
      if (!std::filesystem::exists(file)) break;
      const auto fields = Fields(Kestrum({"inspect", file}).out);
      EXPECT_EQ(fields.at("duration").find("unknown"), std::string::npos) << file;
      EXPECT_NE(fields.at("index"), "none") << file;
      EXPECT_EQ(fields.at("problems"), "0") << file;
      for (const std::string& p : without_time(Packets(file))) got.push_back(p);
    }
    EXPECT_FALSE(got.empty());
    const std::vector<std::string> want = without_time(Want(c.command));
    EXPECT_LT(got.size(), want.size());
    EXPECT_TRUE(IsPrefix(got, want));
  }

  const std::string slow = folder_.Path("slow.fifo");
  ASSERT_EQ(::mkfifo(slow.c_str(), 0644), 0);
  const int reader = ::open(slow.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  auto converting = StartKestrum({"convert", stream_, slow});
  ASSERT_TRUE(WaitFor([&] { return Readable(reader); }));
  ::kill(converting->pid(), SIGINT);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::vector<uint8_t> streamed = ReadToEnd(reader);
  const RunResult stopped = converting->Wait();
  EXPECT_EQ(stopped.exit_code, 128 + SIGINT) << stopped.err;
  WriteBytes(folder_.Path("slow.asf"), streamed);
  EXPECT_EQ(Fields(Kestrum({"inspect", folder_.Path("slow.asf")}).out).at("problems"), "0");
  const std::vector<std::string> got = Packets(folder_.Path("slow.asf"));
  EXPECT_FALSE(got.empty());
  EXPECT_LT(got.size(), want_convert_.size());
  EXPECT_TRUE(IsPrefix(got, want_convert_));

  // extract into a FIFO read only later: the stream ends with its last
  // whole group, one line, 128 + the signal.
  const std::string slow_stream = folder_.Path("slow_stream.fifo");
  ASSERT_EQ(::mkfifo(slow_stream.c_str(), 0644), 0);
  const int stream_reader = ::open(slow_stream.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(stream_reader, 0);
  auto extracting = StartKestrum({"extract", folder_.Path("want_c.asf"), slow_stream});
  ASSERT_TRUE(WaitFor([&] { return Readable(stream_reader); }));
  ::kill(extracting->pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  WriteBytes(folder_.Path("slow_stream.bin"), ReadToEnd(stream_reader));
  const RunResult extracted = extracting->Wait();
  EXPECT_EQ(extracted.exit_code, 128 + SIGTERM) << extracted.err;
  EXPECT_EQ(LinesStartingWith(extracted.err, "").size(), 1u) << extracted.err;
  EXPECT_NE(extracted.err.find("holds the stream up to the last whole group"), std::string::npos)
      << extracted.err;
  const auto stream_fields = Fields(Kestrum({"inspect", folder_.Path("slow_stream.bin")}).out);
  EXPECT_EQ(stream_fields.at("problems"), "0");
  EXPECT_GT(std::stoul(stream_fields.at("groups")), 0u);
  EXPECT_LT(std::stoul(stream_fields.at("groups")), 120u);

  const std::string fifo = folder_.Path("unread");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  Started stalled("sh", {"-c", "exec 3< \"$0\"; sleep 30", fifo});  // opens it, reads nothing
  auto recording = StartKestrum({"record", stream_, fifo});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(recording->pid(), SIGTERM);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(::waitpid(recording->pid(), nullptr, WNOHANG), 0) << "ended before it could write";
  ::kill(recording->pid(), SIGTERM);
  int signal = 0;
  recording->Wait(&signal);
  EXPECT_EQ(signal, SIGTERM) << "the second signal did not end it at once";
  ::kill(stalled.pid(), SIGKILL);
}

// A series kept within limits on the full tmpfs `disk`, recorded from
// `big`: the oldest files go first, an earlier run's among them, each with
// its line and its row in the report; none but files of the series, ended
// by Kestrum's writer and held by no other: a text named like one, an ASF
// file never ended (a stream's) and an ended one another writer holds
// (locked) stay as they were, though older. `scratch` begins the names of
// files kept elsewhere. Each limit and the full disk
// remove files in their turn.
void KeepsTheSeriesWithinLimits(const std::string& disk, const std::string& big,
                                 const std::string& scratch) {
  const std::string small = scratch + "small.bin";
  ASSERT_EQ(Kestrum({"generate", small, "--frames", "10"}).exit_code, 0);
  const auto old = [&disk](const std::string& name) { return disk + "/cam-20000101-00000" + name; };
  ASSERT_EQ(Kestrum({"record", small, old("0.asf")}).exit_code, 0);  // an earlier run's
  WriteBytes(old("1.asf"), {'n', 'o', 't', ' ', 'a', 'n', ' ', 'A', 'S', 'F', '\n'});
  // Written through a pipe: a stream, never ended.
  ASSERT_EQ(RunProgram("sh", {"-c", "\"$0\" record \"$1\" - | cat > \"$2\"", KESTRUM_PROGRAM, small,
                              old("2.asf")})
                .exit_code,
            0);
  ASSERT_EQ(Kestrum({"record", small, old("3.asf")}).exit_code, 0);
  const int held = ::open(old("3.asf").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::vector<std::vector<uint8_t>> decoys;
  for (const char* name : {"3.asf", "2.asf", "1.asf", "0.asf"}) {  // the earlier run's the oldest
    if (name[0] != '0') decoys.push_back(ReadBytes(old(name)));
    const struct timespec when[2] = {{1000, 0}, {1000 + name[0], 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, old(name).c_str(), when, 0), 0);
  }
  char earlier[64];
  std::snprintf(earlier, sizeof earlier, " (%.1f MB): ",
                static_cast<double>(std::filesystem::file_size(old("0.asf"))) / 1e6);
  const std::string report = scratch + "r.json";
  for (const std::string limit : {"--keep-free", "--keep-segments", "--max-total"}) {
    SCOPED_TRACE(limit);
    const std::string value = limit == "--keep-free" ? "100K" : limit == "--max-total" ? "400K" : "2";
    const RunResult r =
        Kestrum({"record", big, disk + "/cam-%Y%m%d-%H%M%S.asf", "--strftime", "--segment-time",
                 "1", limit, value, "--report-json", report});
    EXPECT_LE(r.exit_code, 1) << r.err;
    const std::vector<std::string> lines = LinesStartingWith(r.err, "kestrum record: removed ");
    if (limit == "--keep-free") {
      ASSERT_FALSE(lines.empty()) << r.err;
      // Before the second file, or when the first filled the disk.
      const std::string first = "kestrum record: removed " + old("0.asf") + earlier;
      EXPECT_TRUE(lines[0] == first + limit + " " + value || lines[0] == first + "disk full")
          << lines[0];
      EXPECT_NE(r.err.find("): disk full\n"), std::string::npos) << r.err;
    }
    EXPECT_NE(r.err.find("): " + limit + " " + value + "\n"), std::string::npos) << r.err;
    const std::vector<uint8_t> json = ReadBytes(report);
    EXPECT_EQ(ReadJson(std::string(json.begin(), json.end()),
                       "print(len(d['conversions'][0]['removed']))"),
              std::to_string(lines.size()) + "\n");
    for (int i = 1; i <= 3; ++i) {
      EXPECT_TRUE(ReadBytes(old(std::to_string(i) + ".asf")) == decoys[3 - static_cast<size_t>(i)])
          << "decoy " << i << " removed or changed";
    }
  }
  size_t series = 0;
  for (const auto& entry : std::filesystem::directory_iterator(disk)) {
    series += entry.path().filename().string().rfind("cam-2000", 0) != 0;
  }
  EXPECT_LE(series, 3u) << "--max-total 400K of files of 0.3 MB";
  ::close(held);
}

// A disk that fills (a small tmpfs, where one can be mounted) and a file
// size limit (RLIMIT_FSIZE, set in the child; the program itself ignores
// SIGXFSZ, so that a write past the limit fails instead of killing it): the
// recording goes on, ends its file and says what it lost; the conversion
// ends its file at the fault; generate says the disk is full.
TEST_F(OutputsTest, FullDisk) {
  const std::string disk = folder_.Path("disk");
  std::filesystem::create_directories(disk);
  constexpr int kRoom = 1 << 20;
  const bool mounted =
      ::mount("tmpfs", disk.c_str(), "tmpfs", 0, ("size=" + std::to_string(kRoom)).c_str()) == 0;
  const std::string big = folder_.Path("big.bin");
  ASSERT_EQ(Kestrum({"generate", big, "--frames", "600", "--random-state", "3"}).exit_code, 0);
  // dash counts ulimit -f in 512-byte blocks.
  const auto limited = [&](const std::vector<std::string>& args) {
    std::vector<std::string> sh = {"-c", "ulimit -f " + std::to_string(kRoom / 512) +
                                             "; exec \"$0\" \"$@\"",
                                   KESTRUM_PROGRAM};
    sh.insert(sh.end(), args.begin(), args.end());
    return RunProgram("sh", sh);
  };
  ASSERT_EQ(Kestrum({"convert", big, folder_.Path("big_c.asf")}).exit_code, 0);
  ASSERT_EQ(Kestrum({"record", big, folder_.Path("big_r.asf")}).exit_code, 0);
  for (const bool limit : {false, true}) {
    if (!limit && !mounted) continue;
    for (const std::string command : {"record", "convert"}) {
      SCOPED_TRACE(command + (limit ? " under a file size limit" : " on a full tmpfs"));
      const std::string out = (limit ? folder_.Path("") : disk + "/") + command + ".asf";
      const RunResult r = limit ? limited({command, big, out}) : Kestrum({command, big, out});
      EXPECT_EQ(r.exit_code, 1) << r.err;
      EXPECT_NE(r.err.find("samples ("), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("were lost"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("disk full (or the file size limit reached) (0x80070070)"),
                std::string::npos) << r.err;
      const auto fields = Fields(Kestrum({"inspect", out}).out);
      EXPECT_EQ(fields.at("duration").find("unknown"), std::string::npos) << "the file was not ended";
      EXPECT_EQ(fields.at("problems"), "0");
      const std::vector<std::string> got = Packets(out);
      const std::vector<std::string> want =
          Packets(folder_.Path("big_" + command.substr(0, 1) + ".asf"));
      EXPECT_FALSE(got.empty());
      EXPECT_LT(got.size(), want.size());
      if (command == "convert") {
        EXPECT_TRUE(IsPrefix(got, want)) << "the conversion went on past the fault";
      } else {
        EXPECT_TRUE(InOrderWithin(got, want)) << "a sample cut short or out of place";
      }
      ::unlink(out.c_str());
    }
  }
  const RunResult generated = limited({"generate", folder_.Path("g.bin"), "--frames", "600"});
  EXPECT_EQ(generated.exit_code, 5) << generated.err;
  EXPECT_NE(generated.err.find("disk full"), std::string::npos) << generated.err;
  if (!mounted) return;
  // A series that fills the disk: each file is ended, with its samples in
  // order, until one cannot be begun (exit 5), and the samples the files
  // before it lost are told with it.
  const RunResult series = Kestrum({"record", big, disk + "/s-%03d.asf", "--segment-time", "1"});
  EXPECT_EQ(series.exit_code, 5) << series.err;
  EXPECT_NE(series.err.find("nothing was recorded into it"), std::string::npos) << series.err;
  EXPECT_NE(series.err.find("samples not written ("), std::string::npos) << series.err;
  std::vector<std::string> in_series;
  for (int k = 0;; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "/s-%03d.asf", k);
    if (!std::filesystem::exists(disk + name)) break;
    if (std::filesystem::file_size(disk + name) == 0) {  // the one that could not be begun
      ::unlink((disk + name).c_str());
      break;
    }
    const auto fields = Fields(Kestrum({"inspect", disk + name}).out);
    EXPECT_EQ(fields.at("duration").find("unknown"), std::string::npos) << name;
    EXPECT_EQ(fields.at("problems"), "0") << name;
    for (const std::string& p : Packets(disk + name)) in_series.push_back(p.substr(p.find(',')));
    ::unlink((disk + name).c_str());
  }
  std::vector<std::string> recorded;
  for (const std::string& p : Packets(folder_.Path("big_r.asf"))) {
    recorded.push_back(p.substr(p.find(',')));
  }
  EXPECT_FALSE(in_series.empty());
  EXPECT_LT(in_series.size(), recorded.size());
  EXPECT_TRUE(InOrderWithin(in_series, recorded));
  KeepsTheSeriesWithinLimits(disk, big, folder_.Path(""));
  // A report onto the disk filled up: said so, and no empty report left
  // (a symlink to where it would be made is left as it was).
  WriteBytes(disk + "/fill", std::vector<uint8_t>(kRoom, 0));
  ASSERT_EQ(::symlink("made.json", (disk + "/link.json").c_str()), 0);
  for (const std::string report : {"report.json", "link.json"}) {
    const RunResult r =
        Kestrum({"convert", stream_, folder_.Path("r.asf"), "--report-json", disk + "/" + report});
    EXPECT_EQ(r.exit_code, 5) << r.err;
    EXPECT_NE(r.err.find("disk full (or the file size limit reached) (0x80070070); no report "
                         "was written"),
              std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(disk + "/report.json"));
  EXPECT_FALSE(std::filesystem::exists(disk + "/made.json"));
  EXPECT_TRUE(std::filesystem::is_symlink(disk + "/link.json"));
  ::umount2(disk.c_str(), MNT_DETACH);
}

// What the shell gives: a standard error whose reader went away never ends
// a recording (SIGPIPE); a standard output whose reader went away ends the
// writing with a line and exit 1; one opened for appending, or holding
// bytes already, is refused (exit 5) and left as it was; what the shell
// writes after the program follows the ASF instead of overwriting it; and a
// report on standard output that cannot be written fails in words.
TEST_F(OutputsTest, WhatTheShellGivesLosesNothingUnsaid) {
  const std::string status = folder_.Path("status");
  const auto exit_status = [&] {
    const std::vector<uint8_t> bytes = ReadBytes(status);
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string told = folder_.Path("told");
  const RunResult verbose = RunProgram(
      "sh", {"-c", "{ \"$0\" -v record \"$1\" \"$2\" 2>&1; echo $? > \"$3\"; } | head -2 > \"$4\"",
             KESTRUM_PROGRAM, stream_, folder_.Path("rj.asf"), status, told});
  EXPECT_EQ(exit_status(), "0\n") << verbose.err;
  EXPECT_NE(Fields(Kestrum({"inspect", folder_.Path("rj.asf")}).out).at("index"), "none");
  EXPECT_EQ(Packets(folder_.Path("rj.asf")), want_record_);

  for (const std::string command : {"convert", "record"}) {
    const RunResult r = RunProgram(
        "sh", {"-c", "{ \"$0\" \"$1\" \"$2\" -; echo $? > \"$3\"; } | head -c 1000 > \"$4\"",
               KESTRUM_PROGRAM, command, stream_, status, told});
    EXPECT_EQ(exit_status(), "1\n") << command << ": " << r.err;
    EXPECT_NE(r.err.find("ended: its reader went away (broken pipe"), std::string::npos) << r.err;
  }

  const std::string log = folder_.Path("log");
  for (const std::string command : {"convert", "generate"}) {
    for (const std::string redirect : {">>", "1<>"}) {
      WriteBytes(log, {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's', '\n'});
      const std::string run = command == "convert" ? "\"$0\" convert \"$1\" - " : "\"$0\" generate - ";
      const RunResult r =
          RunProgram("sh", {"-c", run + redirect + " \"$2\"", KESTRUM_PROGRAM, stream_, log});
      EXPECT_EQ(r.exit_code, 5) << command << " " << redirect << ": " << r.err;
      EXPECT_NE(r.err.find("standard output "), std::string::npos) << r.err;
      EXPECT_EQ(ReadBytes(log).size(), 9u) << command << " " << redirect << ": log was changed";
    }
  }
  const RunResult followed = RunProgram(
      "sh", {"-c", "{ \"$0\" convert \"$1\" -; echo done; } > \"$2\"", KESTRUM_PROGRAM, stream_, log});
  EXPECT_EQ(followed.exit_code, 0) << followed.err;
  const std::vector<uint8_t> bytes = ReadBytes(log);
  EXPECT_EQ(std::string(bytes.end() - 5, bytes.end()), "done\n");
  EXPECT_EQ(Packets(log), want_convert_);

  // A report that cannot be written (a full device of our own, standard
  // output closed) is an error in words, exit 5, on every command that
  // prints one.
  const std::string full = folder_.Path("full");
  const bool have_full = ::mknod(full.c_str(), S_IFCHR | 0666, makedev(1, 7)) == 0;
  if (!have_full) std::printf("no device nodes here (mknod: %s)\n", std::strerror(errno));
  const std::string asf = folder_.Path("want_c.asf");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"inspect", asf}, {"inspect", "--json", "--show-samples", asf},
        {"inspect", stream_}, {"repair", "--check", asf}, {"version"}}) {
    for (const std::string redirect : {"> \"$f\"", ">&-"}) {
      if (!have_full && redirect != ">&-") continue;
      std::vector<std::string> sh = {"-c", "f=$1; shift; exec \"$0\" \"$@\" " + redirect,
                                     KESTRUM_PROGRAM, full};
      sh.insert(sh.end(), args.begin(), args.end());
      const RunResult r = RunProgram("sh", sh);
      EXPECT_EQ(r.exit_code, 5) << args[0] << " " << redirect << ": " << r.err;
      EXPECT_NE(r.err.find(redirect == ">&-" ? "cannot write the standard output: it is closed\n"
                                             : "cannot write the standard output: No space left"),
                std::string::npos)
          << r.err;
    }
  }
}

// Memory that runs out (an address-space limit, set in the child): over a
// sweep of limits, from one where the program cannot begin to one where it
// lacks nothing, neither command aborts; a failure is told in one line (exit
// 1 or 3); every sample the writer is refused memory for is counted in it;
// and a file left behind is ended and holds every other sample, whole and in
// order.
TEST_F(OutputsTest, OutOfMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory needs more than any limit here";
#endif
  size_t refused_runs = 0;
  for (int kib = 8 * 1024; kib <= 24 * 1024; kib += 512) {
    for (const std::string command : {"record", "convert"}) {
      SCOPED_TRACE(command + " under ulimit -v " + std::to_string(kib));
      const std::string out = folder_.Path("oom.asf");
      ::unlink(out.c_str());
      const RunResult r =
          RunProgram("sh", {"-c", "ulimit -v " + std::to_string(kib) + "; exec \"$0\" \"$@\"",
                            KESTRUM_PROGRAM, command, stream_, out});
      ASSERT_TRUE(r.exit_code == 0 || r.exit_code == 1 || r.exit_code == 3) << r.err;
      if (r.exit_code == 0) {
        EXPECT_EQ(Packets(out), Want(command));
        continue;
      }
      EXPECT_EQ(LinesStartingWith(r.err, "").size(), 1u) << r.err;
      if (!std::filesystem::exists(out) || std::filesystem::file_size(out) == 0) continue;
      EXPECT_EQ(Fields(Kestrum({"inspect", out}).out)["duration"].find("unknown"),
                std::string::npos);
      const std::vector<std::string> got = Packets(out);
      // The live clock waits for a sample written: after a refused one the
      // samples keep their order and bytes, not their times.
      const auto comparable = [&](std::vector<std::string> packets) {
        if (command == "record") {
          for (std::string& packet : packets) packet.erase(0, packet.find(',') + 1);
        }
        return packets;
      };
      EXPECT_TRUE(InOrderWithin(comparable(got), comparable(Want(command))));
      std::smatch m;
      const std::regex refused(R"((\d+) samples? refused by the writer \(out of memory\))");
      ASSERT_TRUE(std::regex_search(r.err, m, refused)) << r.err;
      ++refused_runs;
      EXPECT_EQ(got.size() + std::stoul(m[1].str()), Want(command).size()) << r.err;
    }
  }
  EXPECT_GT(refused_runs, 0u) << "no limit made the writer refuse a sample";

  // inspect --json writes each row as it reads it: every row of a file of
  // many samples, of a stream of many groups and of that stream on a pipe
  // is listed under the sweep's largest limit, which holding the rows would
  // pass twice over.
  const std::string many = folder_.Path("many.bin");
  const std::string many_asf = folder_.Path("many.asf");
  ASSERT_EQ(Kestrum({"generate", many, "--frames", "60000", "--bitrate", "8000", "--one-block"})
                .exit_code,
            0);
  ASSERT_EQ(Kestrum({"convert", many, many_asf}).exit_code, 0);
  for (const auto& [run, rows] :
       {std::pair<std::string, std::string>{"exec \"$0\" inspect --json --show-samples \"$2\"",
                                            "samples"},
        {"exec \"$0\" inspect --json --show-groups \"$1\"", "groups"},
        {"cat \"$1\" | \"$0\" inspect --json --show-groups -", "groups"}}) {
    const RunResult r = RunProgram(
        "sh", {"-c", "ulimit -v " + std::to_string(24 * 1024) + "; " + run, KESTRUM_PROGRAM, many,
               many_asf});
    ASSERT_EQ(r.exit_code, 0) << run << ": " << r.err;
    EXPECT_EQ(ReadJson(r.out, "print(len(d['files'][0]['" + rows + "']))\n"), "60000\n") << run;
  }
}

// extract: the stream back out of a recording of either road, which
// recorded again on that road gives the same samples; a cut file gives what
// it holds (exit 1); an ASF file Kestrum did not write is refused.
TEST_F(OutputsTest, ExtractGivesBackWhatRecordsTheSameSamplesAgain) {
  // Blocks of every kind and junk between groups: the file road keeps every
  // block, the live road the video blocks.
  const std::string mixed = folder_.Path("mixed.bin");
  ASSERT_EQ(Kestrum({"generate", mixed, "--frames", "120", "--random-state", "7", "--junk"})
                .exit_code,
            0);
  for (const std::string command : {"convert", "record"}) {
    SCOPED_TRACE(command);
    const std::string asf = folder_.Path(command + "_first.asf");
    const std::string back = folder_.Path(command + "_back.bin");
    const std::string again = folder_.Path(command + "_again.asf");
    ASSERT_EQ(Kestrum({command, mixed, asf}).exit_code, 0);
    const RunResult r = Kestrum({"extract", asf, back});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("extracted "), std::string::npos) << r.out;
    const std::vector<uint8_t> extracted = ReadBytes(back);
    EXPECT_EQ(Kestrum({"extract", asf, back, "-n"}).exit_code, 5);
    EXPECT_TRUE(ReadBytes(back) == extracted) << "-n changed what was there";
    ASSERT_EQ(Kestrum({command, back, again}).exit_code, 0);
    const std::vector<std::string> want = Packets(asf);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(Packets(again), want);
  }

  // Groups without blocks give no sample but take their 40 ms on the file
  // road: the gap they leave comes back as groups without blocks.
  std::vector<uint8_t> gaps = ReadBytes(stream_);
  gaps.resize(40);
  for (const uint32_t blocks : {1u, 0u, 0u, 1u, 0u, 1u}) {
    uint8_t g[48 + 30] = {1};
    const auto put = [&g](size_t at, uint32_t v) { std::memcpy(g + at, &v, 4); };
    put(12, 0x1001);
    put(16, 0x1000 + blocks);
    put(24, 0x1001);
    put(28, 0x1000);
    put(48, 0x1003);
    put(48 + 16, 10);
    gaps.insert(gaps.end(), g, g + 48 + 30 * blocks);
  }
  WriteBytes(folder_.Path("gaps.bin"), gaps);
  ASSERT_EQ(Kestrum({"convert", folder_.Path("gaps.bin"), folder_.Path("gaps.asf")}).exit_code, 0);
  ASSERT_EQ(Kestrum({"extract", folder_.Path("gaps.asf"), folder_.Path("gaps_back.bin")}).exit_code, 0);
  ASSERT_EQ(Kestrum({"convert", folder_.Path("gaps_back.bin"), folder_.Path("gaps_again.asf")})
                .exit_code,
            0);
  EXPECT_EQ(Packets(folder_.Path("gaps_again.asf")), Packets(folder_.Path("gaps.asf")));
  EXPECT_EQ(Packets(folder_.Path("gaps.asf")).size(), 3u);

  std::vector<uint8_t> bytes = ReadBytes(folder_.Path("want_c.asf"));
  bytes.resize(bytes.size() / 2);
  const std::string cut = folder_.Path("cut.asf");
  WriteBytes(cut, bytes);
  const RunResult r = Kestrum({"extract", cut, folder_.Path("cut.bin")});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.err.find("is incomplete"), std::string::npos) << r.err;
  ASSERT_EQ(Kestrum({"convert", folder_.Path("cut.bin"), folder_.Path("cut_again.asf")}).exit_code, 0);
  const std::vector<std::string> held = Packets(folder_.Path("cut_again.asf"));
  EXPECT_GT(held.size(), want_convert_.size() / 4);
  EXPECT_TRUE(IsPrefix(held, want_convert_));

  const std::string foreign = folder_.Path("foreign.asf");
  if (RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=s=64x64:d=0.2", "-c:v",
                            "wmv1", foreign})
          .exit_code == 0) {
    const RunResult refused = Kestrum({"extract", foreign, folder_.Path("foreign.bin")});
    EXPECT_EQ(refused.exit_code, 4);
    EXPECT_EQ(LinesStartingWith(refused.err, "").size(), 1u) << refused.err;
    EXPECT_NE(refused.err.find("was not written by Kestrum"), std::string::npos) << refused.err;
  }
}

uint64_t PacketTime(const std::string& packet) {
  return std::stoull(packet.substr(0, packet.find(',')));
}

// The packet `ms` earlier.
std::string Earlier(const std::string& packet, uint64_t ms) {
  return std::to_string(PacketTime(packet) - ms) + packet.substr(packet.find(','));
}

// --segment-time: files numbered by the pattern, each a recording of its own
// that ffprobe reads from time 0, which together hold every sample of one
// recording once, in order; cut joins them again, whole or a range of them,
// as the recording made in one file has its samples. So do those named by
// the time (--strftime, in UTC with --utc: "+0000" where the local offset is
// +1400), one year in a name giving each file after the first a variant of
// it; and those cut by the wall clock (--segment-atclocktime) at the input's
// own pace (-re): at least two in the 4.8 s it lasts, cut once a second.
TEST_F(OutputsTest, SegmentsHoldEverySampleOnce) {
  const auto without_time = [](const std::vector<std::string>& packets) {
    std::vector<std::string> out;
    for (const std::string& p : packets) out.push_back(p.substr(p.find(',')));
    return out;
  };
  for (const std::string command : {"convert", "record"}) {
    SCOPED_TRACE(command);
    const std::string second = command == std::string("convert") ? "1s" : "00:00:01.0";
    // -progress - writes ffmpeg's key=value blocks on standard output (the
    // summary goes to stderr), the last telling the whole series.
    const RunResult r = Kestrum({command, stream_, folder_.Path(command + "-%03d.asf"),
                                 "--segment-time", second, "-progress", "-"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("recorded") + r.err.find("converted"), 2 * std::string::npos) << r.err;
    std::map<std::string, std::string> last;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
      ASSERT_NE(line.find('='), std::string::npos) << line;
      last[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
    EXPECT_EQ(r.out.substr(r.out.size() - 13), "progress=end\n");
    EXPECT_EQ(last["frame"], "120");
    EXPECT_EQ(last["drop_frames"], "0");
    const uint64_t micro = (command == std::string("convert") ? 120 : Want(command).size()) * 40000;
    EXPECT_EQ(last["out_time_us"], std::to_string(micro));
    EXPECT_EQ(last["out_time"].substr(0, 9), "00:00:0" + std::to_string(micro / 1000000) + ".");
    uint64_t bytes = 0;
    std::vector<std::string> all;
    std::vector<std::string> cut = {"cut"};
    size_t files = 0;
    for (; std::filesystem::exists(folder_.Path(command + "-00" + std::to_string(files) + ".asf"));
         ++files) {
      cut.push_back(folder_.Path(command + "-00" + std::to_string(files) + ".asf"));
      bytes += std::filesystem::file_size(cut.back());
      const std::vector<std::string> got = Packets(cut.back());
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got[0].substr(0, got[0].find(',')), Want(command)[0].substr(0, Want(command)[0].find(',')));
      for (const std::string& p : without_time(got)) all.push_back(p);
    }
    EXPECT_GE(files, 4u) << r.out;
    EXPECT_EQ(all, without_time(Want(command)));
    EXPECT_EQ(last["total_size"], std::to_string(bytes));

    std::vector<std::string> whole = cut;
    whole.insert(whole.end(), {"-o", folder_.Path("joined.asf"), "-y"});
    ASSERT_EQ(Kestrum(whole).exit_code, 0);
    EXPECT_EQ(Packets(folder_.Path("joined.asf")), Want(command));
    // From the last group that may start a recording at or before 1.5 s to
    // the last sample before 3.3 s, its times from 0: a run of the recording's.
    std::vector<std::string> range = cut;
    range.insert(range.end(), {"-o", folder_.Path(command + "-range.asf"), "--from", "1.5", "--to",
                               "00:03.3"});
    const RunResult ranged = Kestrum(range);
    ASSERT_EQ(ranged.exit_code, 0) << ranged.err;
    const std::vector<std::string> got = Packets(folder_.Path(command + "-range.asf"));
    const std::vector<std::string> want = without_time(Want(command));
    ASSERT_FALSE(got.empty());
    const auto found = std::find(want.begin(), want.end(), without_time(got)[0]);
    const size_t first = static_cast<size_t>(found - want.begin());
    ASSERT_LE(first + got.size(), want.size());
    const uint64_t start = PacketTime(Want(command)[first]);
    EXPECT_LE(start, 1500u);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i], Earlier(Want(command)[first + i], start)) << i;
    }
    EXPECT_LT(PacketTime(got.back()) + start, 3300u);
    EXPECT_GE(PacketTime(Want(command)[first + got.size()]), 3300u);
    const std::string single = folder_.Path(command + "-single.asf");
    ASSERT_EQ(Kestrum({"cut", folder_.Path("want_" + command.substr(0, 1) + ".asf"), "-o", single,
                       "--from", "1.5", "--to", "3.3"})
                  .exit_code,
              0);
    EXPECT_EQ(Packets(single), got);
    // It begins as a recording does: its groups recorded again give it back.
    ASSERT_EQ(Kestrum({"extract", single, folder_.Path("range.bin"), "-y"}).exit_code, 0);
    ASSERT_EQ(
        Kestrum({command, folder_.Path("range.bin"), folder_.Path("again.asf"), "-y"}).exit_code,
        0);
    EXPECT_EQ(Packets(folder_.Path("again.asf")), got);
    if (command == std::string("convert")) continue;

    // The start times: a last file begun 10 minutes after the others keeps
    // the time between; a wall-clock FROM falls in it.
    for (size_t k = 1; k < cut.size(); ++k) {
      SetCreationDate(cut[k], 134412804000000000 + (k + 1 == cut.size() ? 6000000000 : 0));
    }
    whole.back() = "-y";
    ASSERT_EQ(Kestrum(whole).exit_code, 0);
    const std::vector<std::string> joined = Packets(folder_.Path("joined.asf"));
    const std::vector<std::string> tail = Packets(cut.back());
    ASSERT_EQ(joined.size(), Want(command).size());
    EXPECT_EQ(joined[joined.size() - tail.size()], Earlier(tail[0], -600000ull));
    const std::string wall = folder_.Path("wall.asf");
    range = {"cut",   cut[1], cut.back(), "-o", wall, "--from", "2026-12-09T10:10:00",
             "--duration", "0.2"};
    ASSERT_EQ(KestrumIn(kParis, range).exit_code, 0);
    EXPECT_EQ(Packets(wall), std::vector<std::string>(tail.begin(), tail.begin() + 5));
    EXPECT_EQ(Fields(KestrumIn(kParis, {"inspect", wall}).out)["started"],
              "2026-12-09 10:10:00.000 +01:00");
    // Files begun at once (written faster than real time): a wall-clock time
    // falls in the first whose samples reach it.
    range = {"cut", cut[1], cut[2], "-o", wall, "-y", "--from", "2026-12-09T09:00:00Z", "--to",
             "2026-12-09T10:00:00.5+01:00"};
    ASSERT_EQ(Kestrum(range).exit_code, 0);
    EXPECT_EQ(Packets(wall),
              std::vector<std::string>(Want(command).begin(), Want(command).begin() + 13));

    // Refused, OUTPUT left as it is: files given out of order, OUTPUT an
    // INPUT, another stream, not Kestrum's.
    const std::string other = folder_.Path("other.bin");
    ASSERT_EQ(Kestrum({"generate", other, "--frames", "5", "--size", "352x288"}).exit_code, 0);
    ASSERT_EQ(Kestrum({"record", other, folder_.Path("other.asf")}).exit_code, 0);
    const std::string foreign = folder_.Path("foreign.asf");
    const bool have_foreign =
        RunProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=s=64x64:d=0.2", "-c:v",
                              "wmv1", foreign})
            .exit_code == 0;
    const struct {
      std::vector<std::string> args;
      int exit_code;
      const char* says;
    } refusals[] = {
        {{"cut", cut.back(), cut[1], "-o", wall}, 4, "before '"},
        {{"cut", cut[1], "-o", cut[1], "-y"}, 2, "INPUT"},
        {{"cut", cut[1], folder_.Path("other.asf"), "-o", wall}, 4, "its stream header differs"},
        {{"cut", have_foreign ? foreign : stream_, "-o", wall},
         4,
         have_foreign ? "was not written by Kestrum" : "is not an ASF file"},
    };
    const std::vector<uint8_t> before = ReadBytes(wall);
    for (const auto& refusal : refusals) {
      const RunResult refused = Kestrum(refusal.args);
      EXPECT_EQ(refused.exit_code, refusal.exit_code) << refusal.says << ": " << refused.err;
      EXPECT_NE(refused.err.find(refusal.says), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(ReadBytes(wall) == before);
  }
  const std::string report = folder_.Path("series.json");
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  const std::string year = std::to_string(1900 + ::gmtime_r(&now, &utc)->tm_year);
  for (const std::string pattern : {"z%z-%Y.asf", "t%z-%Y%m%d-%H%M%S.asf"}) {
    const bool by_clock = pattern[0] == 't';
    std::vector<std::string> args = {"TZ=UTC-14", KESTRUM_PROGRAM, "record", stream_,
                                     folder_.Path(pattern), "--strftime", "--report-json", report};
    for (const char* arg : by_clock ? std::vector<const char*>{"-re", "--segment-time", "1",
                                                               "--segment-atclocktime"}
                                    : std::vector<const char*>{"--utc", "--segment-time", "1"}) {
      args.push_back(arg);
    }
    const RunResult r = RunProgram("env", args);
    ASSERT_EQ(r.exit_code, 0) << pattern << ": " << r.err;
    const std::vector<uint8_t> json = ReadBytes(report);
    std::istringstream names(ReadJson(std::string(json.begin(), json.end()),
                                      "print('\\n'.join(d['conversions'][0]['outputs']))"));
    std::vector<std::string> all;
    size_t files = 0;
    for (std::string name; std::getline(names, name); ++files) {
      const std::string variant = files == 0 ? "" : "-" + std::to_string(files);
      const std::string want = by_clock ? name.substr(0, folder_.Path("t+1400-").size())
                                        : folder_.Path("z+0000-" + year + variant + ".asf");
      EXPECT_EQ(by_clock ? folder_.Path("t+1400-") : name, want) << name;
      for (const std::string& p : without_time(Packets(name))) all.push_back(p);
    }
    EXPECT_GE(files, by_clock ? 2u : 4u) << r.out;
    EXPECT_EQ(all, without_time(Want("record"))) << pattern;
  }
}

// Feeds a FIFO from a thread: opens it once a reader has, writes `bytes`,
// then holds it open until Release (an input without an end) or closes it.
class FifoFeed {
 public:
  FifoFeed(const std::string& path, const std::vector<uint8_t>& bytes, bool hold)
      : thread_([this, path, &bytes, hold] {
          int fd = -1;
          while (!stop_ && (fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }
          if (fd < 0) return;
          ::fcntl(fd, F_SETFL, 0);
          for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) break;  // the reader has gone
            at += static_cast<size_t>(n);
          }
          while (hold && !stop_) std::this_thread::sleep_for(std::chrono::milliseconds(5));
          ::close(fd);
        }) {}
  ~FifoFeed() { Release(); }
  void Release() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A FIFO is read once: convert gives what it gives from the file; inspect
// of an input without an end stops at --limit and says so.
TEST_F(OutputsTest, FifoInputsAreReadOnce) {
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<uint8_t> bytes = ReadBytes(stream_);
  const std::string fifo = folder_.Path("in.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    FifoFeed feed(fifo, bytes, false);
    const RunResult r = Kestrum({"convert", fifo, folder_.Path("fifo.asf")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_EQ(Packets(folder_.Path("fifo.asf")), want_convert_);

  FifoFeed endless(fifo, bytes, true);
  const RunResult r = Kestrum({"inspect", fifo, "--limit", "64K"});
  endless.Release();
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto fields = Fields(r.out);
  EXPECT_EQ(fields.at("stopped").rfind("at the limit, after ", 0), 0u) << r.out;
  EXPECT_GT(std::stoul(fields.at("groups")), 0u);
  EXPECT_LT(std::stoul(fields.at("groups")), 120u);
}

}  // namespace
}  // namespace cli_test
