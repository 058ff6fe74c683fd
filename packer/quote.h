// Names in messages (packer, resources, PE reader): quoted, with control characters shown as \xNN so that
// a strange file name cannot break the one-line message.
#pragma once

#include <cstdio>
#include <string>

namespace onefile_pack {

inline std::string quote(const std::string& name) {
  std::string out = "'";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "'";
}

}  // namespace onefile_pack
