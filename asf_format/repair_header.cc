#include "asf_format/repair_header.h"

#include <cstring>

#include "asf_format/header_objects.h"
#include "asf_format/object_walk.h"
#include "asf_format/objects.h"
#include "base/bytes.h"

namespace kestrum::asf {

void ClearTotals(std::vector<uint8_t>& h) {
  const auto clear = [&h](size_t at, size_t n) {
    if (at + n <= h.size()) std::memset(h.data() + at, 0, n);
  };
  const size_t end = h.size() - kDataObjectHeaderSize;
  ObjectWalk walk(h.data(), kHeaderObjectFixedSize, end);
  for (ObjectWalk::Object o; walk.Next(&o);) {
    if (o.guid == kFilePropertiesObject) {
      clear(o.offset + kFilePropertiesFileSizeOffset, 8);
      clear(o.offset + kFilePropertiesPacketCountOffset, 8);
      clear(o.offset + kFilePropertiesPlayDurationOffset, 8);
      clear(o.offset + kFilePropertiesSendDurationOffset, 8);
      clear(o.offset + kFilePropertiesFlagsOffset, 4);
    } else if (o.guid == kHeaderExtensionObject && o.size >= kHeaderExtensionFixedSize) {
      ObjectWalk children = ObjectWalk::ExtensionOf(o);
      for (ObjectWalk::Object c; children.Next(&c);) {
        if (c.guid == kExtendedStreamPropertiesObject && c.size == kExtendedStreamPropertiesSize) {
          clear(o.offset + c.offset + kExtendedStreamMaxObjectSizeOffset, 4);
          clear(o.offset + c.offset + kExtendedStreamFlagsOffset, 4);
        }
      }
    }
  }
  if (walk.bad()) return;
  clear(end + kObjectSizeOffset, 8);             // the Data Object's size
  clear(end + kDataObjectPacketCountOffset, 8);  // and packet count
}

HeaderNotes ReadHeaderNotes(const std::vector<uint8_t>& h) {
  HeaderNotes notes;
  const size_t end = h.size() - kDataObjectHeaderSize;
  notes.data_packets = load_u64le(h.data() + end + kDataObjectPacketCountOffset);
  const size_t at = FindFileProperties(h);
  if (at != 0) {
    notes.file_size_field = at + kFilePropertiesFileSizeOffset;
    notes.file_size = load_u64le(h.data() + at + kFilePropertiesFileSizeOffset);
    notes.ended =
        (load_u32le(h.data() + at + kFilePropertiesFlagsOffset) & kFileFlagBroadcast) == 0;
  }
  return notes;
}

}  // namespace kestrum::asf
