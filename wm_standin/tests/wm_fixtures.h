// Media types and profiles shaped like the ones the library builds, for the
// tests of the SDK stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::testing {

inline constexpr uint32_t kXqv4 = 0x34565158;
inline constexpr WORD kVideoStream = 8;
inline constexpr DWORD kBufferWindowMs = 3000;
inline constexpr int64_t kFrameTime = 400000;

// A 128-byte VIDEOINFOHEADER block for an XQV4 picture: the 88-byte header
// (biSize 40) followed by 40 bytes of codec data derived from `codec_tag`.
std::vector<uint8_t> VideoFormatBlock(int32_t width, int32_t height, uint8_t codec_tag);

// The 40 codec bytes VideoFormatBlock puts behind the header.
std::vector<uint8_t> CodecBytes(uint8_t codec_tag);

// A video WM_MEDIA_TYPE over `block` (which must outlive the structure).
WM_MEDIA_TYPE VideoMediaType(std::vector<uint8_t>& block);

// A WAVEFORMATEX block for 16-bit PCM with `extra` codec bytes (cbSize).
std::vector<uint8_t> WaveFormatBlock(uint16_t extra);
WM_MEDIA_TYPE AudioMediaType(std::vector<uint8_t>& block);

// A new stream configuration of `profile` with number, bit rate, buffer
// window and media type set, not yet added. Null when a step failed.
IWMStreamConfig* NewStream(IWMProfile* profile, const GUID& stream_type, WORD number,
                           WM_MEDIA_TYPE* type);

// A profile holding one XQV4 video stream, numbered `number`, of
// width x height, as the library configures it. Null when a step failed.
IWMProfile* MakeVideoProfile(WORD number = kVideoStream, int32_t width = 352, int32_t height = 288);

// The UTF-16LE bytes of `text`, with a terminating zero when asked.
std::vector<uint8_t> Utf16Bytes(const std::u16string& text, bool with_terminator);

}  // namespace kestrum::testing
