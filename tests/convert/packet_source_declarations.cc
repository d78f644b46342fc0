// The file road declares the packet source's operations and record itself
// (convert/packet_source.h); this holds them against the library's header at
// compile time.
#include <cstddef>
#include <type_traits>

#include "convert/packet_source.h"
#include "quarnel.h"

namespace {

using Ours = kestrum::PacketRecord;
using Theirs = ::PacketRecord;

#define SAME_FIELD(field)                                                                \
  static_assert(offsetof(Ours, field) == offsetof(Theirs, field), #field " offset");    \
  static_assert(std::is_same_v<decltype(Ours::field), decltype(Theirs::field)>, #field " type")
SAME_FIELD(kind);
SAME_FIELD(data);
SAME_FIELD(length);
SAME_FIELD(reserved);
SAME_FIELD(time_ms);
#undef SAME_FIELD
static_assert(sizeof(Ours) == sizeof(Theirs) && alignof(Ours) == alignof(Theirs));
static_assert(std::is_standard_layout_v<Ours> && std::is_trivially_copyable_v<Ours>);

constexpr bool Same(long long ours, long long theirs) { return ours == theirs; }
static_assert(Same(kestrum::kPacketHeader, QUARNEL_PACKET_HEADER));
static_assert(Same(kestrum::kPacketGroup, QUARNEL_PACKET_GROUP));
static_assert(Same(kestrum::kPacketSkipped, QUARNEL_PACKET_SKIPPED));
static_assert(Same(kestrum::kPacketMore, QUARNEL_MORE));
static_assert(Same(kestrum::kPacketEnd, QUARNEL_END));
static_assert(Same(kestrum::kPacketReadError, QUARNEL_READ_ERROR));

// The operations: the same function types, the record aside.
using TheirGetPacket = int32_t QUARNEL_CALL(int32_t, Theirs*);
using OurGetPacketWithTheirRecord = int32_t KESTRUM_PACKET_SOURCE_CALL(int32_t, Theirs*);
static_assert(std::is_same_v<decltype(QuarnelOpenFile), kestrum::PacketSourceOpenFile>);
static_assert(std::is_same_v<decltype(QuarnelGetPacket), TheirGetPacket>);
static_assert(std::is_same_v<TheirGetPacket, OurGetPacketWithTheirRecord>);

}  // namespace
