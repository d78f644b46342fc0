#include "quarnel.h"

extern "C" {

QUARNEL_API int32_t QUARNEL_CALL QuarnelOpenFile(int32_t, intptr_t) { return 0; }

QUARNEL_API int32_t QUARNEL_CALL QuarnelGetPacket(int32_t, PacketRecord*) { return QUARNEL_END; }

}
