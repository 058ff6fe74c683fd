// The part of the packer's file access that is the same on every system;
// the rest is in file_system_posix.cpp and file_system_windows.cpp.
#include "packer/file_system.h"

#include <filesystem>
#include <system_error>

namespace onefile_pack {

void remove_tree(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::u8path(path), ignored);
}

}  // namespace onefile_pack
