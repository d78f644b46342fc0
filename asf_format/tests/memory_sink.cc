#include "asf_format/tests/memory_sink.h"

#include <cstring>

namespace kestrum::asf {

Status MemorySink::Write(const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  if (size == 0) return kOk;
  if (data == nullptr) return kNoData;
  size_t take = size;
  if (fail_after != nullptr) {
    const size_t room = bytes.size() < *fail_after ? *fail_after - bytes.size() : 0;
    take = size < room ? size : room;
  }
  bytes.insert(bytes.end(), data, data + take);
  return take == size ? kOk : kDiskFull;
}

Status MemorySink::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  if (stream) return kNotSeekable;
  if (offset > bytes.size() || size > bytes.size() - offset) return kInvalidArgument;
  if (size == 0) return kOk;
  if (data == nullptr) return kNoData;
  std::memcpy(bytes.data() + offset, data, size);
  return kOk;
}

Status MemorySink::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  if (stream) return kNotSeekable;
  if (offset > bytes.size() || size > bytes.size() - offset) return kInvalidArgument;
  if (size == 0) return kOk;
  if (data == nullptr) return kNoData;
  std::memcpy(data, bytes.data() + offset, size);
  return kOk;
}

Status MemorySink::Truncate(uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex);
  if (stream) return kNotSeekable;
  if (size > bytes.size()) return kInvalidArgument;
  bytes.resize(static_cast<size_t>(size));
  return kOk;
}

Status MemoryRepairFile::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  if (offset > bytes.size() || size > bytes.size() - offset) {
    read_past = true;
    return kFailed;
  }
  if (size > 0) std::memcpy(data, bytes.data() + offset, size);
  return kOk;
}

Status MemoryRepairFile::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  if (++writes == fail_write) return kWriteFault;
  if (offset + size > bytes.size()) bytes.resize(static_cast<size_t>(offset + size));
  if (size > 0) std::memcpy(bytes.data() + offset, data, size);
  return kOk;
}

Status MemoryRepairFile::Truncate(uint64_t size) {
  if (++writes == fail_write) return kWriteFault;
  bytes.resize(static_cast<size_t>(size));
  return kOk;
}

}  // namespace kestrum::asf
