#include "platform/com.h"

#ifndef _WIN32
#include <cstdlib>

HRESULT CoInitialize(void* /*reserved*/) { return S_OK; }

void* CoTaskMemAlloc(size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* block) { std::free(block); }
#endif
