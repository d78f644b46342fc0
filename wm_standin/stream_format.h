// How a stream of a profile becomes a stream of the ASF file: its format
// block rewritten into what the Stream Properties Object carries.
#pragma once

#include "asf_format/muxer.h"
#include "wm_standin/media_type.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

// What the writer reads of one stream of its profile.
struct ProfileStream {
  GUID stream_type{};
  WORD number = 0;
  DWORD bitrate = 0;
  DWORD buffer_window_ms = 0;
  MediaType media_type;
};

// Video (VIDEOINFOHEADER format block): the BITMAPINFOHEADER at offset 48
// and every byte after it as codec data, with biSize rewritten to 40 + the
// codec data's length so readers find that data; AvgTimePerFrame from the
// VIDEOINFOHEADER (0 when not positive). Audio (WAVEFORMATEX format block):
// the block verbatim, which must hold the cbSize extra bytes it announces.
// NS_E_INVALID_INPUT_FORMAT for any other stream or format type, a media type
// of another major type than the stream's, or a block the ASF size fields
// cannot describe.
HRESULT DescribeStream(const ProfileStream& stream, asf::StreamInfo* info);

}  // namespace kestrum::wmsdk
