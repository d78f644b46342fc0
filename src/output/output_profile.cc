// ConfigureProfile: the profile with its video stream (and, when enabled, an
// audio stream), built from the stream header the instance holds.
#include "output/output_profile.h"

#include <cmath>
#include <cstring>

#include "api/record_instance.h"
#include "base/bytes.h"
#include "platform/com.h"

namespace kestrum {
namespace {

constexpr GUID MakeGuid(uint32_t d1, uint16_t d2, uint16_t d3, uint64_t d4) {
  return GUID{d1, d2, d3,
              {static_cast<uint8_t>(d4 >> 56), static_cast<uint8_t>(d4 >> 48),
               static_cast<uint8_t>(d4 >> 40), static_cast<uint8_t>(d4 >> 32),
               static_cast<uint8_t>(d4 >> 24), static_cast<uint8_t>(d4 >> 16),
               static_cast<uint8_t>(d4 >> 8), static_cast<uint8_t>(d4)}};
}

// Checked in this order.
constexpr GUID kUncompressedSubtypes[] = {
    MakeGuid(0xE436EB7E, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB32
    MakeGuid(0xE436EB7D, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB24
    MakeGuid(0xE436EB7B, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB565
    MakeGuid(0xE436EB7C, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB555
    MakeGuid(0xE436EB7A, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB8
    MakeGuid(0xE436EB79, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB4
    MakeGuid(0xE436EB78, 0x524F, 0x11CE, 0x9F530020AF0BA770),  // RGB1
    MakeGuid(0x56555949, 0x0000, 0x0010, 0x800000AA00389B71),  // IYUV
    MakeGuid(0x59565955, 0x0000, 0x0010, 0x800000AA00389B71),  // UYVY
    MakeGuid(0x32595559, 0x0000, 0x0010, 0x800000AA00389B71),  // YUY2
    MakeGuid(0x32315659, 0x0000, 0x0010, 0x800000AA00389B71),  // YV12
    MakeGuid(0x39555659, 0x0000, 0x0010, 0x800000AA00389B71),  // YVU9
    MakeGuid(0x55595659, 0x0000, 0x0010, 0x800000AA00389B71),  // YVYU
    MakeGuid(0x00000001, 0x0000, 0x0010, 0x800000AA00389B71),  // PCM
};

constexpr uint32_t kUnknownFormatBitrate = 500000;

using asf::kVihAvgTimePerFrameOffset;
using asf::kVihBitmapOffset;
using asf::kVihBitRateOffset;
using asf::kWaveAvgBytesPerSecOffset;
using asf::kWaveBitsPerSampleOffset;
using asf::kWaveChannelsOffset;
using asf::kWaveSamplesPerSecOffset;
constexpr uint32_t kWaveFormatSize = static_cast<uint32_t>(asf::kWaveFormatExSize);

// The video format block: VIDEOINFOHEADER for the picture, then the stream
// header byte for byte.
void BuildVideoFormat(const RecordInstance& instance, uint8_t* block) {
  std::memset(block, 0, kVideoFormatSize);
  const auto width = static_cast<uint32_t>(instance.stream_header.picture_width);
  const auto height = static_cast<uint32_t>(instance.stream_header.picture_height);
  const uint32_t declared_rate =
      static_cast<uint32_t>(
          load_u16le(instance.stream_header.file_header + kFileHeaderRateFactorOffset)) *
      load_u32le(instance.stream_header.file_header + kFileHeaderRateBaseOffset);
  store_u32le(block + asf::kVihSourceRightOffset, width);
  store_u32le(block + asf::kVihSourceBottomOffset, height);
  store_u32le(block + asf::kVihTargetRightOffset, width);
  store_u32le(block + asf::kVihTargetBottomOffset, height);
  store_u32le(block + kVihBitRateOffset, declared_rate);
  store_u64le(block + kVihAvgTimePerFrameOffset, kFrameDuration);
  uint8_t* bitmap = block + kVihBitmapOffset;
  store_u32le(bitmap + 0, static_cast<uint32_t>(asf::kBitmapInfoHeaderSize));  // biSize: the BITMAPINFOHEADER alone
  store_u32le(bitmap + 4, width);
  store_u32le(bitmap + 8, height);
  store_u16le(bitmap + 12, 1);   // biPlanes
  store_u16le(bitmap + 14, 24);  // biBitCount
  store_u32le(bitmap + 16, kXqv4FourCc);
  store_u32le(bitmap + 20, width * height);  // biSizeImage
  std::memcpy(block + asf::kVideoInfoHeaderSize, instance.stream_header.file_header,
              kFileHeaderSize);
}

void SetVaultProperties(IWMPropertyVault* vault) {
  // The complexity setting is read first; the size the read leaves is the
  // size its new value is written with (bounded by the value buffer).
  uint8_t complexity[8] = {};
  DWORD size = 2;
  WMT_ATTR_DATATYPE type = WMT_TYPE_WORD;
  vault->GetPropertyByName(KS_WIDE("_COMPLEXITYEX"), &type, complexity, &size);
  std::memset(complexity, 0, sizeof complexity);
  store_u16le(complexity, 3);
  if (size > sizeof complexity) size = sizeof complexity;
  vault->SetProperty(KS_WIDE("_COMPLEXITYEX"), WMT_TYPE_WORD, complexity, size);

  uint8_t value[4];
  store_u32le(value, TRUE);
  vault->SetProperty(KS_WIDE("_VBRENABLED"), WMT_TYPE_BOOL, value, 4);
  store_u32le(value, 97);
  vault->SetProperty(KS_WIDE("_VBRQUALITY"), WMT_TYPE_DWORD, value, 4);
  store_u32le(value, 0);
  vault->SetProperty(KS_WIDE("_RMAX"), WMT_TYPE_DWORD, value, 4);
  store_u32le(value, 0);
  vault->SetProperty(KS_WIDE("_BMAX"), WMT_TYPE_DWORD, value, 4);
}

void FreeMediaType(WM_MEDIA_TYPE* media_type) {
  if (media_type->cbFormat != 0) {
    CoTaskMemFree(media_type->pbFormat);
    media_type->cbFormat = 0;
    media_type->pbFormat = nullptr;
  }
  if (media_type->pUnk != nullptr) {
    media_type->pUnk->Release();
    media_type->pUnk = nullptr;
  }
}

HRESULT AddAudioStream(IWMProfile* profile) {
  ComRef<IWMStreamConfig> config;
  HRESULT hr = profile->CreateNewStream(kWmMediaTypeAudio, config.Put());
  if (FAILED(hr)) return hr;
  ComRef<IWMMediaProps> props;
  hr = config->QueryInterface(IID_IWMMediaProps, props.PutVoid());
  if (FAILED(hr)) return hr;
  WM_MEDIA_TYPE media_type{};
  hr = MakeAudioMediaType(&media_type);
  if (FAILED(hr)) return hr;
  const uint32_t bitrate = AudioBitrate(&media_type);
  hr = props->SetMediaType(&media_type);
  FreeMediaType(&media_type);
  if (FAILED(hr)) return hr;
  config->SetBitrate(bitrate);
  config->SetBufferWindow(kBufferWindowMs);
  config->SetStreamNumber(kAudioStreamNumber);
  return profile->AddStream(config.Get());
}

HRESULT AddVideoStream(const RecordInstance& instance, IWMProfile* profile) {
  ComRef<IWMStreamConfig> config;
  HRESULT hr = profile->CreateNewStream(kWmMediaTypeVideo, config.Put());
  if (FAILED(hr)) return hr;
  ComRef<IWMMediaProps> props;
  hr = config->QueryInterface(IID_IWMMediaProps, props.PutVoid());
  if (FAILED(hr)) return hr;

  uint8_t format[kVideoFormatSize];
  BuildVideoFormat(instance, format);
  WM_MEDIA_TYPE media_type{};
  media_type.majortype = kWmMediaTypeVideo;
  media_type.subtype = kWmMediaSubtypeBase;
  media_type.subtype.Data1 = kXqv4FourCc;
  media_type.bFixedSizeSamples = TRUE;
  media_type.bTemporalCompression = TRUE;
  media_type.lSampleSize = 0;
  media_type.formattype = kWmFormatVideoInfo;
  media_type.pUnk = nullptr;
  media_type.cbFormat = kVideoFormatSize;
  media_type.pbFormat = format;

  const uint32_t bitrate = EstimateVideoBitrate(&media_type);
  store_u32le(format + kVihBitRateOffset, bitrate);

  {
    ComRef<IWMPropertyVault> vault;
    if (SUCCEEDED(props->QueryInterface(IID_IWMPropertyVault, vault.PutVoid()))) {
      SetVaultProperties(vault.Get());
    }
  }
  {
    ComRef<IWMVideoMediaProps> video_props;
    if (SUCCEEDED(props->QueryInterface(IID_IWMVideoMediaProps, video_props.PutVoid()))) {
      video_props->SetQuality(kVideoQuality);
      video_props->SetMaxKeyFrameSpacing(kMaxKeyFrameSpacing);
    }
  }
  hr = props->SetMediaType(&media_type);
  if (FAILED(hr)) return hr;
  config->SetBitrate(bitrate);
  config->SetBufferWindow(kBufferWindowMs);
  config->SetStreamNumber(kVideoStreamNumber);
  return profile->AddStream(config.Get());
}

}  // namespace

int IsUncompressedSubtype(const WM_MEDIA_TYPE* media_type) {
  for (const GUID& subtype : kUncompressedSubtypes) {
    if (media_type->subtype == subtype) return 1;
  }
  return 0;
}

uint32_t EstimateVideoBitrate(WM_MEDIA_TYPE* media_type) {
  // A block too short for a VIDEOINFOHEADER is treated as an unknown format.
  if (media_type->formattype != kWmFormatVideoInfo || media_type->pbFormat == nullptr ||
      media_type->cbFormat < asf::kVideoInfoHeaderSize) {
    return kUnknownFormatBitrate;
  }
  uint8_t* block = media_type->pbFormat;
  const auto frame_time = static_cast<int64_t>(load_u64le(block + kVihAvgTimePerFrameOffset));
  double frame_rate = stream_format::kFramesPerSecond;
  if (frame_time > 0) {
    frame_rate = 10000000.0 / static_cast<double>(frame_time);
  } else {
    store_u64le(block + kVihAvgTimePerFrameOffset, kFrameDuration);
  }
  const uint32_t declared = load_u32le(block + kVihBitRateOffset);
  if (declared != 0) return declared;

  const uint8_t* bitmap = block + kVihBitmapOffset;
  const uint32_t width = load_u32le(bitmap + 4);
  const uint32_t height = load_u32le(bitmap + 8);
  double estimate;
  if (IsUncompressedSubtype(media_type) != 0) {
    const uint32_t bits = load_u16le(bitmap + 14);
    estimate = static_cast<double>(static_cast<int32_t>(bits * height * width)) * frame_rate;
  } else {
    estimate = static_cast<double>(static_cast<int32_t>(height * width)) * frame_rate * 0.4;
  }
  const auto bitrate = static_cast<uint32_t>(static_cast<int64_t>(std::trunc(estimate)));
  store_u32le(block + kVihBitRateOffset, bitrate);
  return bitrate;
}

HRESULT MakeAudioMediaType(WM_MEDIA_TYPE* media_type) {
  auto* wave = static_cast<uint8_t*>(CoTaskMemAlloc(kWaveFormatSize));
  if (wave == nullptr) return E_OUTOFMEMORY;
  std::memset(wave, 0, kWaveFormatSize);
  store_u16le(wave + 0, 1);  // wFormatTag: PCM
  store_u16le(wave + kWaveChannelsOffset, 2);
  store_u32le(wave + kWaveSamplesPerSecOffset, 8000);
  store_u32le(wave + kWaveAvgBytesPerSecOffset, 0);
  store_u16le(wave + 12, 4);  // nBlockAlign
  store_u16le(wave + kWaveBitsPerSampleOffset, 16);
  store_u16le(wave + 16, 0);  // cbSize
  *media_type = WM_MEDIA_TYPE{};
  media_type->majortype = kWmMediaTypeAudio;
  media_type->subtype = kWmMediaSubtypePcm;
  media_type->bFixedSizeSamples = TRUE;
  media_type->bTemporalCompression = FALSE;
  media_type->lSampleSize = 4;
  media_type->formattype = kWmFormatWaveFormatEx;
  media_type->cbFormat = kWaveFormatSize;
  media_type->pbFormat = wave;
  return S_OK;
}

uint32_t AudioBitrate(WM_MEDIA_TYPE* media_type) {
  if (media_type->pbFormat == nullptr || media_type->cbFormat < 16) return 0;
  uint8_t* wave = media_type->pbFormat;
  const uint32_t average_bytes = load_u32le(wave + kWaveAvgBytesPerSecOffset);
  if (average_bytes > 0) return average_bytes * 8;
  const uint32_t bitrate = static_cast<uint32_t>(load_u16le(wave + kWaveBitsPerSampleOffset)) *
                           load_u16le(wave + kWaveChannelsOffset) *
                           load_u32le(wave + kWaveSamplesPerSecOffset);
  store_u32le(wave + kWaveAvgBytesPerSecOffset, bitrate / 8);
  return bitrate;
}

HRESULT RecordInstance::ConfigureProfile() {
  if (session.profile_manager == nullptr) return E_FAIL;
  if (session.profile != nullptr) {
    session.profile->Release();
    session.profile = nullptr;
  }
  HRESULT hr = session.profile_manager->CreateEmptyProfile(WMT_VER_9_0, &session.profile);
  if (FAILED(hr)) return hr;
  if (session.audio_enabled != 0) {
    hr = AddAudioStream(session.profile);
    if (FAILED(hr)) return hr;
  }
  if (session.video_enabled == 0) return hr;
  return AddVideoStream(*this, session.profile);
}

}  // namespace kestrum
