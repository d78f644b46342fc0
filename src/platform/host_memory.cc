#include "platform/host_memory.h"

#include <cstring>

namespace kestrum {

#ifndef _WIN32
bool CopyFromHost(uint8_t* destination, const uint8_t* source, size_t size) {
  if (size != 0) std::memcpy(destination, source, size);
  return true;
}
#endif

}  // namespace kestrum
