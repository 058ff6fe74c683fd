#include "packer/content_key.h"

#include <vector>

#include "contract/cache_record.h"
#include "packer/file_system.h"
#include "packer/sha256.h"

namespace onefile_pack {

std::string content_key(const std::string& payload_path) {
  InputFile file(payload_path, "stored payload");
  Sha256 hash;
  hash.add(cache_record::kKeyPrefix, sizeof cache_record::kKeyPrefix);
  std::vector<char> buffer(1 << 20);
  while (const size_t n = file.read(buffer.data(), buffer.size())) hash.add(buffer.data(), n);
  const Sha256::Digest digest = hash.finish();
  static const char kDigits[] = "0123456789abcdef";
  std::string key;
  for (size_t i = 0; i < 16; ++i) {
    key.push_back(kDigits[digest[i] >> 4]);
    key.push_back(kDigits[digest[i] & 15]);
  }
  return key;
}

}  // namespace onefile_pack
