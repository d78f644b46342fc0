#include "platform/file_size.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace kestrum {

int64_t RegularFileSize(const char* path) {
  if (path == nullptr) return -1;
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return -1;
  return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                              data.nFileSizeLow);
#else
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  return static_cast<int64_t>(status.st_size);
#endif
}

}  // namespace kestrum
