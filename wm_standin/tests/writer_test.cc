// The writer's call order, argument checks and attributes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/debug_capture.h"
#include "wm_standin/tests/writer_fixture.h"

namespace kestrum::testing {
namespace {

const std::vector<uint8_t> kSmall = {1, 2, 3, 4, 5, 6, 7, 8};

using WriterTest = WriterFixture;

TEST_F(WriterTest, BeginWritingNeedsAProfileAndAName) {
  EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST);
  ComRef<IWMProfile> profile(MakeVideoProfile());
  ASSERT_EQ(writer_->SetProfile(profile.Get()), S_OK);
  EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST);

  ComRef<IWMWriter> named_only;
  ASSERT_EQ(wmsdk::CreateWriter(Options(), named_only.Put()), S_OK);
  ASSERT_EQ(named_only->SetOutputFilename(KS_WIDE("x.asf")), S_OK);
  EXPECT_EQ(named_only->BeginWriting(), NS_E_INVALID_REQUEST);
  EXPECT_TRUE(opened_.empty());
}

TEST_F(WriterTest, SamplesAreTakenOnlyBetweenBeginAndEnd) {
  Configure();
  EXPECT_EQ(WriteSample(8, 0, kSmall), NS_E_INVALID_REQUEST);
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(writer_->BeginWriting(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(WriteSample(8, 0, kSmall), S_OK);
  ASSERT_EQ(writer_->EndWriting(), S_OK);
  EXPECT_EQ(WriteSample(8, 400000, kSmall), NS_E_INVALID_REQUEST);
  // The library's StopRecord may end twice.
  EXPECT_EQ(writer_->EndWriting(), NS_E_INVALID_REQUEST);
  EXPECT_EQ(opened_.size(), 1u);
}

TEST_F(WriterTest, ConfigurationIsFrozenWhileWriting) {
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  ComRef<IWMProfile> profile(MakeVideoProfile(5));
  EXPECT_EQ(writer_->SetProfile(profile.Get()), NS_E_INVALID_REQUEST);
  EXPECT_EQ(writer_->SetOutputFilename(KS_WIDE("other.asf")), NS_E_INVALID_REQUEST);
  EXPECT_EQ(writer_->SetInputProps(0, nullptr), NS_E_INVALID_REQUEST);
  const std::vector<uint8_t> title = Utf16Bytes(u"T", false);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, title.data(), 2),
            NS_E_INVALID_REQUEST);
  EXPECT_EQ(WriteSample(8, 0, kSmall), S_OK);  // the profile given first still holds
  ASSERT_EQ(writer_->EndWriting(), S_OK);

  // Once ended, the writer can be set up for another file.
  ASSERT_EQ(writer_->SetOutputFilename(KS_WIDE("second.asf")), S_OK);
  ASSERT_EQ(writer_->SetProfile(profile.Get()), S_OK);
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(WriteSample(5, 0, kSmall), S_OK);
  EXPECT_EQ(WriteSample(8, 0, kSmall), NS_E_INVALID_STREAM);
  ASSERT_EQ(writer_->EndWriting(), S_OK);
  EXPECT_EQ(opened_, (std::vector<std::string>{"out.asf", "second.asf"}));
}

struct SampleCase {
  const char* name;
  WORD stream;
  size_t length;
  HRESULT expected;
};

class WriterSampleTest : public WriterFixture, public ::testing::WithParamInterface<SampleCase> {};

TEST_P(WriterSampleTest, ChecksStreamAndLengthAndStaysUsable) {
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(WriteSample(GetParam().stream, 0, std::vector<uint8_t>(GetParam().length, 0x5A)),
            GetParam().expected);
  EXPECT_EQ(WriteSample(8, 400000, kSmall), S_OK);
  EXPECT_EQ(writer_->EndWriting(), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Samples, WriterSampleTest,
                         ::testing::Values(SampleCase{"Valid", 8, 100, S_OK},
                                           SampleCase{"StreamNotInProfile", 6, 100,
                                                      NS_E_INVALID_STREAM},
                                           SampleCase{"StreamZero", 0, 100, NS_E_INVALID_STREAM},
                                           SampleCase{"Empty", 8, 0, E_INVALIDARG}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(WriterTest, NullPointersAreRefused) {
  EXPECT_EQ(writer_->SetProfile(nullptr), E_POINTER);
  EXPECT_EQ(writer_->SetOutputFilename(nullptr), E_POINTER);
  EXPECT_EQ(writer_->SetOutputFilename(KS_WIDE("")), E_INVALIDARG);
  EXPECT_EQ(writer_->GetInputCount(nullptr), E_POINTER);
  EXPECT_EQ(writer_->AllocateSample(16, nullptr), E_POINTER);
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(advanced()->WriteStreamSample(8, 0, 0, 400000, 3, nullptr), E_POINTER);
  EXPECT_EQ(header()->GetAttributeByName(nullptr, KS_WIDE("Title"), nullptr, nullptr, nullptr),
            E_INVALIDARG);
  EXPECT_EQ(wmsdk::CreateWriter(Options(), nullptr), E_POINTER);
  EXPECT_EQ(WMCreateWriter(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(WMCreateProfileManager(nullptr), E_POINTER);
}

TEST_F(WriterTest, SampleSizesAreBounded) {
  DebugCapture debug;
  ComRef<INSSBuffer> sample;
  EXPECT_EQ(writer_->AllocateSample(16 << 20, sample.Put()), E_INVALIDARG);
  EXPECT_FALSE(sample);
  ASSERT_EQ(writer_->AllocateSample(32, sample.Put()), S_OK);
  EXPECT_EQ(sample->SetLength(33), NS_E_INVALID_REQUEST);
  DWORD length = 0;
  sample->GetLength(&length);
  EXPECT_EQ(length, 32u);
  // While writing, a sample refused is missing from the file: a line tells
  // it, where the media then stands.
  EXPECT_TRUE(debug.lines().empty());
  Configure();
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  ASSERT_EQ(WriteSample(8, 4'000'000, kSmall), S_OK);
  EXPECT_EQ(writer_->AllocateSample(16 << 20, sample.Put()), E_INVALIDARG);
  EXPECT_EQ(debug.lines(), std::vector<std::string>{"writer : sample refused (sample over 16 MiB): "
                                                    "16777216 bytes after 0.440 s"});
}

TEST_F(WriterTest, OneInputPerStreamWithoutEncoding) {
  DWORD count = 7;
  EXPECT_EQ(writer_->GetInputCount(&count), NS_E_INVALID_REQUEST);
  EXPECT_EQ(writer_->SetInputProps(0, nullptr), NS_E_INVALID_REQUEST);

  // Audio stream 6 first, then video 8, as the library would add them.
  ComRef<IWMProfile> profile(MakeVideoProfile());
  std::vector<uint8_t> wave = WaveFormatBlock(0);
  WM_MEDIA_TYPE audio = AudioMediaType(wave);
  ComRef<IWMStreamConfig> config(NewStream(profile.Get(), kWmMediaTypeAudio, 6, &audio));
  ASSERT_EQ(profile->AddStream(config.Get()), S_OK);
  ASSERT_EQ(writer_->SetProfile(profile.Get()), S_OK);
  ASSERT_EQ(writer_->GetInputCount(&count), S_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(writer_->SetInputProps(1, nullptr), S_OK);
  EXPECT_EQ(writer_->SetInputProps(2, nullptr), E_INVALIDARG);
}

TEST_F(WriterTest, ProfilesItCannotWriteAreRefusedAndTheLastGoodOneKept) {
  Configure();
  ComRef<IWMProfileManager> manager;
  ASSERT_EQ(WMCreateProfileManager(manager.Put()), S_OK);
  ComRef<IWMProfile> empty;
  ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_9_0, empty.Put()), S_OK);
  EXPECT_EQ(writer_->SetProfile(empty.Get()), E_INVALIDARG);

  // A video stream whose format block is not a VIDEOINFOHEADER.
  std::vector<uint8_t> block = VideoFormatBlock(352, 288, 1);
  WM_MEDIA_TYPE type = VideoMediaType(block);
  type.formattype = kWmFormatWaveFormatEx;
  ComRef<IWMStreamConfig> config(NewStream(empty.Get(), kWmMediaTypeVideo, 8, &type));
  ASSERT_EQ(empty->AddStream(config.Get()), S_OK);
  EXPECT_EQ(writer_->SetProfile(empty.Get()), NS_E_INVALID_INPUT_FORMAT);

  DWORD count = 0;
  ASSERT_EQ(writer_->GetInputCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(WriteSample(8, 0, kSmall), S_OK);
}

TEST_F(WriterTest, SinkThatCannotBeOpenedFailsBeginWritingUntilItCan) {
  Configure();
  open_error_ = asf::kAccessDenied;
  EXPECT_EQ(writer_->BeginWriting(), E_ACCESSDENIED);
  EXPECT_EQ(WriteSample(8, 0, kSmall), NS_E_INVALID_REQUEST);
  EXPECT_EQ(writer_->EndWriting(), NS_E_INVALID_REQUEST);
  open_error_ = asf::kOk;
  EXPECT_EQ(writer_->BeginWriting(), S_OK);
  EXPECT_EQ(opened_.size(), 2u);
}

TEST_F(WriterTest, FileThatCannotBeCreatedFailsBeginWriting) {
  ComRef<IWMWriter> writer;
  ASSERT_EQ(WMCreateWriter(nullptr, writer.Put()), S_OK);
  Configure(writer.Get());
  ASSERT_EQ(writer->SetOutputFilename(KS_WIDE("") KESTRUM_TEST_TMPDIR "/no/such/directory/x.asf"),
            S_OK);
  EXPECT_TRUE(FAILED(writer->BeginWriting()));
  EXPECT_EQ(WriteSample(writer.Get(), 8, 0, kSmall), NS_E_INVALID_REQUEST);
}

// The wide name goes back to the host's code page (UTF-8 here) unchanged,
// including a byte that is not UTF-8, carried as an escaped surrogate.
TEST_F(WriterTest, OutputNameIsConvertedBack) {
  Configure();
#ifdef _WIN32
  // On Windows: the system's ANSI code page.
  const WCHAR name[] = L"d\u00e9j\u00e0.asf";
  ASSERT_EQ(writer_->SetOutputFilename(name), S_OK);
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  ASSERT_EQ(opened_.size(), 1u);
  if (GetACP() == 1252) {
    EXPECT_EQ(opened_[0], "d\xE9j\xE0.asf");
  } else {
    char expected[64] = {};
    ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, name, -1, expected, 64, nullptr, nullptr), 0);
    EXPECT_EQ(opened_[0], expected);
  }
#else
  ASSERT_EQ(writer_->SetOutputFilename(KS_WIDE("d\u00e9j\u00e0-\u65e5\xDCFF.asf")), S_OK);
  ASSERT_EQ(writer_->BeginWriting(), S_OK);
  ASSERT_EQ(opened_.size(), 1u);
  EXPECT_EQ(opened_[0], "d\xC3\xA9j\xC3\xA0-\xE6\x97\xA5\xFF.asf");
#endif
}

struct AttributeCase {
  const WCHAR* name;
  std::u16string value;
  bool with_terminator;
};

class AttributeTest : public WriterFixture, public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeTest, RoundTripsWithOrWithoutTheTerminator) {
  const AttributeCase& c = GetParam();
  const std::vector<uint8_t> bytes = Utf16Bytes(c.value, c.with_terminator);
  ASSERT_EQ(header()->SetAttribute(0, c.name, WMT_TYPE_STRING, bytes.data(),
                                   static_cast<WORD>(bytes.size())),
            S_OK);
  WORD stream = 0;
  WMT_ATTR_DATATYPE type = WMT_TYPE_BINARY;
  WORD length = 0;
  ASSERT_EQ(header()->GetAttributeByName(&stream, c.name, &type, nullptr, &length), S_OK);
  const std::vector<uint8_t> expected = Utf16Bytes(c.value, true);
  EXPECT_EQ(length, expected.size());
  std::vector<uint8_t> read(length + 4, 0xEE);
  WORD short_length = static_cast<WORD>(length - 1);
  EXPECT_EQ(header()->GetAttributeByName(&stream, c.name, &type, read.data(), &short_length),
            ASF_E_BUFFERTOOSMALL);
  EXPECT_EQ(short_length, length);
  ASSERT_EQ(header()->GetAttributeByName(&stream, c.name, &type, read.data(), &length), S_OK);
  EXPECT_EQ(type, WMT_TYPE_STRING);
  read.resize(length);
  EXPECT_EQ(read, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, AttributeTest,
    // The first: length 6, as the library passes it.
    ::testing::Values(AttributeCase{KS_WIDE("Title"), u"ASF", false},
                      AttributeCase{KS_WIDE("Title"), u"ASF", true},
                      AttributeCase{KS_WIDE("Description"), u"Tarvelle Co., Ltd", false},
                      AttributeCase{KS_WIDE("Description"), u"\u6d4b\u8bd5", true},
                      AttributeCase{KS_WIDE("Author"), u"a", false},
                      AttributeCase{KS_WIDE("Copyright"), u"(c)", true},
                      AttributeCase{KS_WIDE("Rating"), u"", false}),
    [](const auto& test) {
      std::string name(test.param.name,
                       test.param.name + std::char_traits<WCHAR>::length(test.param.name));
      return name + (test.param.with_terminator ? "WithZero" : "WithoutZero");
    });

TEST_F(WriterTest, AttributesOutsideTheContentDescriptionAreRefused) {
  const std::vector<uint8_t> bytes = Utf16Bytes(u"ASF", false);
  const auto length = static_cast<WORD>(bytes.size());
  EXPECT_EQ(
      header()->SetAttribute(0, KS_WIDE("WM/AlbumTitle"), WMT_TYPE_STRING, bytes.data(), length),
      E_NOTIMPL);
  EXPECT_EQ(header()->SetAttribute(8, KS_WIDE("Title"), WMT_TYPE_STRING, bytes.data(), length),
            E_NOTIMPL);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_BINARY, bytes.data(), length),
            E_INVALIDARG);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, bytes.data(), 5),
            E_INVALIDARG);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, nullptr, 2), E_INVALIDARG);
  WORD stream = 0;
  WMT_ATTR_DATATYPE type{};
  WORD read_length = 0;
  EXPECT_EQ(header()->GetAttributeByName(&stream, KS_WIDE("Title"), &type, nullptr, &read_length),
            ASF_E_NOTFOUND);
}

TEST_F(WriterTest, AttributeLongerThanTheHeaderFieldIsRefused) {
  // 32767 characters plus the terminating zero need 65536 bytes.
  const std::vector<uint8_t> too_long = Utf16Bytes(std::u16string(32767, u'x'), false);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, too_long.data(), 65534),
            E_INVALIDARG);
  EXPECT_EQ(header()->SetAttribute(0, KS_WIDE("Title"), WMT_TYPE_STRING, too_long.data(), 65532),
            S_OK);
}

}  // namespace
}  // namespace kestrum::testing
