#include "packer/pack_error.h"

#include <cstdio>
#include <cstring>

#include "packer/utf.h"

namespace onefile_pack {

PackError::PackError(const std::string& subject, const std::string& reason)
    : std::runtime_error(display_path(subject + ": " + reason)) {}

std::string display_path(const std::string& path) {
  std::string shown;
  for (size_t i = 0; i < path.size();) {
    const auto c = static_cast<unsigned char>(path[i]);
    // Copy whole valid UTF-8 sequences; escape everything else byte by byte.
    size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
    if (length > 1 && (i + length > path.size() || !is_valid_utf8(std::string_view(path).substr(i, length))))
      length = 0;
    if (length == 0 || c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      shown += hex;
      ++i;
    } else {
      shown.append(path, i, length);
      i += length;
    }
  }
  return shown;
}

}  // namespace onefile_pack
