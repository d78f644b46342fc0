#include "platform/page_memory.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace kestrum {
namespace {

size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
#endif
}

}  // namespace

size_t WholePages(size_t size) {
  const size_t page = PageSize();
  return (size + page - 1) / page * page;
}

void* AllocatePages(size_t size) {
  if (size == 0) return nullptr;
#ifdef _WIN32
  return VirtualAlloc(nullptr, WholePages(size), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
  void* pages =
      mmap(nullptr, WholePages(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return pages == MAP_FAILED ? nullptr : pages;
#endif
}

void FreePages(void* pages, size_t size) {
  if (pages == nullptr) return;
#ifdef _WIN32
  (void)size;
  VirtualFree(pages, 0, MEM_RELEASE);
#else
  munmap(pages, WholePages(size));
#endif
}

}  // namespace kestrum
