// Whole files written through the SDK interfaces: into memory, and into a
// real file that ffprobe reads back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "asf_format/reader.h"
#include "base/bytes.h"
#include "diagnostics/lines.h"
#include "platform/record_context.h"
#include "support/debug_capture.h"
#include "support/md5.h"
#include "support/probe.h"
#include "wm_standin/tests/writer_fixture.h"

namespace kestrum::testing {
namespace {

// ASF Header Object GUID as stored.
const std::vector<uint8_t> kHeaderGuid = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

struct Sample {
  QWORD time;
  DWORD flags;
  std::vector<uint8_t> bytes;
};

// Samples of assorted sizes (one byte, several packets' worth, several in
// one packet), one in five a clean point, 40 ms apart.
std::vector<Sample> MakeSamples(size_t count) {
  const size_t sizes[] = {1, 52, 700, 3199, 3200, 3201, 9000, 150000, 33, 1024000 - 32};
  std::vector<Sample> samples;
  uint32_t state = 12345;
  for (size_t i = 0; i < count; ++i) {
    Sample sample{i * 400000, i % 5 == 0 ? 3u : 0u, std::vector<uint8_t>(sizes[i % 10])};
    for (uint8_t& byte : sample.bytes) {
      state = state * 1103515245u + 12345u;
      byte = static_cast<uint8_t>(state >> 24);
    }
    samples.push_back(std::move(sample));
  }
  return samples;
}

bool Contains(const std::vector<uint8_t>& haystack, const std::vector<uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

void SetAttributes(IWMWriter* writer) {
  ComRef<IWMHeaderInfo> header;
  ASSERT_EQ(writer->QueryInterface(IID_IWMHeaderInfo, header.PutVoid()), S_OK);
  const std::vector<uint8_t> title = Utf16Bytes(u"ASF", false);
  const std::vector<uint8_t> description = Utf16Bytes(u"Tarvelle Co., Ltd", true);
  ASSERT_EQ(header->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, title.data(), 6), S_OK);
  ASSERT_EQ(header->SetAttribute(0, KS_WIDE("Description"), WMT_TYPE_STRING, description.data(),
                                 static_cast<WORD>(description.size())),
            S_OK);
}

class WriterOutputTest : public WriterFixture {
 protected:
  // Writes `samples` through a fresh writer over the shared memory sink.
  std::vector<uint8_t> WriteAll(const std::vector<Sample>& samples) {
    memory_->bytes.clear();
    ComRef<IWMWriter> writer;
    EXPECT_EQ(wmsdk::CreateWriter(Options(), writer.Put()), S_OK);
    Configure(writer.Get());
    SetAttributes(writer.Get());
    EXPECT_EQ(writer->BeginWriting(), S_OK);
    for (const Sample& s : samples) {
      EXPECT_EQ(WriteSample(writer.Get(), kVideoStream, s.time, s.bytes, s.flags), S_OK);
    }
    EXPECT_EQ(writer->EndWriting(), S_OK);
    writer.Reset();  // once the end its thread makes durable is done
    return memory_->bytes;
  }
};

// With the file ID and creation time fixed, the same calls give the same
// bytes; the header carries the injected ID and the title.
TEST_F(WriterOutputTest, SameCallsGiveTheSameFile) {
  const std::vector<Sample> samples = MakeSamples(12);
  const std::vector<uint8_t> first = WriteAll(samples);
  const std::vector<uint8_t> second = WriteAll(samples);
  ASSERT_GE(first.size(), kHeaderGuid.size());
  EXPECT_EQ(first, second);
  EXPECT_TRUE(std::equal(kHeaderGuid.begin(), kHeaderGuid.end(), first.begin()));
  const std::vector<uint8_t> file_id = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                        0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
  EXPECT_TRUE(Contains(first, file_id));
  EXPECT_TRUE(Contains(first, Utf16Bytes(u"ASF", true)));
  EXPECT_TRUE(Contains(first, samples[2].bytes));  // 700 bytes fit one packet
}

// A file is dated by its first sample, which may come long after writing
// began: in the header while the file is written, and once it is ended.
TEST_F(WriterOutputTest, TheFirstSampleDatesTheFile) {
  uint64_t now = kCreationTime;
  wmsdk::WriterOptions options = Options();
  options.creation_time = [&now] { return now; };
  ComRef<IWMWriter> writer;
  ASSERT_EQ(wmsdk::CreateWriter(options, writer.Put()), S_OK);
  Configure(writer.Get());
  ASSERT_EQ(writer->BeginWriting(), S_OK);
  now += 50000000;  // 5 s on
  const uint64_t first = now;
  for (const Sample& s : MakeSamples(3)) {
    ASSERT_EQ(WriteSample(writer.Get(), kVideoStream, s.time, s.bytes), S_OK);
    now += 400000;
  }
  EXPECT_EQ(asf::ReadAsfFile(memory_->bytes).creation_time, first);
  EXPECT_EQ(writer->EndWriting(), S_OK);
  writer.Reset();
  EXPECT_EQ(asf::ReadAsfFile(memory_->bytes).creation_time, first);
}

TEST_F(WriterOutputTest, FullSinkFailsTheWriteThatHitsItWithoutCrashing) {
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  const size_t limit = memory_->bytes.size() + 20000;
  memory_->fail_after = std::make_unique<size_t>(limit);
  HRESULT first_failure = S_OK;
  for (const Sample& s : MakeSamples(20)) {
    const HRESULT hr = WriteSample(kVideoStream, s.time, s.bytes);
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  }
  const HRESULT ended = writer_->EndWriting();
  EXPECT_TRUE(FAILED(first_failure) || FAILED(ended));
  EXPECT_LE(memory_->bytes.size(), limit);
  EXPECT_EQ(writer_->EndWriting(), NS_E_INVALID_REQUEST);
}

// A writer released while writing leaves an unended file, but hands what it
// wrote to the system.
TEST_F(WriterOutputTest, ReleasingAnUnendedWriterFlushesItsFile) {
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  for (const Sample& s : MakeSamples(10))
    ASSERT_EQ(WriteSample(kVideoStream, s.time, s.bytes), S_OK);
  const size_t flushes = memory_->flushes;
  writer_.Reset();
  EXPECT_GT(memory_->flushes, flushes);
  EXPECT_GT(memory_->bytes.size(), 150000u);
}

// The writer's own thread syncs the file while it writes (1 ms here), and
// after EndWriting syncs it, confirms the end and syncs again, which
// releasing the writer waits for; with 0 nothing syncs, and by default (the
// process-wide interval) only the end is synced. After a sync, the header's File
// Size field notes how much of the file it made durable, also when nothing
// is written after a burst. A failing sync is told once and writing goes on,
// also to the recording the writer began for (its thread works for it).
TEST_F(WriterOutputTest, SyncsTheFileWhileWritingAndAtTheEnd) {
  struct Routed {
    std::mutex mutex;
    std::vector<std::string> lines;
    static void WINAPI Take(const char* line, void* context) {
      auto* routed = static_cast<Routed*>(context);
      std::lock_guard<std::mutex> lock(routed->mutex);
      routed->lines.emplace_back(line);
    }
  };
  struct Case {
    std::optional<uint32_t> interval_ms;
    asf::Status sync_result;
    bool syncs_while_writing;
    bool idle_after_burst = false;
  };
  for (const Case& c : {Case{1, asf::kOk, true}, Case{0, asf::kOk, false},
                        Case{std::nullopt, asf::kOk, false}, Case{1, asf::kWriteFault, true},
                        Case{1, asf::kOk, true, true}}) {
    SCOPED_TRACE(c.interval_ms ? std::to_string(*c.interval_ms) + " ms" : "default");
    memory_->bytes.clear();
    memory_->syncs = 0;
    memory_->sync_result = c.sync_result;
    wmsdk::WriterOptions options = Options();
    options.sync_interval_ms = c.interval_ms;
    ComRef<IWMWriter> writer;
    ASSERT_EQ(wmsdk::CreateWriter(options, writer.Put()), S_OK);
    Configure(writer.Get());
    DebugCapture capture;
    const auto record = std::make_shared<RecordContext>();
    Routed routed;
    record->lines().Set(&Routed::Take, &routed);
    {
      const RecordScope scope(record.get());
      ASSERT_EQ(writer->BeginWriting(), S_OK);
    }
    const std::vector<Sample> samples = MakeSamples(100);
    // A burst of 1.2 s of media, ending in a sample of 1 MB, reaches the file.
    const size_t burst = c.idle_after_burst ? 30 : 4;
    for (size_t i = 0; i < burst; ++i) {
      const Sample& s = samples[i];
      ASSERT_EQ(WriteSample(writer.Get(), kVideoStream, s.time, s.bytes, s.flags), S_OK);
    }
    while (c.syncs_while_writing && memory_->syncs == 0) std::this_thread::yield();
    // The note is written once the sync has returned: with the next sample,
    // or by the writer's thread itself.
    uint64_t data_start = 0;
    const auto noted = [&] {
      const std::vector<uint8_t> bytes = memory_->Snapshot();
      asf::MemorySource source(bytes.data(), bytes.size());
      asf::Reader reader(source);
      if (!reader.Open()) return uint64_t{0};
      data_start = reader.header().data_offset + 50;
      return reader.header().file_size;
    };
    if (c.idle_after_burst) {
      // Nothing more comes: the last sync, which covers every byte, is
      // noted all the same (the wait is bounded only so as not to hang).
      const uint64_t written = memory_->Snapshot().size();
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (noted() != written && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
      }
      EXPECT_EQ(noted(), written);
    }
    for (size_t i = 4; i < samples.size() && !c.idle_after_burst && (i == 4 || noted() == 0); ++i) {
      const Sample& s = samples[i];
      ASSERT_EQ(WriteSample(writer.Get(), kVideoStream, s.time, s.bytes, s.flags), S_OK);
      if (!c.syncs_while_writing || Failed(c.sync_result)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (c.syncs_while_writing && Succeeded(c.sync_result)) {
      EXPECT_GE(noted(), data_start);  // at least the header and the Data Object's
      EXPECT_LE(noted(), memory_->bytes.size());
    } else {
      EXPECT_EQ(noted(), 0u);
    }
    const int before_end = memory_->syncs;
    {
      const RecordScope scope(record.get());
      ASSERT_EQ(writer->EndWriting(), S_OK);
      writer.Reset();
    }
    const bool off = c.interval_ms == 0u;
    if (off) {
      EXPECT_EQ(memory_->syncs, 0);
    } else {
      EXPECT_GE(memory_->syncs, before_end + 2);
    }
    // Ended as a clean end has it, synced or not.
    asf::MemorySource source(memory_->bytes.data(), memory_->bytes.size());
    asf::Reader reader(source);
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.header().flags & asf::kFileFlagBroadcast, 0u);
    EXPECT_EQ(reader.header().file_size, memory_->bytes.size());
    char line[128];
    std::snprintf(line, sizeof line, lines::kSyncFailedFormat, asf::kWriteFault.code());
    EXPECT_EQ(capture.Count(line), Failed(c.sync_result) ? 1u : 0u);
    EXPECT_EQ(std::count(routed.lines.begin(), routed.lines.end(), std::string(line)),
              Failed(c.sync_result) ? 1 : 0);
  }
}

// The library's whole sequence into a real file, read back by ffprobe:
// stream format, attributes, and every sample's bytes, time and key flag.
TEST(WriterFileTest, FfprobeReadsBackWhatWasWritten) {
  if (!RunCommand("ffprobe -version >/dev/null 2>&1")) GTEST_SKIP() << "ffprobe is not installed";
  std::filesystem::create_directories(KESTRUM_TEST_TMPDIR);
  const std::string path = std::string(KESTRUM_TEST_TMPDIR) + "/wmsdk_roundtrip.asf";
  std::filesystem::remove(path);

  ComRef<IWMWriter> writer;
  ASSERT_EQ(WMCreateWriter(nullptr, writer.Put()), S_OK);
  ComRef<IWMProfile> profile(MakeVideoProfile(kVideoStream, 704, 576));
  ASSERT_TRUE(profile);
  ASSERT_EQ(writer->SetProfile(profile.Get()), S_OK);
  ASSERT_EQ(writer->SetInputProps(0, nullptr), S_OK);
  const std::basic_string<WCHAR> wide_path(path.begin(), path.end());  // ASCII temp path
  ASSERT_EQ(writer->SetOutputFilename(wide_path.c_str()), S_OK);
  SetAttributes(writer.Get());
  ASSERT_EQ(writer->BeginWriting(), S_OK);
  const std::vector<Sample> samples = MakeSamples(40);
  for (const Sample& s : samples) {
    ASSERT_EQ(WriteOneSample(writer.Get(), kVideoStream, s.time, s.bytes, s.flags), S_OK);
  }
  ASSERT_EQ(writer->EndWriting(), S_OK);

  const std::optional<std::string> stream_out = RunCommand(
      "ffprobe -v error -show_data_hash MD5 -show_entries "
      "stream=codec_tag_string,width,height,extradata_size,extradata_hash:"
      "format_tags=title,comment -of default=noprint_wrappers=1 '" +
      path + "'");
  ASSERT_TRUE(stream_out);
  std::map<std::string, std::string> fields;
  for (const std::string& line : Lines(*stream_out)) {
    const size_t equals = line.find('=');
    if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
  }
  const std::vector<uint8_t> codec = CodecBytes(0x11);
  EXPECT_EQ(fields["codec_tag_string"], "XQV4");
  EXPECT_EQ(fields["width"], "704");
  EXPECT_EQ(fields["height"], "576");
  EXPECT_EQ(fields["extradata_size"], "40");
  EXPECT_EQ(fields["extradata_hash"], "MD5:" + Md5Hex(codec.data(), codec.size()));
  EXPECT_EQ(fields["TAG:title"], "ASF");
  EXPECT_EQ(fields["TAG:comment"], "Tarvelle Co., Ltd");

  const std::optional<std::string> packets_out = RunCommand(
      "ffprobe -v error -show_entries packet=pts,flags,data_hash -show_data_hash MD5 "
      "-of csv '" +
      path + "'");
  ASSERT_TRUE(packets_out);
  std::vector<std::string> expected;
  for (const Sample& s : samples) {
    expected.push_back("packet," + std::to_string(s.time / 10000) + "," +
                       ((s.flags & WM_SF_CLEANPOINT) != 0 ? "K_" : "__") +
                       ",MD5:" + Md5Hex(s.bytes.data(), s.bytes.size()));
  }
  EXPECT_EQ(Lines(*packets_out), expected);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (FILE* file = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
    std::fclose(file);
  }
  return bytes;
}

uint64_t NowAsFileTime() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return 116444736000000000ull +
         static_cast<uint64_t>(
             std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100);
}

// WMCreateWriter's writer: a file, a file ID of its own each time, and the
// time of writing as the creation date.
TEST(WriterFileTest, DefaultWriterGivesEachFileItsOwnIdAndTheCurrentTime) {
  const std::vector<uint8_t> file_properties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  std::filesystem::create_directories(KESTRUM_TEST_TMPDIR);
  std::vector<std::vector<uint8_t>> ids;
  for (int i = 0; i < 2; ++i) {
    const std::string path =
        std::string(KESTRUM_TEST_TMPDIR) + "/wmsdk_default" + std::to_string(i) + ".asf";
    const uint64_t before = NowAsFileTime();
    ComRef<IWMWriter> writer;
    ASSERT_EQ(WMCreateWriter(nullptr, writer.Put()), S_OK);
    ComRef<IWMProfile> profile(MakeVideoProfile());
    ASSERT_EQ(writer->SetProfile(profile.Get()), S_OK);
    const std::basic_string<WCHAR> wide_path(path.begin(), path.end());
    ASSERT_EQ(writer->SetOutputFilename(wide_path.c_str()), S_OK);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    ASSERT_EQ(WriteOneSample(writer.Get(), kVideoStream, 0, {1, 2, 3}, 3), S_OK);
    ASSERT_EQ(writer->EndWriting(), S_OK);
    const uint64_t after = NowAsFileTime();

    const std::vector<uint8_t> bytes = ReadFile(path);
    const auto object =
        std::search(bytes.begin(), bytes.end(), file_properties.begin(), file_properties.end());
    ASSERT_LE(object - bytes.begin() + 24 + 16 + 8 + 8, static_cast<ptrdiff_t>(bytes.size()));
    const auto id = object + 24;  // GUID and object size precede the fields
    ids.emplace_back(id, id + 16);
    const uint64_t created = load_u64le(&*(id + 16 + 8));  // after File ID and File Size
    EXPECT_GE(created, before);
    EXPECT_LE(created, after);
  }
  EXPECT_NE(ids[0], ids[1]);
}

TEST(Md5Test, KnownDigests) {
  const std::string abc = "abc";
  EXPECT_EQ(Md5Hex(nullptr, 0), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(reinterpret_cast<const uint8_t*>(abc.data()), abc.size()),
            "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
}  // namespace kestrum::testing
