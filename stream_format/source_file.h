// A stored stream read front to back with large reads and 64-bit offsets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum::stream_format {

class SourceFile {
 public:
  SourceFile() = default;
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // Opens `path` for reading, closing any file open before. False when it
  // cannot be opened.
  bool Open(const char* path);
  // Reads the open descriptor `fd` (standard input, a pipe) from where it
  // stands; Close leaves it open.
  bool OpenDescriptor(int fd);
  void Close();
  bool is_open() const { return fd_ >= 0; }

  // Reads up to `capacity` bytes at the read position into `buffer` and
  // advances. Returns the count read; 0 at the end of the file; -1 on a read
  // error. Retries interrupted reads.
  int64_t Read(uint8_t* buffer, size_t capacity);

  // The read position: bytes consumed from the start of the file.
  uint64_t position() const { return position_; }

  // When the read position lies in a hole of a sparse file (bytes that read
  // as zeros without being stored), moves it to the end of the hole and
  // returns how far it moved; otherwise (or where the platform cannot tell)
  // returns 0 and stays.
  uint64_t SkipHole();

 private:
  int fd_ = -1;
  bool owned_ = false;
  uint64_t position_ = 0;
};

}  // namespace kestrum::stream_format
