#include "asf_format/tests/memory_sink.h"

#include <cstring>

namespace kestrum::asf {

HRESULT MemorySink::Write(const uint8_t* data, size_t size) {
  if (size == 0) return S_OK;
  if (data == nullptr) return E_POINTER;
  size_t take = size;
  if (fail_after != nullptr) {
    const size_t room = bytes.size() < *fail_after ? *fail_after - bytes.size() : 0;
    take = size < room ? size : room;
  }
  bytes.insert(bytes.end(), data, data + take);
  return take == size ? S_OK : E_DISK_FULL;
}

HRESULT MemorySink::WriteAt(uint64_t offset, const uint8_t* data, size_t size) {
  if (stream) return E_NOTIMPL;
  if (offset > bytes.size() || size > bytes.size() - offset) return E_INVALIDARG;
  if (size == 0) return S_OK;
  if (data == nullptr) return E_POINTER;
  std::memcpy(bytes.data() + offset, data, size);
  return S_OK;
}

HRESULT MemorySink::ReadAt(uint64_t offset, uint8_t* data, size_t size) {
  if (stream) return E_NOTIMPL;
  if (offset > bytes.size() || size > bytes.size() - offset) return E_INVALIDARG;
  if (size == 0) return S_OK;
  if (data == nullptr) return E_POINTER;
  std::memcpy(data, bytes.data() + offset, size);
  return S_OK;
}

HRESULT MemorySink::Truncate(uint64_t size) {
  if (stream) return E_NOTIMPL;
  if (size > bytes.size()) return E_INVALIDARG;
  bytes.resize(static_cast<size_t>(size));
  return S_OK;
}

}  // namespace kestrum::asf
