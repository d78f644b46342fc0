// Profiles, stream configurations, media types and property vaults: what the
// library's profile building relies on.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "wm_standin/tests/wm_fixtures.h"

namespace kestrum::testing {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(WMCreateProfileManager(manager_.Put()), S_OK);
    ASSERT_EQ(manager_->CreateEmptyProfile(WMT_VER_9_0, profile_.Put()), S_OK);
  }

  DWORD StreamCount() {
    DWORD count = 99;
    EXPECT_EQ(profile_->GetStreamCount(&count), S_OK);
    return count;
  }

  // The media type of `config`, read with the two-call size protocol.
  static std::vector<uint8_t> ReadMediaType(IWMStreamConfig* config, WM_MEDIA_TYPE* fields) {
    ComRef<IWMMediaProps> props;
    EXPECT_EQ(config->QueryInterface(IID_IWMMediaProps, props.PutVoid()), S_OK);
    DWORD size = 0;
    EXPECT_EQ(props->GetMediaType(nullptr, &size), S_OK);
    std::vector<uint64_t> storage(size / 8 + 1);
    auto* type = new (storage.data()) WM_MEDIA_TYPE{};
    EXPECT_EQ(props->GetMediaType(type, &size), S_OK);
    *fields = *type;
    return std::vector<uint8_t>(type->pbFormat, type->pbFormat + type->cbFormat);
  }

  ComRef<IWMProfileManager> manager_;
  ComRef<IWMProfile> profile_;
};

TEST_F(ProfileTest, NewStreamIsNotPartOfTheProfileUntilAdded) {
  ComRef<IWMStreamConfig> config;
  ASSERT_EQ(profile_->CreateNewStream(kWmMediaTypeVideo, config.Put()), S_OK);
  EXPECT_EQ(StreamCount(), 0u);
  GUID type{};
  ASSERT_EQ(config->GetStreamType(&type), S_OK);
  EXPECT_EQ(type, kWmMediaTypeVideo);

  IWMStreamConfig* refused = config.Get();
  EXPECT_EQ(profile_->CreateNewStream(kWmFormatVideoInfo, &refused), E_INVALIDARG);
  EXPECT_EQ(refused, nullptr);
}

// The profile keeps the state the configuration had at AddStream; later
// changes to that object, or to one GetStream handed out, do not reach it.
TEST_F(ProfileTest, KeepsItsOwnCopyOfEachStream) {
  std::vector<uint8_t> block = VideoFormatBlock(352, 288, 0x40);
  WM_MEDIA_TYPE type = VideoMediaType(block);
  ComRef<IWMStreamConfig> config(NewStream(profile_.Get(), kWmMediaTypeVideo, 8, &type));
  ASSERT_TRUE(config);
  ASSERT_EQ(profile_->AddStream(config.Get()), S_OK);

  config->SetStreamNumber(9);
  config->SetBitrate(1);
  config->SetBufferWindow(1);
  std::vector<uint8_t> other_block = VideoFormatBlock(704, 576, 0x99);
  WM_MEDIA_TYPE other_type = VideoMediaType(other_block);
  ComRef<IWMMediaProps> props;
  ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, props.PutVoid()), S_OK);
  ASSERT_EQ(props->SetMediaType(&other_type), S_OK);

  for (int round = 0; round < 2; ++round) {
    ComRef<IWMStreamConfig> kept;
    ASSERT_EQ(profile_->GetStream(0, kept.Put()), S_OK);
    ASSERT_NE(kept.Get(), config.Get());
    WORD number = 0;
    DWORD bitrate = 0;
    DWORD window = 0;
    kept->GetStreamNumber(&number);
    kept->GetBitrate(&bitrate);
    kept->GetBufferWindow(&window);
    EXPECT_EQ(number, 8);
    EXPECT_EQ(bitrate, 1013760u);
    EXPECT_EQ(window, kBufferWindowMs);
    WM_MEDIA_TYPE fields{};
    EXPECT_EQ(ReadMediaType(kept.Get(), &fields), block);
    // Changing the handed-out copy leaves the profile as it was for round 2.
    kept->SetStreamNumber(12);
  }
  EXPECT_EQ(StreamCount(), 1u);
  ComRef<IWMStreamConfig> none;
  EXPECT_EQ(profile_->GetStream(1, none.Put()), E_INVALIDARG);
}

struct AddStreamCase {
  const char* name;
  WORD number;
  bool with_media_type;
  HRESULT expected;
};

class AddStreamTest : public ProfileTest, public ::testing::WithParamInterface<AddStreamCase> {};

TEST_P(AddStreamTest, RefusesBadStreamsAndKeepsTheProfile) {
  std::vector<uint8_t> block = VideoFormatBlock(352, 288, 1);
  WM_MEDIA_TYPE type = VideoMediaType(block);
  ComRef<IWMStreamConfig> first(NewStream(profile_.Get(), kWmMediaTypeVideo, 8, &type));
  ASSERT_EQ(profile_->AddStream(first.Get()), S_OK);

  const AddStreamCase& c = GetParam();
  ComRef<IWMStreamConfig> second(
      NewStream(profile_.Get(), kWmMediaTypeVideo, c.number, c.with_media_type ? &type : nullptr));
  ASSERT_TRUE(second);
  EXPECT_EQ(profile_->AddStream(second.Get()), c.expected);
  EXPECT_EQ(StreamCount(), SUCCEEDED(c.expected) ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, AddStreamTest,
    ::testing::Values(AddStreamCase{"Another", 6, true, S_OK},
                      AddStreamCase{"Highest", 63, true, S_OK},
                      AddStreamCase{"Duplicate", 8, true, NS_E_INVALID_STREAM},
                      AddStreamCase{"NumberZero", 0, true, NS_E_INVALID_STREAM},
                      AddStreamCase{"Number64", 64, true, NS_E_INVALID_STREAM},
                      AddStreamCase{"NoMediaType", 6, false, NS_E_INVALID_INPUT_FORMAT}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(ProfileTest, AddStreamRefusesNull) { EXPECT_EQ(profile_->AddStream(nullptr), E_POINTER); }

// SetMediaType copies the format block: the caller may free or reuse its
// block right away (the library's lives on its stack; audio blocks are freed
// with CoTaskMemFree after the call).
TEST_F(ProfileTest, MediaTypeIsCopiedWithItsFormatBlock) {
  ComRef<IWMStreamConfig> config;
  ASSERT_EQ(profile_->CreateNewStream(kWmMediaTypeAudio, config.Put()), S_OK);
  ComRef<IWMMediaProps> props;
  ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, props.PutVoid()), S_OK);

  const std::vector<uint8_t> expected = WaveFormatBlock(6);
  auto* heap = static_cast<uint8_t*>(CoTaskMemAlloc(expected.size()));
  std::memcpy(heap, expected.data(), expected.size());
  std::vector<uint8_t> view(expected);  // AudioMediaType needs a vector to point at
  WM_MEDIA_TYPE type = AudioMediaType(view);
  type.pbFormat = heap;
  ASSERT_EQ(props->SetMediaType(&type), S_OK);
  std::memset(heap, 0xEE, expected.size());
  CoTaskMemFree(heap);

  DWORD size = 0;
  ASSERT_EQ(props->GetMediaType(nullptr, &size), S_OK);
  EXPECT_EQ(size, sizeof(WM_MEDIA_TYPE) + expected.size());
  std::vector<uint64_t> storage(size / 8 + 1);
  auto* out = new (storage.data()) WM_MEDIA_TYPE{};
  DWORD short_size = size - 1;
  EXPECT_EQ(props->GetMediaType(out, &short_size), ASF_E_BUFFERTOOSMALL);
  EXPECT_EQ(short_size, size);
  ASSERT_EQ(props->GetMediaType(out, &size), S_OK);
  EXPECT_EQ(out->majortype, kWmMediaTypeAudio);
  EXPECT_EQ(out->lSampleSize, 4u);
  EXPECT_EQ(out->pUnk, nullptr);
  ASSERT_EQ(out->cbFormat, expected.size());
  EXPECT_EQ(out->pbFormat, reinterpret_cast<BYTE*>(out) + sizeof(WM_MEDIA_TYPE));
  EXPECT_EQ(std::vector<uint8_t>(out->pbFormat, out->pbFormat + out->cbFormat), expected);
}

TEST_F(ProfileTest, MediaTypeThatCannotDescribeTheStreamIsRefused) {
  ComRef<IWMStreamConfig> config;
  ASSERT_EQ(profile_->CreateNewStream(kWmMediaTypeVideo, config.Put()), S_OK);
  ComRef<IWMMediaProps> props;
  ASSERT_EQ(config->QueryInterface(IID_IWMMediaProps, props.PutVoid()), S_OK);
  std::vector<uint8_t> block = VideoFormatBlock(352, 288, 1);

  WM_MEDIA_TYPE audio_major = VideoMediaType(block);
  audio_major.majortype = kWmMediaTypeAudio;
  EXPECT_EQ(props->SetMediaType(&audio_major), NS_E_INVALID_INPUT_FORMAT);
  WM_MEDIA_TYPE short_block = VideoMediaType(block);
  short_block.cbFormat = 87;
  EXPECT_EQ(props->SetMediaType(&short_block), NS_E_INVALID_INPUT_FORMAT);
  WM_MEDIA_TYPE no_block = VideoMediaType(block);
  no_block.pbFormat = nullptr;
  EXPECT_EQ(props->SetMediaType(&no_block), E_INVALIDARG);
  EXPECT_EQ(props->SetMediaType(nullptr), E_POINTER);

  DWORD size = 0;
  EXPECT_EQ(props->GetMediaType(nullptr, &size), NS_E_INVALID_REQUEST);  // none was taken
}

// The library's exact use: read "_COMPLEXITYEX" into a 4-byte buffer with a
// size of 2, then set it with the size that read left.
TEST_F(ProfileTest, ComplexityReadsAsAWordBeforeItIsSet) {
  ComRef<IWMStreamConfig> config;
  ASSERT_EQ(profile_->CreateNewStream(kWmMediaTypeVideo, config.Put()), S_OK);
  ComRef<IWMPropertyVault> vault;
  ASSERT_EQ(config->QueryInterface(IID_IWMPropertyVault, vault.PutVoid()), S_OK);

  uint8_t value[4] = {};
  DWORD size = 2;
  WMT_ATTR_DATATYPE type = WMT_TYPE_BINARY;
  ASSERT_EQ(vault->GetPropertyByName(KS_WIDE("_COMPLEXITYEX"), &type, value, &size), S_OK);
  EXPECT_EQ(type, WMT_TYPE_WORD);
  EXPECT_EQ(size, 2u);

  uint8_t three[4] = {3, 0, 0, 0};
  ASSERT_EQ(vault->SetProperty(KS_WIDE("_COMPLEXITYEX"), WMT_TYPE_WORD, three, size), S_OK);
  three[0] = 9;  // the vault holds its own copy
  uint8_t read[2] = {};
  size = sizeof read;
  ASSERT_EQ(vault->GetPropertyByName(KS_WIDE("_COMPLEXITYEX"), &type, read, &size), S_OK);
  EXPECT_EQ(read[0], 3);
  EXPECT_EQ(read[1], 0);
}

TEST_F(ProfileTest, PropertyVaultFollowsTheSizeProtocol) {
  ComRef<IWMStreamConfig> config;
  ASSERT_EQ(profile_->CreateNewStream(kWmMediaTypeVideo, config.Put()), S_OK);
  ComRef<IWMPropertyVault> vault;
  ASSERT_EQ(config->QueryInterface(IID_IWMPropertyVault, vault.PutVoid()), S_OK);
  uint8_t binary[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(vault->SetProperty(KS_WIDE("_BLOB"), WMT_TYPE_BINARY, binary, sizeof binary), S_OK);

  WMT_ATTR_DATATYPE type{};
  DWORD size = 0;
  ASSERT_EQ(vault->GetPropertyByName(KS_WIDE("_BLOB"), &type, nullptr, &size), S_OK);
  EXPECT_EQ(size, 5u);
  uint8_t out[8] = {};
  size = 4;
  EXPECT_EQ(vault->GetPropertyByName(KS_WIDE("_BLOB"), &type, out, &size), ASF_E_BUFFERTOOSMALL);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(out[0], 0);  // nothing copied into a short buffer
  size = sizeof out;
  ASSERT_EQ(vault->GetPropertyByName(KS_WIDE("_BLOB"), &type, out, &size), S_OK);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::memcmp(out, binary, sizeof binary), 0);
  EXPECT_EQ(type, WMT_TYPE_BINARY);

  size = sizeof out;
  EXPECT_EQ(vault->GetPropertyByName(KS_WIDE("_VBRPEAK"), &type, out, &size), E_INVALIDARG);
  DWORD count = 0;
  ASSERT_EQ(vault->GetPropertyCount(&count), S_OK);
  EXPECT_EQ(count, 2u);  // the complexity preset and the blob
  ASSERT_EQ(vault->Clear(), S_OK);
  EXPECT_EQ(vault->GetPropertyByName(KS_WIDE("_BLOB"), &type, out, &size), E_INVALIDARG);
}

}  // namespace
}  // namespace kestrum::testing
