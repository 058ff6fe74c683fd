// The template launchers embedded in the packer, one per kind (see
// cmake/launcher_kinds.cmake): finished Windows executables without payload,
// texts or resources, which the packer completes per app.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace onefile_pack {

// The template of `kind` ("windowed" or "console"); throws PackError for an
// unknown kind.
std::string_view launcher_template(const std::string& kind);

// The kinds embedded, in the order of cmake/launcher_kinds.cmake.
std::vector<std::string> launcher_template_kinds();

}  // namespace onefile_pack
