// The one walk over objects that stand one after another (the Header
// Object's children, the Header Extension's): each object's size is checked
// against its own header's 24 bytes and the bytes left, so no size read from
// a file takes a reader past its bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "asf_format/objects.h"
#include "base/bytes.h"

namespace kestrum::asf {

class ObjectWalk {
 public:
  struct Object {
    Guid guid;
    size_t offset = 0;  // from the start of the bytes walked
    size_t size = 0;    // as its size field says; within the bounds
    const uint8_t* bytes = nullptr;
  };

  // The objects of `data` from `begin` to `end` (none when begin is past end).
  ObjectWalk(const uint8_t* data, size_t begin, size_t end) : data_(data), at_(begin), end_(end) {}
  // The objects of a Header Extension Object, `o`.
  static ObjectWalk ExtensionOf(const Object& o) {
    return ObjectWalk(o.bytes, kHeaderExtensionFixedSize, o.size);
  }

  // The next object; false when fewer bytes are left than an object's
  // header, or, bad() then, at an object whose size is less than that
  // header or runs past the end.
  [[nodiscard]] bool Next(Object* o) {
    if (bad_ || at_ > end_ || end_ - at_ < kObjectHeaderSize) return false;
    const uint64_t size = load_u64le(data_ + at_ + kObjectSizeOffset);
    if (size < kObjectHeaderSize || size > end_ - at_) {
      bad_ = true;
      return false;
    }
    *o = Object{LoadGuid(data_ + at_), at_, static_cast<size_t>(size), data_ + at_};
    at_ += o->size;
    return true;
  }

  bool bad() const { return bad_; }
  // Where the walk stands: after the last object, or at the bad one.
  size_t position() const { return at_; }
  // Whether the objects filled the bytes exactly.
  bool at_end() const { return at_ == end_; }

 private:
  const uint8_t* data_;
  size_t at_;
  const size_t end_;
  bool bad_ = false;
};

}  // namespace kestrum::asf
