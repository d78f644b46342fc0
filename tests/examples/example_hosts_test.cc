// The example hosts run as a user would run them, their files read back with
// ffprobe and compared with what the library must write for the stream sent:
//  - live_socket_host, fed over a TCP connection on 127.0.0.1 by a sender in
//    this process, however the stream is cut into reads, cut off, refused or
//    stopped;
//  - convert_directory, over a folder of good and bad streams;
//  - multi_camera_host, cameras on threads cutting their recordings into files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "examples/child_process.h"
#include "support/expected_samples.h"
#include "support/probe.h"
#include "support/stream_pieces.h"

namespace kestrum::testing {
namespace {

namespace fs = std::filesystem;

// A stream with what a live sender carries: groups of one to three video
// blocks, blocks of kinds 0x1001/0x1002 among them, a few groups without
// video, a large group now and then, and a few bytes of junk between some
// groups (few enough that no cutting makes the library drop held bytes and
// wait for a start group again). Its first group may start a recording, so
// every group is recorded.
StreamBuilder SenderStream(uint32_t groups, uint32_t state,
                           FileHeaderBuilder header = FileHeaderBuilder()) {
  std::mt19937 random(state);
  auto pick = [&](uint32_t below) { return static_cast<uint32_t>(random() % below); };
  StreamBuilder stream;
  stream.Header(header);
  for (uint32_t i = 0; i < groups; ++i) {
    Group group;
    group.FrameType(i % 25 == 0 ? 0x1001 : 0x1003).Word32(i);
    if (pick(8) == 0) group.AddBlock(0x1001, 1 + pick(200));
    const uint32_t videos = pick(10) == 0 ? 0 : 1 + pick(3);
    for (uint32_t v = 0; v < videos; ++v) {
      const size_t payload = i % 30 == 17 ? 60000 + pick(30000) : 1 + pick(5000);
      group.AddBlock(static_cast<uint16_t>(0x1003 + pick(3)), payload);
    }
    if (pick(8) == 0) group.AddBlock(0x1002, 1 + pick(300));
    stream.Add(group);
    if (i % 20 == 9) stream.Junk(1 + pick(8), state + i);
  }
  return stream;
}

// The listening end on 127.0.0.1 that the example connects to.
class Sender {
 public:
  Sender() {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;  // any free port
    socklen_t length = sizeof address;
    if (listen_fd_ < 0 ||
        ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 1) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    port_ = ntohs(address.sin_port);
  }
  ~Sender() {
    Close();
    if (listen_fd_ >= 0) ::close(listen_fd_);
  }
  Sender(const Sender&) = delete;
  Sender& operator=(const Sender&) = delete;

  std::string port() const { return std::to_string(port_); }

  // Waits (at most 20 s) for the example to connect.
  bool Accept() {
    pollfd polled{listen_fd_, POLLIN, 0};
    if (::poll(&polled, 1, 20000) != 1) return false;
    fd_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    const int on = 1;
    if (fd_ >= 0) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd_ >= 0;
  }

  // Sends `bytes` in writes of pseudo-random sizes up to `max_write`.
  bool Send(const std::vector<uint8_t>& bytes, size_t max_write, uint32_t state) {
    std::mt19937 random(state);
    size_t at = 0;
    while (at < bytes.size()) {
      const size_t want = std::min(bytes.size() - at, 1 + random() % max_write);
      const ssize_t n = ::send(fd_, bytes.data() + at, want, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<size_t>(n);
    }
    return true;
  }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int listen_fd_ = -1;
  int fd_ = -1;
  uint16_t port_ = 0;
};

class LiveSocketHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not found";
    dir_ = TestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
  }

  // Runs the example against `sender`, which sends `bytes` and closes. An
  // example that stops reading (a refused header) may close the connection
  // before the sender is done: only then is a failed send no fault.
  int Record(const std::vector<uint8_t>& bytes, const std::vector<std::string>& options,
             bool host_may_stop_reading = false) {
    Sender sender;
    std::vector<std::string> args = options;
    args.insert(args.end(), {"127.0.0.1", sender.port(), output()});
    ChildProcess process(LIVE_SOCKET_HOST, args);
    EXPECT_TRUE(process.started());
    EXPECT_TRUE(sender.Accept()) << "the example did not connect";
    const bool sent = sender.Send(bytes, 20000, 7);
    if (!host_may_stop_reading) {
      EXPECT_TRUE(sent);
    }
    sender.Close();
    const int code = process.Wait();
    out_ = process.out();
    err_ = process.err();
    return code;
  }

  std::string output() const { return dir_ + "/live.asf"; }

  std::string dir_;
  std::string out_;
  std::string err_;
};

class LiveSocketReadSizeTest : public LiveSocketHostTest,
                               public ::testing::WithParamInterface<int> {};

// Reads of 40 bytes would each be taken as a header if handed on as they are;
// the example splits them. Every cutting gives the samples the stream holds.
TEST_P(LiveSocketReadSizeTest, FileHoldsEverySampleOfTheStream) {
  const StreamBuilder stream = SenderStream(90, 1234);
  std::vector<std::string> options;
  if (GetParam() > 0) options = {"--read-size", std::to_string(GetParam())};
  ASSERT_EQ(Record(stream.bytes(), options), 0) << err_;
  EXPECT_NE(out_.find("recorded "), std::string::npos) << out_;
  const auto packets = ProbePackets(output());
  ASSERT_TRUE(packets.has_value());
  const std::vector<ProbedPacket> want = ExpectedLivePackets(stream);
  ASSERT_GT(want.size(), 90u);
  EXPECT_EQ(*packets, want) << "got:\n" << Describe(*packets) << "want:\n" << Describe(want);
  EXPECT_NE(out_.find("recorded " + std::to_string(want.size()) + " samples"), std::string::npos)
      << out_;
}

INSTANTIATE_TEST_SUITE_P(ReadSizes, LiveSocketReadSizeTest,
                         ::testing::Values(40, 41, 333, 4096, 0 /* the default, 64 KiB */));

TEST_F(LiveSocketHostTest, GroupCutOffByTheSenderIsNotWritten) {
  const StreamBuilder stream = SenderStream(40, 99);
  std::vector<uint8_t> bytes = stream.bytes();
  const std::vector<uint8_t> next = Group().AddBlock(0x1003, 3000).Bytes();
  bytes.insert(bytes.end(), next.begin(), next.begin() + 1500);
  ASSERT_EQ(Record(bytes, {}), 0) << err_;
  const auto packets = ProbePackets(output());
  ASSERT_TRUE(packets.has_value());
  EXPECT_EQ(*packets, ExpectedLivePackets(stream));
}

TEST_F(LiveSocketHostTest, RefusedHeaderRecordsNothing) {
  const StreamBuilder stream = SenderStream(10, 5, FileHeaderBuilder().StreamType(0x1004));
  EXPECT_EQ(Record(stream.bytes(), {}, /*host_may_stop_reading=*/true), 1);
  EXPECT_NE(err_.find("the stream's header was refused"), std::string::npos) << err_;
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(LiveSocketHostTest, OutputThatCannotBeCreatedIsReported) {
  Sender sender;
  const std::string unwritable = dir_ + "/no/such/folder/live.asf";
  ChildProcess process(LIVE_SOCKET_HOST, {"127.0.0.1", sender.port(), unwritable});
  ASSERT_TRUE(sender.Accept());
  ASSERT_TRUE(sender.Send(SenderStream(10, 3).bytes(), 5000, 1));
  sender.Close();
  EXPECT_EQ(process.Wait(), 1);
  EXPECT_NE(process.err().find("(the output could not be prepared)"), std::string::npos)
      << process.err();
}

TEST_F(LiveSocketHostTest, NoSenderIsAConnectionFailure) {
  int port = 0;
  {
    Sender closed;  // a port that was free a moment ago, with nobody listening now
    port = std::stoi(closed.port());
  }
  ChildProcess process(LIVE_SOCKET_HOST, {"127.0.0.1", std::to_string(port), output()});
  EXPECT_EQ(process.Wait(), 3);
  EXPECT_NE(process.err().find("cannot connect"), std::string::npos) << process.err();
  EXPECT_FALSE(fs::exists(output()));
}

// Told to stop while the sender keeps the connection open, the example ends
// the file: complete, indexed, with every group received.
TEST_F(LiveSocketHostTest, StopSignalEndsTheFile) {
  const StreamBuilder stream = SenderStream(30, 77);
  const std::vector<ProbedPacket> want = ExpectedLivePackets(stream);
  Sender sender;
  ChildProcess process(LIVE_SOCKET_HOST, {"-v", "127.0.0.1", sender.port(), output()});
  ASSERT_TRUE(sender.Accept());
  ASSERT_TRUE(sender.Send(stream.bytes(), 3000, 2));
  ASSERT_TRUE(
      process.WaitForErrorLine("[kestrum] !!!!Write Sample!!!!", static_cast<int>(want.size())))
      << process.err();
  ::kill(process.pid(), SIGTERM);
  EXPECT_EQ(process.Wait(), 0) << process.err();
  EXPECT_NE(process.out().find("(stopped)"), std::string::npos) << process.out();
  const auto packets = ProbePackets(output());
  ASSERT_TRUE(packets.has_value());
  EXPECT_EQ(*packets, want);
  // An ended file has its index and is marked seekable; an unended one is
  // still marked as a broadcast and has no index.
  const auto inspected = RunCommand(std::string(KESTRUM_PROGRAM) + " inspect '" + output() + "'");
  ASSERT_TRUE(inspected.has_value());
  EXPECT_NE(inspected->find("flags: 0x2 seekable\n"), std::string::npos) << *inspected;
  EXPECT_EQ(inspected->find("index: none"), std::string::npos) << *inspected;
}

class ConvertDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not found";
    dir_ = TestDirectory(::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ + "/in/subfolder");
    fs::create_directories(dir_ + "/out");
  }

  int Run() {
    ChildProcess process(CONVERT_DIRECTORY, {dir_ + "/in", dir_ + "/out"});
    const int code = process.Wait();
    out_ = process.out();
    return code;
  }

  void ExpectConverted(const std::string& input, const StreamBuilder& stream) {
    const std::string output = dir_ + "/out/" + fs::path(input).stem().string() + ".asf";
    EXPECT_NE(out_.find("ok      " + dir_ + "/in/" + input + " -> " + output), std::string::npos)
        << out_;
    const auto packets = ProbePackets(output);
    ASSERT_TRUE(packets.has_value()) << output;
    EXPECT_EQ(*packets, ExpectedFilePackets(stream)) << input;
  }

  std::string dir_;
  std::string out_;
};

// One process, one conversion after another: each file holds its own stream
// alone; bad inputs are reported and make the exit code 1.
TEST_F(ConvertDirectoryTest, EachStreamItsOwnFileAndFailuresReported) {
  const StreamBuilder a = SenderStream(25, 1);
  const StreamBuilder b = SenderStream(60, 2, FileHeaderBuilder().StreamType(0x1003));
  const StreamBuilder c = SenderStream(5, 3, FileHeaderBuilder().Size(176, 144));
  WriteFile(dir_ + "/in/a.xqv", a.bytes());
  WriteFile(dir_ + "/in/b.stream", b.bytes());
  WriteFile(dir_ + "/in/c", c.bytes());
  WriteFile(dir_ + "/in/.hidden.xqv", a.bytes());
  WriteFile(dir_ + "/in/subfolder/d.xqv", a.bytes());
  WriteFile(dir_ + "/in/junk.xqv", std::vector<uint8_t>(4000, 0x5A));
  WriteFile(dir_ + "/in/short.xqv", std::vector<uint8_t>(39, 1));

  EXPECT_EQ(Run(), 1) << out_;
  ExpectConverted("a.xqv", a);
  ExpectConverted("b.stream", b);
  ExpectConverted("c", c);
  EXPECT_NE(out_.find("FAILED  " + dir_ + "/in/junk.xqv: status 0x80004005"), std::string::npos)
      << out_;
  EXPECT_NE(out_.find("FAILED  " + dir_ + "/in/short.xqv: the source could not be opened"),
            std::string::npos)
      << out_;
  EXPECT_NE(out_.find("3 converted, 2 failed"), std::string::npos) << out_;
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(dir_ + "/out")) {
    written.insert(entry.path().filename().string());
  }
  EXPECT_EQ(written, (std::set<std::string>{"a.asf", "b.asf", "c.asf"}));
}

// An output name longer than 259 bytes is refused with a failure code, not
// cut; the other files still convert.
TEST_F(ConvertDirectoryTest, OutputNameTooLongIsAFailure) {
  const StreamBuilder a = SenderStream(10, 4);
  const size_t room = 259 - (dir_ + "/out/").size() - 4;  // the longest stem that fits
  const std::string fits(room, 'f');
  const std::string too_long(room + 1, 'g');
  ASSERT_LT(too_long.size() + 4, 255u) << "the test folder's path is too long for this test";
  WriteFile(dir_ + "/in/" + fits + ".xqv", a.bytes());
  WriteFile(dir_ + "/in/" + too_long + ".xqv", a.bytes());
  EXPECT_EQ(Run(), 1) << out_;
  ExpectConverted(fits + ".xqv", a);
  EXPECT_NE(out_.find(too_long + ".xqv: status 0x800700CE"), std::string::npos) << out_;
  EXPECT_FALSE(fs::exists(dir_ + "/out/" + too_long + ".asf"));
}

TEST_F(ConvertDirectoryTest, AllConvertedExitsZero) {
  const StreamBuilder a = SenderStream(12, 8);
  WriteFile(dir_ + "/in/one.xqv", a.bytes());
  WriteFile(dir_ + "/in/two.xqv", a.bytes());
  EXPECT_EQ(Run(), 0) << out_;
  ExpectConverted("one.xqv", a);
  ExpectConverted("two.xqv", a);
  EXPECT_NE(out_.find("2 converted, 0 failed"), std::string::npos) << out_;
}

// The threads a process has now, as /proc tells; -1 when it cannot be read.
int ThreadsOf(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
  }
  return -1;
}

// Ten cameras record one stream at its pace, each cut into files every
// second: every file is readable, and each camera's files in order hold the
// samples of one recording of the whole stream. While they record, and
// after their first switches, the process has a thread per camera and only
// a few more (the library's one sync thread; one per recording, 2N + 2 in
// all, would fail).
TEST(MultiCameraHostTest, EachCamerasFilesTogetherHoldOneRecording) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe not found";
  constexpr int kCameras = 10;
  const std::string dir = TestDirectory("MultiCameraHost");
  const StreamBuilder stream = SenderStream(60, 4321);  // 2.4 s at 25 groups a second
  WriteFile(dir + "/in.xqv", stream.bytes());
  fs::create_directories(dir + "/out");
  ChildProcess process(MULTI_CAMERA_HOST,
                       {"--cut", "1", std::to_string(kCameras), dir + "/out", dir + "/in.xqv"});
  const std::vector<ProbedPacket> want = ExpectedLivePackets(stream);
  const std::string written = "[cam " + std::to_string(kCameras) + "] !!!!Write Sample!!!!";
  // Once the last camera has begun, and again once most have begun their
  // second file.
  for (const size_t samples : {size_t{1}, want.size() / 3}) {
    ASSERT_TRUE(process.WaitForErrorLine(written, static_cast<int>(samples))) << process.err();
    const int threads = ThreadsOf(process.pid());
    EXPECT_GT(threads, 0) << "after " << samples << " samples";
    EXPECT_LE(threads, kCameras + 8) << "after " << samples << " samples";
  }
  ASSERT_EQ(process.Wait(), 0) << process.out() << process.err();
  for (int camera = 1; camera <= kCameras; ++camera) {
    EXPECT_NE(process.out().find("cam " + std::to_string(camera) + ": ended, " +
                                 std::to_string(want.size()) + " samples"),
              std::string::npos)
        << process.out();
    std::vector<ProbedPacket> got;
    int files = 0;
    for (int n = 1;; ++n) {
      const std::string file =
          dir + "/out/cam" + std::to_string(camera) + "-" + std::to_string(n) + ".asf";
      if (!fs::exists(file)) break;
      const auto packets = ProbePackets(file);
      ASSERT_TRUE(packets.has_value()) << file;
      got.insert(got.end(), packets->begin(), packets->end());
      ++files;
    }
    // The first switch is asked for after a second, long before the last
    // start group arrives.
    EXPECT_GE(files, 2) << "camera " << camera;
    ASSERT_EQ(got.size(), want.size()) << "camera " << camera;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(got[i].md5, want[i].md5) << "camera " << camera << " sample " << i;
      EXPECT_EQ(got[i].key, want[i].key) << "camera " << camera << " sample " << i;
    }
  }
}

}  // namespace
}  // namespace kestrum::testing
