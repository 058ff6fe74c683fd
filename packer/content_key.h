// The cache key of a stored payload: what tells two builds' contents apart,
// so that a cached app never runs from files of another build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace onefile_pack {

// SHA-256 over bytes fed in pieces of any size.
class Sha256 {
 public:
  Sha256();
  void add(const void* data, size_t size);
  // The 32-byte digest; nothing may be added afterwards.
  std::string digest();

 private:
  void block(const unsigned char* p);
  uint32_t state_[8];
  unsigned char buffer_[64];
  size_t buffered_ = 0;
  uint64_t length_ = 0;
};

// The key of the stored payload at `payload_path`: the first 16 bytes of its
// SHA-256 as 32 lower-case hexadecimal digits. Throws PackError naming the
// file when it cannot be read.
std::string content_key(const std::string& payload_path);

// The hexadecimal text of `bytes`, lower case.
std::string hex_text(const std::string& bytes);

}  // namespace onefile_pack
