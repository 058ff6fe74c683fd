#include "packer/sha256.h"

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include "packer/pack_error.h"

namespace onefile_pack {

#ifdef _WIN32
struct Sha256::State {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash) BCryptDestroyHash(hash);
    if (algorithm) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

Sha256::Sha256() : state_(new State) {
  if (BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
      BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0) < 0)
    throw PackError("--cache", "SHA-256 for the cache key is not available");
}

void Sha256::add(const void* data, size_t size) {
  // CNG takes a 32-bit length.
  auto* bytes = static_cast<PUCHAR>(const_cast<void*>(data));
  for (size_t done = 0; done < size;) {
    const ULONG n = static_cast<ULONG>(size - done < (1u << 30) ? size - done : (1u << 30));
    BCryptHashData(state_->hash, bytes + done, n, 0);
    done += n;
  }
}

Sha256::Digest Sha256::finish() {
  Digest digest{};
  BCryptFinishHash(state_->hash, digest.data(), kSize, 0);
  return digest;
}
#else
struct Sha256::State {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  ~State() { EVP_MD_CTX_free(context); }
};

Sha256::Sha256() : state_(new State) {
  if (!state_->context || !EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr))
    throw PackError("--cache", "SHA-256 for the cache key is not available");
}

void Sha256::add(const void* data, size_t size) { EVP_DigestUpdate(state_->context, data, size); }

Sha256::Digest Sha256::finish() {
  Digest digest{};
  EVP_DigestFinal_ex(state_->context, digest.data(), nullptr);
  return digest;
}
#endif

Sha256::~Sha256() = default;

}  // namespace onefile_pack
