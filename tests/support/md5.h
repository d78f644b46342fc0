// MD5 (RFC 1321) as lowercase hex, to compare samples with the hashes
// ffprobe prints for what it reads back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrum::testing {

std::string Md5Hex(const uint8_t* data, size_t size);

}  // namespace kestrum::testing
