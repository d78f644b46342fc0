// A stored stream read front to back with large reads and 64-bit offsets,
// or, where it can be mapped into memory (a regular file on POSIX systems),
// seen through a window of the mapping that slides along it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrum::mapped_file {

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

  // The read position: bytes consumed from the start of the file (or, when
  // mapped, the end of the window's filled bytes).
  uint64_t position() const { return position_; }

  // True when the open file can be seen through Map rather than read.
  bool mappable() const { return mappable_; }
  // The file's current size, or -1 when it cannot be had or is not a
  // regular file's (a pipe's or FIFO's size says nothing of its stream).
  int64_t Size() const;
  // Maps the `span` file bytes from `offset` (a multiple of the page size),
  // read only and shared with the file system's cache, in place of the
  // window mapped before, and fills the page tables of its first `fill`
  // bytes (see Fill). Returns the window, or null when it cannot be mapped
  // (a file system or file that does not support it, no address space
  // left); nothing is mapped then. Bytes of the window past `fill` cost
  // nothing until filled, and must not be read before.
  const uint8_t* Map(uint64_t offset, size_t span, size_t fill);
  // Fills the page tables of the window's bytes up to `fill` from its start
  // (within its span), and moves the read position there; the bytes must
  // exist when filled. Reading them later may still fault (see read_guard.h).
  void Fill(size_t fill);
  // Gives back the window's pages that lie wholly before the file offset
  // `offset`; they must not be read again.
  void Release(uint64_t offset);
  // Moves the read position of a file that is read to `offset`; false when
  // it cannot be moved.
  bool Seek(uint64_t offset);
  static size_t page_size();

  // When the read position lies in a hole of a sparse file (bytes that read
  // as zeros without being stored), moves it to the end of the hole and
  // returns how far it moved; otherwise (or where the platform cannot tell)
  // returns 0 and stays.
  uint64_t SkipHole();

 private:
  void Unmap();

  int fd_ = -1;
  bool owned_ = false;
  uint64_t position_ = 0;
  bool mappable_ = false;
  uint8_t* window_ = nullptr;
  uint64_t window_offset_ = 0;  // the file offset of window_[0]
  size_t window_size_ = 0;      // its span
  size_t filled_ = 0;           // bytes from window_ whose page tables are filled
  size_t released_ = 0;         // bytes from window_ given back (whole pages)
};

}  // namespace kestrum::mapped_file
