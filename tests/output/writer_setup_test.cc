#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "api/record_instance.h"
#include "output/results.h"
#include "support/debug_capture.h"
#include "support/fake_wm.h"

namespace kestrum {
namespace {

using ::testing::ElementsAre;
using testing::DebugCapture;
using testing::FakeWm;

class PrepareWriterTest : public ::testing::Test {
 protected:
  PrepareWriterTest() : instance_(wm_.Factories()) {
    instance_.stream_header.picture_width = 352;
    instance_.stream_header.picture_height = 288;
  }
  // The calls after profile building, as method names.
  std::vector<std::string> WriterCalls() const {
    std::vector<std::string> names = wm_.CallNames();
    const auto first = std::find(names.begin(), names.end(), "WMCreateWriter");
    return std::vector<std::string>(first, names.end());
  }

  FakeWm wm_;
  RecordInstance instance_;
  DebugCapture debug_;
};

TEST_F(PrepareWriterTest, PreparesOnceInOrder) {
  ASSERT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(instance_.session.writer_ready, 1);
  EXPECT_THAT(WriterCalls(),
              ElementsAre("WMCreateWriter", "QueryInterface", "QueryInterface", "QueryInterface",
                          "SetProfile", "GetInputCount", "SetInputProps", "SetOutputFilename",
                          "SetAttribute", "SetAttribute", "BeginWriting"));
  EXPECT_THAT(debug_.lines(), ElementsAre("CreateWriter!", "ConfigWriter!"));
  EXPECT_EQ(wm_.output_filename, u"out.asf");
  EXPECT_EQ(wm_.attributes[u"Title"], u"ASF");
  EXPECT_EQ(wm_.attributes[u"Description"], u"Tarvelle Co., Ltd");
  // Lengths in bytes, without the terminating zero.
  EXPECT_THAT(wm_.attribute_lengths, ElementsAre(6, 34));
  EXPECT_THAT(wm_.calls, ::testing::Contains("SetAttribute(0,Title,1,6)"));
  EXPECT_THAT(wm_.calls, ::testing::Contains("SetInputProps(0,null)"));

  // Later calls touch nothing.
  const size_t calls = wm_.calls.size();
  debug_.Clear();
  EXPECT_EQ(instance_.PrepareWriter("other.asf"), S_OK);
  EXPECT_EQ(wm_.calls.size(), calls);
  EXPECT_TRUE(debug_.lines().empty());
}

TEST_F(PrepareWriterTest, FailedOutputNameIsRetriedWithTheSameWriter) {
  const auto failure = static_cast<HRESULT>(0x80070020);
  wm_.FailNext("SetOutputFilename", failure, 2);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), failure);
  EXPECT_EQ(instance_.session.writer_ready, 0);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), failure);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(wm_.writers_created, 1);
  EXPECT_EQ(wm_.profiles_created, 3);
  EXPECT_EQ(debug_.Count("CreateWriter!"), 3u);
  EXPECT_EQ(debug_.Count("ConfigWriter!"), 3u);
  EXPECT_EQ(wm_.CountCalls("BeginWriting"), 1u);
  // The interfaces were queried once, with the one writer.
  // One media-props query per profile built, three for the one writer.
  EXPECT_EQ(wm_.CountCalls("QueryInterface"), 3u + 3u);
}

TEST_F(PrepareWriterTest, FailedBeginWritingIsReportedAndRetried) {
  const auto failure = static_cast<HRESULT>(0x80070070);
  wm_.FailNext("BeginWriting", failure);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), failure);
  EXPECT_EQ(instance_.session.writer_ready, 0);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(instance_.session.writer_ready, 1);
  EXPECT_EQ(wm_.CountCalls("BeginWriting"), 2u);
}

TEST_F(PrepareWriterTest, IgnoredFailuresStillBeginWriting) {
  wm_.FailNext("SetAttribute", E_FAIL, 2);
  wm_.FailNext("SetInputProps");
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(instance_.session.writer_ready, 1);
}

TEST_F(PrepareWriterTest, InputLoopStopsAtFirstFailure) {
  instance_.session.audio_enabled = 1;  // two streams, two inputs
  wm_.FailNext("SetInputProps");
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(wm_.CountCalls("SetInputProps"), 1u);
}

class WriterStepFailureTest : public PrepareWriterTest,
                              public ::testing::WithParamInterface<const char*> {};

TEST_P(WriterStepFailureTest, FailureIsReturnedAndWritingNotBegun) {
  const auto failure = static_cast<HRESULT>(0x80041234);
  wm_.FailNext(GetParam(), failure);
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), failure);
  EXPECT_EQ(instance_.session.writer_ready, 0);
  EXPECT_EQ(wm_.CountCalls("BeginWriting"), 0u);
  // The next attempt gets through.
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
}

INSTANTIATE_TEST_SUITE_P(Steps, WriterStepFailureTest,
                         ::testing::Values("CreateEmptyProfile", "WMCreateWriter", "SetProfile",
                                           "GetInputCount", "SetOutputFilename"));

TEST_F(PrepareWriterTest, WriterWithoutRequiredInterfaceIsGivenBack) {
  wm_.offer_header_info = false;
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), E_NOINTERFACE);
  EXPECT_EQ(instance_.session.writer, nullptr);
  EXPECT_EQ(instance_.session.writer_advanced, nullptr);
  wm_.offer_header_info = true;
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(wm_.writers_created, 2);
  EXPECT_NE(instance_.session.header_info, nullptr);
}

TEST_F(PrepareWriterTest, WriterWithoutAdvanced3IsAccepted) {
  wm_.offer_writer_advanced3 = false;
  EXPECT_EQ(instance_.PrepareWriter("out.asf"), S_OK);
  EXPECT_EQ(instance_.session.writer_advanced3, nullptr);
}

TEST_F(PrepareWriterTest, NameOfUpTo259BytesIsAcceptedLongerIsRefused) {
  const std::string longest(259, 'n');
  const std::string too_long(260, 'n');
  EXPECT_EQ(instance_.PrepareWriter(too_long.c_str()), kNameTooLong);
  EXPECT_EQ(wm_.CountCalls("SetOutputFilename"), 0u);
  EXPECT_EQ(instance_.PrepareWriter(nullptr), kNoName);
  EXPECT_EQ(instance_.PrepareWriter(longest.c_str()), S_OK);
  EXPECT_EQ(wm_.output_filename, std::u16string(259, u'n'));
}

TEST_F(PrepareWriterTest, NameIsConvertedFromTheCodePage) {
#ifdef _WIN32
  // The system's ANSI code page, whatever the bytes would mean in UTF-8.
  const char name[] = "caf\xE9-\xC3\xA9.asf";
  ASSERT_EQ(instance_.PrepareWriter(name), S_OK);
  if (GetACP() == 1252) {
    EXPECT_EQ(wm_.output_filename, u"caf\u00E9-\u00C3\u00A9.asf");
  } else {
    WCHAR expected[64] = {};
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, name, -1, expected, 64), 0);
    EXPECT_EQ(wm_.output_filename, std::u16string(expected, expected + wcslen(expected)));
  }
#else
  ASSERT_EQ(instance_.PrepareWriter("caf\xC3\xA9-\xE8\xA7\x86\xE9\xA2\x91.asf"), S_OK);
  EXPECT_EQ(wm_.output_filename, u"caf\u00E9-\u89C6\u9891.asf");
#endif
}

TEST(EndRecordingTest, WithoutWriterCallsNothingAndTwiceEndsTwice) {
  FakeWm wm;
  RecordInstance instance(wm.Factories());
  const size_t calls = wm.calls.size();
  instance.EndRecording();
  EXPECT_EQ(wm.calls.size(), calls);
  ASSERT_EQ(instance.PrepareWriter("out.asf"), S_OK);
  instance.EndRecording();
  instance.EndRecording();
  EXPECT_EQ(wm.CountCalls("EndWriting"), 2u);
  EXPECT_EQ(instance.session.writer_ready, 1);
}

TEST(RecordInstanceLifetimeTest, DestructionGivesBackEveryInterfaceWithoutEnding) {
  FakeWm wm;
  {
    RecordInstance instance(wm.Factories());
    ASSERT_EQ(instance.PrepareWriter("out.asf"), S_OK);
    EXPECT_GT(wm.live_objects, 0);
  }
  EXPECT_EQ(wm.live_objects, 0);
  EXPECT_EQ(wm.CountCalls("EndWriting"), 0u);
}

}  // namespace
}  // namespace kestrum
