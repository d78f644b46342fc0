#include "stream/group.h"

namespace kestrum {

int32_t FindGroupStart(const uint8_t*& /*position*/, int32_t /*count*/) { return -2; }
ParseResult ParseGroup(GroupView&, const uint8_t*, const uint8_t*) { return ParseResult::Malformed; }
ParseResult ParseBlock(BlockView&, const uint8_t*, const uint8_t*) { return ParseResult::Malformed; }
bool IsVideoBlock(const BlockView&) { return false; }
BlockView FindVideoBlock(const GroupView&, int32_t) { return {}; }

}  // namespace kestrum
