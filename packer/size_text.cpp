#include "packer/size_text.h"

#include <cstdio>

namespace onefile_pack {

std::string size_text(uint64_t bytes) {
  char text[32];
  if (bytes < 1024)
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  else if (bytes < (1 << 20))
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024.0);
  else if (bytes < (1ull << 30))
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  else
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  return text;
}

}  // namespace onefile_pack
