#include "packer/content_key.h"

#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include "packer/file_system.h"
#include "packer/pack_error.h"

namespace onefile_pack {

namespace {

constexpr size_t kDigestSize = 32;

// SHA-256 over bytes fed in pieces.
class Sha256 {
 public:
#ifdef _WIN32
  Sha256() {
    if (BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0) < 0)
      throw PackError("--cache", "SHA-256 for the cache key is not available");
  }
  ~Sha256() {
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  void add(const void* data, size_t size) {
    BCryptHashData(hash_, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0);
  }
  void finish(unsigned char* digest) { BCryptFinishHash(hash_, digest, kDigestSize, 0); }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
#else
  Sha256() : context_(EVP_MD_CTX_new()) {
    if (!context_ || !EVP_DigestInit_ex(context_, EVP_sha256(), nullptr))
      throw PackError("--cache", "SHA-256 for the cache key is not available");
  }
  ~Sha256() { EVP_MD_CTX_free(context_); }
  void add(const void* data, size_t size) { EVP_DigestUpdate(context_, data, size); }
  void finish(unsigned char* digest) { EVP_DigestFinal_ex(context_, digest, nullptr); }

 private:
  EVP_MD_CTX* context_;
#endif
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
};

}  // namespace

std::string content_key(const std::string& payload_path) {
  InputFile file(payload_path, "stored payload");
  Sha256 hash;
  // Pieces well below 4 GiB: CNG takes a 32-bit length.
  std::vector<char> buffer(1 << 20);
  while (const size_t n = file.read(buffer.data(), buffer.size())) hash.add(buffer.data(), n);
  unsigned char digest[kDigestSize];
  hash.finish(digest);
  static const char kDigits[] = "0123456789abcdef";
  std::string key;
  for (size_t i = 0; i < 16; ++i) {
    key.push_back(kDigits[digest[i] >> 4]);
    key.push_back(kDigits[digest[i] & 15]);
  }
  return key;
}

}  // namespace onefile_pack
