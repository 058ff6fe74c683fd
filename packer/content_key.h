// The cache key of a stored payload: what tells two builds' contents apart,
// so that a cached app never runs from files of another build.
#pragma once

#include <string>

namespace onefile_pack {

// The key of the stored payload at `payload_path`: the first 16 bytes of the
// SHA-256 of the cache record's key prefix (its magic and layout version,
// contract/cache_record.h) and the payload, as 32 lower-case hexadecimal
// digits. Throws PackError naming the file when it cannot be read.
std::string content_key(const std::string& payload_path);

}  // namespace onefile_pack
