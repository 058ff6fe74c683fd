// Sizes as the packer prints them, in its summary and in --list: "512
// bytes", "12.3 KiB", "4.5 MiB", "1.25 GiB".
#pragma once

#include <cstdint>
#include <string>

namespace onefile_pack {

std::string size_text(uint64_t bytes);

}  // namespace onefile_pack
