#include "wm_standin/tests/wm_fixtures.h"

#include "base/bytes.h"

namespace kestrum::testing {

std::vector<uint8_t> CodecBytes(uint8_t codec_tag) {
  std::vector<uint8_t> bytes(40);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(codec_tag + 7 * i);
  return bytes;
}

std::vector<uint8_t> VideoFormatBlock(int32_t width, int32_t height, uint8_t codec_tag) {
  std::vector<uint8_t> block(128, 0);
  const auto w = static_cast<uint32_t>(width);
  const auto h = static_cast<uint32_t>(height);
  store_u32le(&block[8], w);  // rcSource
  store_u32le(&block[12], h);
  store_u32le(&block[24], w);  // rcTarget
  store_u32le(&block[28], h);
  store_u32le(&block[32], 10 * w * h);  // dwBitRate
  store_u64le(&block[40], static_cast<uint64_t>(kFrameTime));
  store_u32le(&block[48], 40);  // biSize
  store_u32le(&block[52], w);
  store_u32le(&block[56], h);
  store_u16le(&block[60], 1);
  store_u16le(&block[62], 24);
  store_u32le(&block[64], kXqv4);
  store_u32le(&block[68], w * h);
  const std::vector<uint8_t> codec = CodecBytes(codec_tag);
  std::copy(codec.begin(), codec.end(), block.begin() + 88);
  return block;
}

WM_MEDIA_TYPE VideoMediaType(std::vector<uint8_t>& block) {
  WM_MEDIA_TYPE type{};
  type.majortype = kWmMediaTypeVideo;
  type.subtype = kWmMediaSubtypeBase;
  type.subtype.Data1 = kXqv4;
  type.bFixedSizeSamples = TRUE;
  type.bTemporalCompression = TRUE;
  type.formattype = kWmFormatVideoInfo;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  return type;
}

std::vector<uint8_t> WaveFormatBlock(uint16_t extra) {
  std::vector<uint8_t> block(18u + extra, 0);
  store_u16le(&block[0], 1);       // PCM
  store_u16le(&block[2], 2);       // channels
  store_u32le(&block[4], 48000);   // samples per second
  store_u32le(&block[8], 192000);  // bytes per second
  store_u16le(&block[12], 4);      // block align
  store_u16le(&block[14], 16);     // bits per sample
  store_u16le(&block[16], extra);  // cbSize
  for (size_t i = 18; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i);
  return block;
}

WM_MEDIA_TYPE AudioMediaType(std::vector<uint8_t>& block) {
  WM_MEDIA_TYPE type{};
  type.majortype = kWmMediaTypeAudio;
  type.subtype = kWmMediaSubtypePcm;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = 4;
  type.formattype = kWmFormatWaveFormatEx;
  type.cbFormat = static_cast<ULONG>(block.size());
  type.pbFormat = block.data();
  return type;
}

IWMStreamConfig* NewStream(IWMProfile* profile, const GUID& stream_type, WORD number,
                           WM_MEDIA_TYPE* type) {
  ComRef<IWMStreamConfig> config;
  if (FAILED(profile->CreateNewStream(stream_type, config.Put()))) return nullptr;
  ComRef<IWMMediaProps> props;
  if (FAILED(config->QueryInterface(IID_IWMMediaProps, props.PutVoid()))) return nullptr;
  if (type != nullptr && FAILED(props->SetMediaType(type))) return nullptr;
  config->SetBitrate(1013760);
  config->SetBufferWindow(kBufferWindowMs);
  config->SetStreamNumber(number);
  return config.Detach();
}

IWMProfile* MakeVideoProfile(WORD number, int32_t width, int32_t height) {
  ComRef<IWMProfileManager> manager;
  if (FAILED(WMCreateProfileManager(manager.Put()))) return nullptr;
  ComRef<IWMProfile> profile;
  if (FAILED(manager->CreateEmptyProfile(WMT_VER_9_0, profile.Put()))) return nullptr;
  std::vector<uint8_t> block = VideoFormatBlock(width, height, 0x11);
  WM_MEDIA_TYPE type = VideoMediaType(block);
  ComRef<IWMStreamConfig> config(NewStream(profile.Get(), kWmMediaTypeVideo, number, &type));
  if (!config || FAILED(profile->AddStream(config.Get()))) return nullptr;
  return profile.Detach();
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool with_terminator) {
  std::vector<uint8_t> bytes(2 * (text.size() + (with_terminator ? 1 : 0)), 0);
  for (size_t i = 0; i < text.size(); ++i) store_u16le(&bytes[2 * i], text[i]);
  return bytes;
}

}  // namespace kestrum::testing
