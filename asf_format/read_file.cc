// The reader's source over a file, read through stdio with 64-bit offsets.
#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds

#include <cstdio>

#include <sys/types.h>

#include "asf_format/reader.h"

namespace kestrum::asf {
namespace {

class FileSource final : public ReadSource {
 public:
  FileSource(std::FILE* f, uint64_t size) : f_(f), size_(size) {}
  ~FileSource() override { std::fclose(f_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (offset > size_ || size > size_ - offset) return false;
    if (offset != position_ && ::fseeko(f_, static_cast<off_t>(offset), SEEK_SET) != 0) {
      position_ = kUnknown;
      return false;
    }
    const size_t got = std::fread(data, 1, size, f_);
    position_ = got == size ? offset + size : kUnknown;
    return got == size;
  }

 private:
  static constexpr uint64_t kUnknown = ~uint64_t{0};
  std::FILE* f_;
  uint64_t size_;
  uint64_t position_ = kUnknown;
};

}  // namespace

std::unique_ptr<ReadSource> OpenReadFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  const off_t end = ::fseeko(f, 0, SEEK_END) == 0 ? ::ftello(f) : -1;
  const uint64_t size = end < 0 ? 0 : static_cast<uint64_t>(end);
  return std::make_unique<FileSource>(f, size);
}

}  // namespace kestrum::asf
