#define _FILE_OFFSET_BITS 64  // 64-bit file offsets on 32-bit builds
#include "io/kestrum_asf.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>

#include "asf_format/objects.h"
#include "stream_format/file_header.h"
#include "stream_format/layout.h"

#ifdef _WIN32
#include <io.h>
#endif

namespace kestrum_cli {

namespace asf = kestrum::asf;
namespace stream_format = kestrum::stream_format;

namespace {

constexpr uint8_t kVideoStream = 8;
constexpr uint32_t kFourccXqv4 = 0x34565158;

// A file open at a descriptor, read at offsets; the descriptor is the
// caller's.
class DescriptorSource final : public asf::ReadSource {
 public:
  DescriptorSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  [[nodiscard]] bool ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    while (size > 0) {
#ifdef _WIN32
      if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) return false;
      const int n = ::_read(fd_, data, static_cast<unsigned>(size > (1u << 30) ? 1u << 30 : size));
#else
      const ssize_t n = ::pread(fd_, data, size, static_cast<off_t>(offset));
#endif
      if (n <= 0) return false;
      data += n;
      offset += static_cast<uint64_t>(n);
      size -= static_cast<size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

}  // namespace

std::string NotKestrumReason(const asf::HeaderInfo& h) {
  const asf::StreamDescription* video = nullptr;
  for (const asf::StreamDescription& s : h.streams) {
    if (s.number != kVideoStream) return "it has a stream " + std::to_string(s.number);
    video = &s;
  }
  if (video == nullptr || video->kind != asf::MediaKind::kVideo) return "it has no video stream 8";
  if (video->fourcc != kFourccXqv4) return "its video stream 8 is not XQV4";
  if (video->format.size() != asf::kBitmapInfoHeaderSize + stream_format::kFileHeaderSize) {
    return "its video format does not carry a 40-byte stream header";
  }
  const stream_format::DecodedHeader decoded =
      stream_format::DecodeFileHeader(video->format.data() + asf::kBitmapInfoHeaderSize);
  if (!decoded.accepted()) {
    return "the stream header it carries is refused: " + stream_format::RefusalText(decoded);
  }
  return "";
}

bool EndedByKestrum(int fd) {
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  DescriptorSource source(fd, static_cast<uint64_t>(info.st_size));
  asf::Reader reader(source, asf::ReadOptions{asf::ReadChecks::kDamage, false});
  if (!reader.Open()) return false;
  const asf::HeaderInfo& h = reader.header();
  return h.has_file_properties && (h.flags & asf::kFileFlagBroadcast) == 0 && !h.streamed &&
         NotKestrumReason(h).empty();
}

}  // namespace kestrum_cli
