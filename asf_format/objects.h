// The ASF objects as this system writes and reads them: the identifiers (in
// their textual form, and how a GUID is laid out in a file: data1, data2 and
// data3 little-endian, then the eight data4 bytes in order), the fixed sizes
// and the field offsets. The one table of them, for the muxer, the reader and
// the repair; the data packets' layout is packet_layout.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asf_format/format_blocks.h"

#include "base/bytes.h"

namespace kestrum::asf {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  uint8_t data4[8] = {};
  friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

inline constexpr size_t kGuidSize = 16;

inline void StoreGuid(uint8_t* p, const Guid& g) {
  store_u32le(p, static_cast<uint32_t>(g.data1));
  store_u16le(p + 4, g.data2);
  store_u16le(p + 6, g.data3);
  for (int i = 0; i < 8; ++i) p[8 + i] = g.data4[i];
}

inline Guid LoadGuid(const uint8_t* p) {
  Guid g{};
  g.data1 = load_u32le(p);
  g.data2 = load_u16le(p + 4);
  g.data3 = load_u16le(p + 6);
  for (int i = 0; i < 8; ++i) g.data4[i] = p[8 + i];
  return g;
}

// 75B22630-668E-11CF-A6D9-00AA0062CE6C
inline constexpr Guid kHeaderObject = {
    0x75B22630, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
// 8CABDCA1-A947-11CF-8EE4-00C00C205365
inline constexpr Guid kFilePropertiesObject = {
    0x8CABDCA1, 0xA947, 0x11CF, {0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
// B7DC0791-A9B7-11CF-8EE6-00C00C205365
inline constexpr Guid kStreamPropertiesObject = {
    0xB7DC0791, 0xA9B7, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
// 5FBF03B5-A92E-11CF-8EE3-00C00C205365
inline constexpr Guid kHeaderExtensionObject = {
    0x5FBF03B5, 0xA92E, 0x11CF, {0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
// ABD3D211-A9BA-11CF-8EE6-00C00C205365: the Header Extension's Reserved Field 1.
inline constexpr Guid kHeaderExtensionReserved1 = {
    0xABD3D211, 0xA9BA, 0x11CF, {0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65}};
// 14E6A5CB-C672-4332-8399-A96952065B5A
inline constexpr Guid kExtendedStreamPropertiesObject = {
    0x14E6A5CB, 0xC672, 0x4332, {0x83, 0x99, 0xA9, 0x69, 0x52, 0x06, 0x5B, 0x5A}};
// 75B22633-668E-11CF-A6D9-00AA0062CE6C
inline constexpr Guid kContentDescriptionObject = {
    0x75B22633, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
// 7BF875CE-468D-11D1-8D82-006097C9A2B2
inline constexpr Guid kStreamBitratePropertiesObject = {
    0x7BF875CE, 0x468D, 0x11D1, {0x8D, 0x82, 0x00, 0x60, 0x97, 0xC9, 0xA2, 0xB2}};
// D2D0A440-E307-11D2-97F0-00A0C95EA850
inline constexpr Guid kExtendedContentDescriptionObject = {
    0xD2D0A440, 0xE307, 0x11D2, {0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50}};
// 75B22636-668E-11CF-A6D9-00AA0062CE6C
inline constexpr Guid kDataObject = {
    0x75B22636, 0x668E, 0x11CF, {0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C}};
// 33000890-E5B1-11CF-89F4-00A0C90349CB
inline constexpr Guid kSimpleIndexObject = {
    0x33000890, 0xE5B1, 0x11CF, {0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
// BC19EFC0-5B4D-11CF-A8FD-00805F5C442B
inline constexpr Guid kVideoMedia = {
    0xBC19EFC0, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
// F8699E40-5B4D-11CF-A8FD-00805F5C442B
inline constexpr Guid kAudioMedia = {
    0xF8699E40, 0x5B4D, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};
// 20FB5700-5B55-11CF-A8FD-00805F5C442B
inline constexpr Guid kNoErrorCorrection = {
    0x20FB5700, 0x5B55, 0x11CF, {0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B}};

// The objects' times and durations are in 100-ns units; the packets' send
// and presentation times in ms.
inline constexpr uint64_t kTicksPerMs = 10'000;

// Every object starts with its GUID and a QWORD size that counts these 24
// bytes too.
inline constexpr size_t kObjectSizeOffset = 16;
inline constexpr size_t kObjectHeaderSize = 24;
// Header Object: GUID, size, DWORD object count, two reserved bytes (1, 2).
inline constexpr size_t kHeaderObjectCountOffset = 24;
inline constexpr size_t kHeaderObjectReservedOffset = 28;
inline constexpr size_t kHeaderObjectFixedSize = 30;
inline constexpr size_t kFilePropertiesSize = 104;
// File Properties fields (from the object's start).
inline constexpr size_t kFileIdOffset = 24;  // also in the Data and Simple Index objects
inline constexpr size_t kFilePropertiesFileSizeOffset = 40;
inline constexpr size_t kFilePropertiesCreationDateOffset = 48;
inline constexpr size_t kFilePropertiesPacketCountOffset = 56;
inline constexpr size_t kFilePropertiesPlayDurationOffset = 64;
inline constexpr size_t kFilePropertiesSendDurationOffset = 72;
inline constexpr size_t kFilePropertiesPrerollOffset = 80;
inline constexpr size_t kFilePropertiesFlagsOffset = 88;
inline constexpr size_t kFilePropertiesMinPacketOffset = 92;
inline constexpr size_t kFilePropertiesMaxPacketOffset = 96;
inline constexpr uint32_t kFileFlagBroadcast = 0x01;
inline constexpr uint32_t kFileFlagSeekable = 0x02;
// The File Properties fields from File Size through Flags: where the writer
// notes, while it writes, how many bytes are durable (File Size, which
// Broadcast makes void for readers), and what confirming an end writes.
inline constexpr size_t kFileSizeThroughFlags =
    kFilePropertiesFlagsOffset + 4 - kFilePropertiesFileSizeOffset;
// Stream Properties: stream type, error correction type, time offset, the
// type-specific data's length, the error correction data's length, flags
// (the stream number in bits 0-6), reserved; the type-specific data from
// offset 78; for video, 11 bytes (width, height, flags, format size) before
// the format data.
inline constexpr size_t kStreamTypeOffset = 24;
inline constexpr size_t kTypeSpecificLengthOffset = 64;
inline constexpr size_t kStreamFlagsOffset = 72;
inline constexpr size_t kStreamPropertiesFixedSize = 78;
inline constexpr size_t kVideoTypeSpecificHeaderSize = 11;
inline constexpr uint8_t kStreamNumberMask = 0x7F;
// Header Extension: the DWORD size of its data at 42, its objects from 46.
inline constexpr size_t kHeaderExtensionDataSizeOffset = 42;
inline constexpr size_t kHeaderExtensionFixedSize = 46;
// Extended Stream Properties, as the muxer writes them (88 bytes: no stream
// names, no payload extension systems): bit rate at 40, buffer window at 44,
// largest object at 64, flags at 68, stream number at 72, frame time at 76.
inline constexpr size_t kExtendedStreamBitrateOffset = 40;
inline constexpr size_t kExtendedStreamBufferWindowOffset = 44;
inline constexpr size_t kExtendedStreamMaxObjectSizeOffset = 64;
inline constexpr size_t kExtendedStreamFlagsOffset = 68;
inline constexpr size_t kExtendedStreamNumberOffset = 72;
inline constexpr size_t kExtendedStreamFrameTimeOffset = 76;
inline constexpr size_t kExtendedStreamPropertiesSize = 88;
inline constexpr uint32_t kExtendedStreamSeekable = 0x02;
// Content Description: five WORD string lengths (title, author, copyright,
// description, rating), then the strings, UTF-16LE.
inline constexpr size_t kDescriptionStringCount = 5;
inline constexpr size_t kDescriptionStringsOffset = kObjectHeaderSize + 2 * kDescriptionStringCount;
// Data Object: GUID, size, file ID, QWORD packet count, two reserved bytes
// (1, 1); the packets follow.
inline constexpr size_t kDataObjectPacketCountOffset = 40;
inline constexpr size_t kDataObjectReservedOffset = 48;
inline constexpr size_t kDataObjectHeaderSize = 50;
// Simple Index: fixed part (GUID, size, file ID, interval, max packet count,
// entry count), then 6 bytes an entry (DWORD packet, WORD count).
inline constexpr size_t kIndexIntervalOffset = 40;
inline constexpr size_t kIndexMaxPacketCountOffset = 48;
inline constexpr size_t kIndexEntryCountOffset = 52;
inline constexpr size_t kSimpleIndexFixedSize = 56;
inline constexpr size_t kIndexEntrySize = 6;

// The kinds of stream, by their Stream Properties' stream type.
enum class MediaKind { kVideo, kAudio, kOther };

inline MediaKind KindOfStreamType(const Guid& type) {
  return type == kVideoMedia   ? MediaKind::kVideo
         : type == kAudioMedia ? MediaKind::kAudio
                               : MediaKind::kOther;
}

}  // namespace kestrum::asf
