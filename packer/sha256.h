// SHA-256 from the system's crypto library: libcrypto on Linux, CNG on
// Windows. The cache key and the files' digests of a cached app.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

namespace onefile_pack {

class Sha256 {
 public:
  static constexpr size_t kSize = 32;
  using Digest = std::array<unsigned char, kSize>;

  // Throws PackError naming --cache when the library has no SHA-256.
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // Feeds bytes in pieces of any size.
  void add(const void* data, size_t size);
  // The digest of everything fed; nothing may be fed afterwards.
  Digest finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace onefile_pack
